#include "tools/ccapack/pe_image.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace ccapack {

namespace {

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kPeOffsetPos = 0x3C;
constexpr std::array<unsigned char, 4> kPeSignature = {'P', 'E', 0, 0};

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kOptChecksumPos = 64;
constexpr uint64_t kOptRvaCountPos32 = 92;
constexpr uint64_t kOptRvaCountPos64 = 108;
constexpr uint64_t kDataDirectorySize = 8;
constexpr uint32_t kCertificateDirectory = 4;

constexpr uint16_t kFileExecutable = 0x0002;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kMaxSections = 96;  // the loader's own limit
constexpr uint64_t kSymbolSize = 18;

uint16_t Get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The COFF file header, in its field order.
struct CoffHeader {
    static constexpr size_t kSize = 20;
    uint16_t wMachine;
    uint16_t wNumberOfSections;
    uint32_t dwTimeDateStamp;
    uint32_t dwPointerToSymbolTable;
    uint32_t dwNumberOfSymbols;
    uint16_t wSizeOfOptionalHeader;
    uint16_t wCharacteristics;

    static CoffHeader Decode(const unsigned char* p) {
        return {Get16(p),      Get16(p + 2),  Get32(p + 4), Get32(p + 8),
                Get32(p + 12), Get16(p + 16), Get16(p + 18)};
    }
};

// One entry of the section table, in its field order.
struct SectionHeader {
    static constexpr size_t kSize = 40;
    std::array<char, 8> name;
    uint32_t dwVirtualSize;
    uint32_t dwVirtualAddress;
    uint32_t dwSizeOfRawData;
    uint32_t dwPointerToRawData;
    uint32_t dwPointerToRelocations;
    uint32_t dwPointerToLinenumbers;
    uint16_t wNumberOfRelocations;
    uint16_t wNumberOfLinenumbers;
    uint32_t dwCharacteristics;

    static SectionHeader Decode(const unsigned char* p) {
        SectionHeader s{};
        std::memcpy(s.name.data(), p, s.name.size());
        s.dwVirtualSize = Get32(p + 8);
        s.dwVirtualAddress = Get32(p + 12);
        s.dwSizeOfRawData = Get32(p + 16);
        s.dwPointerToRawData = Get32(p + 20);
        s.dwPointerToRelocations = Get32(p + 24);
        s.dwPointerToLinenumbers = Get32(p + 28);
        s.wNumberOfRelocations = Get16(p + 32);
        s.wNumberOfLinenumbers = Get16(p + 34);
        s.dwCharacteristics = Get32(p + 36);
        return s;
    }

    std::string Name() const { return std::string(name.data(), strnlen(name.data(), name.size())); }
};

// Reads exactly n bytes at nOffset of a file of nFileSize bytes; false past its end.
bool ReadAt(std::FILE* f, uint64_t nFileSize, uint64_t nOffset, unsigned char* p, size_t n) {
    if (nOffset > nFileSize || n > nFileSize - nOffset) return false;
    return ::fseeko(f, static_cast<off_t>(nOffset), SEEK_SET) == 0 && std::fread(p, 1, n, f) == n;
}

bool Fail(std::string& strError, const std::string& strWhy) {
    strError = strWhy;
    return false;
}

}  // namespace

bool LooksLikePe(std::FILE* pFile) {
    unsigned char mz[2];
    const bool bMz = ::fseeko(pFile, 0, SEEK_SET) == 0 && std::fread(mz, 1, 2, pFile) == 2 &&
                     mz[0] == 'M' && mz[1] == 'Z';
    std::rewind(pFile);
    return bMz;
}

