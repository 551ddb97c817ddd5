#include "tools/handheld/tcp_client_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

namespace handheld {
namespace {

constexpr int kConnectWaitMs = 3000;
constexpr int kWriteWaitMs = 10000;
// The wakeup datagram: magic, request type, an unknown byte, the desktop's IPv4 address,
// its netmask, the handheld's idea of the desktop's name.
constexpr uint8_t kWakeupMagic[2] = {0xFA, 0xDE};
constexpr uint8_t kWakeupRequest = 1;
constexpr uint8_t kWakeupReply = 2;

bool Resolve(const std::string& host, uint16_t port, int type, sockaddr_storage& out,
             socklen_t& length) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        return false;
    }
    std::memcpy(&out, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port) {
    size_t colon = std::string::npos;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return false;
        }
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        if (host.find(':') != std::string::npos) return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (host.empty() || digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value == 0 || value > 0xFFFF) return false;
    port = uint16_t(value);
    return true;
}

CTcpClientTransport::CTcpClientTransport(std::string host, uint16_t port, int wakeups,
                                         int wakeupWaitMs)
    : m_host(std::move(host)), m_port(port), m_wakeups(wakeups), m_wakeupWaitMs(wakeupWaitMs) {
    if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) m_wake[0] = m_wake[1] = -1;
}

CTcpClientTransport::~CTcpClientTransport() {
    Close();
    for (int& fd : m_wake) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void CTcpClientTransport::SendWakeups() {
    sockaddr_storage desktop{};
    socklen_t length = 0;
    if (m_port < 2 || !Resolve(m_host, uint16_t(m_port - 1), SOCK_DGRAM, desktop, length)) return;
    const int fd = ::socket(desktop.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    uint8_t address[4] = {0, 0, 0, 0};
    if (desktop.ss_family == AF_INET) {
        std::memcpy(address, &reinterpret_cast<sockaddr_in&>(desktop).sin_addr, 4);
    }
    const uint8_t fixed[] = {kWakeupMagic[0],
                             kWakeupMagic[1],
                             kWakeupRequest,
                             0,
                             address[0],
                             address[1],
                             address[2],
                             address[3],
                             255,
                             255,
                             255,
                             0};
    // Byte by byte: GCC 12 at -O2 misreads range inserts into a vector as overflows.
    std::vector<uint8_t> datagram;
    for (uint8_t b : fixed) datagram.push_back(b);
    for (char c : m_host) datagram.push_back(uint8_t(c));
    datagram.push_back(0);
    for (int i = 0; i < m_wakeups; ++i) {
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&desktop),
                 length);
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, m_wakeupWaitMs) <= 0) continue;
        uint8_t reply[512];
        const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
        if (n >= 4 && reply[0] == kWakeupMagic[0] && reply[1] == kWakeupMagic[1] &&
            reply[2] == kWakeupReply) {
            ++m_wakeupsAnswered;
            break;
        }
    }
    ::close(fd);
}

int CTcpClientTransport::Open() {
    if (m_fd >= 0) return 0;
    if (m_wakeups > 0) SendWakeups();
    sockaddr_storage desktop{};
    socklen_t length = 0;
    if (!Resolve(m_host, m_port, SOCK_STREAM, desktop, length)) {
        errno = EHOSTUNREACH;
        return -1;
    }
    const int fd = ::socket(desktop.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&desktop), length) != 0) {
        if (errno != EINPROGRESS) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        pollfd out{fd, POLLOUT, 0};
        int error = 0;
        socklen_t errorLength = sizeof error;
        if (::poll(&out, 1, kConnectWaitMs) <= 0 ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 || error != 0) {
            ::close(fd);
            errno = error != 0 ? error : ETIMEDOUT;
            return -1;
        }
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_fd = fd;
    return 0;
}

void CTcpClientTransport::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void CTcpClientTransport::Interrupt() {
    if (m_wake[1] >= 0) {
        const uint8_t b = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &b, 1);
    }
}

int CTcpClientTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (m_fd < 0) return -1;
    if (size == 0) return 0;
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int ready = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready <= 0) return ready < 0 && errno != EINTR ? -1 : 0;
    if (m_wake[0] >= 0 && (fds[1].revents & POLLIN)) {
        uint8_t drain[16];
        while (::read(m_wake[0], drain, sizeof drain) > 0) {
        }
        return 0;
    }
    const ssize_t n = ::recv(m_fd, buffer, size, 0);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;
}

int CTcpClientTransport::Write(const uint8_t* data, size_t size) {
    if (m_fd < 0) return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(m_fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd out{m_fd, POLLOUT, 0};
            if (::poll(&out, 1, kWriteWaitMs) > 0) continue;
        }
        return -1;
    }
    return static_cast<int>(size);
}

}  // namespace handheld
