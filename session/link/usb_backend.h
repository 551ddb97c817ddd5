// The USB services the USB transport needs, behind an interface: the real one is libusb,
// a fake one plugs a simulated handheld in for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ports {

// Results of the calls below besides byte counts.
inline constexpr int kUsbErrIo = -1;
inline constexpr int kUsbErrAccess = -3;    // no permission to open the device
inline constexpr int kUsbErrNoDevice = -4;  // the device is gone
inline constexpr int kUsbErrBusy = -6;      // another driver or program holds the interface
inline constexpr int kUsbErrTimeout = -7;
inline constexpr int kUsbErrPipe = -9;  // the endpoint stalled (or a control request was refused)

inline constexpr uint8_t kUsbEndpointIn = 0x80;  // direction bit of an endpoint address
inline constexpr uint8_t kUsbEndpointNumberMask = 0x0F;
inline constexpr uint8_t kUsbEndpointReservedMask = 0x70;  // never set in a sound address
inline constexpr uint8_t kUsbTransferTypeMask = 0x03;
inline constexpr uint8_t kUsbTransferBulk = 0x02;
inline constexpr uint8_t kUsbTransferInterrupt = 0x03;

struct UsbEndpoint {
    uint8_t address = 0;     // number, with kUsbEndpointIn for an in endpoint
    uint8_t attributes = 0;  // transfer type in the low two bits
    uint16_t maxPacketSize = 0;
};

// A device on the bus, as its descriptors describe it.
struct UsbDeviceInfo {
    std::string key;       // tells it apart from the other devices on the bus
    std::string location;  // where it is plugged in: bus and hub ports, "1-1.4"
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int interfaceNumber = 0;             // the first interface of the first configuration
    std::vector<UsbEndpoint> endpoints;  // of that interface's first alternate setting
};

// An opened device. Transfers return the bytes moved (on a time-out those that moved
// before it, possibly 0) or one of the errors above; never more than was asked for.
class IUsbDevice {
  public:
    virtual ~IUsbDevice() = default;
    // A control transfer from the device: the bytes received into data.
    virtual int ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                          uint8_t* data, uint16_t length, int timeoutMs) = 0;
    virtual bool KernelDriverActive(int interfaceNumber) = 0;
    virtual int DetachKernelDriver(int interfaceNumber) = 0;
    virtual int ClaimInterface(int interfaceNumber) = 0;
    virtual void ReleaseInterface(int interfaceNumber) = 0;
    virtual int BulkIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) = 0;
    virtual int BulkOut(uint8_t endpoint, const uint8_t* data, int length, int timeoutMs) = 0;
    // What an interrupt endpoint carries (some units tell their HotSync endpoints there).
    virtual int InterruptIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) = 0;
    virtual int ClearHalt(uint8_t endpoint) = 0;
};

class IUsbBackend {
  public:
    virtual ~IUsbBackend() = default;
    // Starts the service: 0, or an error when USB cannot be used at all.
    virtual int Init() = 0;
    virtual std::vector<UsbDeviceInfo> Devices() = 0;
    // Opens a device Devices() listed; null with the error in *error when it cannot be.
    virtual std::unique_ptr<IUsbDevice> Open(const UsbDeviceInfo& device, int* error) = 0;
};

// libusb-1.0.
std::unique_ptr<IUsbBackend> CreateLibusbBackend();

}  // namespace ports
