// Ports on Windows: the communication ports by their device names; USB comes later.
#include "session/link/com_port_transport.h"
#include "session/link/port_transport.h"
#include "session/link/system_ports.h"

namespace ports {
namespace {

// No USB service yet: the port "USB" does not open, and says so as a busy port.
class CNoUsbBackend final : public IUsbBackend {
  public:
    int Init() override { return kUsbErrNoDevice; }
    std::vector<UsbDeviceInfo> Devices() override { return {}; }
    std::unique_ptr<IUsbDevice> Open(const UsbDeviceInfo&, int* error) override {
        if (error) *error = kUsbErrNoDevice;
        return nullptr;
    }
};

}  // namespace

std::string DefaultComPath(int comNumber) {
    // The device namespace reaches every port, COM10 and above included.
    return comNumber >= 1 ? "\\\\.\\COM" + std::to_string(comNumber) : std::string();
}

bool IsDevicePathName(const std::string& portName) {
    return portName.size() > 4 && portName.compare(0, 4, "\\\\.\\") == 0;
}

std::unique_ptr<hotsync::ITransport> CreateSerialTransport(const std::string& devicePath) {
    return std::make_unique<CComPortTransport>(devicePath);
}

bool SystemHasUsb() {
    return false;
}

std::unique_ptr<IUsbBackend> CreateSystemUsbBackend() {
    return std::make_unique<CNoUsbBackend>();
}

}  // namespace ports
