// The network transport: the desktop's NetSync listener on TCP (14238 unless told
// otherwise) and its answer to the handheld's UDP wakeup on the port below it. Emulators and
// Wi-Fi handhelds connect to it; one connection is served at a time, and a refused or
// finished one leaves the listener serving the next.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hotsync/transport.h"
#include "session/link/net_socket.h"

namespace ports {

struct NetEndpoint {
    std::string host;   // a name or an address; IPv6 without brackets
    uint16_t port = 0;  // 0: any free port (tests)
};

// "NET" is the loopback address on the HotSync port: emulators run on the same machine,
// and a listener on every interface would take any machine on the network for a handheld.
// "net:ADDRESS:PORT" (or "net:ADDRESS", "net:[IPv6]:PORT") names another; "net:0.0.0.0:14238"
// opens it to the network. Nothing for any other text or a bad one.
std::optional<NetEndpoint> ParseNetPort(const std::string& portName);

class CNetListenTransport final : public hotsync::ITransport {
  public:
    explicit CNetListenTransport(NetEndpoint endpoint);
    ~CNetListenTransport() override;
    CNetListenTransport(const CNetListenTransport&) = delete;
    CNetListenTransport& operator=(const CNetListenTransport&) = delete;

    // Listens; -1 with errno 2 when the address cannot be listened on (in use, unknown).
    // The wakeup port is optional: when it is taken, handhelds simply connect.
    int Open() override;
    void Close() override;
    int SetRate(int) override { return 0; }
    // From the accepted connection; a peer that hung up fails the read.
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    void Interrupt() override;
    int NativeHandle() const override {
        return net::PollableHandle(m_connection != net::kNoSocket ? m_connection : m_listener);
    }

    hotsync::Framing LinkFraming() const override { return hotsync::Framing::kNetSync; }
    // Answers waiting wakeups and looks for a waiting connection, without waiting: either
    // counts as the handheld's press.
    int LookForHandheld(int budgetMs) override;
    // Accepts the next connection (answering wakeups meanwhile) within timeoutMs.
    int Connect(int timeoutMs) override;
    void Disconnect() override;

    uint16_t ListeningPort() const { return m_port; }
    uint16_t WakeupPort() const { return m_wakeupPort; }  // 0: not answering wakeups

  private:
    bool AnswerWakeups();

    NetEndpoint m_endpoint;
    net::Socket m_listener = net::kNoSocket;
    net::Socket m_wakeup = net::kNoSocket;
    net::Socket m_connection = net::kNoSocket;
    std::unique_ptr<net::CWaker> m_waker;  // Interrupt() ends a wait with it
    uint16_t m_port = 0;
    uint16_t m_wakeupPort = 0;
};

}  // namespace ports
