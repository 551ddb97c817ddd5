#include "hotsync/netsync.h"

#include <algorithm>

#include "hotsync/hotsync.h"

namespace hotsync::netsync {

// Bytes 30 to 33 of the hello carry an IPv4 address that differs between implementations,
// so the handheld evidently does not read it.
const std::array<uint8_t, 50> kDesktopHello = {
    0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,
    0x24, 0xFF, 0xFF, 0xFF, 0xFF, 0x3C, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0xC0, 0xA8, 0xA5, 0x1F, 0x04, 0x27, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

const std::array<uint8_t, 46> kDesktopConfirm = {
    0x13, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x20, 0xFF, 0xFF,
    0xFF, 0xFF, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

namespace {

// Reads are cut into slices so that a closing socket is noticed quickly.
constexpr int kReadSliceMs = 250;

}  // namespace

std::optional<std::vector<uint8_t>> AnswerWakeup(std::span<const uint8_t> datagram) {
    Wakeup wakeup;
    if (datagram.size() < kWakeupFixedSize || !wire::Decode(datagram, wakeup) ||
        !IsWakeupMagic(wakeup.magic) || wakeup.type != kWakeupRequest) {
        return std::nullopt;
    }
    wakeup.type = kWakeupReply;
    return wire::Encode(wakeup);
}

CLink::CLink(ITransport& transport, LinkStats stats) : m_transport(transport), m_stats(stats) {}

void CLink::Reset() {
    m_readAhead.clear();
    m_readAheadPos = 0;
    m_xid = 0;
}

void CLink::Feed(std::span<const uint8_t> bytes) {
    m_readAhead.insert(m_readAhead.end(), bytes.begin(), bytes.end());
}

uint8_t CLink::NextXid() {
    ++m_xid;
    if (m_xid == 0x00 || m_xid == 0xFF) m_xid = 0x01;
    return m_xid;
}

int CLink::WriteAll(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return 0;
    if (m_transport.Write(bytes.data(), bytes.size()) != static_cast<int>(bytes.size())) {
        return kErrLinkBroken;
    }
    m_stats.bytesSent.fetch_add(bytes.size());
    return 0;
}

int CLink::Send(std::span<const uint8_t> payload, uint8_t xid) {
    if (payload.size() > kMaxPayload) return kDlpErrDataTooLarge;
    const Header header{kTypeData, xid, uint32_t(payload.size())};
    const int result = WriteAll(wire::Encode(header));
    return result < 0 ? result : WriteAll(payload);
}

int CLink::SendTickle() {
    return WriteAll(wire::Encode(Header{kTypeTickle, kTickleXid, 0}));
}

int CLink::ReadExact(uint8_t* out, size_t size, Clock::time_point deadline) {
    size_t got = 0;
    if (m_readAheadPos < m_readAhead.size()) {
        const size_t n = std::min(size, m_readAhead.size() - m_readAheadPos);
        std::copy_n(m_readAhead.begin() + static_cast<std::ptrdiff_t>(m_readAheadPos), n, out);
        m_readAheadPos += n;
        got = n;
        if (m_readAheadPos == m_readAhead.size()) {
            m_readAhead.clear();
            m_readAheadPos = 0;
        }
    }
    while (got < size) {
        if (m_stats.closing.load()) return kErrLinkBroken;
        const auto now = Clock::now();
        if (now >= deadline) return kErrTimedOut;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int slice = static_cast<int>(std::min<long long>(left + 1, kReadSliceMs));
        const int n = m_transport.Read(out + got, size - got, slice);
        if (n < 0) return kErrLinkBroken;
        got += static_cast<size_t>(n);
        m_stats.bytesRead.fetch_add(static_cast<uint64_t>(n));
    }
    return 0;
}

int CLink::SkipAnnouncement(uint8_t first, Clock::time_point deadline) {
    uint8_t head[kWakeupFixedSize] = {first};
    int result = ReadExact(head + 1, 2, deadline);
    if (result < 0) return result;
    if (!IsWakeupMagic(uint16_t(head[0] << 8 | head[1])) || head[2] != kWakeupRequest) {
        return kErrBadFrame;
    }
    if ((result = ReadExact(head + 3, kWakeupFixedSize - 3, deadline)) < 0) return result;
    for (size_t i = 0; i < kMaxHostName; ++i) {
        uint8_t c = 0;
        if ((result = ReadExact(&c, 1, deadline)) < 0) return result;
        if (c == 0) return 0;
    }
    return kErrBadFrame;
}

int CLink::ReceiveFrame(std::vector<uint8_t>& payload, uint8_t& xid, int timeoutMs,
                        bool bareHelloAllowed) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool announced = false;
    for (;;) {
        uint8_t bytes[kHeaderSize];
        int result = ReadExact(bytes, 1, deadline);
        if (result == 0 && bareHelloAllowed && !announced &&
            (bytes[0] == uint8_t(kWakeupMagic >> 8) ||
             bytes[0] == uint8_t(kWakeupMagicSwapped >> 8))) {
            // A unit that announces network HotSync before its hello.
            if ((result = SkipAnnouncement(bytes[0], deadline)) < 0) {
                m_stats.receiveErrors.fetch_add(1);
                return result;
            }
            announced = true;
            continue;
        }
        if (result == 0 && bareHelloAllowed && bytes[0] == kBareHelloByte) {
            // The hello without its header: the rest of its fixed size follows.
            payload.assign(kHandheldHelloSize, 0);
            payload[0] = bytes[0];
            xid = kHandheldFirstXid;
            result = ReadExact(payload.data() + 1, kHandheldHelloSize - 1, deadline);
            return result;
        }
        if (result == 0) result = ReadExact(bytes + 1, kHeaderSize - 1, deadline);
        if (result < 0) {
            m_stats.receiveErrors.fetch_add(1);
            return result;
        }
        Header header;
        wire::Decode(std::span<const uint8_t>(bytes, kHeaderSize), header);
        if (header.type == kTypeTickle && header.length == 0) {
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (header.type != kTypeData || header.length > kMaxPayload) {
            // The stream cannot be followed past a frame it does not understand.
            m_stats.receiveErrors.fetch_add(1);
            return kErrBadFrame;
        }
        payload.resize(header.length);
        result = ReadExact(payload.data(), payload.size(), deadline);
        if (result < 0) {
            m_stats.receiveErrors.fetch_add(1);
            payload.clear();
            return result;
        }
        xid = header.xid;
        return 0;
    }
}

int CLink::Receive(std::vector<uint8_t>& payload, uint8_t& xid, int timeoutMs) {
    return ReceiveFrame(payload, xid, timeoutMs, false);
}

int CLink::AcceptHandshake(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto left = [&] {
        return static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                   .count()));
    };
    std::vector<uint8_t> blob;
    uint8_t xid = 0;
    int result = ReceiveFrame(blob, xid, left(), true);
    if (result < 0) return result;
    if (blob.size() != kHandheldHelloSize) return kErrRefused;
    if ((result = Send(kDesktopHello, NextXid())) < 0) return result;
    // A handheld on a line it cannot trust says its hello again until it hears back.
    do {
        if ((result = ReceiveFrame(blob, xid, left(), false)) < 0) return result;
    } while (blob.size() == kHandheldHelloSize);
    if (blob.size() != kHandheldAnswerSize) return kErrRefused;
    if ((result = Send(kDesktopConfirm, NextXid())) < 0) return result;
    if ((result = ReceiveFrame(blob, xid, left(), false)) < 0) return result;
    return blob.size() == kHandheldDoneSize ? 0 : kErrRefused;
}

}  // namespace hotsync::netsync
