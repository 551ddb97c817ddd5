#include "session/link/usb_either_transport.h"

#include <cerrno>

#include "session/link/usb_lookup_poll.h"

namespace ports {
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
    const int chosen = m_chosen;
    if (chosen >= 0) m_ways[size_t(chosen)]->Interrupt();
}

int CUsbEitherTransport::LookForHandheld(int budgetMs) {
    if (m_chosen >= 0) {
        if (m_ways[size_t(m_chosen)]->LookForHandheld(1) == 1) return 1;
        m_chosen = -1;  // the way lost its handheld: any way may find it again
    }
    return PollForHandheld(budgetMs, m_interrupted, [this] {
        for (size_t i = 0; i < m_ways.size(); ++i) {
            if (m_open[i] && m_ways[i]->LookForHandheld(1) == 1) {
                m_chosen = int(i);
                return true;
            }
        }
        return false;
    });
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
