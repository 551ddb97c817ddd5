#include "tools/handheld/device_link.h"

#include <algorithm>
#include <thread>

#include "hotsync/timeline.h"

namespace handheld {
namespace {

// The two bytes a recorded Palm OS 4.1 unit appends to its ACK of the CMP INIT.
constexpr uint8_t kStrayAckBytes[2] = {0xB2, 0x60};
constexpr int kReadSliceMs = 100;
constexpr uint8_t kCmpInit = 0x02;

}  // namespace

CDeviceLink::CDeviceLink(hotsync::ITransport& transport, const HandheldConfig& config,
                         const std::atomic<bool>& stop, LinkStats& stats, std::mutex& statsMutex)
    : m_transport(transport),
      m_config(config),
      m_stop(stop),
      m_stats(stats),
      m_statsMutex(statsMutex) {}

void CDeviceLink::CountStat(int LinkStats::*field, int add) {
    std::lock_guard<std::mutex> lock(m_statsMutex);
    m_stats.*field += add;
}

void CDeviceLink::SetRate(int bitsPerSecond) {
    m_nRate = bitsPerSecond;
    if (!m_bBroken) m_transport.SetRate(bitsPerSecond);
    std::lock_guard<std::mutex> lock(m_statsMutex);
    m_stats.currentRate = bitsPerSecond;
}

void CDeviceLink::Reset() {
    m_pending.clear();
    m_parser.Clear();
    m_bLong = false;
    m_bHaveLast = false;
    m_bRxActive = false;
    m_rx.clear();
}

// ---- The wire -------------------------------------------------------------------------

int CDeviceLink::PaceRate() const {
    if (m_config.lineRate > 0) return m_config.lineRate;
    if (m_config.lineRate < 0) return m_nRate;
    return 0;
}

// A byte takes ten bit times on the wire (start, eight data bits, stop).
void CDeviceLink::Pace(Clock::time_point& clock, size_t bytes) {
    const int rate = PaceRate();
    if (rate <= 0 || bytes == 0) return;
    const auto now = Clock::now();
    if (clock < now) clock = now;
    clock += std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 10 * 1000000000LL / rate);
    std::this_thread::sleep_until(clock);
}

void CDeviceLink::Break() {
    if (m_bBroken) return;
    m_bBroken = true;
    m_transport.Close();
}

int CDeviceLink::LineWrite(const uint8_t* data, size_t size) {
    if (m_bBroken) return -1;
    size_t n = size;
    bool breakNow = false;
    if (m_config.breakAfterBytes > 0 && m_nBytes + int64_t(n) >= m_config.breakAfterBytes) {
        n = static_cast<size_t>(std::max<int64_t>(0, m_config.breakAfterBytes - m_nBytes));
        breakNow = true;
    }
    if (n > 0) {
        Pace(m_writeClock, n);
        if (m_transport.Write(data, n) < 0) return -1;
        m_nBytes += int64_t(n);
        std::lock_guard<std::mutex> lock(m_statsMutex);
        m_stats.bytesSent += int64_t(n);
    }
    if (breakNow) {
        Break();
        return -1;
    }
    return static_cast<int>(size);
}

int CDeviceLink::LineRead(uint8_t* buffer, size_t size, int timeoutMs) {
    if (m_bBroken) return -1;
    const int got = m_transport.Read(buffer, size, timeoutMs);
    if (got <= 0) return got;
    size_t n = static_cast<size_t>(got);
    bool breakNow = false;
    if (m_config.breakAfterBytes > 0 && m_nBytes + int64_t(n) >= m_config.breakAfterBytes) {
        n = static_cast<size_t>(std::max<int64_t>(0, m_config.breakAfterBytes - m_nBytes));
        breakNow = true;
    }
    Pace(m_readClock, n);
    m_nBytes += int64_t(n);
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        m_stats.bytesReceived += int64_t(n);
    }
    if (breakNow) Break();
    if (n == 0) return -1;
    return static_cast<int>(n);
}

// ---- Packets --------------------------------------------------------------------------

