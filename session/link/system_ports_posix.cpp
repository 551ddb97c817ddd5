// Ports on Linux: terminal devices and libusb.
#include "session/link/port_transport.h"
#include "session/link/serial_transport.h"
#include "session/link/system_ports.h"
#include "session/link/usb_transport.h"

namespace ports {

std::string DefaultComPath(int comNumber) {
    return comNumber >= 1 ? "/dev/ttyS" + std::to_string(comNumber - 1) : std::string();
}

bool IsDevicePathName(const std::string& portName) {
    return !portName.empty() && portName[0] == '/';
}

std::unique_ptr<hotsync::ITransport> CreateSerialTransport(const std::string& devicePath) {
    return std::make_unique<CSerialTransport>(devicePath);
}

std::unique_ptr<hotsync::ITransport> CreateSystemUsbTransport() {
    return std::make_unique<CUsbTransport>(CreateLibusbBackend());
}

}  // namespace ports
