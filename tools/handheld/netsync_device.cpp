#include "tools/handheld/netsync_device.h"

#include <algorithm>
#include <thread>

namespace handheld {
namespace {

constexpr uint8_t kTypeData = 0x01;
constexpr uint8_t kTypeTickle = 0x02;
constexpr uint8_t kFirstXid = 0xFF;
constexpr size_t kHeaderSize = 6;
constexpr uint32_t kMaxPayload = 0x100000;  // a larger frame ends the sync
constexpr int kReadSliceMs = 100;

// The blobs a recorded Palm OS 4.1 unit sent: over the network, and over USB.
const std::vector<uint8_t> kNetHello = {0x90, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x20, 0x00, 0x00, 0x00, 0x08, 0x02, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kUsbHello = {0x90, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x20, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00,
                                        0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kNetAnswer = {
    0x92, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,
    0x24, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x3C, 0x00, 0x3C, 0x40, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x00, 0x00, 0xC0, 0xA8, 0x02, 0x60, 0xE8, 0x9F, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kUsbAnswer = {
    0x92, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,
    0x24, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x3C, 0x00, 0x3C, 0x40, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00,
    0x3C, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kDone = {0x93, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

}  // namespace

CNetSyncDevice::CNetSyncDevice(hotsync::ITransport& transport, const HandheldConfig& config,
                               const std::atomic<bool>& stop, LinkStats& stats,
                               std::mutex& statsMutex)
    : m_transport(transport),
      m_config(config),
      m_stop(stop),
      m_stats(stats),
      m_statsMutex(statsMutex) {}

void CNetSyncDevice::Break() {
    if (m_bBroken) return;
    m_bBroken = true;
    m_transport.Close();
}

LinkStatus CNetSyncDevice::MaybeStall() {
    if (m_config.stallAfterBytes <= 0 || m_bStalled || m_nBytes < m_config.stallAfterBytes) {
        return LinkStatus::kOk;
    }
    m_bStalled = true;
    const auto end = Clock::now() + std::chrono::milliseconds(m_config.stallMs);
    auto nextTickle = Clock::now() + std::chrono::milliseconds(m_config.tickleIntervalMs);
    while (Clock::now() < end) {
        if (m_stop) return LinkStatus::kStopped;
        if (m_config.stallTickles && Clock::now() >= nextTickle) {
            const uint8_t tickle[kHeaderSize] = {kTypeTickle, 0xFF, 0, 0, 0, 0};
            const LinkStatus st = Write(tickle, sizeof tickle);
            if (st != LinkStatus::kOk) return st;
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.ticklesSent;
            nextTickle += std::chrono::milliseconds(m_config.tickleIntervalMs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return LinkStatus::kOk;
}

LinkStatus CNetSyncDevice::Write(const uint8_t* data, size_t size) {
    if (m_bBroken) return LinkStatus::kBroken;
    size_t n = size;
    bool breakNow = false;
    if (m_config.breakAfterBytes > 0 && m_nBytes + int64_t(n) >= m_config.breakAfterBytes) {
        n = static_cast<size_t>(std::max<int64_t>(0, m_config.breakAfterBytes - m_nBytes));
        breakNow = true;
    }
    if (n > 0 && m_transport.Write(data, n) < 0) return LinkStatus::kLost;
    m_nBytes += int64_t(n);
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        m_stats.bytesSent += int64_t(n);
    }
    if (breakNow) {
        Break();
        return LinkStatus::kBroken;
    }
    return LinkStatus::kOk;
}

LinkStatus CNetSyncDevice::ReadExact(uint8_t* out, size_t size, Clock::time_point deadline) {
    size_t got = 0;
    while (got < size) {
        if (m_stop) return LinkStatus::kStopped;
        if (m_bBroken) return LinkStatus::kBroken;
        const auto now = Clock::now();
        if (now >= deadline) return LinkStatus::kTimeout;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int wait = static_cast<int>(std::clamp<int64_t>(left, 1, kReadSliceMs));
        const int n = m_transport.Read(out + got, size - got, wait);
        if (n < 0) return LinkStatus::kLost;
        size_t taken = static_cast<size_t>(n);
        bool breakNow = false;
        if (m_config.breakAfterBytes > 0 && m_nBytes + int64_t(taken) >= m_config.breakAfterBytes) {
            taken = static_cast<size_t>(std::max<int64_t>(0, m_config.breakAfterBytes - m_nBytes));
            breakNow = true;
        }
        got += taken;
        m_nBytes += int64_t(taken);
        {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            m_stats.bytesReceived += int64_t(taken);
        }
        if (breakNow) {
            Break();
            return LinkStatus::kBroken;
        }
    }
    return LinkStatus::kOk;
}

LinkStatus CNetSyncDevice::SendFrame(uint8_t xid, const std::vector<uint8_t>& payload) {
    LinkStatus st = MaybeStall();
    if (st != LinkStatus::kOk) return st;
    const uint32_t n = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> frame = {kTypeData,       xid,       uint8_t(n >> 24), uint8_t(n >> 16),
                                  uint8_t(n >> 8), uint8_t(n)};
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        ++m_stats.packetsSent;
    }
    if (m_config.usb) {
        // A USB unit sends the header and the payload as transfers of their own.
        st = Write(frame.data(), frame.size());
        return st == LinkStatus::kOk ? Write(payload.data(), payload.size()) : st;
    }
    frame.insert(frame.end(), payload.begin(), payload.end());
    return Write(frame.data(), frame.size());
}

LinkStatus CNetSyncDevice::ReceiveFrame(std::vector<uint8_t>& payload, uint8_t& xid, int timeoutMs,
                                        bool keepEmpty) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        uint8_t header[kHeaderSize];
        LinkStatus st = ReadExact(header, sizeof header, deadline);
        if (st != LinkStatus::kOk) return st;
        const uint32_t length = uint32_t(header[2]) << 24 | uint32_t(header[3]) << 16 |
                                uint32_t(header[4]) << 8 | header[5];
        if (header[0] == kTypeTickle && length == 0) {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.ticklesReceived;
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (header[0] != kTypeData || length > kMaxPayload) {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.badPackets;
            return LinkStatus::kLost;  // a stream that cannot be followed any further
        }
        payload.resize(length);
        st = ReadExact(payload.data(), payload.size(), deadline);
        if (st != LinkStatus::kOk) return st;
        {
            std::lock_guard<std::mutex> lock(m_statsMutex);
            ++m_stats.packetsReceived;
        }
        // An empty frame carries nothing (some desktops send one to wake a USB unit).
        if (payload.empty() && !keepEmpty) continue;
        xid = header[1];
        return MaybeStall();
    }
}

LinkStatus CNetSyncDevice::Wake() {
    m_bBroken = false;
    const auto giveUp = Clock::now() + std::chrono::seconds(m_config.timeoutSec);
    while (m_transport.Open() != 0) {
        if (Clock::now() >= giveUp) return LinkStatus::kTimeout;
        const auto retry = Clock::now() + std::chrono::milliseconds(m_config.wakeupIntervalMs);
        while (Clock::now() < retry) {
            if (m_stop) return LinkStatus::kStopped;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        ++m_stats.wakeupsSent;
    }
    // A network connection is fresh, the hello cannot get lost; a USB line may have been
    // opened (and purged) after it went, so a USB unit says it again until it hears back,
    // and at once when the desktop sends an empty frame.
    const auto noDesktop = Clock::now() + std::chrono::seconds(m_config.timeoutSec);
    const std::vector<uint8_t>& hello = m_config.usb ? kUsbHello : kNetHello;
    std::vector<uint8_t> blob;
    uint8_t xid = 0;
    LinkStatus st = LinkStatus::kOk;
    for (;;) {
        if ((st = SendFrame(kFirstXid, hello)) != LinkStatus::kOk) return st;
        const int left = static_cast<int>(std::max<int64_t>(
            1, std::chrono::duration_cast<std::chrono::milliseconds>(noDesktop - Clock::now())
                   .count()));
        st = ReceiveFrame(blob, xid,
                          m_config.usb ? std::min(left, m_config.wakeupIntervalMs) : left, true);
        if (st == LinkStatus::kOk && !blob.empty()) break;
        const bool again = st == LinkStatus::kOk ||
                           (st == LinkStatus::kTimeout && m_config.usb && Clock::now() < noDesktop);
        if (!again) return st;
        std::lock_guard<std::mutex> lock(m_statsMutex);
        ++m_stats.wakeupsSent;
    }
    if ((st = SendFrame(xid, m_config.usb ? kUsbAnswer : kNetAnswer)) != LinkStatus::kOk) return st;
    if ((st = ReceiveFrame(blob, xid, m_config.receiveTimeoutMs)) != LinkStatus::kOk) return st;
    return SendFrame(xid, kDone);
}

SyncOutcome CNetSyncDevice::Sync(CDlpServer& server) {
    for (;;) {
        std::vector<uint8_t> request;
        uint8_t xid = 0;
        LinkStatus st = ReceiveFrame(request, xid, m_config.receiveTimeoutMs);
        if (st == LinkStatus::kStopped) return SyncOutcome::kStopped;
        if (st == LinkStatus::kBroken) return SyncOutcome::kBroken;
        if (st != LinkStatus::kOk) return SyncOutcome::kLinkLost;
        bool end = false;
        const std::vector<uint8_t> reply = server.Handle(request, end);
        st = SendFrame(xid, reply);
        if (st == LinkStatus::kBroken) return SyncOutcome::kBroken;
        if (end) return SyncOutcome::kCompleted;
        if (st == LinkStatus::kStopped) return SyncOutcome::kStopped;
        if (st != LinkStatus::kOk) return SyncOutcome::kLinkLost;
    }
}

void CNetSyncDevice::HangUp() {
    if (!m_config.usb && !m_bBroken) m_transport.Close();
}

}  // namespace handheld
