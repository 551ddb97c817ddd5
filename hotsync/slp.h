// SLP, the serial link protocol: framing and checksums of every packet on the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hotsync/wire.h"

namespace hotsync::slp {

constexpr std::array<uint8_t, 3> kSignature = {0xBE, 0xEF, 0xED};
constexpr size_t kHeaderSize = 10;
constexpr size_t kCrcSize = 2;
// HotSync bodies never exceed the long PADP header plus one 1024-byte fragment; anything
// larger is line noise that happened to look like a header.
constexpr size_t kMaxBody = 6 + 1024;

constexpr uint8_t kSocketDlp = 3;

constexpr uint8_t kTypeSystem = 0;
constexpr uint8_t kTypePadp = 2;
constexpr uint8_t kTypeLoopback = 3;

// CRC-16 with polynomial 0x1021, initial value 0, MSB first, no final XOR.
uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc = 0);

// Packet header, in wire order.
struct Header {
    std::array<uint8_t, 3> signature = kSignature;
    uint8_t destination = kSocketDlp;
    uint8_t source = kSocketDlp;
    uint8_t type = kTypePadp;
    uint16_t bodySize = 0;
    uint8_t xid = 0;
    uint8_t checksum = 0;  // sum of the nine bytes before it, modulo 256

    template <class F>
    void Fields(F& f) {
        f(signature);
        f(destination);
        f(source);
        f(type);
        f(bodySize);
        f(xid);
        f(checksum);
    }
};

struct Frame {
    Header header;
    std::vector<uint8_t> body;
};

// The whole frame for a header and body: size, checksum and CRC are filled in.
std::vector<uint8_t> EncodeFrame(Header header, std::span<const uint8_t> body);

// Collects line bytes into frames. Noise before a signature is skipped; a frame with a
// wrong header checksum, an impossible size or a wrong CRC is dropped and counted, and
// scanning resumes just after the signature it started with, so a good frame that follows
// a damaged one is still found.
class CReceiver {
  public:
    void Feed(const uint8_t* bytes, size_t size);
    // Takes the next complete good frame. False when none is complete yet.
    bool Next(Frame& frame);
    // How many more bytes the frame being assembled needs at least (1 when only noise or
    // a partial signature is buffered).
    size_t Needed() const;
    // Forgets a partial frame (after a receive time-out).
    void Reset() { m_buffer.clear(); }
    int Dropped() const { return m_dropped; }

  private:
    std::vector<uint8_t> m_buffer;
    int m_dropped = 0;
};

}  // namespace hotsync::slp
