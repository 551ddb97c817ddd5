// From a port name to the transport that reaches it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hotsync/transport.h"

namespace ports {

// Maps a COM port number (1 for "COM1") to a device path. Replaceable, so that a setting
// can point a COM port somewhere else.
using ComPathMapper = std::function<std::string(int comNumber)>;

// The built-in mapping: COM1 to COM8 (and any higher number) are /dev/ttyS0, /dev/ttyS1 ...
// on Linux, and the ports themselves ("\\.\COM1" ...) on Windows.
std::string DefaultComPath(int comNumber);
// Whether a port name is a device path as it stands: beginning with "/" on Linux, with
// "\\.\" on Windows.
bool IsDevicePathName(const std::string& portName);

inline constexpr const char* kUsbPortName = "USB";
inline constexpr const char* kNetPortName = "NET";

// The device path for a port name: "COMn" (any case) through the mapper, a device path as it
// stands. Empty for any other name (including "USB" and "NET").
std::string DevicePathForPort(const std::string& portName,
                              const ComPathMapper& mapper = DefaultComPath);

// The transport for a port name, not yet opened (CSocket::Bind opens it): "USB" the USB
// transport over the system's USB service, "NET" and "net:ADDRESS:PORT" the NetSync listener,
// anything else a serial line. Null with errno = 2 when the name maps to no device.
std::unique_ptr<hotsync::ITransport> CreatePortTransport(
    const std::string& portName, const ComPathMapper& mapper = DefaultComPath);

// The name a socket is bound under: a network address text is longer than a bind address
// holds, so it binds as "NET" (its transport keeps the address).
std::string BindName(const std::string& portName);

}  // namespace ports
