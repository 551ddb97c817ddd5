// The serial transport on Windows: a communication port ("\\.\COM1") through the system's
// communication services, with the fixed HotSync line settings and time-outs.
#pragma once

#include <array>
#include <chrono>
#include <string>

#include "hotsync/transport.h"

namespace ports {

class CComPortTransport final : public hotsync::ITransport {
  public:
    explicit CComPortTransport(std::string devicePath);
    ~CComPortTransport() override;
    CComPortTransport(const CComPortTransport&) = delete;
    CComPortTransport& operator=(const CComPortTransport&) = delete;

    // Opens the port for reading and writing, not shared, with 4,096-byte driver queues. On
    // failure errno is platform::kSystemErrorBase + the system's reason. A port whose open
    // does not return within kOpenWaitMs (a Bluetooth port that never answers) fails as timed
    // out; the open finishes on its own, and the port is closed again, meanwhile.
    int Open() override;
    // Lets queued output go (within the write time-out), purges, closes.
    void Close() override;
    // Time-outs: read interval 2,000 ms, read and write total 15 ms per byte + 500 ms. Line:
    // the rate, 8N1, DTR on, no DSR flow control, no XON/XOFF; above 9,600 bit/s CTS output
    // flow control with RTS handshaking, at 9,600 RTS simply on; XON limit 2,048, XOFF limit
    // 512; no error, end-of-file or event character. Output still queued goes out first;
    // both directions are purged, except that the first setting after Open keeps the input,
    // which holds only what the handheld has sent already.
    int SetRate(int bitsPerSecond) override;
    // Reads what the caller needs under the port's time-outs (all of it, a pause of the read
    // interval after a byte, or the read total); the caller's time-out only bounds the wait
    // beyond them. Interrupt ends it early. When the port holds more than the caller needs,
    // all of it is read at once and handed out over the next calls.
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    bool ReadModemStatus(bool& cts) override;
    int BytesWaiting() override;
    void Interrupt() override;
    // A handheld behind a USB-serial driver may speak NetSync frames on the line.
    hotsync::Framing LinkFraming() const override { return hotsync::Framing::kDetect; }

    static constexpr int kOpenWaitMs = 3000;

  private:
    // One overlapped read or write, waited for at most waitMs: the bytes moved, or -1 on
    // failure; ended early (and cancelled) by Interrupt.
    int Transfer(bool write, void* data, size_t size, int waitMs);
    bool DrainOutput();
    void Purge(bool keepInput);
    bool HasModemLines() const;

    std::string m_path;
    void* m_hPort = nullptr;       // the port's handle (HANDLE), null when closed
    void* m_hInterrupt = nullptr;  // auto-reset event that ends a wait
    void* m_hIoDone = nullptr;     // the transfers' event (each transfer resets it)
    int m_rate = 0;
    std::chrono::steady_clock::time_point m_sendEnd{};
    // Bytes read ahead of the caller, handed out first.
    std::array<uint8_t, 4096> m_ahead{};
    size_t m_aheadNext = 0;
    size_t m_aheadEnd = 0;
};

}  // namespace ports
