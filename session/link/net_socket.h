// The system's sockets as the network transport needs them, one implementation per system
// (net_socket_posix.cpp, net_socket_win32.cpp): non-blocking sockets that child programs do
// not inherit, and a waker that ends a wait from another thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace ports::net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A socket address of any family, as the system lays it out.
struct Address {
    std::array<uint8_t, 128> bytes{};
    uint32_t length = 0;
};

// The first address of a host and port for listening; false when there is none.
bool Resolve(const std::string& host, uint16_t port, Address& address);
// The address with another port.
Address WithPort(const Address& address, uint16_t port);
// A non-blocking socket bound to the address (a stream or a datagram socket), reusing an
// address a finished connection still holds; kNoSocket on failure.
Socket BindSocket(const Address& address, bool stream);
bool Listen(Socket socket, int backlog);
uint16_t LocalPort(Socket socket);
// The next waiting connection, non-blocking and without delaying small writes. kNoSocket
// with again set when none is waiting (or one gave up before it was taken).
Socket Accept(Socket listener, bool& again);
// A connection to the address, made within timeoutMs, non-blocking and without delaying small
// writes; kNoSocket with errno set (ECONNREFUSED, ETIMEDOUT, ...) when none is made.
Socket ConnectSocket(const Address& address, int timeoutMs);
// An unbound datagram socket of the address's family, non-blocking.
Socket DatagramSocket(const Address& like);
// The IPv4 address's four bytes; false for another family.
bool Ipv4Bytes(const Address& address, uint8_t bytes[4]);
// Bytes received (> 0), 0 when none are there yet, -1 when the peer hung up or it failed.
int Receive(Socket socket, uint8_t* buffer, size_t size);
// Bytes sent (> 0), 0 when the system cannot take more yet, -1 on failure.
int Send(Socket socket, const uint8_t* data, size_t size);
// One datagram waiting (its length, its sender in from), -1 when none.
int ReceiveFrom(Socket socket, uint8_t* buffer, size_t size, Address& from);
void SendTo(Socket socket, const uint8_t* data, size_t size, const Address& to);
void CloseSocket(Socket& socket);
// The socket as a descriptor the C library can wait on (POSIX), -1 where there is none.
int PollableHandle(Socket socket);

class CWaker;
enum class WaitResult { kFailed, kTimedOut, kWoken, kReady };

// Waits at most timeoutMs until a socket is readable (or writable, forWrite), or the waker
// wakes (which is then consumed). kReady with ready[i] set for each ready socket; kTimedOut
// also when a signal ended the wait.
WaitResult Wait(std::span<const Socket> sockets, bool forWrite, CWaker* waker, int timeoutMs,
                std::span<bool> ready);

// A connection's byte stream as a transport reads and writes it, over the calls above.
// Receives what is there within timeoutMs: bytes (> 0), 0 when none came or the waker woke,
// -1 when the peer hung up or it failed.
int ReceiveWithin(Socket socket, uint8_t* buffer, size_t size, CWaker* waker, int timeoutMs);
// Sends all bytes, waiting at most waitMs each time the system can take no more; the count,
// or -1 on failure.
int SendAll(Socket socket, const uint8_t* data, size_t size, int waitMs);

// Ends a wait of another thread: each Wake ends one wait, or the next one.
class CWaker {
  public:
    CWaker();
    ~CWaker();
    CWaker(const CWaker&) = delete;
    CWaker& operator=(const CWaker&) = delete;
    bool Valid() const { return m_read != kNoSocket; }
    void Wake();

  private:
    friend WaitResult Wait(std::span<const Socket>, bool, CWaker*, int, std::span<bool>);
    void Drain();

    Socket m_read = kNoSocket;
    Socket m_write = kNoSocket;
};

}  // namespace ports::net
