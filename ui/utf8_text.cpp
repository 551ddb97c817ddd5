#include "ui/utf8_text.h"

namespace utf8 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the well-formed sequence at text[i]; 0 when there is none.
size_t SequenceAt(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

void Append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

bool IsValid(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = SequenceAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string FromLatin1(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) Append(out, c);
    return out;
}

std::u32string CodePoints(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const size_t n = SequenceAt(text, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t value = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; k < n; ++k) value = (value << 6) | (text[i + k] & 0x3F);
        out += value;
        i += n;
    }
    return out;
}

std::string ShownLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : CodePoints(text)) Append(out, c < 0x20 || c == 0x7F ? kReplacement : c);
    return out;
}

}  // namespace utf8
