#include "hotsync/padp.h"

#include <algorithm>

namespace hotsync::padp {

namespace {

// A read is cut into slices so that a closing socket is noticed quickly.
constexpr int kReadSliceMs = 250;

}  // namespace

CLink::CLink(ITransport& transport, LinkStats stats) : m_transport(transport), m_stats(stats) {}

uint8_t CLink::NextXid() {
    ++m_xid;
    if (m_xid == 0x00 || m_xid == 0xFF) m_xid = 0x01;
    return m_xid;
}

void CLink::ResetReceiveState() {
    m_receiver.Reset();
    m_lastAcked.reset();
    m_pending.clear();
}

void CLink::WriteFrame(uint8_t type, uint8_t flags, uint32_t sizeOrOffset, uint8_t xid,
                       std::span<const uint8_t> data) {
    Header header{type, flags, sizeOrOffset};
    std::vector<uint8_t> body = wire::Encode(header);
    body.insert(body.end(), data.begin(), data.end());
    slp::Header slpHeader;
    slpHeader.xid = xid;
    const std::vector<uint8_t> frame = slp::EncodeFrame(slpHeader, body);
    // A failed write counts as sent: the missing ACK brings the retransmission.
    m_transport.Write(frame.data(), frame.size());
    m_stats.bytesSent.fetch_add(frame.size());
}

int CLink::NextPacket(Packet& packet, Clock::time_point deadline) {
    for (;;) {
        slp::Frame frame;
        while (m_receiver.Next(frame)) {
            const bool ours =
                frame.header.type == slp::kTypePadp && frame.header.destination == slp::kSocketDlp;
            Header header;
            size_t used = 0;
            if (!ours || !wire::Decode(frame.body, header, &used)) {
                // Loopback packets are a handheld's harmless line test; anything else
                // is not for us.
                if (frame.header.type != slp::kTypeLoopback) CountReceiveError();
                continue;
            }
            const bool knownType = header.type == kTypeData || header.type == kTypeAck ||
                                   header.type == kTypeTickle || header.type == kTypeAbort;
            const size_t dataSize = frame.body.size() - used;
            if (!knownType || (header.type == kTypeData && dataSize > kMaxFragment)) {
                CountReceiveError();
                continue;
            }
            packet.xid = frame.header.xid;
            packet.header = header;
            packet.data.assign(frame.body.begin() + static_cast<std::ptrdiff_t>(used),
                               frame.body.end());
            return 1;
        }
        const int dropped = m_receiver.Dropped();
        if (dropped != m_droppedSeen) {
            m_stats.receiveErrors.fetch_add(dropped - m_droppedSeen);
            m_droppedSeen = dropped;
        }
        if (m_stats.closing.load()) return -1;
        const auto now = Clock::now();
        if (now >= deadline) return 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int slice = static_cast<int>(std::min<long long>(left + 1, kReadSliceMs));
        uint8_t buffer[slp::kHeaderSize + slp::kMaxBody + slp::kCrcSize];
        const size_t want = std::min(m_receiver.Needed(), sizeof buffer);
        const int n = m_transport.Read(buffer, want, slice);
        if (n < 0) {
            CountReceiveError();
            return -1;
        }
        if (n > 0) {
            m_stats.bytesRead.fetch_add(static_cast<uint64_t>(n));
            m_receiver.Feed(buffer, static_cast<size_t>(n));
        }
    }
}

void CLink::Acknowledge(const Packet& packet) {
    uint8_t flags = packet.header.flags & (kFlagFirst | kFlagLast);
    if (m_longForm) flags |= kFlagLong;
    WriteFrame(kTypeAck, flags, packet.header.sizeOrOffset, packet.xid, {});
    m_lastAcked =
        Acked{packet.xid, packet.header.flags, packet.header.sizeOrOffset, packet.data.size()};
}

bool CLink::IsDuplicate(const Packet& packet) const {
    return m_lastAcked && m_lastAcked->xid == packet.xid &&
           m_lastAcked->flags == packet.header.flags &&
           m_lastAcked->sizeOrOffset == packet.header.sizeOrOffset &&
           m_lastAcked->dataSize == packet.data.size();
}

int CLink::Send(std::span<const uint8_t> message, uint8_t xid) {
    const bool useLong = message.size() > kMaxShortMessage;
    if (useLong && (!m_longForm || message.size() > kMaxLongMessage)) {
        return kDlpErrDataTooLarge;
    }
    m_stats.memoryError.store(false);
    size_t offset = 0;
    do {
        const size_t chunk = std::min(kMaxFragment, message.size() - offset);
        const bool last = offset + chunk == message.size();
        uint8_t flags = (offset == 0 ? kFlagFirst : 0) | (last ? kFlagLast : 0);
        if (useLong) flags |= kFlagLong;
        const uint32_t sizeOrOffset = uint32_t(offset == 0 ? message.size() : offset);
        const auto fragment = message.subspan(offset, chunk);

        bool acked = false;
        for (int attempt = 0; attempt < m_timeouts.sendTries && !acked; ++attempt) {
            WriteFrame(kTypeData, flags, sizeOrOffset, xid, fragment);
            const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeouts.ackWaitMs);
            Packet packet;
            int got;
            while (!acked && (got = NextPacket(packet, deadline)) != 0) {
                if (got < 0) return kErrLinkBroken;
                switch (packet.header.type) {
                    case kTypeAck:
                        if (packet.xid == xid && packet.header.sizeOrOffset == sizeOrOffset) {
                            acked = true;
                            if (packet.header.flags & kFlagMemError) {
                                m_stats.memoryError.store(true);
                                return kErrPeerMemory;
                            }
                        }
                        break;  // an ACK of something else: stale, ignore
                    case kTypeData:
                        if (IsDuplicate(packet)) {
                            Acknowledge(packet);
                        } else if (last && packet.xid == xid &&
                                   (packet.header.flags & kFlagFirst)) {
                            // The reply overtook our lost ACK: it acknowledges the request.
                            acked = true;
                            m_pending.push_back(std::move(packet));
                        } else {
                            // Not what we wait for (e.g. a repeated wakeup): acknowledge
                            // so the peer stops repeating, and go on waiting.
                            Acknowledge(packet);
                        }
                        break;
                    case kTypeAbort:
                        return kErrLinkBroken;
                    default:  // tickles need no answer
                        break;
                }
            }
        }
        if (!acked) return kErrLinkBroken;
        offset += chunk;
    } while (offset < message.size());
    return 0;
}

