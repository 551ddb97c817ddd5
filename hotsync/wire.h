// Big-endian field codec shared by every layer. A wire layout is a struct whose Fields()
// lists its members in wire order; Encode and Decode both walk that one list, so the
// struct reads like the table it comes from and the two directions cannot drift apart.
//
// Field kinds: uint8_t / uint16_t / uint32_t (big-endian), std::array<uint8_t, N> (raw
// bytes), std::string (NUL-terminated text), std::vector<uint8_t> (all remaining bytes),
// Narrow16 (a 32-bit member sent as 16 bits), Little16 (a 16-bit member in little-endian
// order, as USB descriptors carry it), and nested structs with Fields().
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace hotsync::wire {

// A 32-bit member that this layout carries in 16 bits.
struct Narrow16 {
    uint32_t& value;
};

// A 16-bit member in little-endian order.
struct Little16 {
    uint16_t& value;
};

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& out) : m_out(out) {}

    void operator()(uint8_t v) { m_out.push_back(v); }
    void operator()(uint16_t v) {
        m_out.push_back(uint8_t(v >> 8));
        m_out.push_back(uint8_t(v));
    }
    void operator()(uint32_t v) {
        (*this)(uint16_t(v >> 16));
        (*this)(uint16_t(v));
    }
    void operator()(Narrow16 v) { (*this)(uint16_t(v.value)); }
    void operator()(Little16 v) {
        m_out.push_back(uint8_t(v.value));
        m_out.push_back(uint8_t(v.value >> 8));
    }
    template <size_t N>
    void operator()(const std::array<uint8_t, N>& bytes) {
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }
    void operator()(const std::string& text) {
        // Byte by byte: GCC 12 at -O2 misreads a range insert from a string as an overflow.
        for (char c : text) m_out.push_back(uint8_t(c));
        m_out.push_back(0);
    }
    void operator()(const std::vector<uint8_t>& rest) {
        m_out.insert(m_out.end(), rest.begin(), rest.end());
    }
    template <class T>
    requires requires(T& t, Writer& w) { t.Fields(w); }
    void operator()(T& nested) { nested.Fields(*this); }

  private:
    std::vector<uint8_t>& m_out;
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : m_in(in) {}

    void operator()(uint8_t& v) {
        if (Need(1)) v = m_in[m_pos++];
    }
    void operator()(uint16_t& v) {
        if (!Need(2)) return;
        v = uint16_t((m_in[m_pos] << 8) | m_in[m_pos + 1]);
        m_pos += 2;
    }
    void operator()(uint32_t& v) {
        uint16_t hi = 0, lo = 0;
        (*this)(hi);
        (*this)(lo);
        if (m_ok) v = (uint32_t(hi) << 16) | lo;
    }
    void operator()(Narrow16 v) {
        uint16_t narrow = 0;
        (*this)(narrow);
        if (m_ok) v.value = narrow;
    }
    void operator()(Little16 v) {
        if (!Need(2)) return;
        v.value = uint16_t(m_in[m_pos] | (m_in[m_pos + 1] << 8));
        m_pos += 2;
    }
    template <size_t N>
    void operator()(std::array<uint8_t, N>& bytes) {
        if (!Need(N)) return;
        std::copy_n(m_in.begin() + static_cast<std::ptrdiff_t>(m_pos), N, bytes.begin());
        m_pos += N;
    }
    // Text up to its NUL; text that runs to the end without one is taken as it is.
    void operator()(std::string& text) {
        text.clear();
        while (m_pos < m_in.size() && m_in[m_pos] != 0) text.push_back(char(m_in[m_pos++]));
        if (m_pos < m_in.size()) ++m_pos;
    }
    void operator()(std::vector<uint8_t>& rest) {
        rest.assign(m_in.begin() + static_cast<std::ptrdiff_t>(m_pos), m_in.end());
        m_pos = m_in.size();
    }
    template <class T>
    requires requires(T& t, Reader& r) { t.Fields(r); }
    void operator()(T& nested) { nested.Fields(*this); }

    bool Ok() const { return m_ok; }
    size_t Position() const { return m_pos; }

  private:
    bool Need(size_t n) {
        if (!m_ok || m_in.size() - m_pos < n) {
            m_ok = false;
            return false;
        }
        return true;
    }

    std::span<const uint8_t> m_in;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Appends the encoded layout to out.
template <class T>
void EncodeTo(const T& value, std::vector<uint8_t>& out) {
    Writer writer(out);
    const_cast<T&>(value).Fields(writer);
}

template <class T>
std::vector<uint8_t> Encode(const T& value) {
    std::vector<uint8_t> out;
    EncodeTo(value, out);
    return out;
}

// Decodes from the start of in. False when in is shorter than the fixed fields; used,
// when given, receives the number of bytes the layout took.
template <class T>
bool Decode(std::span<const uint8_t> in, T& value, size_t* used = nullptr) {
    Reader reader(in);
    value.Fields(reader);
    if (used) *used = reader.Position();
    return reader.Ok();
}

}  // namespace hotsync::wire
