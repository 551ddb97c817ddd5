// The handheld's end of the line: the wire itself (pacing, the injected faults) and
// PADP over SLP (fragments, acknowledgements, retransmission, duplicates, tickles).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "hotsync/transport.h"
#include "tools/handheld/slp_codec.h"
#include "tools/handheld/virtual_handheld.h"

namespace handheld {

enum class LinkStatus { kOk, kTimeout, kLost, kAborted, kBroken, kStopped };

class CDeviceLink {
  public:
    using Clock = std::chrono::steady_clock;
    // Decides, from the first fragment of an incoming message and its total size, whether
    // the handheld has no memory to take it.
    using MemoryFullTest = std::function<bool(const uint8_t* data, size_t size, uint32_t total)>;

    CDeviceLink(hotsync::ITransport& transport, const HandheldConfig& config,
                const std::atomic<bool>& stop, LinkStats& stats, std::mutex& statsMutex);

    void SetMemoryFullTest(MemoryFullTest test) { m_memoryFull = std::move(test); }
    void SetRate(int bitsPerSecond);
    void SetLongForm(bool on) { m_bLong = on; }
    bool LongForm() const { return m_bLong; }
    bool Broken() const { return m_bBroken; }
    // A new press starts from a clean line state.
    void Reset();

    LinkStatus SendLoopback(uint8_t xid);
    // Sends one wakeup and waits up to waitMs for its acknowledgement. An INIT arriving
    // first counts as the acknowledgement and is kept for Receive.
    LinkStatus SendWakeup(const std::vector<uint8_t>& cmp, int waitMs);
    // Receives one whole message. memoryFull tells whether its ACKs carried the flag.
    // cmpPhase: the ACK of a CMP INIT carries the two stray bytes a real unit sends.
    LinkStatus Receive(std::vector<uint8_t>& message, uint8_t& xid, bool& memoryFull, int timeoutMs,
                       bool cmpPhase = false);
    // Sends one message in fragments, each acknowledged. tries 0: the configured count.
    LinkStatus Send(const std::vector<uint8_t>& message, uint8_t xid, int tries = 0);
    // Sends a tickle (no acknowledgement expected).
    LinkStatus SendTickle();

  private:
    // The wire.
    int LineWrite(const uint8_t* data, size_t size);
    int LineRead(uint8_t* buffer, size_t size, int timeoutMs);
    void Break();
    void Pace(Clock::time_point& clock, size_t bytes);
    int PaceRate() const;

    // Packets.
    LinkStatus WritePacket(const SlpPacket& packet);
    LinkStatus ReadPacket(SlpPacket& packet, Clock::time_point deadline);
    LinkStatus MaybeStall();
    LinkStatus SendAck(uint8_t xid, const PadpHeader& data, bool memError, bool stray);
    bool IsDuplicate(const SlpPacket& packet) const;
    void CountStat(int LinkStats::*field, int add = 1);

    hotsync::ITransport& m_transport;
    const HandheldConfig& m_config;
    const std::atomic<bool>& m_stop;
    LinkStats& m_stats;
    std::mutex& m_statsMutex;
    MemoryFullTest m_memoryFull;

    CSlpParser m_parser;
    std::deque<SlpPacket> m_pending;  // read ahead, to be handled by the next Receive
    int m_nRate = 9600;
    bool m_bLong = false;
    bool m_bBroken = false;
    bool m_bStalled = false;
    int64_t m_nBytes = 0;  // both directions
    int m_nOutPackets = 0, m_nInPackets = 0;
    Clock::time_point m_writeClock{}, m_readClock{};

    // The last data packet acknowledged, for duplicate detection, and its ACK.
    bool m_bHaveLast = false;
    SlpPacket m_lastData;
    bool m_bLastMemError = false, m_bLastStray = false;
    PadpHeader m_lastHeader;

    // Message being assembled.
    bool m_bRxActive = false;
    uint8_t m_rxXid = 0;
    uint32_t m_rxTotal = 0;
    bool m_bRxMemoryFull = false;
    std::vector<uint8_t> m_rx;
};

}  // namespace handheld
