#include "session/link/net_transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "hotsync/netsync.h"

namespace ports {
namespace {

constexpr int kListenBacklog = 4;  // the next handheld may knock while one is served
constexpr int kWriteWaitMs = 10000;
constexpr size_t kMaxDatagram = 512;

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool ParsePortNumber(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value > 0xFFFF) return false;
    port = uint16_t(value);
    return true;
}

void SetPort(sockaddr_storage& address, uint16_t port) {
    if (address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    }
}

uint16_t PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// A socket of the kind bound to the address; -1 when that fails.
int BoundSocket(const sockaddr_storage& address, socklen_t length, int type) {
    const int fd = ::socket(address.ss_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    // A listener of an earlier session may leave connections in TIME_WAIT behind.
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::optional<NetEndpoint> ParseNetPort(const std::string& portName) {
    if (portName == "NET") return NetEndpoint{"127.0.0.1", hotsync::netsync::kTcpPort};
    if (portName.size() <= 4) return std::nullopt;
    std::string prefix = portName.substr(0, 4);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (prefix != "net:") return std::nullopt;
    const std::string rest = portName.substr(4);
    NetEndpoint endpoint{"", hotsync::netsync::kTcpPort};
    std::string portText;
    bool hasPort = false;
    if (rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return std::nullopt;
        endpoint.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return std::nullopt;
            portText = after.substr(1);
            hasPort = true;
        }
    } else {
        const size_t colon = rest.rfind(':');
        endpoint.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            portText = rest.substr(colon + 1);
            hasPort = true;
        }
        // An IPv6 address needs its brackets, or its last group would read as the port.
        if (endpoint.host.find(':') != std::string::npos) return std::nullopt;
    }
    if (endpoint.host.empty()) return std::nullopt;
    if (hasPort && !ParsePortNumber(portText, endpoint.port)) return std::nullopt;
    return endpoint;
}

CNetListenTransport::CNetListenTransport(NetEndpoint endpoint) : m_endpoint(std::move(endpoint)) {}

CNetListenTransport::~CNetListenTransport() {
    Close();
}

int CNetListenTransport::Open() {
    if (m_listener >= 0) return 0;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(m_endpoint.port);
    if (::getaddrinfo(m_endpoint.host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        errno = ENOENT;
        return -1;
    }
    sockaddr_storage address{};
    const socklen_t length = found->ai_addrlen;
    std::memcpy(&address, found->ai_addr, length);
    ::freeaddrinfo(found);

    m_listener = BoundSocket(address, length, SOCK_STREAM);
    if (m_listener < 0 || ::listen(m_listener, kListenBacklog) != 0 ||
        ::pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        Close();
        errno = ENOENT;
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    m_port = PortOf(bound);

    // The wakeup is answered on the port below the listening one (14237 below 14238).
    if (m_port > 1) {
        SetPort(address, uint16_t(m_port - 1));
        m_wakeup = BoundSocket(address, length, SOCK_DGRAM);
        m_wakeupPort = m_wakeup >= 0 ? uint16_t(m_port - 1) : 0;
    }
    return 0;
}

void CNetListenTransport::Close() {
    Disconnect();
    CloseFd(m_listener);
    CloseFd(m_wakeup);
    CloseFd(m_wakePipe[0]);
    CloseFd(m_wakePipe[1]);
    m_port = m_wakeupPort = 0;
}

void CNetListenTransport::Disconnect() {
    CloseFd(m_connection);
}

void CNetListenTransport::Interrupt() {
    if (m_wakePipe[1] >= 0) {
        const uint8_t wake = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakePipe[1], &wake, 1);
    }
}

bool CNetListenTransport::AnswerWakeups() {
    bool answered = false;
    while (m_wakeup >= 0) {
        uint8_t datagram[kMaxDatagram];
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_wakeup, datagram, sizeof datagram, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) break;
        const auto reply = hotsync::netsync::AnswerWakeup({datagram, size_t(n)});
        if (!reply) continue;
        ::sendto(m_wakeup, reply->data(), reply->size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&from), fromLength);
        answered = true;
    }
    return answered;
}

int CNetListenTransport::LookForHandheld(int) {
    if (m_listener < 0) return 0;
    if (m_connection >= 0) return 1;
    const bool woke = AnswerWakeups();
    pollfd waiting{m_listener, POLLIN, 0};
    if (::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN)) return 1;
    return woke ? 1 : 0;
}

int CNetListenTransport::Connect(int timeoutMs) {
    if (m_listener < 0) return -1;
    if (m_connection >= 0) return 1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            // Requests and answers are small and go one at a time: no waiting for more.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_connection = fd;
            return 1;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR) {
            return -1;
        }
        const int left = MsUntil(deadline);
        if (left <= 0) return 0;
        pollfd fds[3] = {
            {m_listener, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}, {m_wakeup, POLLIN, 0}};
        if (::poll(fds, m_wakeup >= 0 ? 3 : 2, left) < 0 && errno != EINTR) return -1;
        if (fds[1].revents & POLLIN) {
            uint8_t drain[16];
            while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
            return 0;
        }
        if (m_wakeup >= 0 && (fds[2].revents & POLLIN)) AnswerWakeups();
    }
}

int CNetListenTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (m_connection < 0) return -1;
    if (size == 0) return 0;
    pollfd fds[2] = {{m_connection, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, std::max(timeoutMs, 0));
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    if (fds[1].revents & POLLIN) {
        uint8_t drain[16];
        while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
        }
        return 0;
    }
    const ssize_t n = ::recv(m_connection, buffer, size, 0);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;  // the peer hung up, or the connection failed
}

int CNetListenTransport::Write(const uint8_t* data, size_t size) {
    if (m_connection < 0) return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(m_connection, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out{m_connection, POLLOUT, 0};
            if (::poll(&out, 1, kWriteWaitMs) > 0) continue;
        }
        return -1;
    }
    return static_cast<int>(size);
}

}  // namespace ports
