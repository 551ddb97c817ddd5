// The serial transport: a POSIX terminal device (a cradle's serial port, or the slave side
// of a pseudo-terminal) with the fixed HotSync line settings.
#pragma once

#include <string>

#include "hotsync/transport.h"

namespace ports {

class CSerialTransport final : public hotsync::ITransport {
  public:
    explicit CSerialTransport(std::string devicePath);
    ~CSerialTransport() override;
    CSerialTransport(const CSerialTransport&) = delete;
    CSerialTransport& operator=(const CSerialTransport&) = delete;

    // Opens the device for reading and writing, exclusively. On failure errno tells why
    // (ENOENT missing, EACCES not allowed, EBUSY held exclusively by another program).
    int Open() override;
    void Close() override;
    // 8N1, DTR on, no software flow control; above 9,600 bit/s CTS output flow control with
    // RTS handshaking, at 9,600 RTS simply on. Rates without a standard speed constant
    // (128,000, 256,000) are set through the kernel's arbitrary-rate interface; a
    // pseudo-terminal takes any rate. Output still queued goes out first (within the write
    // time-out), then both directions are purged.
    int SetRate(int bitsPerSecond) override;
    // Waits at most timeoutMs for the first byte, then keeps collecting while bytes follow
    // within the inter-byte interval (2,000 ms) until size bytes or the total budget of
    // 15 ms per byte + 500 ms is used up.
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    bool ReadModemStatus(bool& cts) override;
    int BytesWaiting() override;
    void Interrupt() override;
    int NativeHandle() const override { return m_fd; }

    const std::string& DevicePath() const { return m_path; }
    // Whether the device has modem lines (false on a pseudo-terminal).
    bool HasModemLines() const;
    int CurrentRate() const { return m_rate; }

  private:
    std::string m_path;
    int m_fd = -1;
    int m_wakePipe[2] = {-1, -1};  // Interrupt() writes here to end a waiting Read
    int m_rate = 0;
};

}  // namespace ports
