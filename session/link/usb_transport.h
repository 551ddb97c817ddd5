// The USB transport: finds a Palm OS handheld that has started a HotSync on the bus, brings
// it to talk, and carries the link's bytes over its bulk endpoints. The device is not held
// between polls: the lookup opens and closes it, the pipes open when the connection is
// taken, and closing forgets the device, so a new session must find it again.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "hotsync/transport.h"
#include "session/link/usb_backend.h"
#include "session/link/usb_handheld.h"

namespace ports {

class CUsbTransport final : public hotsync::ITransport {
  public:
    explicit CUsbTransport(std::unique_ptr<IUsbBackend> backend);
    ~CUsbTransport() override;
    CUsbTransport(const CUsbTransport&) = delete;
    CUsbTransport& operator=(const CUsbTransport&) = delete;

    // Starts the USB service; -1 with errno 2 when USB cannot be used at all.
    int Open() override;
    // Closes the pipes and forgets the device.
    void Close() override;
    int SetRate(int) override { return 0; }  // a rate means nothing on USB
    // Hands out bytes read ahead, else reads one bulk transfer of up to 1024 bytes and keeps
    // what is not asked for. A stalled endpoint or a device that went away fails the read
    // (and the device is forgotten).
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    // In bulk transfers of at most 4096 bytes.
    int Write(const uint8_t* data, size_t size) override;
    void Interrupt() override;

    hotsync::Framing LinkFraming() const override { return hotsync::Framing::kDetect; }
    // Looks at the bus every 100 ms while the budget lasts (it shrinks by 100 after each
    // miss; 0 looks until a device comes or Interrupt): a known model whose initialisation
    // shows its HotSync function is remembered for Connect.
    int LookForHandheld(int budgetMs) override;
    // Opens the remembered device's pipes (looking for one first when none is), taking the
    // interface from the kernel's driver when it holds it.
    int Connect(int timeoutMs) override;
    void Disconnect() override { Forget(); }

    // The model the last lookup found; null when none is remembered.
    const usb::Model* FoundModel() const { return m_found ? m_found->model : nullptr; }

  private:
    struct Found {
        UsbDeviceInfo info;
        const usb::Model* model = nullptr;
        usb::Pipes pipes;
    };

    static int Checked(int bytesRead);
    bool LookOnce();
    int OpenPipes();
    void Forget();
    // A transfer failed for good: clears a stall, then gives the device up.
    void Fail(int error, uint8_t endpoint);

    std::unique_ptr<IUsbBackend> m_backend;
    bool m_open = false;
    bool m_accessReported = false;
    std::set<std::string> m_unusableReported;  // devices already said to be unusable
    std::optional<Found> m_found;
    std::unique_ptr<IUsbDevice> m_device;  // open pipes
    static constexpr size_t kReadBufferSize = 1024;
    std::unique_ptr<std::array<uint8_t, kReadBufferSize>> m_buffer;  // allocated on first use
    size_t m_buffered = 0;
    size_t m_next = 0;
    std::atomic<bool> m_interrupted{false};
};

}  // namespace ports
