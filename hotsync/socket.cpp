#include <cerrno>
#include <cstring>
#include <thread>

#include "hotsync/cmp.h"
#include "hotsync/dlp.h"
#include "hotsync/hotsync.h"
#include "hotsync/padp.h"

namespace hotsync {

std::string SocketAddress::PortName() const {
    return std::string(name.data(), strnlen(name.data(), name.size()));
}

bool MakeAddress(const std::string& portName, SocketAddress& address) {
    address = SocketAddress{};
    if (portName.size() > kMaxPortNameLength) return false;
    std::copy(portName.begin(), portName.end(), address.name.begin());
    return true;
}

struct CSocket::Link {
    explicit Link(ITransport& transport, padp::LinkStats stats) : padp(transport, stats) {}
    padp::CLink padp;
};

CSocket::CSocket() = default;

CSocket::~CSocket() {
    Close();
}

std::unique_ptr<CSocket> CSocket::Create(int family, int type, int protocol) {
    if (family != kAfSlp || type != kSockStream || protocol != kProtoPadp) {
        errno = EINVAL;
        return nullptr;
    }
    return std::unique_ptr<CSocket>(new CSocket());
}

int CSocket::Bind(const SocketAddress& address, std::unique_ptr<ITransport> transport) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_state.load() != SocketState::Created || address.family != kAfSlp ||
        address.name.back() != '\0') {
        errno = EINVAL;
        return -1;
    }
    if (!transport) {
        errno = ENOENT;
        return -1;
    }
    errno = 0;
    if (transport->Open() < 0) {
        if (errno == 0) errno = ENOENT;  // the transport's own reason, when it gave one
        return -1;
    }
    // The port is at the initial rate from the start, so that a wakeup that arrives
    // before listening begins is already readable (and is not purged by a later change).
    transport->SetRate(kInitialRate);
    m_address = address;
    m_transport = std::move(transport);
    m_link = std::make_unique<Link>(
        *m_transport,
        padp::LinkStats{m_bytesSent, m_bytesRead, m_receiveErrors, m_memoryError, m_closing});
    m_link->padp.SetTimeouts(m_timeouts);
    m_state = SocketState::Bound;
    return 0;
}

int CSocket::Listen(int backlog) {
    std::lock_guard<std::mutex> lock(m_lock);
    const SocketState state = m_state.load();
    if (backlog != 1 || (state != SocketState::Bound && state != SocketState::Listening)) {
        errno = EINVAL;
        return -1;
    }
    if (m_lineRate.load() != kInitialRate && m_transport->SetRate(kInitialRate) < 0) {
        errno = EIO;
        return -1;
    }
    m_lineRate = kInitialRate;
    m_state = SocketState::Listening;
    return 0;
}

int CSocket::Accept() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_state.load() != SocketState::Listening) {
        errno = EINVAL;
        return -1;
    }
    padp::CLink& link = m_link->padp;
    link.ResetReceiveState();
    link.SetLongForm(false);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeouts.acceptMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        std::vector<uint8_t> message;
        uint8_t xid = 0;
        const int received = link.Receive(message, xid, static_cast<int>(left), std::nullopt);
        if (received == padp::kErrTimedOut) {
            errno = ETIMEDOUT;
            return -1;
        }
        if (received < 0) {
            errno = EPIPE;
            return -1;
        }
        const auto wakeup = cmp::DecodeWakeup(message);
        if (!wakeup) continue;  // not a wakeup: keep waiting for one

        m_announcedRate = static_cast<int>(wakeup->baudRate);
        m_cmpVersion = (wakeup->versionMajor << 8) | wakeup->versionMinor;
        if (wakeup->versionMajor != cmp::kVersionMajor) {
            link.Send(wire::Encode(cmp::MakeAbort(*wakeup)), link.NextXid());
            errno = ECONNREFUSED;
            return -1;
        }
        const int rate =
            cmp::ChooseRate(m_establishRate.load(), m_establishForced.load(), m_announcedRate);
        const cmp::Packet init = cmp::MakeInit(*wakeup, rate);
        if (link.Send(wire::Encode(init), link.NextXid()) < 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        link.SetLongForm((init.flags & cmp::kInitLongPadp) != 0);
        // The handheld moves to the new rate once it has acknowledged the init.
        m_lineRate = rate;
        m_transport->SetRate(rate);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_timeouts.rateSettleMs));
        m_broken = false;
        m_endOfSyncSent = false;
        m_dlpVersion = 0;
        m_state = SocketState::Connected;
        return 0;
    }
}

