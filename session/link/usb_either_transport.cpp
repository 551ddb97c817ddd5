#include "session/link/usb_either_transport.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace ports {
namespace {

constexpr int kLookupIntervalMs = 100;

}  // namespace

CUsbEitherTransport::CUsbEitherTransport(std::vector<std::unique_ptr<hotsync::ITransport>> ways)
    : m_ways(std::move(ways)), m_open(m_ways.size(), false) {}

int CUsbEitherTransport::Open() {
    int firstErrno = 0;
    bool any = false;
    for (size_t i = 0; i < m_ways.size(); ++i) {
        if (m_open[i]) {
            any = true;
            continue;
        }
        m_open[i] = m_ways[i]->Open() == 0;
        if (!m_open[i] && firstErrno == 0) firstErrno = errno;
        any = any || m_open[i];
    }
    if (!any) errno = firstErrno != 0 ? firstErrno : ENOENT;
    return any ? 0 : -1;
}

void CUsbEitherTransport::Close() {
    for (size_t i = 0; i < m_ways.size(); ++i) {
        if (m_open[i]) m_ways[i]->Close();
        m_open[i] = false;
    }
    m_chosen = -1;
}

void CUsbEitherTransport::Interrupt() {
    m_interrupted = true;
    if (m_chosen >= 0) m_ways[size_t(m_chosen)]->Interrupt();
}

int CUsbEitherTransport::LookForHandheld(int budgetMs) {
    if (m_chosen >= 0) {
        if (m_ways[size_t(m_chosen)]->LookForHandheld(1) == 1) return 1;
        m_chosen = -1;  // the way lost its handheld: any way may find it again
    }
    int budget = budgetMs;
    for (;;) {
        for (size_t i = 0; i < m_ways.size(); ++i) {
            // A budget of 1 is one look without waiting.
            if (m_open[i] && m_ways[i]->LookForHandheld(1) == 1) {
                m_chosen = int(i);
                return 1;
            }
        }
        if (budget > 0) {
            budget -= kLookupIntervalMs;
            if (budget <= 0) return 0;
        }
        if (m_interrupted.exchange(false)) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(kLookupIntervalMs));
    }
}

int CUsbEitherTransport::Connect(int timeoutMs) {
    if (m_chosen < 0 && LookForHandheld(timeoutMs > 0 ? timeoutMs : 1) <= 0) return 0;
    return m_ways[size_t(m_chosen)]->Connect(timeoutMs);
}

void CUsbEitherTransport::Disconnect() {
    if (m_chosen >= 0) m_ways[size_t(m_chosen)]->Disconnect();
    m_chosen = -1;
}

int CUsbEitherTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (m_chosen < 0) return -1;
    return m_ways[size_t(m_chosen)]->Read(buffer, size, timeoutMs);
}

int CUsbEitherTransport::Write(const uint8_t* data, size_t size) {
    if (m_chosen < 0) return -1;
    return m_ways[size_t(m_chosen)]->Write(data, size);
}

}  // namespace ports
