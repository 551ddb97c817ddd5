// What the connection check reports about USB on Windows: whether the handheld vendor's
// driver is installed and has a handheld in HotSync now, whether WinUSB is there, and the
// handhelds of our model table among the USB devices, each with whether WinUSB opens it.
// Asked through the two driver interfaces, so the same code runs over their fakes in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/link/win_usb_drivers.h"

namespace ports::win {

struct UsbHandheldSeen {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string path;
    uint32_t openError = 0;  // 0 when WinUSB opened it (or was not asked); else the reason
};

struct UsbWaysState {
    bool setupApi = false;       // SETUPAPI.DLL with its four functions
    bool vendorDriver = false;   // the vendor driver's device opens
    bool vendorHotSync = false;  // ... and names a HotSync function now
    bool winUsb = false;         // winusb.dll is there
    std::vector<UsbHandheldSeen> handhelds;
};

// openEach: whether WinUSB is asked to open each handheld (a quick look leaves them alone).
UsbWaysState ProbeUsbWays(IVendorUsbDriver& vendor, IWinUsbDriver& winUsb, bool openEach);

}  // namespace ports::win
