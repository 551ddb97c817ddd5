// The system's own USB calls on a machine without a handheld (Wine's): SetupAPI loads with its
// four functions, the vendor's driver is not there, WinUSB lists the USB devices without
// finding a handheld, and the port "USB" opens, looks, and gives up within its budget.
#include <gtest/gtest.h>

#include <chrono>

#include "session/link/port_transport.h"
#include "session/link/win_usb_drivers.h"
#include "session/link/win_usb_probe.h"

namespace {

TEST(UsbSystem, SetupApiLoadsAndTheVendorDriverIsMissing) {
    const auto vendor = ports::win::CreateSystemVendorUsbDriver();
    ASSERT_TRUE(vendor->LoadSetupApi());
    uint32_t error = 0;
    EXPECT_EQ(vendor->Open("\\\\.\\LegoUSB", &error), ports::win::kNoHandle);
    EXPECT_NE(error, 0u);
    vendor->UnloadSetupApi();
    vendor->UnloadSetupApi();  // twice is harmless
}

TEST(UsbSystem, TheProbeAndThePortEndWithoutAHandheld) {
    const auto vendor = ports::win::CreateSystemVendorUsbDriver();
    const auto winUsb = ports::win::CreateSystemWinUsbDriver();
    const auto state = ports::win::ProbeUsbWays(*vendor, *winUsb, true);
    EXPECT_TRUE(state.setupApi);
    EXPECT_FALSE(state.vendorDriver);
    EXPECT_TRUE(state.handhelds.empty());

    const auto usb = ports::CreatePortTransport("USB");
    ASSERT_TRUE(usb);
    ASSERT_EQ(usb->Open(), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(usb->LookForHandheld(250), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    uint8_t byte = 0;
    EXPECT_EQ(usb->Read(&byte, 1, 100), -1);  // no handheld: nothing to read from
    usb->Close();
}

}  // namespace
