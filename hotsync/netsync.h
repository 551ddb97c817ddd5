// NetSync, the framing of network HotSync and of most USB handhelds: every message is a
// 6-byte header and its payload, one DLP request or answer (or one handshake blob) per
// frame. The carrier (TCP, USB bulk transfers) is reliable, so there are no
// acknowledgements, fragments or CMP; a short handshake of captured blobs opens the
// connection, and the handheld finds a desktop on the network with a UDP wakeup.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hotsync/transport.h"
#include "hotsync/wire.h"

namespace hotsync::netsync {

constexpr uint16_t kTcpPort = 14238;     // the desktop listens; the handheld connects
constexpr uint16_t kWakeupPort = 14237;  // UDP: the handheld's wakeup, answered by the desktop

constexpr uint8_t kTypeData = 0x01;
constexpr uint8_t kTypeTickle = 0x02;  // no payload, transaction id 0xFF; skipped on receipt
constexpr uint8_t kTickleXid = 0xFF;
constexpr uint8_t kHandheldFirstXid = 0xFF;  // the handheld's first frame

constexpr size_t kHeaderSize = 6;
// No HotSync message comes near it; a larger announced length is refused before anything
// is allocated or read.
constexpr uint32_t kMaxPayload = 0x100000;

// Frame header, in wire order.
struct Header {
    uint8_t type = kTypeData;
    uint8_t xid = 0;
    uint32_t length = 0;  // payload bytes

    template <class F>
    void Fields(F& f) {
        f(type);
        f(xid);
        f(length);
    }
};

// ---- the handshake -----------------------------------------------------------------------
// Handheld: hello (22 bytes), desktop: hello (50), handheld: answer (50), desktop: confirm
// (46), handheld: done (8); then DLP. Nobody knows what the blobs mean: every open
// implementation replays captured ones, and reads the handheld's only for their length.

constexpr size_t kHandheldHelloSize = 22;
constexpr size_t kHandheldAnswerSize = 50;
constexpr size_t kHandheldDoneSize = 8;
// Some USB links lose the header of the handheld's first frame: its payload then arrives
// bare, starting with this byte.
constexpr uint8_t kBareHelloByte = 0x90;

extern const std::array<uint8_t, 50> kDesktopHello;
extern const std::array<uint8_t, 46> kDesktopConfirm;

// ---- the UDP wakeup -----------------------------------------------------------------------

constexpr uint16_t kWakeupMagic = 0xFADE;
// The Tungsten T2 writes its magic the other way round; it is answered in kind.
constexpr uint16_t kWakeupMagicSwapped = 0xDEFA;
constexpr uint8_t kWakeupRequest = 1;
constexpr uint8_t kWakeupReply = 2;

// The wakeup datagram, in wire order. The desktop answers with the same datagram, type 2.
struct Wakeup {
    uint16_t magic = kWakeupMagic;
    uint8_t type = kWakeupRequest;
    uint8_t unknown = 0;   // echoed back
    uint32_t address = 0;  // IPv4 address of the desktop the handheld wants
    uint32_t netmask = 0;
    std::string hostName;

    template <class F>
    void Fields(F& f) {
        f(magic);
        f(type);
        f(unknown);
        f(address);
        f(netmask);
        f(hostName);
    }
};
constexpr size_t kWakeupFixedSize = 12;
// Longest host name an announcement is read for on a byte stream.
constexpr size_t kMaxHostName = 256;

inline bool IsWakeupMagic(uint16_t magic) {
    return magic == kWakeupMagic || magic == kWakeupMagicSwapped;
}

// The answer to a datagram that is a wakeup request; nothing for anything else. Some units
// also say the wakeup on a USB or TCP line before their hello; the link passes over it.
std::optional<std::vector<uint8_t>> AnswerWakeup(std::span<const uint8_t> datagram);

// ---- the link ----------------------------------------------------------------------------

constexpr int kErrTimedOut = -203;  // nothing (or only part of a frame) came in time
constexpr int kErrBadFrame = -204;  // unknown frame type, a tickle with data, a frame over 1 MB
constexpr int kErrRefused = -205;   // a handshake blob of the wrong size

// Socket fields the link keeps up to date.
struct LinkStats {
    std::atomic<uint64_t>& bytesSent;
    std::atomic<uint64_t>& bytesRead;
    std::atomic<int>& receiveErrors;
    const std::atomic<bool>& closing;
};

class CLink {
  public:
    CLink(ITransport& transport, LinkStats stats);

    // A new connection: transaction ids start again and bytes read ahead are dropped.
    void Reset();
    // Bytes the socket already read while it told the framing apart; they come first.
    void Feed(std::span<const uint8_t> bytes);

    // The desktop's next transaction id: 1, 2, 3 ..., skipping 0x00 and 0xFF.
    uint8_t NextXid();

    // Sends one data frame: the header, then the payload (USB handhelds want them as
    // separate transfers). 0, or kErrLinkBroken when the transport failed.
    int Send(std::span<const uint8_t> payload, uint8_t xid);
    // Keep-alive: a tickle frame.
    int SendTickle();
    // Receives the next data frame; tickles restart the wait of timeoutMs. 0, kErrTimedOut,
    // kErrBadFrame, or kErrLinkBroken (transport failed or closed, socket closing).
    int Receive(std::vector<uint8_t>& payload, uint8_t& xid, int timeoutMs);

    // The desktop's side of the handshake, all of it within timeoutMs. 0, kErrTimedOut,
    // kErrRefused (a blob of the wrong size), kErrBadFrame or kErrLinkBroken.
    int AcceptHandshake(int timeoutMs);

  private:
    using Clock = std::chrono::steady_clock;

    // The handheld's first frame (bareHelloAllowed) may come without its header, or after
    // a wakeup announcement.
    int ReceiveFrame(std::vector<uint8_t>& payload, uint8_t& xid, int timeoutMs,
                     bool bareHelloAllowed);
    // Reads the rest of an announcement whose first byte came: 0, or an error when it is
    // none (kErrBadFrame) or did not come whole.
    int SkipAnnouncement(uint8_t first, Clock::time_point deadline);
    // Reads exactly size bytes by the deadline: 0, kErrTimedOut or kErrLinkBroken.
    int ReadExact(uint8_t* out, size_t size, Clock::time_point deadline);
    int WriteAll(std::span<const uint8_t> bytes);

    ITransport& m_transport;
    LinkStats m_stats;
    std::vector<uint8_t> m_readAhead;
    size_t m_readAheadPos = 0;
    uint8_t m_xid = 0;
};

}  // namespace hotsync::netsync
