// The shipped libusb backend (session/link/libusb_backend.cpp), built against the libusb
// double: the device list and its descriptors, opening and its refusals, control, bulk and
// interrupt transfers, stalls, time-outs and devices that go away; then hostile devices
// through the USB transport's lookup and a broken link in the middle of an install.
#include <chrono>
#include <filesystem>

#include "session/link/usb_backend.h"
#include "session/link/usb_transport.h"
#include "tests/session/db_builder.h"
#include "tests/session/libusb_fixture.h"

namespace {

using namespace usbdouble;
namespace palm = usbdouble::palm;
using Clock = std::chrono::steady_clock;

std::unique_ptr<ports::IUsbBackend> Backend() {
    auto backend = ports::CreateLibusbBackend();
    EXPECT_EQ(backend->Init(), 0);
    return backend;
}

const ports::UsbDeviceInfo* Listed(const std::vector<ports::UsbDeviceInfo>& devices,
                                   uint16_t product) {
    for (const auto& d : devices) {
        if (d.productId == product) return &d;
    }
    return nullptr;
}

TEST_F(LibusbBus, TheBackendUnderTestIsTheDoublesOne) {
    const int before = Bus().Inits();
    Backend();
    EXPECT_EQ(Bus().Inits(), before + 1);
    Bus().FailInit(true);
    EXPECT_NE(ports::CreateLibusbBackend()->Init(), 0);
    // A system without USB: the port cannot be bound.
    testing::internal::CaptureStderr();
    CDeviceSession session("USB", true, -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(session.m_sd, -1);
}

TEST_F(LibusbBus, DevicesAreListedWithTheirPlaceAndEndpoints) {
    Bus().Plug(palm::Hub(3, 2, {1}));
    DeviceModel behind = palm::Treo600().model;
    behind.bus = 3;
    behind.address = 9;
    behind.ports = {1, 4, 2};
    Bus().Plug(behind);
    DeviceModel unconfigured = palm::Tungsten().model;
    unconfigured.configurations = 0;
    Bus().Plug(unconfigured);

    const auto devices = Backend()->Devices();
    ASSERT_EQ(devices.size(), 3u);
    const auto* treo = Listed(devices, 0x0300);
    ASSERT_TRUE(treo);
    EXPECT_EQ(treo->key, "3:9");
    EXPECT_EQ(treo->location, "3-1.4.2");
    EXPECT_EQ(treo->vendorId, 0x082D);
    ASSERT_EQ(treo->endpoints.size(), 5u);
    EXPECT_EQ(treo->endpoints[2].address, 0x83);
    EXPECT_EQ(treo->endpoints[2].attributes, ports::kUsbTransferInterrupt);
    // A device without a configuration is listed, with nothing to take.
    const auto* bare = Listed(devices, 0x0060);
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->endpoints.empty());
    EXPECT_EQ(Bus().DeviceRefs(), 0);
}

TEST_F(LibusbBus, OpeningRefusalsAreTold) {
    DeviceModel denied = palm::Tungsten().model;
    denied.accessDenied = true;
    Bus().Plug(denied);
    DeviceModel vanishing = palm::Visor().model;
    vanishing.vanishOnOpen = true;
    Bus().Plug(vanishing);
    auto backend = Backend();
    const auto devices = backend->Devices();
    int error = 0;
    EXPECT_FALSE(backend->Open(*Listed(devices, 0x0060), &error));
    EXPECT_EQ(error, ports::kUsbErrAccess);
    EXPECT_FALSE(backend->Open(*Listed(devices, 0x0100), &error));
    EXPECT_EQ(error, ports::kUsbErrNoDevice);
    EXPECT_EQ(Bus().OpenHandles(), 0);
}

TEST_F(LibusbBus, TransfersKeepToWhatWasAsked) {
    DeviceModel m = palm::Tungsten().model;
    m.control = [](const ControlRequest& r, int) {
        if (r.request == 0x04) return Reply{false, palm::ExtInfoOnePort(2), true};  // overlong
        return Reply::Bytes({0x00, 0x01});
    };
    m.talking = nullptr;
    auto pipe = ports::CreatePipePair();
    m.line = std::shared_ptr<hotsync::ITransport>(std::move(pipe.desktop));
    const int id = Bus().Plug(m);
    auto backend = Backend();
    int error = 0;
    auto device = backend->Open(backend->Devices().at(0), &error);
    ASSERT_TRUE(device);

    // A control answer that claims more than the buffer holds is a broken device.
    uint8_t buffer[20] = {};
    EXPECT_EQ(device->ControlIn(0xC2, 0x04, 0, 0, buffer, sizeof buffer, 100), ports::kUsbErrIo);
    EXPECT_EQ(device->ControlIn(0xC2, 0x01, 0, 0, buffer, 2, 100), 2);

    // Bulk transfers need the interface.
    uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_EQ(device->BulkOut(0x02, out, 4, 100), ports::kUsbErrIo);
    ASSERT_EQ(device->ClaimInterface(0), 0);
    EXPECT_EQ(device->BulkOut(0x02, out, 4, 100), 4);
    EXPECT_EQ(Bus().Log(id).bulkOut, std::vector<uint8_t>(out, out + 4));
    uint8_t got[16] = {};
    pipe.handheld->Write(out, 4);
    EXPECT_EQ(device->BulkIn(0x82, got, sizeof got, 100), 4);
    // An idle endpoint waits out its time-out and gives nothing.
    const auto start = Clock::now();
    EXPECT_EQ(device->BulkIn(0x81, got, sizeof got, 150), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(device->InterruptIn(0x81, got, sizeof got, 50), ports::kUsbErrIo);  // not one

    // A couple of bytes on, the in endpoint stalls until the halt is cleared.
    Bus().ArmFaults(id, 2, 0, false);
    pipe.handheld->Write(out, 4);
    EXPECT_EQ(device->BulkIn(0x82, got, sizeof got, 100), 4);
    EXPECT_EQ(device->BulkIn(0x82, got, sizeof got, 100), ports::kUsbErrPipe);
    EXPECT_EQ(device->ClearHalt(0x82), 0);
    EXPECT_EQ(Bus().Log(id).haltsCleared, 1);

    // Unplugged: every call says so.
    Bus().Unplug(id);
    EXPECT_EQ(device->BulkOut(0x02, out, 4, 100), ports::kUsbErrNoDevice);
    EXPECT_EQ(device->ControlIn(0xC2, 0x01, 0, 0, buffer, 2, 100), ports::kUsbErrNoDevice);
    device->ReleaseInterface(0);
    device.reset();
    EXPECT_EQ(Bus().OpenHandles(), 0);
}

// ---- hostile devices through the lookup -------------------------------------------------

TEST_F(LibusbBus, HostileAnswersAndDescriptorsFindNothingAndHurtNothing) {
    struct Case {
        const char* what;
        std::function<void(DeviceModel&)> spoil;
        bool found;
    };
    const std::vector<Case> cases = {
        {"255 functions, the HotSync one among those that arrived",
         [](DeviceModel& m) {
             m.control = [](const ControlRequest& r, int) {
                 if (r.request == 0x01) return Reply::Bytes({0, 1});
                 auto info = palm::ExtInfoOnePort(2);
                 info[0] = 255;
                 return r.request == 0x04 ? Reply::Bytes(info) : Reply::Stall();
             };
         },
         true},
        {"255 functions in the plain form, HotSync past the buffer",
         [](DeviceModel& m) {
             m.control = [](const ControlRequest& r, int) {
                 if (r.request == 0x01) return Reply::Bytes({0, 1});
                 std::vector<uint8_t> info = {255, 0};
                 for (int i = 0; i < 9; ++i) info.insert(info.end(), {0, 1});
                 info.insert(info.end(), {2, 2});
                 return r.request == 0x03 ? Reply::Bytes(info) : Reply::Stall();
             };
         },
         false},
        {"no endpoints", [](DeviceModel& m) { m.interfaces[0].endpoints.clear(); }, false},
        {"no interface", [](DeviceModel& m) { m.interfaces.clear(); }, false},
        {"a told endpoint above 15",
         [](DeviceModel& m) {
             m.control = [](const ControlRequest& r, int) {
                 if (r.request == 0x01) return Reply::Bytes({0, 1});
                 return r.request == 0x04 ? Reply::Bytes(palm::ExtInfoOnePort(0x22))
                                          : Reply::Stall();
             };
             for (auto& ep : m.interfaces[0].endpoints) ep.address |= 0x70;  // reserved bits
         },
         false},
        {"an answer longer than asked",
         [](DeviceModel& m) {
             m.control = [](const ControlRequest& r, int) {
                 return Reply{false, palm::ExtInfoOnePort(2), r.request != 0x01};
             };
         },
         false},
        {"gone between the listing and the opening", [](DeviceModel& m) { m.vanishOnOpen = true; },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        palm::Family family = palm::Tungsten();
        c.spoil(family.model);
        Plug(family);
        auto session = Session();
        testing::internal::CaptureStderr();
        const bool found = Pressed(*session);
        const bool again = session->IsHotSyncPressed();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(again, c.found);
        if (!c.found && err.find("offers no bulk endpoints") != std::string::npos) {
            // Said once, not at every poll.
            EXPECT_EQ(err.find("usb:"), err.rfind("usb:")) << err;
        }
        session->Close();
        Fresh();
    }
}

TEST_F(LibusbBus, AKernelDriverThatWillNotLetGoIsSaidAndTheAcceptFails) {
    palm::Family visor = palm::Visor();
    visor.model.detachRefused = true;
    const int id = Plug(visor);
    auto session = Session(1000);
    ASSERT_TRUE(Pressed(*session));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(session->Accept());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("usb_detach"), std::string::npos) << err;
    EXPECT_FALSE(Bus().Log(id).claimed);
}

TEST_F(LibusbBus, NoPermissionIsSaidOnce) {
    palm::Family family = palm::Tungsten();
    family.model.accessDenied = true;
    Plug(family);
    auto session = Session();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(session->IsHotSyncPressed());
    EXPECT_FALSE(session->IsHotSyncPressed());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("60-cradlecourier.rules"), std::string::npos) << err;
    EXPECT_EQ(err.find("usb_open"), err.rfind("usb_open"));
}

// A unit plugged in as a drive offers no HotSync; it is left alone, its driver too.
TEST_F(LibusbBus, AUnitPluggedInAsADriveIsLeftAlone) {
    palm::Family drive = palm::Tungsten();
    drive.model.kernelDriver = true;
    drive.model.control = [](const ControlRequest& r, int) {
        if (r.request != 0x04) return Reply::Stall();
        return Reply::Bytes({1, 0, 0, 0, 'L', 's', 'f', 'r', 1, 0, 0, 0});
    };
    const int id = Plug(drive);
    auto session = Session();
    EXPECT_FALSE(Pressed(*session));
    EXPECT_FALSE(Bus().Log(id).detached);
}

// ---- a link that breaks in the middle of an install ------------------------------------

enum class Fault { kStall, kGone, kNeverCompletes };

class LibusbFault : public LibusbBus, public ::testing::WithParamInterface<Fault> {};

TEST_P(LibusbFault, InstallEndsWithABrokenLinkInMoments) {
    const std::string dir = testdb::ScratchDir("libusb-fault");
    const std::string path = dir + "big.pdb";
    std::vector<pdb::Record> records;
    for (int i = 0; i < 20; ++i) records.push_back(testdb::Rec(4000, uint8_t(i)));
    ASSERT_TRUE(
        testdb::WriteRecordDb(path, testdb::Info("Usb Big", false, "DATA", "UsbB"), records));
    palm::Family family = palm::Tungsten();
    const int id = Plug(family);
    auto session = Session();
    hotsync::LinkTimeouts t;
    t.acceptMs = 3000;
    t.receiveMs = 1500;
    session->SetLinkTimeouts(t);
    ASSERT_TRUE(Pressed(*session));
    ASSERT_TRUE(session->Accept());
    auto file = pdb::CPalmDbFile::Open(path);
    ASSERT_TRUE(file);
    // The fault arms once the handshake is through, some 30 KB into the install.
    Bus().ArmFaults(id, GetParam() == Fault::kStall ? 30000 : 0,
                    GetParam() == Fault::kGone ? 30000 : 0, GetParam() == Fault::kNeverCompletes);
    const auto start = Clock::now();
    EXPECT_EQ(session->InstallDatabase(*file), kInstallLinkBroken);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
    EXPECT_TRUE(session->IsLinkBroken());
    session->Close();
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Faults, LibusbFault,
                         ::testing::Values(Fault::kStall, Fault::kGone, Fault::kNeverCompletes),
                         [](const auto& p) {
                             return p.param == Fault::kStall  ? "Stall"
                                    : p.param == Fault::kGone ? "Gone"
                                                              : "NeverCompletes";
                         });

}  // namespace
