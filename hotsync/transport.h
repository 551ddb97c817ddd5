// The byte transport under the HotSync stack: the five operations a socket uses (open,
// close, set rate, read with a time-out, write) plus the modem status that the HotSync
// button poll reads, and for ports a handheld connects to (USB, network) the lookup of
// that handheld and its connection. Serial ports, pseudo-terminals, USB, the network
// listener and in-process pipes implement it (session/link/); the protocol stack knows
// only this interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hotsync {

// Which link layers carry DLP over a transport.
enum class Framing {
    kSerial,   // SLP frames, PADP and the CMP handshake
    kNetSync,  // NetSync frames and their handshake
    kDetect,   // either: the handheld's first bytes tell (USB, and serial lines behind a
               // USB-serial driver)
};

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

    // The link layers this port carries.
    virtual Framing LinkFraming() const { return Framing::kSerial; }
    // Ports a handheld connects to (USB, network): whether a handheld has started a
    // HotSync, looking for it during at most budgetMs (0: until one comes; a network
    // listener only looks, it never waits). 1 found (and remembered for Connect), 0 not,
    // -1 when this port has no such lookup (serial lines show the button otherwise).
    virtual int LookForHandheld(int budgetMs) {
        (void)budgetMs;
        return -1;
    }
    // Takes the handheld's connection (opens the USB device found, accepts the network
    // connection), waiting at most timeoutMs. 1 connected, 0 none came, -1 failed. Lines
    // that are always connected return 1.
    virtual int Connect(int timeoutMs) {
        (void)timeoutMs;
        return 1;
    }
    // Drops the handheld's connection but keeps the port (a listener goes on serving).
    virtual void Disconnect() {}
};

}  // namespace hotsync
