// A USB bus without hardware, for tests: a plugged-in handheld answers the control
// requests from its table, and its bulk endpoints carry bytes to and from a transport,
// usually the desktop end of a pipe whose other end the virtual handheld serves.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "hotsync/transport.h"
#include "session/link/usb_backend.h"
#include "session/link/usb_handheld.h"

namespace ports {

struct FakeUsbDevice {
    uint16_t vendorId = 0x0830;  // a Palm Tungsten
    uint16_t productId = 0x0060;
    std::vector<UsbEndpoint> endpoints = {{0x82, kUsbTransferBulk, 64},
                                          {0x02, kUsbTransferBulk, 64}};
    // Answers to control requests by request code; a request without one is refused.
    std::map<uint8_t, std::vector<uint8_t>> answers;
    bool kernelDriverActive = false;
    bool accessDenied = false;  // opening it fails for want of permission

    // Faults (0: off), counted over the bulk bytes of both directions.
    int64_t stallAfterBytes = 0;  // then the in endpoint stalls
    int64_t goneAfterBytes = 0;   // then the device is unplugged
    bool mute = false;            // bulk reads never bring anything

    // The plain connection information listing these ports, as a handheld answers it.
    FakeUsbDevice& WithConnectionInfo(const std::vector<usb::ConnectionPort>& ports);
    // The extended form with one HotSync port; the endpoint numbers differ when in and
    // out are not the same.
    FakeUsbDevice& WithExtConnectionInfo(
        uint8_t in, uint8_t out, std::array<uint8_t, 4> function = usb::kExtFunctionHotSync);
    // What the model's initialisation asks besides the connection information.
    FakeUsbDevice& WithBytesAvailable();
};

// The bus the fake backends look at; shared by the test and the transport.
class CFakeUsbBus {
  public:
    CFakeUsbBus();
    // Plugs the device in (one at a time); its bulk endpoints carry bytes to and from line.
    void Plug(FakeUsbDevice device, std::unique_ptr<hotsync::ITransport> line);
    void Unplug();

    // What happened on the bus.
    std::vector<uint8_t> ControlRequests() const;  // request codes in order
    bool DriverDetached() const;
    bool Claimed() const;
    int Opens() const;
    std::vector<uint8_t> BulkOutBytes() const;  // everything the desktop wrote

    struct State;  // shared with the backends it hands out

  private:
    friend std::unique_ptr<IUsbBackend> CreateFakeUsbBackend(std::shared_ptr<CFakeUsbBus> bus);
    std::shared_ptr<State> m_state;
};

std::unique_ptr<IUsbBackend> CreateFakeUsbBackend(std::shared_ptr<CFakeUsbBus> bus);

}  // namespace ports
