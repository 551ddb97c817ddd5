// Serial framing on the handheld's side: SLP packets (signature, header checksum,
// CRC-16) and the PADP header inside their bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace handheld {

inline constexpr uint8_t kSlpSig0 = 0xBE, kSlpSig1 = 0xEF, kSlpSig2 = 0xED;
inline constexpr size_t kSlpHeaderSize = 10;
inline constexpr size_t kSlpCrcSize = 2;
// HotSync fragments carry at most 1024 data bytes plus a 6-byte PADP header; anything
// far beyond that is a damaged length field.
inline constexpr size_t kSlpMaxBody = 4096;

inline constexpr uint8_t kSlpSocketDlp = 3;
inline constexpr uint8_t kSlpTypeSystem = 0, kSlpTypePadp = 2, kSlpTypeLoopback = 3;

inline constexpr uint8_t kPadpData = 1, kPadpAck = 2, kPadpTickle = 4, kPadpAbort = 8;
inline constexpr uint8_t kPadpFirst = 0x80, kPadpLast = 0x40, kPadpMemError = 0x20,
                         kPadpLong = 0x10;
inline constexpr size_t kPadpMaxFragment = 1024;

// CRC-16/XMODEM: polynomial 0x1021, initial 0, MSB first.
uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc = 0);

struct SlpPacket {
    uint8_t dest = kSlpSocketDlp;
    uint8_t src = kSlpSocketDlp;
    uint8_t type = kSlpTypePadp;
    uint8_t xid = 0;
    std::vector<uint8_t> body;
};

std::vector<uint8_t> EncodeSlp(const SlpPacket& packet);

// Cuts a byte stream into packets. Noise, bad header checksums, impossible lengths and
// bad CRCs are skipped and counted; after a bad packet the scan resumes just past its
// signature, so a packet hidden inside a damaged one is still found.
class CSlpParser {
  public:
    void Feed(const uint8_t* data, size_t size);
    bool Next(SlpPacket& out);
    int BadCount() const { return m_nBad; }
    void Clear() { m_buffer.clear(); }

  private:
    std::vector<uint8_t> m_buffer;
    int m_nBad = 0;
};

struct PadpHeader {
    uint8_t type = kPadpData;
    uint8_t flags = 0;
    uint32_t sizeOrOffset = 0;
};

// Decodes the PADP header at the start of an SLP body; dataOffset receives where the
// data begins (4, or 6 in the long form). False when the body is too short.
bool DecodePadp(const std::vector<uint8_t>& body, PadpHeader& header, size_t& dataOffset);
// The long form (4-byte sizeOrOffset) is used when the flags carry kPadpLong.
std::vector<uint8_t> EncodePadp(const PadpHeader& header, const uint8_t* data, size_t size);

}  // namespace handheld