LinkStatus CDeviceLink::MaybeStall() {
    if (m_config.stallAfterBytes <= 0 || m_bStalled || m_nBytes < m_config.stallAfterBytes) {
        return LinkStatus::kOk;
    }
    m_bStalled = true;
    const auto end = Clock::now() + std::chrono::milliseconds(m_config.stallMs);
    auto nextTickle = Clock::now() + std::chrono::milliseconds(m_config.tickleIntervalMs);
    while (Clock::now() < end) {
        if (m_stop) return LinkStatus::kStopped;
        if (m_config.stallTickles && Clock::now() >= nextTickle) {
            const LinkStatus st = SendTickle();
            if (st != LinkStatus::kOk) return st;
            nextTickle += std::chrono::milliseconds(m_config.tickleIntervalMs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return LinkStatus::kOk;
}

LinkStatus CDeviceLink::WritePacket(const SlpPacket& packet) {
    const LinkStatus stall = MaybeStall();
    if (stall != LinkStatus::kOk) return stall;
    if (m_bBroken) return LinkStatus::kBroken;
    std::vector<uint8_t> bytes = EncodeSlp(packet);
    ++m_nOutPackets;
    CountStat(&LinkStats::packetsSent);
    if (m_config.dropEvery > 0 && m_nOutPackets % m_config.dropEvery == 0) {
        return LinkStatus::kOk;  // lost on the way
    }
    if (m_config.corruptEvery > 0 && m_nOutPackets % m_config.corruptEvery == 0) {
        bytes[bytes.size() - 3] ^= 0x5A;  // last body byte, or the header checksum
    }
    if (LineWrite(bytes.data(), bytes.size()) < 0) {
        return m_bBroken ? LinkStatus::kBroken : LinkStatus::kLost;
    }
    return LinkStatus::kOk;
}

LinkStatus CDeviceLink::ReadPacket(SlpPacket& packet, Clock::time_point deadline) {
    uint8_t buffer[4096];
    while (true) {
        if (!m_pending.empty()) {
            packet = std::move(m_pending.front());
            m_pending.pop_front();
            return LinkStatus::kOk;
        }
        const int badBefore = m_parser.BadCount();
        const bool got = m_parser.Next(packet);
        if (m_parser.BadCount() != badBefore) {
            CountStat(&LinkStats::badPackets, m_parser.BadCount() - badBefore);
        }
        if (got) {
            ++m_nInPackets;
            CountStat(&LinkStats::packetsReceived);
            if (m_config.dropEvery > 0 && m_nInPackets % m_config.dropEvery == 0) continue;
            if (m_config.corruptEvery > 0 && m_nInPackets % m_config.corruptEvery == 0) {
                CountStat(&LinkStats::badPackets);  // it would fail its CRC
                continue;
            }
            const LinkStatus stall = MaybeStall();
            if (stall != LinkStatus::kOk) return stall;
            return LinkStatus::kOk;
        }
        if (m_stop) return LinkStatus::kStopped;
        if (m_bBroken) return LinkStatus::kBroken;
        const auto now = Clock::now();
        if (now >= deadline) return LinkStatus::kTimeout;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int wait = static_cast<int>(std::clamp<int64_t>(left, 1, kReadSliceMs));
        const int n = LineRead(buffer, sizeof buffer, wait);
        if (n < 0) return m_bBroken ? LinkStatus::kBroken : LinkStatus::kLost;
        if (n > 0) m_parser.Feed(buffer, static_cast<size_t>(n));
    }
}

LinkStatus CDeviceLink::SendAck(uint8_t xid, const PadpHeader& data, bool memError, bool stray) {
    PadpHeader ack;
    ack.type = kPadpAck;
    ack.flags = static_cast<uint8_t>((data.flags & (kPadpFirst | kPadpLast | kPadpLong)) |
                                     (m_bLong ? kPadpLong : 0) | (memError ? kPadpMemError : 0));
    ack.sizeOrOffset = data.sizeOrOffset;
    SlpPacket packet;
    packet.xid = xid;
    packet.body = EncodePadp(ack, stray ? kStrayAckBytes : nullptr, stray ? 2 : 0);
    if (memError) CountStat(&LinkStats::memoryErrorAcks);
    return WritePacket(packet);
}

bool CDeviceLink::IsDuplicate(const SlpPacket& packet) const {
    return m_bHaveLast && packet.xid == m_lastData.xid && packet.body == m_lastData.body;
}

LinkStatus CDeviceLink::SendLoopback(uint8_t xid) {
    SlpPacket packet;
    packet.type = kSlpTypeLoopback;
    packet.xid = xid;
    return WritePacket(packet);
}

LinkStatus CDeviceLink::SendTickle() {
    PadpHeader tickle;
    tickle.type = kPadpTickle;
    tickle.flags = kPadpFirst | kPadpLast;
    SlpPacket packet;
    packet.xid = 0xFF;
    packet.body = EncodePadp(tickle, nullptr, 0);
    CountStat(&LinkStats::ticklesSent);
    return WritePacket(packet);
}

LinkStatus CDeviceLink::SendWakeup(const std::vector<uint8_t>& cmp, int waitMs) {
    PadpHeader header;
    header.flags = kPadpFirst | kPadpLast;
    header.sizeOrOffset = static_cast<uint32_t>(cmp.size());
    SlpPacket packet;
    packet.xid = 0xFF;
    packet.body = EncodePadp(header, cmp.data(), cmp.size());
    CountStat(&LinkStats::wakeupsSent);
    timeline::Mark("handheld.wakeup");
    LinkStatus st = WritePacket(packet);
    if (st != LinkStatus::kOk) return st;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (true) {
        SlpPacket in;
        st = ReadPacket(in, deadline);
        if (st != LinkStatus::kOk) return st;
        PadpHeader h;
        size_t offset = 0;
        if (in.type != kSlpTypePadp || !DecodePadp(in.body, h, offset)) continue;
        if (h.type == kPadpAck && in.xid == 0xFF) return LinkStatus::kOk;
        if (h.type == kPadpData && (h.flags & kPadpFirst)) {
            m_pending.push_front(std::move(in));  // the INIT overtook the ACK
            return LinkStatus::kOk;
        }
        if (h.type == kPadpAbort) return LinkStatus::kAborted;
    }
}

LinkStatus CDeviceLink::Receive(std::vector<uint8_t>& message, uint8_t& xid, bool& memoryFull,
                                int timeoutMs, bool cmpPhase) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        SlpPacket in;
        LinkStatus st = ReadPacket(in, deadline);
        if (st != LinkStatus::kOk) return st;
        if (in.type != kSlpTypePadp) continue;  // loopback and system packets are not ours
        PadpHeader h;
        size_t offset = 0;
        if (!DecodePadp(in.body, h, offset)) {
            CountStat(&LinkStats::badPackets);
            continue;
        }
        if (h.type == kPadpTickle) {
            CountStat(&LinkStats::ticklesReceived);
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (h.type == kPadpAbort) return LinkStatus::kAborted;
        if (h.type != kPadpData) {
            if (h.type != kPadpAck) CountStat(&LinkStats::badPackets);
            continue;  // a late ACK means nothing here
        }
        if (IsDuplicate(in)) {
            CountStat(&LinkStats::duplicates);
            st = SendAck(in.xid, m_lastHeader, m_bLastMemError, m_bLastStray);
            if (st != LinkStatus::kOk) return st;
            continue;
        }
        const uint8_t* data = in.body.data() + offset;
        const size_t size = in.body.size() - offset;
        const bool first = (h.flags & kPadpFirst) != 0;
        if (first && (size > h.sizeOrOffset || (!(h.flags & kPadpLast) && size == 0))) {
            CountStat(&LinkStats::badPackets);  // more data than the message it starts
            continue;
        }
        if (first) {
            m_bRxActive = true;
            m_rxXid = in.xid;
            m_rxTotal = h.sizeOrOffset;
            m_rx.clear();
            m_bRxMemoryFull = m_memoryFull && m_memoryFull(data, size, h.sizeOrOffset);
        }
        const bool memError = m_bRxActive && in.xid == m_rxXid && m_bRxMemoryFull &&
                              m_config.fullStyle != FullStyle::kDlp;
        const bool stray = cmpPhase && m_config.strayAckBytes && first && (h.flags & kPadpLast) &&
                           size > 0 && data[0] == kCmpInit;
        st = SendAck(in.xid, h, memError, stray);
        if (st != LinkStatus::kOk) return st;
        m_bHaveLast = true;
        m_lastData = in;
        m_lastHeader = h;
        m_bLastMemError = memError;
        m_bLastStray = stray;
        deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

        if (!m_bRxActive || in.xid != m_rxXid) continue;
        if (!first) {
            if (h.sizeOrOffset != m_rx.size()) continue;  // ACKed, not appended
            if (m_rx.size() + size > m_rxTotal) {
                m_bRxActive = false;  // overruns its announced size: drop the message
                CountStat(&LinkStats::badPackets);
                continue;
            }
        }
        m_rx.insert(m_rx.end(), data, data + size);
        if ((h.flags & kPadpLast) && m_rx.size() == m_rxTotal) {
            m_bRxActive = false;
            message = std::move(m_rx);
            m_rx.clear();
            xid = in.xid;
            memoryFull = m_bRxMemoryFull;
            return LinkStatus::kOk;
        }
    }
}

LinkStatus CDeviceLink::Send(const std::vector<uint8_t>& message, uint8_t xid, int tries) {
    if (tries <= 0) tries = m_config.retries;
    const size_t total = message.size();
    size_t offset = 0;
    do {
        const size_t n = std::min(kPadpMaxFragment, total - offset);
        PadpHeader header;
        header.type = kPadpData;
        header.flags =
            static_cast<uint8_t>((offset == 0 ? kPadpFirst : 0) |
                                 (offset + n == total ? kPadpLast : 0) | (m_bLong ? kPadpLong : 0));
        header.sizeOrOffset = static_cast<uint32_t>(offset == 0 ? total : offset);
        SlpPacket packet;
        packet.xid = xid;
        packet.body = EncodePadp(header, message.data() + offset, n);
        const bool lastFragment = (header.flags & kPadpLast) != 0;

        bool acked = false;
        for (int attempt = 0; attempt < tries && !acked; ++attempt) {
            if (attempt > 0) CountStat(&LinkStats::retransmissions);
            LinkStatus st = WritePacket(packet);
            if (st != LinkStatus::kOk) return st;
            const auto deadline = Clock::now() + std::chrono::milliseconds(m_config.ackTimeoutMs);
            while (!acked) {
                SlpPacket in;
                st = ReadPacket(in, deadline);
                if (st == LinkStatus::kTimeout) break;
                if (st != LinkStatus::kOk) return st;
                if (in.type != kSlpTypePadp) continue;
                PadpHeader h;
                size_t dataOffset = 0;
                if (!DecodePadp(in.body, h, dataOffset)) {
                    CountStat(&LinkStats::badPackets);
                    continue;
                }
                if (h.type == kPadpAck) {
                    if (in.xid == xid && h.sizeOrOffset == header.sizeOrOffset) acked = true;
                } else if (h.type == kPadpTickle) {
                    CountStat(&LinkStats::ticklesReceived);
                } else if (h.type == kPadpAbort) {
                    return LinkStatus::kAborted;
                } else if (h.type == kPadpData) {
                    if (IsDuplicate(in)) {
                        // The desktop missed our ACK of its request: repeat it.
                        CountStat(&LinkStats::duplicates);
                        st = SendAck(in.xid, m_lastHeader, m_bLastMemError, m_bLastStray);
                        if (st != LinkStatus::kOk) return st;
                    } else if (lastFragment && (h.flags & kPadpFirst)) {
                        // Its next request: our reply arrived and only its ACK was lost.
                        m_pending.push_front(std::move(in));
                        acked = true;
                    }
                } else {
                    CountStat(&LinkStats::badPackets);
                }
            }
        }
        if (!acked) return LinkStatus::kLost;
        offset += n;
    } while (offset < total);
    return LinkStatus::kOk;
}

}  // namespace handheld
