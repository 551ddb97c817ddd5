#include "session/link/net_transport.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>

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
    if (m_listener != net::kNoSocket) return 0;
    net::Address address;
    if (!net::Resolve(m_endpoint.host, m_endpoint.port, address)) {
        errno = ENOENT;
        return -1;
    }
    m_listener = net::BindSocket(address, true);
    m_waker = std::make_unique<net::CWaker>();
    if (m_listener == net::kNoSocket || !net::Listen(m_listener, kListenBacklog) ||
        !m_waker->Valid()) {
        Close();
        errno = ENOENT;
        return -1;
    }
    m_port = net::LocalPort(m_listener);

    // The wakeup is answered on the port below the listening one (14237 below 14238).
    if (m_port > 1) {
        m_wakeup = net::BindSocket(net::WithPort(address, uint16_t(m_port - 1)), false);
        m_wakeupPort = m_wakeup != net::kNoSocket ? uint16_t(m_port - 1) : 0;
    }
    return 0;
}

void CNetListenTransport::Close() {
    Disconnect();
    net::CloseSocket(m_listener);
    net::CloseSocket(m_wakeup);
    m_waker.reset();
    m_port = m_wakeupPort = 0;
}

void CNetListenTransport::Disconnect() {
    net::CloseSocket(m_connection);
}

void CNetListenTransport::Interrupt() {
    if (m_waker) m_waker->Wake();
}

bool CNetListenTransport::AnswerWakeups() {
    bool answered = false;
    while (m_wakeup != net::kNoSocket) {
        uint8_t datagram[kMaxDatagram];
        net::Address from;
        const int n = net::ReceiveFrom(m_wakeup, datagram, sizeof datagram, from);
        if (n < 0) break;
        const auto reply = hotsync::netsync::AnswerWakeup({datagram, size_t(n)});
        if (!reply) continue;
        net::SendTo(m_wakeup, reply->data(), reply->size(), from);
        answered = true;
    }
    return answered;
}

int CNetListenTransport::LookForHandheld(int) {
    if (m_listener == net::kNoSocket) return 0;
    if (m_connection != net::kNoSocket) return 1;
    const bool woke = AnswerWakeups();
    const net::Socket listener[] = {m_listener};
    bool ready[1] = {};
    if (net::Wait(listener, false, nullptr, 0, ready) == net::WaitResult::kReady && ready[0]) {
        return 1;
    }
    return woke ? 1 : 0;
}

int CNetListenTransport::Connect(int timeoutMs) {
    if (m_listener == net::kNoSocket) return -1;
    if (m_connection != net::kNoSocket) return 1;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        bool again = false;
        const net::Socket connection = net::Accept(m_listener, again);
        if (connection != net::kNoSocket) {
            m_connection = connection;
            return 1;
        }
        if (!again) return -1;
        const int left = MsUntil(deadline);
        if (left <= 0) return 0;
        const net::Socket both[] = {m_listener, m_wakeup};
        bool ready[2] = {};
        const auto waited = net::Wait(std::span(both, m_wakeup != net::kNoSocket ? 2 : 1), false,
                                      m_waker.get(), left, ready);
        if (waited == net::WaitResult::kFailed) return -1;
        if (waited == net::WaitResult::kWoken) return 0;
        if (m_wakeup != net::kNoSocket && ready[1]) AnswerWakeups();
    }
}

int CNetListenTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    return net::ReceiveWithin(m_connection, buffer, size, m_waker.get(), timeoutMs);
}

int CNetListenTransport::Write(const uint8_t* data, size_t size) {
    return net::SendAll(m_connection, data, size, kWriteWaitMs);
}

}  // namespace ports
