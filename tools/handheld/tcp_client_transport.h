// The network handheld's line: a TCP connection to a desktop's NetSync port, made anew for
// every sync, optionally after the UDP wakeups a handheld sends to find its desktop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hotsync/transport.h"
#include "session/link/net_socket.h"

namespace handheld {

// "HOST:PORT" (or "[IPv6]:PORT"); false when the text is not one.
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port);

class CTcpClientTransport final : public hotsync::ITransport {
  public:
    // wakeups: UDP wakeups sent to port - 1 before each connection (a handheld tries up to
    // three, waiting wakeupWaitMs for each answer, then connects anyway).
    CTcpClientTransport(std::string host, uint16_t port, int wakeups = 0, int wakeupWaitMs = 1000);
    ~CTcpClientTransport() override;
    CTcpClientTransport(const CTcpClientTransport&) = delete;
    CTcpClientTransport& operator=(const CTcpClientTransport&) = delete;

    // Connects (after the wakeups). 0, or -1 with errno set when no desktop listens.
    int Open() override;
    // Hangs up.
    void Close() override;
    int SetRate(int) override { return 0; }
    // A desktop that hung up fails the read.
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    void Interrupt() override;

    int WakeupsAnswered() const { return m_wakeupsAnswered; }

  private:
    void SendWakeups();

    std::string m_host;
    uint16_t m_port;
    int m_wakeups;
    int m_wakeupWaitMs;
    ports::net::Socket m_socket = ports::net::kNoSocket;
    std::unique_ptr<ports::net::CWaker> m_waker;  // Interrupt() ends a read with it
    int m_wakeupsAnswered = 0;
};

}  // namespace handheld