int CSocket::Close() {
    std::unique_lock<std::mutex> lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        // Another thread is using the link: make its wait end, then take over.
        m_closing = true;
        if (m_transport) m_transport->Interrupt();
        lock.lock();
        m_closing = false;
    }
    const SocketState state = m_state.load();
    if (state == SocketState::Closed) return 0;
    if (state == SocketState::Connected && !m_broken.load() && !m_endOfSyncSent.load()) {
        std::vector<uint8_t> answer;
        if (ExchangeLocked(dlp::Encode(dlp::EndOfSyncRequest{kEndNormal}), answer) == 0) {
            m_endOfSyncSent = true;
        }
    }
    if (m_transport) {
        m_transport->SetRate(kInitialRate);
        m_transport->Close();
    }
    m_lineRate = kInitialRate;
    m_state = SocketState::Closed;
    return 0;
}

int CSocket::VersionFromCmp() const {
    // Handhelds too old to report their DLP version: CMP 1.0 units speak DLP 1.0.
    return (m_cmpVersion.load() & 0xFF) == 0 ? kDlpVersion10 : kDlpVersion11;
}

void CSocket::NoteHandheldVersion(int dlpVersion, uint32_t maxRecordSize) {
    m_dlpVersion = dlpVersion != 0 ? dlpVersion : VersionFromCmp();
    m_maxRecordSize = maxRecordSize;
}

int CSocket::Version() {
    if (m_state.load() != SocketState::Connected) return -1;
    if (m_dlpVersion.load() == 0) {
        SysInfo info;
        if (DlpReadSysInfo(*this, info) < 0) return VersionFromCmp();
    }
    return m_dlpVersion.load();
}

int CSocket::Tickle() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_state.load() != SocketState::Connected) return kErrNotConnected;
    if (m_broken.load()) return kErrLinkBroken;
    return m_link->padp.SendTickle();
}

void CSocket::SetEstablishRate(int bitsPerSecond, bool mayExceedAnnounced) {
    m_establishRate = bitsPerSecond;
    m_establishForced = mayExceedAnnounced;
}

int CSocket::EstablishRate() const {
    return m_establishRate.load();
}

bool CSocket::EstablishRateForced() const {
    return m_establishForced.load();
}

int CSocket::ApplyLineRate() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_transport || m_state.load() == SocketState::Closed) {
        errno = EBADF;
        return -1;
    }
    return m_transport->SetRate(m_lineRate.load()) < 0 ? -1 : 0;
}

void CSocket::SetTimeouts(const LinkTimeouts& timeouts) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_timeouts = timeouts;
    if (m_link) m_link->padp.SetTimeouts(timeouts);
}

LinkTimeouts CSocket::Timeouts() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_timeouts;
}

int CSocket::PortHandle() const {
    return m_transport ? m_transport->NativeHandle() : -1;
}

int CSocket::Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response) {
    std::lock_guard<std::mutex> lock(m_lock);
    return ExchangeLocked(request, response);
}

int CSocket::ExchangeLocked(std::span<const uint8_t> request, std::vector<uint8_t>& response) {
    if (m_state.load() != SocketState::Connected) return kErrNotConnected;
    if (m_broken.load()) return kErrLinkBroken;
    padp::CLink& link = m_link->padp;
    const uint8_t xid = link.NextXid();
    int result = link.Send(request, xid);
    if (result == 0) {
        uint8_t answerXid = 0;
        result = link.Receive(response, answerXid, m_timeouts.receiveMs, xid);
        if (result == padp::kErrTimedOut) result = kErrLinkBroken;
    }
    if (result == kErrLinkBroken) m_broken = true;
    return result;
}

}  // namespace hotsync
