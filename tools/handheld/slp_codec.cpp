#include "tools/handheld/slp_codec.h"

#include <algorithm>

namespace handheld {

uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc) {
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (uint16_t(data[i]) << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

std::vector<uint8_t> EncodeSlp(const SlpPacket& packet) {
    std::vector<uint8_t> out;
    out.reserve(kSlpHeaderSize + packet.body.size() + kSlpCrcSize);
    const size_t size = packet.body.size();
    out.insert(out.end(),
               {kSlpSig0, kSlpSig1, kSlpSig2, packet.dest, packet.src, packet.type,
                static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size), packet.xid});
    uint8_t sum = 0;
    for (uint8_t b : out) sum = static_cast<uint8_t>(sum + b);
    out.push_back(sum);
    out.insert(out.end(), packet.body.begin(), packet.body.end());
    const uint16_t crc = Crc16(out.data(), out.size());
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    return out;
}

void CSlpParser::Feed(const uint8_t* data, size_t size) {
    m_buffer.insert(m_buffer.end(), data, data + size);
}

bool CSlpParser::Next(SlpPacket& out) {
    size_t pos = 0;
    bool found = false;
    while (true) {
        // Find the next signature.
        while (pos + 3 <= m_buffer.size() &&
               !(m_buffer[pos] == kSlpSig0 && m_buffer[pos + 1] == kSlpSig1 &&
                 m_buffer[pos + 2] == kSlpSig2)) {
            ++pos;
        }
        if (pos + kSlpHeaderSize > m_buffer.size()) break;  // wait for more bytes
        uint8_t sum = 0;
        for (size_t i = 0; i < 9; ++i) sum = static_cast<uint8_t>(sum + m_buffer[pos + i]);
        const size_t bodySize = (size_t(m_buffer[pos + 6]) << 8) | m_buffer[pos + 7];
        if (sum != m_buffer[pos + 9] || bodySize > kSlpMaxBody) {
            ++m_nBad;
            ++pos;
            continue;
        }
        const size_t total = kSlpHeaderSize + bodySize + kSlpCrcSize;
        if (pos + total > m_buffer.size()) break;
        const uint16_t crc = Crc16(&m_buffer[pos], kSlpHeaderSize + bodySize);
        const uint16_t got =
            static_cast<uint16_t>((m_buffer[pos + total - 2] << 8) | m_buffer[pos + total - 1]);
        if (crc != got) {
            ++m_nBad;
            ++pos;
            continue;
        }
        out.dest = m_buffer[pos + 3];
        out.src = m_buffer[pos + 4];
        out.type = m_buffer[pos + 5];
        out.xid = m_buffer[pos + 8];
        out.body.assign(m_buffer.begin() + static_cast<long>(pos + kSlpHeaderSize),
                        m_buffer.begin() + static_cast<long>(pos + kSlpHeaderSize + bodySize));
        pos += total;
        found = true;
        break;
    }
    // Drop everything scanned past; a partial signature at the end stays.
    pos = std::min(pos, m_buffer.size());
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(pos));
    return found;
}

bool DecodePadp(const std::vector<uint8_t>& body, PadpHeader& header, size_t& dataOffset) {
    if (body.size() < 4) return false;
    header.type = body[0];
    header.flags = body[1];
    if (header.flags & kPadpLong) {
        if (body.size() < 6) return false;
        header.sizeOrOffset = (uint32_t(body[2]) << 24) | (uint32_t(body[3]) << 16) |
                              (uint32_t(body[4]) << 8) | body[5];
        dataOffset = 6;
    } else {
        header.sizeOrOffset = (uint32_t(body[2]) << 8) | body[3];
        dataOffset = 4;
    }
    return true;
}

std::vector<uint8_t> EncodePadp(const PadpHeader& header, const uint8_t* data, size_t size) {
    std::vector<uint8_t> out{header.type, header.flags};
    const uint32_t v = header.sizeOrOffset;
    if (header.flags & kPadpLong) {
        out.insert(out.end(), {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                               static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    } else {
        out.insert(out.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    }
    if (size > 0) out.insert(out.end(), data, data + size);
    return out;
}

}  // namespace handheld
