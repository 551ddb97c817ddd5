// A scripted handheld on the NetSync framing, over any transport (a TCP connection to the
// desktop's listener, or the handheld's end of a pipe behind the fake USB bus).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hotsync/netsync.h"
#include "hotsync/transport.h"

namespace hotsync::testing {

struct NetFrame {
    netsync::Header header;
    std::vector<uint8_t> payload;
};

class CNetPeer {
  public:
    explicit CNetPeer(ITransport& line) : m_line(line) {}

    bool ReadExact(std::vector<uint8_t>& out, size_t size, int timeoutMs) {
        out.resize(size);
        size_t got = 0;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got < size) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            const int n = m_line.Read(out.data() + got, size - got, 50);
            if (n < 0) return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }
    bool Write(std::span<const uint8_t> bytes) {
        return m_line.Write(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
    }
    bool WriteFrame(uint8_t xid, std::span<const uint8_t> payload,
                    uint8_t type = netsync::kTypeData) {
        std::vector<uint8_t> frame =
            wire::Encode(netsync::Header{type, xid, uint32_t(payload.size())});
        frame.insert(frame.end(), payload.begin(), payload.end());
        return Write(frame);
    }
    std::optional<NetFrame> ReadFrame(int timeoutMs = 3000) {
        std::vector<uint8_t> head;
        if (!ReadExact(head, netsync::kHeaderSize, timeoutMs)) return std::nullopt;
        NetFrame frame;
        wire::Decode(head, frame.header);
        if (!ReadExact(frame.payload, frame.header.length, timeoutMs)) return std::nullopt;
        return frame;
    }
    // The handheld's side of the handshake with blobs of the recorded sizes; the desktop's
    // two frames are kept.
    bool Handshake(std::vector<NetFrame>* desktop = nullptr) {
        const std::vector<uint8_t> hello(netsync::kHandheldHelloSize, 0x00);
        std::vector<uint8_t> first = hello;
        first[0] = netsync::kBareHelloByte;
        if (!WriteFrame(netsync::kHandheldFirstXid, first)) return false;
        auto one = ReadFrame();
        if (!one) return false;
        std::vector<uint8_t> answer(netsync::kHandheldAnswerSize, 0);
        answer[0] = 0x92;
        if (!WriteFrame(one->header.xid, answer)) return false;
        auto two = ReadFrame();
        if (!two) return false;
        std::vector<uint8_t> done(netsync::kHandheldDoneSize, 0);
        done[0] = 0x93;
        if (!WriteFrame(two->header.xid, done)) return false;
        if (desktop) *desktop = {*one, *two};
        return true;
    }

  private:
    ITransport& m_line;
};

}  // namespace hotsync::testing
