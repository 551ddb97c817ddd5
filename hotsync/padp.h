// PADP, the packet assembly/disassembly protocol: reliable messages over SLP frames.
// Messages go out in fragments of at most 1024 bytes, stop-and-wait, each sent again until
// its acknowledgement arrives; incoming fragments are acknowledged, duplicates are
// acknowledged again but delivered once, and tickles keep a waiting receiver patient.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "hotsync/hotsync.h"
#include "hotsync/slp.h"
#include "hotsync/transport.h"

namespace hotsync::padp {

constexpr uint8_t kTypeData = 0x01;
constexpr uint8_t kTypeAck = 0x02;
constexpr uint8_t kTypeTickle = 0x04;
constexpr uint8_t kTypeAbort = 0x08;

constexpr uint8_t kFlagFirst = 0x80;
constexpr uint8_t kFlagLast = 0x40;
constexpr uint8_t kFlagMemError = 0x20;
constexpr uint8_t kFlagLong = 0x10;

constexpr size_t kMaxFragment = 1024;
constexpr size_t kMaxShortMessage = 0xFFFF;
// Far above any HotSync message; a larger announced size is taken for damage.
constexpr size_t kMaxLongMessage = 16u << 20;

// A receive wait ran out (the caller decides whether that breaks the link).
constexpr int kErrTimedOut = -203;

// Header at the start of the SLP body, in wire order; the size or offset is 32-bit in
// the long form, 16-bit otherwise.
struct Header {
    uint8_t type = kTypeData;
    uint8_t flags = 0;
    uint32_t sizeOrOffset = 0;

    template <class F>
    void Fields(F& f) {
        f(type);
        f(flags);
        if (flags & kFlagLong) {
            f(sizeOrOffset);
        } else {
            f(wire::Narrow16{sizeOrOffset});
        }
    }
};

// Socket fields the link keeps up to date.
struct LinkStats {
    std::atomic<uint64_t>& bytesSent;
    std::atomic<uint64_t>& bytesRead;
    std::atomic<int>& receiveErrors;
    std::atomic<bool>& memoryError;
    const std::atomic<bool>& closing;
};

class CLink {
  public:
    CLink(ITransport& transport, LinkStats stats);

    void SetTimeouts(const LinkTimeouts& timeouts) { m_timeouts = timeouts; }
    const LinkTimeouts& Timeouts() const { return m_timeouts; }

    // Long form allowed (agreed in the CMP handshake): messages over 0xFFFF bytes may be
    // sent, and our acknowledgements carry the long flag.
    void SetLongForm(bool on) { m_longForm = on; }
    bool LongForm() const { return m_longForm; }

    // A fresh transaction id: +1, skipping 0x00 and 0xFF.
    uint8_t NextXid();

    // Sends one message under xid. 0; kErrPeerMemory when the receiver acknowledged with
    // its memory-error flag; kErrLinkBroken when the tries ran out, the peer aborted or
    // the socket is closing; kDlpErrDataTooLarge when it cannot be framed.
    int Send(std::span<const uint8_t> message, uint8_t xid);

    // Receives one message. With expectXid, data under other ids is acknowledged and
    // dropped. timeoutMs bounds the wait for each packet (a tickle or fragment restarts
    // it). 0; kErrTimedOut; kErrLinkBroken (transport failed, peer aborted, closing).
    int Receive(std::vector<uint8_t>& message, uint8_t& xid, int timeoutMs,
                std::optional<uint8_t> expectXid);

    // Keep-alive: a tickle, never acknowledged.
    int SendTickle();

    // Forgets the last acknowledged packet and any buffered input (a new connection).
    void ResetReceiveState();
    // Bytes the socket already read from the transport (while it told the framing apart).
    void Feed(std::span<const uint8_t> bytes) { m_receiver.Feed(bytes.data(), bytes.size()); }

  private:
    using Clock = std::chrono::steady_clock;

    struct Packet {
        uint8_t xid = 0;
        Header header;
        std::vector<uint8_t> data;
    };

    // 1 with a packet, 0 at the deadline, -1 when the transport failed or we are closing.
    int NextPacket(Packet& packet, Clock::time_point deadline);
    void WriteFrame(uint8_t type, uint8_t flags, uint32_t sizeOrOffset, uint8_t xid,
                    std::span<const uint8_t> data);
    void Acknowledge(const Packet& packet);
    bool IsDuplicate(const Packet& packet) const;
    void CountReceiveError() { m_stats.receiveErrors.fetch_add(1); }

    ITransport& m_transport;
    LinkStats m_stats;
    LinkTimeouts m_timeouts;
    slp::CReceiver m_receiver;
    int m_droppedSeen = 0;
    bool m_longForm = false;
    uint8_t m_xid = 0;
    // The last data packet we acknowledged, to spot a repeat whose ACK was lost.
    struct Acked {
        uint8_t xid = 0;
        uint8_t flags = 0;
        uint32_t sizeOrOffset = 0;
        size_t dataSize = 0;
    };
    std::optional<Acked> m_lastAcked;
    // A reply that arrived in place of the ACK of our last fragment, kept for Receive.
    std::deque<Packet> m_pending;
};

}  // namespace hotsync::padp
