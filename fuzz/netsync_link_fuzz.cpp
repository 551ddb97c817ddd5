// A handheld's bytes into the desktop's NetSync link: the framing is told from them, the
// handshake taken and a few answers read, the bytes arriving in uneven pieces and the line
// ending with them. Nothing may crash, hang or allocate past the frame limit.
#include <algorithm>
#include <atomic>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "hotsync/framing.h"
#include "hotsync/netsync.h"

namespace {

// The handheld's end: hands out the input, then reports the line gone; writes vanish.
class CInputLine final : public hotsync::ITransport {
  public:
    CInputLine(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    int Open() override { return 0; }
    void Close() override {}
    int SetRate(int) override { return 0; }
    int Read(uint8_t* buffer, size_t size, int) override {
        if (m_at == m_size) return -1;
        const size_t n = std::min({size, m_size - m_at, m_piece});
        std::copy_n(m_data + m_at, n, buffer);
        m_at += n;
        m_piece = m_piece * 5 % 97 + 1;
        return static_cast<int>(n);
    }
    int Write(const uint8_t*, size_t size) override { return static_cast<int>(size); }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    size_t m_piece = 7;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t start = 0;
    hotsync::DetectFraming({data, size}, start);

    CInputLine line(data, size);
    std::atomic<uint64_t> sent{0}, read{0};
    std::atomic<int> errors{0};
    const std::atomic<bool> closing{false};
    hotsync::netsync::CLink link(line, {sent, read, errors, closing});
    if (link.AcceptHandshake(1000) != 0) return 0;
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> payload;
        uint8_t xid = 0;
        if (link.Receive(payload, xid, 1000) != 0) break;
    }
    return 0;
}
