// Sockets on POSIX systems.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "session/link/net_address.h"
#include "session/link/net_socket.h"

namespace ports::net {
namespace {

int Fd(Socket socket) {
    return static_cast<int>(socket);
}

}  // namespace

bool Resolve(const std::string& host, uint16_t port, Address& address) {
    return ResolveFirst(host, port, address);
}

Socket BindSocket(const Address& address, bool stream) {
    const int fd = ::socket(AsSockaddr(address)->sa_family,
                            (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    const int on = 1;
    // A listener of an earlier session may leave connections in TIME_WAIT behind.
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, AsSockaddr(address), address.length) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    return fd;
}

bool Listen(Socket socket, int backlog) {
    return ::listen(Fd(socket), backlog) == 0;
}

uint16_t LocalPort(Socket socket) {
    Address bound;
    socklen_t length = bound.bytes.size();
    if (::getsockname(Fd(socket), AsSockaddr(bound), &length) != 0) return 0;
    return PortOf(AsSockaddr(bound));
}

Socket Accept(Socket listener, bool& again) {
    const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        again = errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR;
        return kNoSocket;
    }
    // Requests and answers are small and go one at a time: no waiting for more.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    again = false;
    return fd;
}

Socket ConnectSocket(const Address& address, int timeoutMs) {
    const int fd =
        ::socket(AsSockaddr(address)->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    if (::connect(fd, AsSockaddr(address), address.length) != 0) {
        if (errno != EINPROGRESS) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return kNoSocket;
        }
        pollfd out{fd, POLLOUT, 0};
        int error = 0;
        socklen_t errorLength = sizeof error;
        if (::poll(&out, 1, timeoutMs) <= 0 ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0 || error != 0) {
            ::close(fd);
            errno = error != 0 ? error : ETIMEDOUT;
            return kNoSocket;
        }
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

Socket DatagramSocket(const Address& like) {
    const int fd =
        ::socket(AsSockaddr(like)->sa_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

int Receive(Socket socket, uint8_t* buffer, size_t size) {
    const ssize_t n = ::recv(Fd(socket), buffer, size, 0);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;  // the peer hung up, or the connection failed
}

int Send(Socket socket, const uint8_t* data, size_t size) {
    const ssize_t n = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;
}

int ReceiveFrom(Socket socket, uint8_t* buffer, size_t size, Address& from) {
    socklen_t length = from.bytes.size();
    const ssize_t n = ::recvfrom(Fd(socket), buffer, size, MSG_DONTWAIT, AsSockaddr(from), &length);
    if (n < 0) return -1;
    from.length = length;
    return static_cast<int>(n);
}

void SendTo(Socket socket, const uint8_t* data, size_t size, const Address& to) {
    ::sendto(Fd(socket), data, size, MSG_DONTWAIT, AsSockaddr(to), to.length);
}

void CloseSocket(Socket& socket) {
    if (socket != kNoSocket) ::close(Fd(socket));
    socket = kNoSocket;
}

int PollableHandle(Socket socket) {
    return Fd(socket);
}

CWaker::CWaker() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_read = ends[0];
        m_write = ends[1];
    }
}

CWaker::~CWaker() {
    CloseSocket(m_read);
    CloseSocket(m_write);
}

void CWaker::Wake() {
    if (m_write == kNoSocket) return;
    const uint8_t wake = 1;
    [[maybe_unused]] const ssize_t n = ::write(Fd(m_write), &wake, 1);
}

void CWaker::Drain() {
    uint8_t drain[16];
    while (::read(Fd(m_read), drain, sizeof drain) > 0) {
    }
}

WaitResult Wait(std::span<const Socket> sockets, bool forWrite, CWaker* waker, int timeoutMs,
                std::span<bool> ready) {
    pollfd fds[4] = {};
    size_t n = 0;
    for (const Socket socket : sockets) {
        if (n < 3) fds[n++] = {Fd(socket), short(forWrite ? POLLOUT : POLLIN), 0};
    }
    const size_t wakerAt = n;
    if (waker && waker->Valid()) fds[n++] = {Fd(waker->m_read), POLLIN, 0};
    const int result = ::poll(fds, n, timeoutMs < 0 ? 0 : timeoutMs);
    if (result < 0) return errno == EINTR ? WaitResult::kTimedOut : WaitResult::kFailed;
    if (result == 0) return WaitResult::kTimedOut;
    if (wakerAt < n && (fds[wakerAt].revents & POLLIN)) {
        waker->Drain();
        return WaitResult::kWoken;
    }
    for (size_t i = 0; i < wakerAt && i < ready.size(); ++i) ready[i] = fds[i].revents != 0;
    return WaitResult::kReady;
}

}  // namespace ports::net
