#include "session/link/win_usb_probe.h"

#include <algorithm>
#include <array>
#include <span>

#include "session/link/usb_connection_info.h"
#include "session/link/usb_handheld.h"
#include "session/link/vendor_usb_transport.h"
#include "session/link/winusb_backend.h"

namespace ports::win {

UsbWaysState ProbeUsbWays(IVendorUsbDriver& vendor, IWinUsbDriver& winUsb, bool openEach) {
    UsbWaysState state;
    state.setupApi = vendor.LoadSetupApi();
    if (state.setupApi) {
        uint32_t error = 0;
        const Handle device = vendor.Open(kVendorUsbDevice, &error);
        state.vendorDriver = device != kNoHandle;
        if (state.vendorDriver) {
            std::array<uint8_t, usb::kConnectionInfoSize> info{};
            uint32_t returned = 0;
            if (vendor.IoControl(device, kVendorConnectionInfoIoctl, info.data(),
                                 uint32_t(info.size()), &returned)) {
                const size_t size = std::min<size_t>(returned, info.size());
                state.vendorHotSync =
                    usb::FindHotSyncPort(std::span<const uint8_t>(info.data(), size)).has_value();
            }
            vendor.Close(device);
        }
        vendor.UnloadSetupApi();
    }
    state.winUsb = winUsb.Load();
    if (!state.winUsb) return state;
    for (const std::string& path : winUsb.InterfacePaths()) {
        const auto ids = UsbIdsOfPath(path);
        if (!ids || !usb::FindModel(ids->vendorId, ids->productId)) continue;
        UsbHandheldSeen seen{ids->vendorId, ids->productId, path, 0};
        if (!openEach) {
            state.handhelds.push_back(seen);
            continue;
        }
        const Handle handle = winUsb.Open(path, &seen.openError);
        if (handle != kNoHandle) {
            seen.openError = 0;
            winUsb.Close(handle);
        } else if (seen.openError == 0) {
            seen.openError = kErrorGenFailure;
        }
        state.handhelds.push_back(seen);
    }
    return state;
}

}  // namespace ports::win
