#include "pdb/palm_text.h"

#include <cstdint>

namespace pdb {
namespace {

// 0x80 to 0x9F; the other bytes are the same numbers in Unicode. Places the Windows set
// leaves empty keep their own numbers (C1 controls), so every byte still maps.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x2662, 0x2663, 0x2661,  // 88: suits from 8D
    0x2660, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x009E, 0x0178,  // 98
};

char32_t CharOf(uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char32_t(byte);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The next character of UTF-8 text at i; false for a malformed sequence.
bool NextChar(std::string_view s, size_t& i, char32_t& c) {
    const uint8_t b = uint8_t(s[i]);
    int more = 0;
    char32_t min = 0;
    if (b < 0x80) {
        c = b;
    } else if ((b & 0xE0) == 0xC0) {
        c = b & 0x1F, more = 1, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        c = b & 0x0F, more = 2, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        c = b & 0x07, more = 3, min = 0x10000;
    } else {
        return false;
    }
    ++i;
    for (int k = 0; k < more; ++k, ++i) {
        if (i >= s.size() || (uint8_t(s[i]) & 0xC0) != 0x80) return false;
        c = (c << 6) | (uint8_t(s[i]) & 0x3F);
    }
    return c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

}  // namespace

std::string PalmTextToUtf8(std::string_view palm) {
    std::string out;
    out.reserve(palm.size());
    for (char ch : palm) AppendUtf8(out, CharOf(uint8_t(ch)));
    return out;
}

bool Utf8ToPalmText(std::string_view utf8, std::string& out) {
    out.clear();
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        if (!NextChar(utf8, i, c)) return false;
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += char(c);
            continue;
        }
        int byte = -1;
        for (int k = 0; k < 32 && byte < 0; ++k) {
            if (kHigh[k] == c) byte = 0x80 + k;
        }
        if (byte < 0) return false;
        out += char(byte);
    }
    return true;
}

}  // namespace pdb
