// The byte transport under the serial link protocol: the five operations a socket
// uses (open, close, set rate, read with a time-out, write) plus the modem status
// that the HotSync button poll reads. Serial ports, pseudo-terminals and in-process
// pipes implement it (session/link/); the protocol stack knows only this interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hotsync {

class ITransport {
  public:
    virtual ~ITransport() = default;

    // Opens the port. Returns 0, or -1 with errno set to the reason (ENOENT when missing).
    virtual int Open() = 0;
    // Flushes and releases the port. Harmless when not open.
    virtual void Close() = 0;
    // Applies a line rate in bit/s with the fixed line settings. Returns 0 or -1.
    virtual int SetRate(int bitsPerSecond) = 0;
    // Reads up to size bytes, waiting at most timeoutMs for the first of them.
    // Returns the number of bytes read (> 0), 0 on time-out, -1 on failure.
    virtual int Read(uint8_t* buffer, size_t size, int timeoutMs) = 0;
    // Writes all bytes unless the port fails. Returns the number written, -1 on failure.
    virtual int Write(const uint8_t* data, size_t size) = 0;

    // Modem lines, for the HotSync button: true when the port has them, with the
    // clear-to-send state in cts. Ports without modem lines return false.
    virtual bool ReadModemStatus(bool& cts) {
        cts = false;
        return false;
    }
    // Bytes that can be read at once without waiting (-1 when unknown). On a port
    // without modem lines, bytes waiting stand in for the button.
    virtual int BytesWaiting() { return -1; }
    // Wakes a reader or a modem-event wait of another thread (used when closing).
    virtual void Interrupt() {}
    // The operating system's handle of the port (a file descriptor), -1 when there is none.
    virtual int NativeHandle() const { return -1; }
};

}  // namespace hotsync
