// The USB transport through the handheld vendor's driver: its device is looked for by name,
// asked for its connection information, and the link's bytes go through two pipe files
// beside it. The driver does the handheld's initialisation itself, so no model rules apply
// here; the first bytes tell the framing.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "hotsync/transport.h"
#include "session/link/win_usb_drivers.h"

namespace ports {

inline constexpr const char* kVendorUsbDevice = "\\\\.\\LegoUSB";
inline constexpr const char* kVendorReadPipe = "PIPE02";
inline constexpr const char* kVendorWritePipe = "PIPE03";
inline constexpr uint32_t kVendorConnectionInfoIoctl = 0x220024;

class CVendorUsbTransport final : public hotsync::ITransport {
  public:
    explicit CVendorUsbTransport(std::unique_ptr<win::IVendorUsbDriver> driver);
    ~CVendorUsbTransport() override;
    CVendorUsbTransport(const CVendorUsbTransport&) = delete;
    CVendorUsbTransport& operator=(const CVendorUsbTransport&) = delete;

    // Loads SetupAPI: -1 with errno 2 when it (or one of its four functions) is missing.
    int Open() override;
    // Forgets the device path, closes both pipes, unloads SetupAPI.
    void Close() override;
    int SetRate(int) override { return 0; }
    // Hands out bytes read ahead, else reads one block of up to 1024 bytes from the read pipe
    // and keeps what is not asked for. 0 when nothing came within the time-out (0 ms: 3 s).
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    void Interrupt() override { m_interrupted = true; }

    hotsync::Framing LinkFraming() const override { return hotsync::Framing::kDetect; }
    // Opens the driver's device every 100 ms while the budget lasts (it shrinks by 100 after
    // each miss; 0 looks until a device comes or Interrupt) and asks its connection
    // information: a HotSync function in it makes the device path known.
    int LookForHandheld(int budgetMs) override;
    int Connect(int timeoutMs) override;
    void Disconnect() override { Forget(); }

    const std::string& DevicePath() const { return m_devicePath; }

  private:
    bool LookOnce();
    bool OpenPipes();
    void Forget();

    std::unique_ptr<win::IVendorUsbDriver> m_driver;
    bool m_loaded = false;
    std::string m_devicePath;  // empty while no handheld is known
    win::Handle m_readPipe = win::kNoHandle;
    win::Handle m_writePipe = win::kNoHandle;
    static constexpr size_t kReadBufferSize = 1024;
    std::unique_ptr<std::array<uint8_t, kReadBufferSize>> m_buffer;  // allocated on first use
    size_t m_buffered = 0;
    size_t m_next = 0;
    std::atomic<bool> m_interrupted{false};
};

}  // namespace ports