int CLink::Receive(std::vector<uint8_t>& message, uint8_t& xid, int timeoutMs,
                   std::optional<uint8_t> expectXid) {
    bool collecting = false;
    size_t total = 0;
    uint8_t messageXid = 0;
    message.clear();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Packet packet;
        if (!m_pending.empty()) {
            packet = std::move(m_pending.front());
            m_pending.pop_front();
        } else {
            const int got = NextPacket(packet, deadline);
            if (got < 0) return kErrLinkBroken;
            if (got == 0) {
                CountReceiveError();
                return kErrTimedOut;
            }
        }
        switch (packet.header.type) {
            case kTypeTickle:
                deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
                continue;
            case kTypeAbort:
                return kErrLinkBroken;
            case kTypeAck:
                continue;  // nothing of ours is waiting for one
            default:
                break;
        }
        if (IsDuplicate(packet)) {
            Acknowledge(packet);
            continue;
        }
        Acknowledge(packet);
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        if (expectXid && packet.xid != *expectXid) continue;

        const uint8_t flags = packet.header.flags;
        if (flags & kFlagFirst) {
            const size_t limit = (flags & kFlagLong) ? kMaxLongMessage : kMaxShortMessage;
            if (packet.header.sizeOrOffset > limit ||
                packet.data.size() > packet.header.sizeOrOffset) {
                CountReceiveError();
                collecting = false;
                continue;
            }
            collecting = true;
            total = packet.header.sizeOrOffset;
            messageXid = packet.xid;
            message = std::move(packet.data);
        } else if (collecting && packet.xid == messageXid &&
                   packet.header.sizeOrOffset == message.size() &&
                   message.size() + packet.data.size() <= total) {
            message.insert(message.end(), packet.data.begin(), packet.data.end());
        } else {
            continue;  // out of place: acknowledged, not kept
        }
        if ((flags & kFlagLast) && message.size() == total) {
            xid = messageXid;
            return 0;
        }
    }
}

int CLink::SendTickle() {
    WriteFrame(kTypeTickle, kFlagFirst | kFlagLast, 0, m_xid == 0 ? 0xFF : m_xid, {});
    return 0;
}

}  // namespace hotsync::padp
