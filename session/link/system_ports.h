// What differs between the systems in reaching a port, one implementation per system
// (system_ports_posix.cpp, system_ports_win32.cpp): the serial line's transport and the USB
// service. The device behind "COMn" and which names are device paths are declared with the
// port names (port_transport.h) and defined there too.
#pragma once

#include <memory>
#include <string>

#include "hotsync/transport.h"
#include "session/link/usb_backend.h"

namespace ports {

// The serial line at a device path (a terminal device; a communication port on Windows),
// not yet opened.
std::unique_ptr<hotsync::ITransport> CreateSerialTransport(const std::string& devicePath);
// The transport of the port "USB", not yet opened: libusb on Linux; on Windows the handheld
// vendor's driver where it is installed, else WinUSB.
std::unique_ptr<hotsync::ITransport> CreateSystemUsbTransport();

}  // namespace ports
