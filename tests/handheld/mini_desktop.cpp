#include "tests/handheld/mini_desktop.h"

namespace handheld_test {

using namespace handheld;
using Clock = std::chrono::steady_clock;

bool CMiniDesktop::ReadPacket(Packet& out, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    while (true) {
        SlpPacket slp;
        if (m_parser.Next(slp)) {
            out = Packet();
            out.slp = slp;
            size_t offset = 0;
            if (slp.type == kSlpTypePadp && DecodePadp(slp.body, out.padp, offset)) {
                out.isPadp = true;
                out.data.assign(slp.body.begin() + static_cast<long>(offset), slp.body.end());
            }
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int n = m_t.Read(buf, sizeof buf, static_cast<int>(std::min<int64_t>(left, 100)));
        if (n < 0) return false;
        if (n > 0) m_parser.Feed(buf, static_cast<size_t>(n));
    }
}

bool CMiniDesktop::WritePacket(uint8_t type, uint8_t xid, const std::vector<uint8_t>& body) {
    SlpPacket p;
    p.type = type;
    p.xid = xid;
    p.body = body;
    const auto bytes = EncodeSlp(p);
    return m_t.Write(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
}

bool CMiniDesktop::SendAck(uint8_t xid, uint8_t flags, uint32_t sizeOrOffset) {
    PadpHeader h;
    h.type = kPadpAck;
    h.flags = static_cast<uint8_t>(flags | (longFormAcks ? kPadpLong : 0));
    h.sizeOrOffset = sizeOrOffset;
    return WritePacket(kSlpTypePadp, xid, EncodePadp(h, nullptr, 0));
}

bool CMiniDesktop::SendData(uint8_t xid, uint8_t flags, uint32_t sizeOrOffset,
                            const std::vector<uint8_t>& data) {
    PadpHeader h;
    h.type = kPadpData;
    h.flags = flags;
    h.sizeOrOffset = sizeOrOffset;
    return WritePacket(kSlpTypePadp, xid, EncodePadp(h, data.data(), data.size()));
}

bool CMiniDesktop::AcceptWakeup(std::vector<uint8_t>& cmp, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        Packet p;
        if (!ReadPacket(p, 100)) continue;
        if (p.slp.type == kSlpTypeLoopback) {
            ++loopbacksSeen;
            continue;
        }
        if (p.isPadp && p.padp.type == kPadpData && p.slp.xid == 0xFF && !p.data.empty() &&
            p.data[0] == 0x01) {
            ++wakeupsSeen;
            cmp = p.data;
            return SendAck(0xFF, p.padp.flags, p.padp.sizeOrOffset);
        }
    }
    return false;
}

bool CMiniDesktop::Send(uint8_t xid, const std::vector<uint8_t>& message, size_t fragmentSize,
                        bool longForm, int tries) {
    size_t offset = 0;
    do {
        const size_t n = std::min(fragmentSize, message.size() - offset);
        const uint8_t flags = static_cast<uint8_t>((offset == 0 ? kPadpFirst : 0) |
                                                   (offset + n == message.size() ? kPadpLast : 0) |
                                                   (longForm ? kPadpLong : 0));
        const uint32_t so = static_cast<uint32_t>(offset == 0 ? message.size() : offset);
        std::vector<uint8_t> chunk(message.begin() + static_cast<long>(offset),
                                   message.begin() + static_cast<long>(offset + n));
        bool acked = false;
        for (int attempt = 0; attempt < tries && !acked; ++attempt) {
            if (!SendData(xid, flags, so, chunk)) return false;
            const auto deadline = Clock::now() + std::chrono::milliseconds(ackWaitMs);
            while (!acked && Clock::now() < deadline) {
                Packet p;
                if (!ReadPacket(p, 100)) continue;
                if (!p.isPadp) continue;
                if (p.padp.type == kPadpAck && p.slp.xid == xid && p.padp.sizeOrOffset == so) {
                    acked = true;
                    ++acksSeen;
                    lastAckFlags = p.padp.flags;
                    lastAckExtra = p.data;
                } else if (p.padp.type == kPadpData && p.slp.xid == 0xFF && !p.data.empty() &&
                           p.data[0] == 0x01) {
                    ++wakeupsSeen;  // a repeated wakeup: ACK and ignore it
                    SendAck(0xFF, p.padp.flags, p.padp.sizeOrOffset);
                } else if (p.padp.type == kPadpData) {
                    m_held.push_back(p);  // an answer overtaking our ACK
                    if ((flags & kPadpLast) && p.slp.xid == xid) acked = true;
                } else if (p.padp.type == kPadpTickle) {
                    ++ticklesSeen;
                }
            }
        }
        if (!acked) return false;
        offset += n;
    } while (offset < message.size());
    return true;
}

bool CMiniDesktop::Receive(std::vector<uint8_t>& message, uint8_t& xid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    message.clear();
    uint32_t total = 0;
    bool started = false;
    while (Clock::now() < deadline) {
        Packet p;
        if (!m_held.empty()) {
            p = m_held.front();
            m_held.erase(m_held.begin());
        } else if (!ReadPacket(p, 100)) {
            continue;
        }
        if (!p.isPadp) continue;
        if (p.padp.type == kPadpTickle) {
            ++ticklesSeen;
            continue;
        }
        if (p.padp.type != kPadpData) continue;
        ++dataSeen;
        lastDataFlags = p.padp.flags;
        SendAck(p.slp.xid, p.padp.flags & (kPadpFirst | kPadpLast), p.padp.sizeOrOffset);
        if (p.padp.flags & kPadpFirst) {
            message = p.data;
            total = p.padp.sizeOrOffset;
            started = true;
            xid = p.slp.xid;
        } else if (started && p.padp.sizeOrOffset == message.size()) {
            message.insert(message.end(), p.data.begin(), p.data.end());
        }
        if (started && (p.padp.flags & kPadpLast) && message.size() == total) return true;
    }
    return false;
}

bool CMiniDesktop::Call(const std::vector<uint8_t>& request, std::vector<uint8_t>& response,
                        int timeoutMs) {
    m_xid = static_cast<uint8_t>(m_xid % 0xFE + 1);
    if (!Send(m_xid, request, 1024, request.size() > 0xFFFF)) return false;
    uint8_t xid = 0;
    while (Receive(response, xid, timeoutMs)) {
        if (xid == m_xid) return true;  // an older answer repeated: skip it
    }
    return false;
}

bool CMiniDesktop::Init(uint32_t rate, uint8_t flags, uint8_t xid) {
    std::vector<uint8_t> init{0x02, flags, 1, 1, 0, 0};
    Put32(init, rate);
    return Send(xid, init);
}

std::vector<uint8_t> Request(uint8_t function, uint8_t argId, const std::vector<uint8_t>& arg) {
    std::vector<uint8_t> out{function, 1};
    const size_t n = arg.size();
    if (n <= 0xFF) {
        out.insert(out.end(), {argId, static_cast<uint8_t>(n)});
    } else if (n <= 0xFFFF) {
        out.insert(out.end(), {static_cast<uint8_t>(argId | 0x80), 0});
        Put16(out, static_cast<uint16_t>(n));
    } else {
        out.insert(out.end(), {static_cast<uint8_t>(argId | 0x40), 0});
        Put32(out, static_cast<uint32_t>(n));
    }
    out.insert(out.end(), arg.begin(), arg.end());
    return out;
}

std::vector<uint8_t> Request0(uint8_t function) {
    return {function, 0};
}

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, static_cast<uint16_t>(x >> 16));
    Put16(v, static_cast<uint16_t>(x));
}
void PutStr(std::vector<uint8_t>& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    v.push_back(0);
}
uint16_t Get16(const std::vector<uint8_t>& v, size_t at) {
    return static_cast<uint16_t>((v.at(at) << 8) | v.at(at + 1));
}
uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
    return (uint32_t(Get16(v, at)) << 16) | Get16(v, at + 2);
}

bool DecodeResponse(const std::vector<uint8_t>& bytes, Response& out) {
    if (bytes.size() < 4) return false;
    out = Response();
    out.function = bytes[0];
    out.error = Get16(bytes, 2);
    size_t pos = 4;
    for (int i = 0; i < bytes[1]; ++i) {
        if (pos + 2 > bytes.size()) return false;
        const uint8_t b0 = bytes[pos];
        size_t header = 2, n = bytes[pos + 1];
        if ((b0 & 0xC0) == 0x80) {
            header = 4;
            n = Get16(bytes, pos + 2);
        } else if ((b0 & 0xC0) == 0x40) {
            header = 6;
            n = Get32(bytes, pos + 2);
        }
        if (pos + header + n > bytes.size()) return false;
        out.args.emplace_back(
            b0 & 0x3F, std::vector<uint8_t>(bytes.begin() + static_cast<long>(pos + header),
                                            bytes.begin() + static_cast<long>(pos + header + n)));
        pos += header + n;
    }
    return pos == bytes.size();
}

}  // namespace handheld_test
