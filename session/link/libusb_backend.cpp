// The USB backend over libusb-1.0: the only file that calls it. The tests build it a second
// time against a libusb of their own that plays scripted handhelds (tests/libusb_double).
#include <libusb.h>

#include <array>
#include <string>

#include "session/link/usb_backend.h"

namespace ports {
namespace {

int ErrorOf(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_ACCESS:
            return kUsbErrAccess;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return kUsbErrNoDevice;
        case LIBUSB_ERROR_BUSY:
            return kUsbErrBusy;
        case LIBUSB_ERROR_TIMEOUT:
            return kUsbErrTimeout;
        case LIBUSB_ERROR_PIPE:
            return kUsbErrPipe;
        default:
            return kUsbErrIo;
    }
}

std::string KeyOf(libusb_device* device) {
    return std::to_string(libusb_get_bus_number(device)) + ":" +
           std::to_string(libusb_get_device_address(device));
}

// As the kernel names the place: the bus, then the hub ports down to the device ("1-1.4").
std::string LocationOf(libusb_device* device) {
    std::array<uint8_t, 7> ports{};  // the deepest tree USB allows
    const int depth = libusb_get_port_numbers(device, ports.data(), int(ports.size()));
    std::string location = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < depth; ++i) {
        location += (i == 0 ? "-" : ".") + std::to_string(ports[static_cast<size_t>(i)]);
    }
    return location;
}

// A transfer's outcome: the bytes moved, never more than asked, or one of our errors.
int Moved(int result, int moved, int asked) {
    if (moved < 0 || moved > asked) return kUsbErrIo;
    if (result == 0 || result == LIBUSB_ERROR_TIMEOUT || moved > 0) return moved;
    return ErrorOf(result);
}

class CLibusbDevice final : public IUsbDevice {
  public:
    explicit CLibusbDevice(libusb_device_handle* handle) : m_handle(handle) {}
    ~CLibusbDevice() override { libusb_close(m_handle); }
    CLibusbDevice(const CLibusbDevice&) = delete;
    CLibusbDevice& operator=(const CLibusbDevice&) = delete;

    int ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                  uint8_t* data, uint16_t length, int timeoutMs) override {
        const int r = libusb_control_transfer(m_handle, requestType, request, value, index, data,
                                              length, static_cast<unsigned>(timeoutMs));
        if (r > length) return kUsbErrIo;  // more than the buffer holds: a broken device
        return r >= 0 ? r : ErrorOf(r);
    }
    bool KernelDriverActive(int interfaceNumber) override {
        return libusb_kernel_driver_active(m_handle, interfaceNumber) == 1;
    }
    int DetachKernelDriver(int interfaceNumber) override {
        const int r = libusb_detach_kernel_driver(m_handle, interfaceNumber);
        return r == 0 ? 0 : ErrorOf(r);
    }
    int ClaimInterface(int interfaceNumber) override {
        const int r = libusb_claim_interface(m_handle, interfaceNumber);
        return r == 0 ? 0 : ErrorOf(r);
    }
    void ReleaseInterface(int interfaceNumber) override {
        libusb_release_interface(m_handle, interfaceNumber);
    }
    int BulkIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) override {
        return Bulk(endpoint, data, length, timeoutMs);
    }
    int InterruptIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) override {
        int moved = 0;
        const int r = libusb_interrupt_transfer(m_handle, endpoint, data, length, &moved,
                                                static_cast<unsigned>(timeoutMs));
        return Moved(r, moved, length);
    }
    int BulkOut(uint8_t endpoint, const uint8_t* data, int length, int timeoutMs) override {
        // libusb takes one pointer type for both directions; nothing is written to it here.
        return Bulk(endpoint, const_cast<uint8_t*>(data), length, timeoutMs);
    }
    int ClearHalt(uint8_t endpoint) override {
        const int r = libusb_clear_halt(m_handle, endpoint);
        return r == 0 ? 0 : ErrorOf(r);
    }

  private:
    int Bulk(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) {
        int moved = 0;
        const int r = libusb_bulk_transfer(m_handle, endpoint, data, length, &moved,
                                           static_cast<unsigned>(timeoutMs));
        return Moved(r, moved, length);
    }

    libusb_device_handle* m_handle;
};

class CLibusbBackend final : public IUsbBackend {
  public:
    ~CLibusbBackend() override {
        if (m_context) libusb_exit(m_context);
    }

    int Init() override {
        if (m_context) return 0;
        const int r = libusb_init(&m_context);
        if (r != 0) {
            m_context = nullptr;
            return ErrorOf(r);
        }
        return 0;
    }

    std::vector<UsbDeviceInfo> Devices() override {
        std::vector<UsbDeviceInfo> out;
        if (!m_context) return out;
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        for (ssize_t i = 0; i < count; ++i) {
            UsbDeviceInfo info;
            if (Describe(list[i], info)) out.push_back(std::move(info));
        }
        if (list) libusb_free_device_list(list, 1);
        return out;
    }

    std::unique_ptr<IUsbDevice> Open(const UsbDeviceInfo& device, int* error) override {
        *error = kUsbErrNoDevice;
        if (!m_context) return nullptr;
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(m_context, &list);
        std::unique_ptr<IUsbDevice> opened;
        for (ssize_t i = 0; i < count && !opened; ++i) {
            if (KeyOf(list[i]) != device.key) continue;
            libusb_device_handle* handle = nullptr;
            const int r = libusb_open(list[i], &handle);
            if (r != 0) {
                *error = ErrorOf(r);
                break;
            }
            opened = std::make_unique<CLibusbDevice>(handle);
        }
        if (list) libusb_free_device_list(list, 1);
        return opened;
    }

  private:
    static bool Describe(libusb_device* device, UsbDeviceInfo& info) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != 0) return false;
        info.key = KeyOf(device);
        info.location = LocationOf(device);
        info.vendorId = descriptor.idVendor;
        info.productId = descriptor.idProduct;
        libusb_config_descriptor* config = nullptr;
        if (descriptor.bNumConfigurations < 1 ||
            libusb_get_config_descriptor(device, 0, &config) != 0) {
            return true;  // listed, but without endpoints nobody will take it
        }
        if (config->bNumInterfaces >= 1 && config->interface &&
            config->interface[0].num_altsetting >= 1 && config->interface[0].altsetting) {
            const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
            info.interfaceNumber = alt.bInterfaceNumber;
            for (int e = 0; alt.endpoint && e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                info.endpoints.push_back({ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize});
            }
        }
        libusb_free_config_descriptor(config);
        return true;
    }

    libusb_context* m_context = nullptr;
};

}  // namespace

std::unique_ptr<IUsbBackend> CreateLibusbBackend() {
    return std::make_unique<CLibusbBackend>();
}

}  // namespace ports
