// A CCA archive carried at the end of a program file (self-extracting mode). The file ends
// with an 8-byte trailer: u32 offset of the archive's first byte, then the marker "ZQvt"; the
// archive is the bytes from that offset up to the trailer.
#pragma once

#include <cstdint>
#include <string>

namespace cca {

// True when strProgramPath ends with a trailer whose offset lies inside the file; gives the
// archive's offset and size.
bool FindSfxArchive(const std::string& strProgramPath, uint64_t& nOffset, uint64_t& nSize);

// Copies the carried archive into strArchivePath (replacing that file) through one
// 65,536-byte buffer. False, with no file left behind, when there is no archive or the copy
// can't be written whole.
bool ExtractSfxArchive(const std::string& strProgramPath, const std::string& strArchivePath);

}  // namespace cca
