#include "hotsync/slp.h"

#include <algorithm>

namespace hotsync::slp {

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc) {
    for (uint8_t byte : bytes) {
        crc ^= uint16_t(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
        }
    }
    return crc;
}

namespace {

uint8_t HeaderChecksum(std::span<const uint8_t> header) {
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < kHeaderSize; ++i) sum += header[i];
    return uint8_t(sum);
}

}  // namespace

std::vector<uint8_t> EncodeFrame(Header header, std::span<const uint8_t> body) {
    header.signature = kSignature;
    header.bodySize = uint16_t(body.size());
    header.checksum = 0;
    std::vector<uint8_t> frame = wire::Encode(header);
    frame.back() = HeaderChecksum(frame);
    frame.insert(frame.end(), body.begin(), body.end());
    const uint16_t crc = Crc16(frame);
    wire::Writer writer(frame);
    writer(crc);
    return frame;
}

void CReceiver::Feed(const uint8_t* bytes, size_t size) {
    m_buffer.insert(m_buffer.end(), bytes, bytes + size);
}

bool CReceiver::Next(Frame& frame) {
    for (;;) {
        // Skip to the first signature (or to a partial one at the end).
        auto start =
            std::search(m_buffer.begin(), m_buffer.end(), kSignature.begin(), kSignature.end());
        if (start == m_buffer.end()) {
            const size_t keep = std::min<size_t>(m_buffer.size(), kSignature.size() - 1);
            size_t cut = m_buffer.size() - keep;
            // Keep only a tail that could begin a signature.
            while (cut < m_buffer.size() && m_buffer[cut] != kSignature[0]) ++cut;
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(cut));
            return false;
        }
        m_buffer.erase(m_buffer.begin(), start);
        if (m_buffer.size() < kHeaderSize) return false;

        Header header;
        wire::Decode(m_buffer, header);
        if (header.checksum != HeaderChecksum(m_buffer) || header.bodySize > kMaxBody) {
            ++m_dropped;
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        const size_t total = kHeaderSize + header.bodySize + kCrcSize;
        if (m_buffer.size() < total) return false;

        const std::span<const uint8_t> covered(m_buffer.data(), total - kCrcSize);
        const uint16_t crc = uint16_t((m_buffer[total - 2] << 8) | m_buffer[total - 1]);
        if (crc != Crc16(covered)) {
            ++m_dropped;
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        frame.header = header;
        frame.body.assign(m_buffer.begin() + kHeaderSize,
                          m_buffer.begin() + static_cast<std::ptrdiff_t>(total - kCrcSize));
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(total));
        return true;
    }
}

size_t CReceiver::Needed() const {
    if (m_buffer.size() < kHeaderSize) return kHeaderSize - m_buffer.size();
    Header header;
    wire::Decode(m_buffer, header);
    if (header.bodySize > kMaxBody) return 1;
    const size_t total = kHeaderSize + header.bodySize + kCrcSize;
    return total > m_buffer.size() ? total - m_buffer.size() : 1;
}

}  // namespace hotsync::slp
