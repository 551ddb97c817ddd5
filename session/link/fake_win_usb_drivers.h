// Fakes of the two Windows USB driver interfaces (win_usb_drivers.h) for tests, on any
// system: both show the handheld plugged into a fake USB bus (fake_usb_backend.h), so its
// answers, endpoints and the virtual handheld behind them are the same as for the other
// backends; what only a Windows driver does wrong is added here as faults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/link/fake_usb_backend.h"
#include "session/link/win_usb_drivers.h"

namespace ports {

struct FakeDriverFaults {
    bool libraryMissing = false;  // SETUPAPI.DLL (vendor) or winusb.dll (WinUSB) is not there
    bool readsHang = false;       // a read never completes by itself
    bool cancelIgnored = false;   // ... and cancelling it does not end it either
    uint32_t extraBytes = 0;      // a completed read or control request claims this many more
    std::vector<std::string> otherPaths;  // device interfaces of other devices (WinUSB)
};

// What the fakes saw.
struct FakeDriverLog {
    std::vector<std::string> opened;  // paths, in order
    int cancels = 0;
    int openHandles = 0;  // now
    bool setupApiLoaded = false;
};

// The vendor's driver: its device "\\.\LegoUSB" is there while the bus has a device, and
// answers the connection-information control with the device's plain connection information.
std::unique_ptr<win::IVendorUsbDriver> CreateFakeVendorUsbDriver(
    std::shared_ptr<CFakeUsbBus> bus, FakeDriverFaults faults = {},
    std::shared_ptr<FakeDriverLog> log = nullptr);

// WinUSB: the bus's device is listed as "\\?\usb#vid_XXXX&pid_XXXX#fake:N#{...}".
std::unique_ptr<win::IWinUsbDriver> CreateFakeWinUsbDriver(
    std::shared_ptr<CFakeUsbBus> bus, FakeDriverFaults faults = {},
    std::shared_ptr<FakeDriverLog> log = nullptr);

}  // namespace ports
