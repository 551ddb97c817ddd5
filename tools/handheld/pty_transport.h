// The master side of a pseudo-terminal as a byte transport: the virtual handheld's end
// of a "cable" whose other end (the slave device) a desktop program opens as a serial port.
#pragma once

#include <string>

#include "hotsync/transport.h"

namespace handheld {

class CPtyTransport final : public hotsync::ITransport {
  public:
    CPtyTransport() = default;
    ~CPtyTransport() override;
    CPtyTransport(const CPtyTransport&) = delete;
    CPtyTransport& operator=(const CPtyTransport&) = delete;

    // Creates the pseudo-terminal (raw mode). Returns 0, or -1 with errno set.
    int Open() override;
    void Close() override;
    int SetRate(int bitsPerSecond) override;
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    int BytesWaiting() override;
    void Interrupt() override;

    // The slave's path, e.g. /dev/pts/5; empty until opened.
    const std::string& SlavePath() const { return m_strSlave; }

  private:
    int m_master = -1;
    int m_slave = -1;  // kept open so the master never reads EIO before the desktop opens it
    int m_wake[2] = {-1, -1};
    std::string m_strSlave;
};

}  // namespace handheld
