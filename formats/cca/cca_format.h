// The CCA archive layout, declared once for the reader and for the packer.
//
// Header (84 bytes, little-endian):
//   0   22  magic "Cradlecourier archiv\n\r"
//   22   1  NUL (the magic is compared as a NUL-terminated string)
//   23  45  not interpreted
//   68   4  u32 end offset of the member area
//   72  12  not interpreted
// Member, back to back from offset 84 up to the end offset:
//   0    1  flags: low four bits 0; any of them set ends the member list
//   1    1  not interpreted
//   2    2  u16 storage method (0 stored, 1 zlib chunks, 255 skipped)
//   4    4  u32 stored size of the data behind the name
//   8    4  u32 CRC-32 of the content (zlib crc32, start 0)
//   12 n+1  name "group\file" or "file", NUL-terminated
//   13+n    member data
// Self-extracting program file: the last 8 bytes are u32 offset of the archive and "ZQvt".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cca {

inline constexpr std::string_view kMagic = "Cradlecourier archiv\n\r";
inline constexpr size_t kMagicSize = 22;
inline constexpr size_t kMagicCompareSize = 23;  // magic and its NUL
inline constexpr size_t kHeaderSize = 84;
inline constexpr size_t kEndOffsetPos = 68;

inline constexpr size_t kMemberHeaderSize = 12;
inline constexpr size_t kMemberFlagsPos = 0;
inline constexpr size_t kMemberMethodPos = 2;
inline constexpr size_t kMemberSizePos = 4;
inline constexpr size_t kMemberCrcPos = 8;
inline constexpr uint8_t kFlagsEndMask = 0x0F;  // any of these bits set ends the list

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodZlib = 1;
inline constexpr uint16_t kMethodSkipped = 255;

inline constexpr size_t kBufferSize = 65536;    // data buffers; also the largest chunk
inline constexpr size_t kChunkLengthSize = 4;   // u32 compressed length before each chunk
inline constexpr size_t kListNameBuffer = 512;  // name buffer while listing (with NUL)
inline constexpr size_t kMaxMembers = 512;      // member table slots
inline constexpr size_t kMaxDestDir = 512;      // destination directory characters
inline constexpr char kGroupSeparator = '\\';

inline constexpr std::string_view kGroupAll = "All";
inline constexpr std::string_view kGroupColor = "Color";
inline constexpr std::string_view kGroupNonColor = "NonC";
inline constexpr std::string_view kOptionsMember = "OPTIONS";
inline constexpr std::string_view kReadmeMember = "README";
inline constexpr std::string_view kLicenseMember = "LICENSE";

// OPTIONS member: keys found anywhere in a line, values read at fixed columns.
inline constexpr size_t kOptionsLineBuffer = 512;  // lines of at most 511 characters
inline constexpr std::string_view kKeyTitle = "Title=";
inline constexpr std::string_view kKeyPass = "Pass=";
inline constexpr std::string_view kKeyNeedColor = "NeedColor=";
inline constexpr std::string_view kKeyNeedCpu = "NeedCpu=";
inline constexpr std::string_view kKeyOsVersion = "OSVersion=";
inline constexpr size_t kTitleColumn = 6;
inline constexpr size_t kPassColumn = 6;
inline constexpr size_t kNeedColorColumn = 10;
inline constexpr size_t kNeedCpuColumn = 8;
inline constexpr size_t kOsVersionColumn = 10;
inline constexpr size_t kMaxTitle = 29;
inline constexpr size_t kMaxPassword = 29;

// Self-extracting trailer.
inline constexpr size_t kTrailerSize = 8;
inline constexpr std::string_view kTrailerMarker = "ZQvt";

// Last error codes of an archive object.
inline constexpr int kErrNoBuffers = 101;
inline constexpr int kErrOpenArchive = 102;
inline constexpr int kErrNameRead = 103;
inline constexpr int kErrMagic = 104;
inline constexpr int kErrCreateOutput = 105;
inline constexpr int kErrCrc = 106;
inline constexpr int kErrDamaged = 107;

// Run error codes of the requirement checks.
inline constexpr int kErrNeedColor = 51;
inline constexpr int kErrNeedEzCpu = 52;
inline constexpr int kErrNeedOsVersion = 53;

inline uint16_t GetU16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutU16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutU32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace cca