bool ReadPeLayout(std::FILE* f, uint64_t nFileSize, PeLayout& layout, std::string& strError) {
    layout = PeLayout{};
    unsigned char dos[kDosHeaderSize];
    if (!ReadAt(f, nFileSize, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return Fail(strError, "not a Windows program (no MZ header)");
    }
    const uint64_t nPeAt = Get32(dos + kPeOffsetPos);
    unsigned char head[kPeSignature.size() + CoffHeader::kSize];
    if (!ReadAt(f, nFileSize, nPeAt, head, sizeof head)) {
        return Fail(strError, "cut short: the PE header lies past the end of the file");
    }
    if (!std::equal(kPeSignature.begin(), kPeSignature.end(), head)) {
        return Fail(strError, "not a Windows program (no PE signature)");
    }
    const CoffHeader coff = CoffHeader::Decode(head + kPeSignature.size());
    if (!(coff.wCharacteristics & kFileExecutable) || (coff.wCharacteristics & kFileDll)) {
        return Fail(strError, "not a Windows program that can be started (a DLL or object)");
    }
    if (coff.wNumberOfSections == 0 || coff.wNumberOfSections > kMaxSections) {
        return Fail(strError,
                    "bad PE header: " + std::to_string(coff.wNumberOfSections) + " sections");
    }

    // The optional header, as far as the checksum and the certificate table.
    const uint64_t nOptAt = nPeAt + sizeof head;
    std::vector<unsigned char> opt(coff.wSizeOfOptionalHeader);
    if (!ReadAt(f, nFileSize, nOptAt, opt.data(), opt.size())) {
        return Fail(strError, "cut short: the optional header lies past the end of the file");
    }
    if (opt.size() < 2) return Fail(strError, "bad PE header: no optional header");
    const uint16_t wMagic = Get16(opt.data());
    if (wMagic != kMagicPe32 && wMagic != kMagicPe32Plus) {
        return Fail(strError, "bad PE header: unknown optional header");
    }
    layout.bPe32Plus = wMagic == kMagicPe32Plus;
    const uint64_t nRvaCountPos = layout.bPe32Plus ? kOptRvaCountPos64 : kOptRvaCountPos32;
    if (opt.size() < nRvaCountPos + 4) {
        return Fail(strError, "bad PE header: the optional header is too short");
    }
    layout.nChecksumOffset = nOptAt + kOptChecksumPos;
    layout.dwChecksum = Get32(opt.data() + kOptChecksumPos);
    const uint64_t nDirectories = Get32(opt.data() + nRvaCountPos);
    const uint64_t nCertAt = nRvaCountPos + 4 + kCertificateDirectory * kDataDirectorySize;
    if (nDirectories > kCertificateDirectory && nCertAt + kDataDirectorySize <= opt.size()) {
        layout.dwCertificateOffset = Get32(opt.data() + nCertAt);
        layout.dwCertificateSize = Get32(opt.data() + nCertAt + 4);
    }

    // Every section's data must be in the file; the last byte of any of them ends the image.
    const uint64_t nTableAt = nOptAt + coff.wSizeOfOptionalHeader;
    std::vector<unsigned char> table(size_t(coff.wNumberOfSections) * SectionHeader::kSize);
    if (!ReadAt(f, nFileSize, nTableAt, table.data(), table.size())) {
        return Fail(strError, "cut short: the section table lies past the end of the file");
    }
    layout.wSections = coff.wNumberOfSections;
    layout.nImageEnd = nTableAt + table.size();
    for (size_t i = 0; i < coff.wNumberOfSections; ++i) {
        const SectionHeader s = SectionHeader::Decode(&table[i * SectionHeader::kSize]);
        if (s.dwSizeOfRawData == 0) continue;
        const uint64_t nEnd = uint64_t(s.dwPointerToRawData) + s.dwSizeOfRawData;
        if (nEnd > nFileSize) {
            return Fail(strError, "cut short: section " + std::to_string(i + 1) + " (" + s.Name() +
                                      ") ends past the end of the file");
        }
        layout.nImageEnd = std::max(layout.nImageEnd, nEnd);
    }
    // The COFF symbol table and the string table behind it (left by unstripped builds).
    if (coff.dwPointerToSymbolTable != 0) {
        const uint64_t nStringsAt =
            uint64_t(coff.dwPointerToSymbolTable) + kSymbolSize * coff.dwNumberOfSymbols;
        unsigned char sizeField[4];
        if (!ReadAt(f, nFileSize, nStringsAt, sizeField, sizeof sizeField) ||
            nStringsAt + Get32(sizeField) > nFileSize) {
            return Fail(strError, "cut short: the symbol table ends past the end of the file");
        }
        layout.nImageEnd = std::max(layout.nImageEnd, nStringsAt + Get32(sizeField));
    }
    if (layout.dwCertificateSize != 0 &&
        uint64_t(layout.dwCertificateOffset) + layout.dwCertificateSize > nFileSize) {
        return Fail(strError, "cut short: the certificate table ends past the end of the file");
    }
    return true;
}

bool ComputePeChecksum(std::FILE* f, uint64_t nChecksumOffset, uint32_t& dwChecksum) {
    if (::fseeko(f, 0, SEEK_SET) != 0) return false;
    std::vector<unsigned char> buffer(65536);
    uint64_t nSum = 0;
    uint64_t nPos = 0;
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
        for (size_t i = 0; i < n; ++i, ++nPos) {
            if (nPos >= nChecksumOffset && nPos < nChecksumOffset + 4) continue;
            // Little-endian 16-bit words: even offsets are the low byte.
            nSum += (nPos & 1) ? uint64_t(buffer[i]) << 8 : buffer[i];
        }
        // Fold now and then so the sum never overflows.
        nSum = (nSum & 0xFFFF) + (nSum >> 16);
    }
    if (std::ferror(f)) return false;
    while (nSum > 0xFFFF) nSum = (nSum & 0xFFFF) + (nSum >> 16);
    dwChecksum = static_cast<uint32_t>(nSum + nPos);
    return true;
}

}  // namespace ccapack
