// Ports on Windows: the communication ports by their device names; USB through the handheld
// vendor's driver or WinUSB.
#include "session/link/com_port_transport.h"
#include "session/link/port_transport.h"
#include "session/link/system_ports.h"
#include "session/link/usb_either_transport.h"
#include "session/link/usb_transport.h"
#include "session/link/vendor_usb_transport.h"
#include "session/link/winusb_backend.h"

namespace ports {

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

std::unique_ptr<hotsync::ITransport> CreateSystemUsbTransport() {
    std::vector<std::unique_ptr<hotsync::ITransport>> ways;
    ways.push_back(std::make_unique<CVendorUsbTransport>(win::CreateSystemVendorUsbDriver()));
    ways.push_back(
        std::make_unique<CUsbTransport>(CreateWinUsbBackend(win::CreateSystemWinUsbDriver())));
    return std::make_unique<CUsbEitherTransport>(std::move(ways));
}

}  // namespace ports
