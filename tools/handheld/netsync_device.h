// The handheld's end of a NetSync link (network HotSync, and the framing of most USB
// handhelds): it opens the connection, sends its hello and finishes the handshake with the
// recorded blobs, then answers each DLP request in one frame under the desktop's
// transaction id until EndOfSync, and hangs up a network connection afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "hotsync/transport.h"
#include "tools/handheld/device_link.h"
#include "tools/handheld/handheld_state.h"
#include "tools/handheld/virtual_handheld.h"

namespace handheld {

class CNetSyncDevice {
  public:
    CNetSyncDevice(hotsync::ITransport& transport, const HandheldConfig& config,
                   const std::atomic<bool>& stop, LinkStats& stats, std::mutex& statsMutex);

    // Opens the connection (retrying while no desktop listens, up to config.timeoutSec) and
    // does the handshake. kOk; kTimeout when no desktop came; kStopped; kLost, kBroken.
    LinkStatus Wake();
    // Serves DLP requests until EndOfSync.
    SyncOutcome Sync(CDlpServer& server);
    // Hangs up a network connection; a USB handheld's line stays as it is.
    void HangUp();

  private:
    using Clock = std::chrono::steady_clock;

    LinkStatus SendFrame(uint8_t xid, const std::vector<uint8_t>& payload);
    // The next data frame (tickles skipped, and empty frames unless keepEmpty).
    LinkStatus ReceiveFrame(std::vector<uint8_t>& payload, uint8_t& xid, int timeoutMs,
                            bool keepEmpty = false);
    LinkStatus ReadExact(uint8_t* out, size_t size, Clock::time_point deadline);
    LinkStatus Write(const uint8_t* data, size_t size);
    LinkStatus MaybeStall();
    void Break();

    hotsync::ITransport& m_transport;
    const HandheldConfig& m_config;
    const std::atomic<bool>& m_stop;
    LinkStats& m_stats;
    std::mutex& m_statsMutex;
    int64_t m_nBytes = 0;  // both directions, for the faults
    bool m_bBroken = false;
    bool m_bStalled = false;
};

}  // namespace handheld
