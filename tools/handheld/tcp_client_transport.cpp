#include "tools/handheld/tcp_client_transport.h"

#include <cctype>
#include <cerrno>
#include <vector>

namespace handheld {
namespace {

namespace net = ports::net;

constexpr int kConnectWaitMs = 3000;
constexpr int kWriteWaitMs = 10000;
// The wakeup datagram: magic, request type, an unknown byte, the desktop's IPv4 address,
// its netmask, the handheld's idea of the desktop's name.
constexpr uint8_t kWakeupMagic[2] = {0xFA, 0xDE};
constexpr uint8_t kWakeupRequest = 1;
constexpr uint8_t kWakeupReply = 2;

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
    : m_host(std::move(host)),
      m_port(port),
      m_wakeups(wakeups),
      m_wakeupWaitMs(wakeupWaitMs),
      m_waker(std::make_unique<net::CWaker>()) {}

CTcpClientTransport::~CTcpClientTransport() {
    Close();
}

void CTcpClientTransport::SendWakeups() {
    net::Address desktop;
    if (m_port < 2 || !net::Resolve(m_host, uint16_t(m_port - 1), desktop)) return;
    net::Socket socket = net::DatagramSocket(desktop);
    if (socket == net::kNoSocket) return;
    uint8_t address[4] = {0, 0, 0, 0};
    net::Ipv4Bytes(desktop, address);
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
        net::SendTo(socket, datagram.data(), datagram.size(), desktop);
        const net::Socket waiting[] = {socket};
        bool ready[1] = {};
        if (net::Wait(waiting, false, nullptr, m_wakeupWaitMs, ready) != net::WaitResult::kReady) {
            continue;
        }
        uint8_t reply[512];
        net::Address from;
        const int n = net::ReceiveFrom(socket, reply, sizeof reply, from);
        if (n >= 4 && reply[0] == kWakeupMagic[0] && reply[1] == kWakeupMagic[1] &&
            reply[2] == kWakeupReply) {
            ++m_wakeupsAnswered;
            break;
        }
    }
    net::CloseSocket(socket);
}

int CTcpClientTransport::Open() {
    if (m_socket != net::kNoSocket) return 0;
    if (m_wakeups > 0) SendWakeups();
    net::Address desktop;
    if (!net::Resolve(m_host, m_port, desktop)) {
        errno = EHOSTUNREACH;
        return -1;
    }
    m_socket = net::ConnectSocket(desktop, kConnectWaitMs);
    return m_socket == net::kNoSocket ? -1 : 0;
}

void CTcpClientTransport::Close() {
    net::CloseSocket(m_socket);
}

void CTcpClientTransport::Interrupt() {
    if (m_waker) m_waker->Wake();
}

int CTcpClientTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    return net::ReceiveWithin(m_socket, buffer, size, m_waker.get(), timeoutMs);
}

int CTcpClientTransport::Write(const uint8_t* data, size_t size) {
    return net::SendAll(m_socket, data, size, kWriteWaitMs);
}

}  // namespace handheld
