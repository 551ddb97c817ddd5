// Sockets on Windows (Winsock 2).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

#include "session/link/net_address.h"
#include "session/link/net_socket.h"

namespace ports::net {
namespace {

SOCKET Handle(Socket socket) {
    return static_cast<SOCKET>(socket);
}

// Winsock is started once, on first use, and stays for the process.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// A non-blocking socket that child programs do not inherit.
Socket NewSocket(int family, int type) {
    if (!StartWinsock()) return kNoSocket;
    const SOCKET s = ::WSASocketW(family, type, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return kNoSocket;
    u_long on = 1;
    if (::ioctlsocket(s, FIONBIO, &on) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    return static_cast<Socket>(s);
}

bool WouldBlock() {
    const int code = ::WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAEINTR;
}

}  // namespace

bool Resolve(const std::string& host, uint16_t port, Address& address) {
    return StartWinsock() && ResolveFirst(host, port, address);
}

Socket BindSocket(const Address& address, bool stream) {
    Socket s = NewSocket(AsSockaddr(address)->sa_family, stream ? SOCK_STREAM : SOCK_DGRAM);
    if (s == kNoSocket) return kNoSocket;
    // No SO_REUSEADDR: on Windows it would let a second program take a port in use. Windows
    // lets a listener take a port whose earlier connections still wait in TIME_WAIT anyway.
    if (::bind(Handle(s), AsSockaddr(address), static_cast<int>(address.length)) != 0) {
        CloseSocket(s);
        return kNoSocket;
    }
    return s;
}

bool Listen(Socket socket, int backlog) {
    return ::listen(Handle(socket), backlog) == 0;
}

uint16_t LocalPort(Socket socket) {
    Address bound;
    int length = static_cast<int>(bound.bytes.size());
    if (::getsockname(Handle(socket), AsSockaddr(bound), &length) != 0) return 0;
    return PortOf(AsSockaddr(bound));
}

Socket Accept(Socket listener, bool& again) {
    const SOCKET s = ::accept(Handle(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        const int code = ::WSAGetLastError();
        again = code == WSAEWOULDBLOCK || code == WSAECONNRESET || code == WSAEINTR;
        return kNoSocket;
    }
    // Accepted sockets take the listener's non-blocking mode; say it anyway.
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    // Requests and answers are small and go one at a time: no waiting for more.
    const BOOL noDelay = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    again = false;
    return static_cast<Socket>(s);
}

Socket ConnectSocket(const Address& address, int timeoutMs) {
    Socket s = NewSocket(AsSockaddr(address)->sa_family, SOCK_STREAM);
    if (s == kNoSocket) return kNoSocket;
    if (::connect(Handle(s), AsSockaddr(address), static_cast<int>(address.length)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            CloseSocket(s);
            errno = ECONNREFUSED;
            return kNoSocket;
        }
        // A refused connection shows as an error on the socket, a made one as writable.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(Handle(s), &writable);
        FD_SET(Handle(s), &failed);
        timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        const int ready = ::select(0, nullptr, &writable, &failed, &wait);
        if (ready <= 0 || FD_ISSET(Handle(s), &failed)) {
            CloseSocket(s);
            errno = ready == 0 ? ETIMEDOUT : ECONNREFUSED;
            return kNoSocket;
        }
    }
    const BOOL noDelay = TRUE;
    ::setsockopt(Handle(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    return s;
}

Socket DatagramSocket(const Address& like) {
    return NewSocket(AsSockaddr(like)->sa_family, SOCK_DGRAM);
}

int Receive(Socket socket, uint8_t* buffer, size_t size) {
    const int n =
        ::recv(Handle(socket), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && WouldBlock()) return 0;
    return -1;  // the peer hung up, or the connection failed
}

int Send(Socket socket, const uint8_t* data, size_t size) {
    const int n =
        ::send(Handle(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && WouldBlock()) return 0;
    return -1;
}

int ReceiveFrom(Socket socket, uint8_t* buffer, size_t size, Address& from) {
    int length = static_cast<int>(from.bytes.size());
    const int n = ::recvfrom(Handle(socket), reinterpret_cast<char*>(buffer),
                             static_cast<int>(size), 0, AsSockaddr(from), &length);
    if (n < 0) return -1;
    from.length = static_cast<uint32_t>(length);
    return n;
}

void SendTo(Socket socket, const uint8_t* data, size_t size, const Address& to) {
    ::sendto(Handle(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
             AsSockaddr(to), static_cast<int>(to.length));
}

void CloseSocket(Socket& socket) {
    if (socket != kNoSocket) ::closesocket(Handle(socket));
    socket = kNoSocket;
}

int PollableHandle(Socket) {
    return -1;
}

// A datagram socket on the loopback address that sends to itself: the one wait Winsock
// offers over sockets (WSAPoll) then covers it too.
CWaker::CWaker() {
    Address self;
    if (!Resolve("127.0.0.1", 0, self)) return;
    m_read = BindSocket(self, false);
    if (m_read == kNoSocket) return;
    m_write = m_read;
}

CWaker::~CWaker() {
    CloseSocket(m_read);
    m_write = kNoSocket;
}

void CWaker::Wake() {
    if (m_write == kNoSocket) return;
    Address self;
    if (!Resolve("127.0.0.1", LocalPort(m_read), self)) return;
    const uint8_t wake = 1;
    SendTo(m_write, &wake, 1, self);
}

void CWaker::Drain() {
    uint8_t drain[16];
    Address from;
    while (ReceiveFrom(m_read, drain, sizeof drain, from) >= 0) {
    }
}

WaitResult Wait(std::span<const Socket> sockets, bool forWrite, CWaker* waker, int timeoutMs,
                std::span<bool> ready) {
    WSAPOLLFD fds[4] = {};
    ULONG n = 0;
    for (const Socket socket : sockets) {
        if (n < 3) fds[n++] = {Handle(socket), short(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    }
    const ULONG wakerAt = n;
    if (waker && waker->Valid()) fds[n++] = {Handle(waker->m_read), POLLRDNORM, 0};
    const int result = ::WSAPoll(fds, n, timeoutMs < 0 ? 0 : timeoutMs);
    if (result < 0) return WaitResult::kFailed;
    if (result == 0) return WaitResult::kTimedOut;
    if (wakerAt < n && (fds[wakerAt].revents & POLLRDNORM)) {
        waker->Drain();
        return WaitResult::kWoken;
    }
    for (ULONG i = 0; i < wakerAt && i < ready.size(); ++i) ready[i] = fds[i].revents != 0;
    return WaitResult::kReady;
}

}  // namespace ports::net
