// The Windows USB lookups, hostile: a device interface path whose ids are read, and a
// handheld whose driver answers the connection-information requests with anything, claims
// more bytes than it returned, or lists odd endpoints, looked for through the handheld
// vendor's driver and through WinUSB (both over their drivers' fakes). Whatever comes, a
// handheld WinUSB takes is a model of the table, and nothing is left open.
#include "fuzz/fuzz_target.h"
#include "session/link/fake_win_usb_drivers.h"
#include "session/link/usb_connection_info.h"
#include "session/link/usb_transport.h"
#include "session/link/vendor_usb_transport.h"
#include "session/link/winusb_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const std::vector<uint8_t> pathBytes = in.Chunk();
    const std::string path(pathBytes.begin(), pathBytes.end());
    if (const auto ids = ports::UsbIdsOfPath(path)) {
        if (path.size() < 16) fuzz::Fail("ids read from a path too short to hold them");
    }

    ports::FakeUsbDevice device;
    device.vendorId = in.U16();
    device.productId = in.U16();
    device.answers[ports::usb::kRequestConnectionInfo] = in.Chunk();
    device.answers[ports::usb::kRequestExtConnectionInfo] = in.Chunk();
    if (in.U8() & 1) device.answers[ports::usb::kRequestBytesAvailable] = in.Chunk();
    ports::FakeDriverFaults faults;
    faults.extraBytes = in.U8();
    faults.otherPaths.push_back(path);
    device.endpoints.clear();
    while (in.Left() >= 3 && device.endpoints.size() < 16) {
        const uint8_t address = in.U8();
        const uint8_t attributes = in.U8();
        device.endpoints.push_back({address, attributes, uint16_t(in.U8() << 2)});
    }
    auto bus = std::make_shared<ports::CFakeUsbBus>();
    bus->Plug(device, nullptr);

    auto vendorLog = std::make_shared<ports::FakeDriverLog>();
    ports::CVendorUsbTransport vendor(ports::CreateFakeVendorUsbDriver(bus, faults, vendorLog));
    if (vendor.Open() == 0) vendor.LookForHandheld(1);
    vendor.Close();
    if (vendorLog->openHandles != 0) fuzz::Fail("the vendor driver's device left open");

    auto winLog = std::make_shared<ports::FakeDriverLog>();
    ports::CUsbTransport winUsb(
        ports::CreateWinUsbBackend(ports::CreateFakeWinUsbDriver(bus, faults, winLog)));
    if (winUsb.Open() == 0 && winUsb.LookForHandheld(1) == 1) {
        const ports::usb::Model* model = winUsb.FoundModel();
        if (!model || model->vendorId != device.vendorId || model->productId != device.productId) {
            fuzz::Fail("WinUSB took a device that is no model of the table");
        }
    }
    winUsb.Close();
    if (winLog->openHandles != 0) fuzz::Fail("a WinUSB handle left open");
    return 0;
}
