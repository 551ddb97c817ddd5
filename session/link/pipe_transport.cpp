#include "session/link/pipe_transport.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace ports {
namespace {

// One direction of the cable.
struct Channel {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<uint8_t> bytes;
    bool writerClosed = false;
    bool interrupted = false;
};

class CPipeEnd final : public hotsync::ITransport {
  public:
    CPipeEnd(std::shared_ptr<Channel> in, std::shared_ptr<Channel> out)
        : m_in(std::move(in)), m_out(std::move(out)) {}
    ~CPipeEnd() override { Close(); }

    int Open() override {
        std::lock_guard<std::mutex> lock(m_out->mutex);
        m_out->writerClosed = false;
        return 0;
    }

    void Close() override {
        {
            std::lock_guard<std::mutex> lock(m_out->mutex);
            m_out->writerClosed = true;
        }
        m_out->ready.notify_all();
        Interrupt();
    }

    int SetRate(int) override { return 0; }

    int Read(uint8_t* buffer, size_t size, int timeoutMs) override {
        if (size == 0) return 0;
        std::unique_lock<std::mutex> lock(m_in->mutex);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        while (m_in->bytes.empty()) {
            if (m_in->writerClosed) return -1;
            if (m_in->interrupted) {
                m_in->interrupted = false;
                return 0;
            }
            if (m_in->ready.wait_until(lock, deadline) == std::cv_status::timeout &&
                m_in->bytes.empty()) {
                return m_in->writerClosed ? -1 : 0;
            }
        }
        const size_t n = std::min(size, m_in->bytes.size());
        std::copy_n(m_in->bytes.begin(), n, buffer);
        m_in->bytes.erase(m_in->bytes.begin(), m_in->bytes.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }

    int Write(const uint8_t* data, size_t size) override {
        {
            std::lock_guard<std::mutex> lock(m_out->mutex);
            if (m_out->writerClosed) return -1;
            m_out->bytes.insert(m_out->bytes.end(), data, data + size);
        }
        m_out->ready.notify_all();
        return static_cast<int>(size);
    }

    int BytesWaiting() override {
        std::lock_guard<std::mutex> lock(m_in->mutex);
        return static_cast<int>(m_in->bytes.size());
    }

    void Interrupt() override {
        {
            std::lock_guard<std::mutex> lock(m_in->mutex);
            m_in->interrupted = true;
        }
        m_in->ready.notify_all();
    }

  private:
    std::shared_ptr<Channel> m_in;
    std::shared_ptr<Channel> m_out;
};

}  // namespace

PipePair CreatePipePair() {
    auto toHandheld = std::make_shared<Channel>();
    auto toDesktop = std::make_shared<Channel>();
    PipePair pair;
    pair.desktop = std::make_unique<CPipeEnd>(toDesktop, toHandheld);
    pair.handheld = std::make_unique<CPipeEnd>(toHandheld, toDesktop);
    return pair;
}

}  // namespace ports
