// A small Windows program file (PE32 or PE32+) built byte by byte, for the tests and the fuzz
// target of the self-extracting packer: a DOS header, the PE header, N sections of raw data,
// optionally a COFF symbol table and a certificate table.
#pragma once

#include <cstdint>
#include <vector>

namespace petest {

struct PeShape {
    bool bPe32Plus = true;
    uint16_t wCharacteristics = 0x0022;  // executable, large addresses
    uint32_t dwChecksum = 0;
    std::vector<uint32_t> sectionSizes = {0x200, 0x400};
    uint32_t dwSymbols = 0;      // COFF symbols after the sections (with an empty string table)
    uint32_t dwCertificate = 0;  // bytes of certificate table at the end
    uint32_t dwRvaCount = 16;    // NumberOfRvaAndSizes
};

// Where the builder puts things, for tests that damage them.
inline constexpr uint32_t kPeOffsetField = 0x3C;
inline constexpr uint32_t kPeAt = 0x80;
inline constexpr uint32_t kCoffAt = kPeAt + 4;
inline constexpr uint32_t kOptAt = kCoffAt + 20;
inline constexpr uint32_t kFileAlignment = 0x200;

inline uint32_t OptionalHeaderSize(bool bPe32Plus) {
    return bPe32Plus ? 240 : 224;
}
inline uint32_t SectionTableAt(bool bPe32Plus) {
    return kOptAt + OptionalHeaderSize(bPe32Plus);
}

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

inline std::vector<uint8_t> BuildPe(const PeShape& shape) {
    const uint32_t optSize = OptionalHeaderSize(shape.bPe32Plus);
    const uint32_t tableAt = SectionTableAt(shape.bPe32Plus);
    const uint32_t nSections = uint32_t(shape.sectionSizes.size());
    uint32_t headersEnd = tableAt + 40 * nSections;
    headersEnd = (headersEnd + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
    std::vector<uint8_t> b(headersEnd, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, kPeOffsetField, kPeAt);
    b[kPeAt] = 'P';
    b[kPeAt + 1] = 'E';
    Put16(b, kCoffAt, 0x8664);
    Put16(b, kCoffAt + 2, nSections);
    Put16(b, kCoffAt + 16, optSize);
    Put16(b, kCoffAt + 18, shape.wCharacteristics);
    Put16(b, kOptAt, shape.bPe32Plus ? 0x20B : 0x10B);
    Put32(b, kOptAt + 32, 0x1000);           // SectionAlignment
    Put32(b, kOptAt + 36, kFileAlignment);   // FileAlignment
    Put32(b, kOptAt + 60, headersEnd);       // SizeOfHeaders
    Put32(b, kOptAt + 64, shape.dwChecksum);  // CheckSum
    Put32(b, kOptAt + (shape.bPe32Plus ? 108 : 92), shape.dwRvaCount);
    // Sections: each one's raw data behind the previous one, filled with its number.
    uint32_t rva = 0x1000;
    for (uint32_t i = 0; i < nSections; ++i) {
        const size_t at = tableAt + 40 * i;
        const char name[8] = {'.', 's', 'e', 'c', char('0' + i % 10), 0, 0, 0};
        for (int k = 0; k < 8; ++k) b[at + size_t(k)] = uint8_t(name[k]);
        Put32(b, at + 8, shape.sectionSizes[i]);
        Put32(b, at + 12, rva);
        Put32(b, at + 16, shape.sectionSizes[i]);
        Put32(b, at + 20, shape.sectionSizes[i] ? uint32_t(b.size()) : 0);
        b.insert(b.end(), shape.sectionSizes[i], uint8_t(0xA0 + i));
        rva += 0x1000 + shape.sectionSizes[i] / 0x1000 * 0x1000;
    }
    if (shape.dwSymbols) {
        Put32(b, kCoffAt + 8, uint32_t(b.size()));
        Put32(b, kCoffAt + 12, shape.dwSymbols);
        b.insert(b.end(), 18 * size_t(shape.dwSymbols), uint8_t(0x5C));
        const size_t stringsAt = b.size();
        b.resize(b.size() + 4);
        Put32(b, stringsAt, 4);  // an empty string table: just its size
    }
    if (shape.dwCertificate) {
        const uint32_t certAt = uint32_t(b.size());
        const size_t dirAt = kOptAt + (shape.bPe32Plus ? 112 : 96) + 4 * 8;
        Put32(b, dirAt, certAt);
        Put32(b, dirAt + 4, shape.dwCertificate);
        b.insert(b.end(), shape.dwCertificate, uint8_t(0xCE));
    }
    return b;
}

}  // namespace petest
