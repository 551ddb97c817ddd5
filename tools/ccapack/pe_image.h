// What appending an archive needs to know of a Windows program (a PE file): where its own
// data ends, whether it is signed, and where its checksum sits.
//
// Layouts read (all little-endian):
//   DOS header     0x00  2  "MZ"          0x3C  4  u32 offset of the PE signature
//   PE signature         4  "PE\0\0"
//   COFF header   (20 bytes, CoffHeader below), then the optional header, then the section
//                 table (40 bytes per section, SectionHeader below)
//   optional header: u16 magic (0x10B PE32, 0x20B PE32+), u32 CheckSum at 64, u32
//                 NumberOfRvaAndSizes at 92 (PE32) or 108 (PE32+), then the data
//                 directories (u32 address, u32 size); entry 4 is the certificate table,
//                 whose address is a file offset.
// Data after the end of the last section (and of the COFF symbol table) is the file's
// overlay: the loader maps none of it, so an archive appended there leaves the program as
// it was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ccapack {

struct PeLayout {
    bool bPe32Plus = false;
    uint16_t wSections = 0;
    uint64_t nImageEnd = 0;        // end of the last section's data or of the symbol table
    uint64_t nChecksumOffset = 0;  // file offset of the optional header's CheckSum
    uint32_t dwChecksum = 0;       // 0: the program keeps no checksum
    uint32_t dwCertificateOffset = 0;
    uint32_t dwCertificateSize = 0;  // not 0: the program is signed
};

// True when the file begins with the DOS header's "MZ".
bool LooksLikePe(std::FILE* pFile);

// Reads the layout of a PE program of nFileSize bytes. False with a reason for a file that is
// not a PE program, a DLL, or one whose headers, sections or symbol table reach past its end.
bool ReadPeLayout(std::FILE* pFile, uint64_t nFileSize, PeLayout& layout, std::string& strError);

// The image checksum of the whole file (the field at nChecksumOffset counted as 0), as the
// loader checks it for drivers and as signing tools write it.
bool ComputePeChecksum(std::FILE* pFile, uint64_t nChecksumOffset, uint32_t& dwChecksum);

}  // namespace ccapack
