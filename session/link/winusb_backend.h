// The USB backend over WinUSB: handhelds the user has bound to WinUSB, found among the device
// interfaces by the vendor and product ids in their paths, and reached through the WinUSB
// calls. It serves CUsbTransport, so the model table and every model's rules are the same as
// with libusb; only the calls differ.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "session/link/usb_backend.h"
#include "session/link/win_usb_drivers.h"

namespace ports {

// The vendor and product ids a device interface path names ("...#vid_0830&pid_0060#..."),
// in any case; nothing when either is missing or not four hexadecimal digits.
struct UsbIds {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};
std::optional<UsbIds> UsbIdsOfPath(const std::string& path);

// Our error for a system error code of a WinUSB call.
int UsbErrorOfSystem(uint32_t error);

std::unique_ptr<IUsbBackend> CreateWinUsbBackend(std::unique_ptr<win::IWinUsbDriver> driver);

}  // namespace ports
