#include <cerrno>
#include <cstring>
#include <thread>

#include "hotsync/cmp.h"
#include "hotsync/dlp.h"
#include "hotsync/framing.h"
#include "hotsync/hotsync.h"
#include "hotsync/netsync.h"
#include "hotsync/padp.h"
#include "hotsync/timeline.h"

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
    Link(ITransport& transport, padp::LinkStats stats, netsync::LinkStats netStats)
        : padp(transport, stats), net(transport, netStats) {}
    padp::CLink padp;
    netsync::CLink net;
    Framing framing = Framing::kSerial;  // of the accepted connection
};

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

}  // namespace

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
        padp::LinkStats{m_bytesSent, m_bytesRead, m_receiveErrors, m_memoryError, m_closing},
        netsync::LinkStats{m_bytesSent, m_bytesRead, m_receiveErrors, m_closing});
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

int CSocket::TakeHandheld(std::chrono::steady_clock::time_point deadline, Framing& framing,
                          std::vector<uint8_t>& readAhead) {
    const int connected = m_transport->Connect(MsUntil(deadline));
    if (connected <= 0) {
        errno = connected == 0 ? ETIMEDOUT : EPIPE;
        return -1;
    }
    framing = m_transport->LinkFraming();
    readAhead.clear();
    while (framing == Framing::kDetect) {
        size_t start = 0;
        framing = DetectFraming(readAhead, start);
        readAhead.erase(readAhead.begin(), readAhead.begin() + static_cast<std::ptrdiff_t>(start));
        if (framing != Framing::kDetect) break;
        const int left = MsUntil(deadline);
        if (left <= 0 || m_closing.load()) {
            m_transport->Disconnect();
            errno = left <= 0 ? ETIMEDOUT : EPIPE;
            return -1;
        }
        // Only what the decision needs: the rest is the link layer's to read.
        uint8_t buffer[slp::kHeaderSize];
        const size_t want = readAhead.size() < sizeof buffer ? sizeof buffer - readAhead.size() : 1;
        const int n = m_transport->Read(buffer, want, std::min(left, 250));
        if (n < 0) {
            m_transport->Disconnect();
            errno = EPIPE;
            return -1;
        }
        m_bytesRead += static_cast<uint64_t>(n);
        readAhead.insert(readAhead.end(), buffer, buffer + n);
    }
    return 0;
}

int CSocket::AcceptNetSync(std::chrono::steady_clock::time_point deadline,
                           std::span<const uint8_t> readAhead) {
    netsync::CLink& net = m_link->net;
    net.Reset();
    net.Feed(readAhead);
    const int result = net.AcceptHandshake(MsUntil(deadline));
    if (result != 0) {
        // Whatever the peer was, the port goes on serving the next one.
        m_transport->Disconnect();
        errno = result == netsync::kErrTimedOut ? ETIMEDOUT
                : result == kErrLinkBroken      ? EPIPE
                                                : ECONNREFUSED;
        return -1;
    }
    m_link->framing = Framing::kNetSync;
    m_announcedRate = 0;
    m_cmpVersion = 0;
    // No line rate is agreed; the rate asked for is the one reported.
    m_lineRate = cmp::ChooseRate(m_establishRate.load(), true, 0);
    m_broken = false;
    m_endOfSyncSent = false;
    m_dlpVersion = 0;
    m_state = SocketState::Connected;
    return 0;
}

int CSocket::Accept() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_state.load() != SocketState::Listening) {
        errno = EINVAL;
        return -1;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeouts.acceptMs);
    Framing framing = Framing::kSerial;
    std::vector<uint8_t> readAhead;
    if (TakeHandheld(deadline, framing, readAhead) != 0) return -1;
    if (framing == Framing::kNetSync) return AcceptNetSync(deadline, readAhead);
    padp::CLink& link = m_link->padp;
    link.ResetReceiveState();
    link.SetLongForm(false);
    link.Feed(readAhead);
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
        timeline::Mark("desktop.wakeup");

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
        timeline::Mark("desktop.init-acked");
        link.SetLongForm((init.flags & cmp::kInitLongPadp) != 0);
        // The handheld moves to the new rate once it has acknowledged the init; its UART
        // gets time to settle before we send at the new rate. A line that stays at its
        // rate has nothing to settle.
        const bool rateChanges = rate != m_lineRate.load();
        m_lineRate = rate;
        m_transport->SetRate(rate);
        if (rateChanges) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_timeouts.rateSettleMs));
        }
        m_link->framing = Framing::kSerial;
        m_broken = false;
        m_endOfSyncSent = false;
        m_dlpVersion = 0;
        m_state = SocketState::Connected;
        timeline::Mark("desktop.accepted");
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
    // Handhelds too old to report their DLP version: CMP 1.0 units speak DLP 1.0. Without
    // any CMP (network HotSync) the handheld is too new for DLP 1.0.
    const int cmpVersion = m_cmpVersion.load();
    if (cmpVersion == 0) return kDlpVersion11;
    return (cmpVersion & 0xFF) == 0 ? kDlpVersion10 : kDlpVersion11;
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
    if (m_link->framing == Framing::kNetSync) return m_link->net.SendTickle();
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
    if (m_link->framing == Framing::kNetSync) return ExchangeNetSync(request, response);
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

int CSocket::ExchangeNetSync(std::span<const uint8_t> request, std::vector<uint8_t>& response) {
    netsync::CLink& net = m_link->net;
    int result = net.Send(request, net.NextXid());
    if (result == kDlpErrDataTooLarge) return result;
    if (result == 0) {
        // The carrier neither loses nor reorders frames: the answer is the next data frame.
        uint8_t answerXid = 0;
        result = net.Receive(response, answerXid, m_timeouts.receiveMs);
    }
    if (result < 0) {
        // No retransmission can mend a frame stream: whatever failed, the link is gone.
        result = kErrLinkBroken;
        m_broken = true;
    }
    return result;
}

}  // namespace hotsync
