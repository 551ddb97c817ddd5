// USB on Windows, both ways, through fakes of their driver interfaces: the handheld vendor's
// driver (looked for by name, its connection information by device I/O control, two pipe
// files) and WinUSB (found among the device interfaces by its ids, then the same model rules
// as with libusb). Faults only a driver shows: answers longer than asked, reads that never
// end, devices that go away.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "session/device_session.h"
#include "session/link/fake_win_usb_drivers.h"
#include "session/link/pipe_transport.h"
#include "session/link/usb_either_transport.h"
#include "session/link/usb_transport.h"
#include "session/link/vendor_usb_transport.h"
#include "session/link/win_usb_probe.h"
#include "session/link/winusb_backend.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

using ports::FakeDriverFaults;
using ports::FakeDriverLog;
using ports::FakeUsbDevice;
using namespace std::chrono;

milliseconds Since(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start);
}

TEST(WinUsbPaths, IdsAreReadFromTheInterfacePath) {
    const auto ids = ports::UsbIdsOfPath(
        "\\\\?\\usb#vid_0830&pid_0061#5&2a1b&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    ASSERT_TRUE(ids);
    EXPECT_EQ(ids->vendorId, 0x0830);
    EXPECT_EQ(ids->productId, 0x0061);
    const auto upper = ports::UsbIdsOfPath("\\\\?\\USB#VID_054C&PID_0144#X#{...}");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->vendorId, 0x054C);
    EXPECT_EQ(upper->productId, 0x0144);
    EXPECT_FALSE(ports::UsbIdsOfPath("\\\\?\\hid#vid_046d#1"));            // no product
    EXPECT_FALSE(ports::UsbIdsOfPath("\\\\?\\usb#vid_08g0&pid_0060#1"));   // not hexadecimal
    EXPECT_FALSE(ports::UsbIdsOfPath("\\\\?\\usb#vid_08300&pid_0060#1"));  // five digits
    EXPECT_FALSE(ports::UsbIdsOfPath("usb#vid_083"));                      // cut short
    EXPECT_FALSE(ports::UsbIdsOfPath(""));
}

// A fake bus, the fakes' log, and the virtual handheld behind the bus's device when wanted.
class FakeBusTest : public ::testing::Test {
  protected:
    // Starts the virtual handheld; the desktop's end of its line, for the bus.
    std::unique_ptr<hotsync::ITransport> HandheldLine() {
        auto pipe = ports::CreatePipePair();
        m_handheldEnd = std::move(pipe.handheld);
        handheld::HandheldConfig config;
        config.netSync = config.usb = true;
        config.timeoutSec = 5;
        config.receiveTimeoutMs = 3000;
        config.wakeupIntervalMs = 200;
        hh = std::make_unique<handheld::CVirtualHandheld>(config);
        EXPECT_TRUE(hh->Start(*m_handheldEnd));
        return std::move(pipe.desktop);
    }
    void TearDown() override {
        if (hh) hh->Stop();
    }

    std::shared_ptr<ports::CFakeUsbBus> bus = std::make_shared<ports::CFakeUsbBus>();
    std::shared_ptr<FakeDriverLog> log = std::make_shared<FakeDriverLog>();
    std::unique_ptr<hotsync::ITransport> m_handheldEnd;
    std::unique_ptr<handheld::CVirtualHandheld> hh;
};

// The vendor's driver over the fake bus.
class VendorDriver : public FakeBusTest {
  protected:
    std::unique_ptr<ports::CVendorUsbTransport> Transport(FakeDriverFaults faults = {}) {
        return std::make_unique<ports::CVendorUsbTransport>(
            ports::CreateFakeVendorUsbDriver(bus, std::move(faults), log));
    }
    // A handheld whose driver answers with these functions, and the virtual one behind it.
    void Plug(const std::vector<ports::usb::ConnectionPort>& functions, bool withHandheld) {
        bus->Plug(FakeUsbDevice{}.WithConnectionInfo(functions),
                  withHandheld ? HandheldLine() : nullptr);
    }
};

TEST_F(VendorDriver, BindNeedsSetupApiAndCloseGivesItBack) {
    FakeDriverFaults missing;
    missing.libraryMissing = true;
    auto none = Transport(missing);
    errno = 0;
    EXPECT_EQ(none->Open(), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(none->LookForHandheld(100), 0);

    auto usb = Transport();
    ASSERT_EQ(usb->Open(), 0);
    EXPECT_TRUE(log->setupApiLoaded);
    EXPECT_TRUE(log->opened.empty());  // nothing is opened at bind
    usb->Close();
    EXPECT_FALSE(log->setupApiLoaded);
}

TEST_F(VendorDriver, OnlyAHotSyncFunctionMakesTheDeviceKnown) {
    struct Case {
        std::vector<ports::usb::ConnectionPort> functions;
        bool found;
    };
    const std::vector<Case> cases = {
        {{{0, 1}, {2, 2}}, true},   // functions 0 and 2
        {{{0, 1}, {3, 2}}, false},  // only 0 and 3
        {{{2, 5}}, true},
        {{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.functions.size());
        Plug(c.functions, false);
        auto usb = Transport();
        ASSERT_EQ(usb->Open(), 0);
        const auto start = steady_clock::now();
        EXPECT_EQ(usb->LookForHandheld(250), c.found ? 1 : 0);
        EXPECT_EQ(usb->DevicePath(), c.found ? "\\\\.\\LegoUSB" : "");
        if (!c.found) {
            // Three looks 100 ms apart, each opening the device and closing it again.
            EXPECT_LT(Since(start), milliseconds(600));
            EXPECT_EQ(log->opened.size(), 3u);
        }
        EXPECT_EQ(log->openHandles, 0);
        log->opened.clear();
    }
    // No device: nothing found, and the poll still ends.
    bus->Unplug();
    auto usb = Transport();
    ASSERT_EQ(usb->Open(), 0);
    EXPECT_EQ(usb->LookForHandheld(150), 0);
}

TEST_F(VendorDriver, AnswersLongerOrShorterThanTheirCountAreReadSafely) {
    // A count of 8 with two entries: the HotSync entry a longer answer would have is not
    // made up from the rest of the buffer.
    FakeUsbDevice device;
    device.answers[ports::usb::kRequestConnectionInfo] = {8, 0, 0, 1, 3, 2};
    bus->Plug(device, nullptr);
    auto usb = Transport();
    ASSERT_EQ(usb->Open(), 0);
    EXPECT_EQ(usb->LookForHandheld(100), 0);

    // A driver that says it returned more than the 18-byte buffer holds.
    Plug({{0, 1}, {2, 2}}, false);
    FakeDriverFaults overlong;
    overlong.extraBytes = 4096;
    auto lying = Transport(overlong);
    ASSERT_EQ(lying->Open(), 0);
    EXPECT_EQ(lying->LookForHandheld(100), 1);

    // A refused (stalled) request: no device.
    bus->Plug(FakeUsbDevice{}, nullptr);
    auto refused = Transport();
    ASSERT_EQ(refused->Open(), 0);
    EXPECT_EQ(refused->LookForHandheld(100), 0);
}

TEST_F(VendorDriver, ReadsEndAtTheirTimeOutEvenWhenTheDriverHangs) {
    Plug({{0, 1}, {2, 2}}, false);
    FakeDriverFaults hang;
    hang.readsHang = true;
    auto usb = Transport(hang);
    ASSERT_EQ(usb->Open(), 0);
    ASSERT_EQ(usb->Connect(500), 1);
    uint8_t byte = 0;
    auto start = steady_clock::now();
    EXPECT_EQ(usb->Read(&byte, 1, 300), 0);  // cancelled: a time-out
    EXPECT_LT(Since(start), milliseconds(1500));
    EXPECT_GE(log->cancels, 1);
    EXPECT_EQ(usb->DevicePath(), "\\\\.\\LegoUSB");  // a time-out keeps the device

    // A driver that does not even end a cancelled read: the device is given up.
    hang.cancelIgnored = true;
    auto stuck = Transport(hang);
    ASSERT_EQ(stuck->Open(), 0);
    ASSERT_EQ(stuck->Connect(500), 1);
    start = steady_clock::now();
    EXPECT_EQ(stuck->Read(&byte, 1, 300), -1);
    EXPECT_LT(Since(start), milliseconds(2000));
    EXPECT_EQ(stuck->DevicePath(), "");
}

TEST_F(VendorDriver, APipeClaimingMoreThanAskedOrAGoneDeviceFailsTheRead) {
    Plug({{0, 1}, {2, 2}}, true);
    FakeDriverFaults overlong;
    overlong.extraBytes = 2000;
    auto usb = Transport(overlong);
    ASSERT_EQ(usb->Open(), 0);
    ASSERT_EQ(usb->Connect(500), 1);
    uint8_t bytes[2048];
    EXPECT_EQ(usb->Read(bytes, sizeof bytes, 2000), -1);
    EXPECT_EQ(usb->DevicePath(), "");
    EXPECT_EQ(log->openHandles, 0);

    auto sound = Transport();
    ASSERT_EQ(sound->Open(), 0);
    ASSERT_EQ(sound->Connect(500), 1);
    bus->Unplug();
    EXPECT_EQ(sound->Read(bytes, sizeof bytes, 500), -1);
    EXPECT_EQ(sound->DevicePath(), "");
}

// A session on "USB" as the window makes it, over a transport the test chooses.
std::unique_ptr<CDeviceSession> UsbSession(
    std::function<std::unique_ptr<hotsync::ITransport>()> make) {
    auto session = std::make_unique<CDeviceSession>("USB", true, -1,
                                                    [make](const std::string&) { return make(); });
    hotsync::LinkTimeouts t;
    t.acceptMs = 2000;
    t.receiveMs = 1500;
    session->SetLinkTimeouts(t);
    return session;
}

bool Pressed(CDeviceSession& session) {
    for (int i = 0; i < 10; ++i) {
        if (session.IsHotSyncPressed()) return true;
    }
    return false;
}

// Press, accept, the system facts, the end of the sync, close.
void Sync(CDeviceSession& session) {
    ASSERT_NE(session.m_sd, -1);
    ASSERT_TRUE(Pressed(session));
    ASSERT_TRUE(session.Accept());
    EXPECT_EQ(session.ReadSysInfo(), 0);
    EXPECT_EQ(session.EndOfSync(0), 0);
    session.Close();
}

TEST_F(VendorDriver, ASessionSyncsThroughThePipesAndForgetsTheDeviceAtClose) {
    Plug({{0, 1}, {2, 2}}, true);
    auto session = UsbSession([this] { return Transport(); });
    ASSERT_NO_FATAL_FAILURE(Sync(*session));
    EXPECT_NE(std::find(log->opened.begin(), log->opened.end(), "\\\\.\\LegoUSB\\PIPE02"),
              log->opened.end());
    EXPECT_NE(std::find(log->opened.begin(), log->opened.end(), "\\\\.\\LegoUSB\\PIPE03"),
              log->opened.end());
    EXPECT_EQ(log->openHandles, 0);
    EXPECT_FALSE(log->setupApiLoaded);
    ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    EXPECT_EQ(hh->Outcomes().at(0), handheld::SyncOutcome::kCompleted);
}

// WinUSB over the fake bus: CUsbTransport with its model rules on the WinUSB backend.
class WinUsb : public FakeBusTest {
  protected:
    std::unique_ptr<ports::CUsbTransport> Transport(FakeDriverFaults faults = {}) {
        return std::make_unique<ports::CUsbTransport>(
            ports::CreateWinUsbBackend(ports::CreateFakeWinUsbDriver(bus, std::move(faults), log)));
    }
    void PlugWithHandheld(FakeUsbDevice device) { bus->Plug(std::move(device), HandheldLine()); }
    static FakeUsbDevice Tungsten() {
        return FakeUsbDevice{}.WithExtConnectionInfo(2, 2).WithBytesAvailable();
    }
};

TEST_F(WinUsb, TheModelRulesAreTheSameAsWithLibusb) {
    struct Case {
        uint16_t vendor, product;
        FakeUsbDevice device;
        std::vector<uint8_t> requests;  // of the first look
        bool found;
    };
    const auto device = [](uint16_t vendor, uint16_t product) {
        FakeUsbDevice d;
        d.vendorId = vendor;
        d.productId = product;
        return d;
    };
    const std::vector<Case> cases = {
        {0x0830,
         0x0060,
         device(0x0830, 0x0060).WithExtConnectionInfo(2, 2).WithBytesAvailable(),
         {0x04, 0x01},
         true},
        // Functions 0 and 2 in the plain form, the extended one refused (stalled).
        {0x0830,
         0x0060,
         device(0x0830, 0x0060).WithConnectionInfo({{0, 1}, {2, 2}}).WithBytesAvailable(),
         {0x04, 0x03, 0x01},
         true},
        // Only 0 and 3.
        {0x0830,
         0x0060,
         device(0x0830, 0x0060).WithConnectionInfo({{0, 1}, {3, 2}}).WithBytesAvailable(),
         {0x04, 0x03},
         false},
        // Every request stalls.
        {0x0830, 0x0060, device(0x0830, 0x0060), {0x04, 0x03}, false},
        // The early CLIE: the standard requests first.
        {0x054C, 0x0038, device(0x054C, 0x0038).WithBytesAvailable(), {0x08, 0x0A, 0x01}, true},
        // The extended form three times.
        {0x12EF,
         0x0100,
         device(0x12EF, 0x0100).WithExtConnectionInfo(2, 2),
         {0x04, 0x04, 0x04},
         true},
        // Not in the model table: never opened.
        {0x046D,
         0xC52B,
         device(0x046D, 0xC52B).WithExtConnectionInfo(2, 2).WithBytesAvailable(),
         {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.vendor << ":" << c.product);
        bus = std::make_shared<ports::CFakeUsbBus>();
        log = std::make_shared<FakeDriverLog>();
        bus->Plug(c.device, nullptr);
        auto usb = Transport();
        ASSERT_EQ(usb->Open(), 0);
        EXPECT_EQ(usb->LookForHandheld(100), c.found ? 1 : 0);
        auto requests = bus->ControlRequests();
        requests.resize(std::min(requests.size(), c.requests.size()));
        EXPECT_EQ(requests, c.requests);
        if (c.requests.empty()) {
            EXPECT_TRUE(log->opened.empty());
        }
        EXPECT_EQ(log->openHandles, 0);
    }
}

TEST_F(WinUsb, OnlyHandheldsAmongTheInterfacesAreOpened) {
    FakeDriverFaults others;
    others.otherPaths = {"\\\\?\\usb#vid_046d&pid_c52b#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                         "\\\\?\\hid#vid_0830#broken", "\\\\?\\usb#root_hub#x"};
    bus->Plug(Tungsten(), nullptr);
    auto usb = Transport(others);
    ASSERT_EQ(usb->Open(), 0);
    EXPECT_EQ(usb->LookForHandheld(100), 1);
    for (const std::string& path : log->opened) {
        EXPECT_NE(path.find("vid_0830&pid_0060"), std::string::npos) << path;
    }
    ASSERT_TRUE(usb->FoundModel());
    EXPECT_EQ(usb->FoundModel()->productId, 0x0060);

    FakeDriverFaults missing;
    missing.libraryMissing = true;
    auto none = Transport(missing);
    errno = 0;
    EXPECT_EQ(none->Open(), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(WinUsb, ReadsEndAtTheirTimeOutEvenWhenTheDriverHangs) {
    PlugWithHandheld(Tungsten());
    FakeDriverFaults hang;
    hang.readsHang = true;
    auto usb = Transport(hang);
    ASSERT_EQ(usb->Open(), 0);
    ASSERT_EQ(usb->Connect(500), 1);  // its first read (the silent NetSync unit) hangs too
    uint8_t byte = 0;
    auto start = steady_clock::now();
    EXPECT_EQ(usb->Read(&byte, 1, 300), 0);
    EXPECT_LT(Since(start), milliseconds(1500));
    EXPECT_GE(log->cancels, 1);

    hang.cancelIgnored = true;
    auto stuck = Transport(hang);
    ASSERT_EQ(stuck->Open(), 0);
    start = steady_clock::now();
    stuck->Connect(500);  // the first word's read is given up with the device
    EXPECT_EQ(stuck->Read(&byte, 1, 300), -1);
    EXPECT_LT(Since(start), milliseconds(4000));
    EXPECT_FALSE(stuck->FoundModel());
}

TEST_F(WinUsb, MoreBytesThanAskedAStallOrAGoneDeviceFailTheRead) {
    PlugWithHandheld(Tungsten());
    FakeDriverFaults overlong;
    overlong.extraBytes = 1;
    auto usb = Transport(overlong);
    ASSERT_EQ(usb->Open(), 0);
    // The control answers claim a byte more than asked as well: nothing is taken from them.
    EXPECT_EQ(usb->LookForHandheld(100), 0);

    auto sound = Transport();
    ASSERT_EQ(sound->Open(), 0);
    ASSERT_EQ(sound->Connect(1000), 1);
    uint8_t bytes[1024];
    bus->Unplug();
    // What was read ahead (the handheld's first words) is still handed out, then the read fails.
    int n = 0;
    for (int i = 0; i < 3 && (n = sound->Read(bytes, sizeof bytes, 500)) > 0; ++i) {
    }
    EXPECT_EQ(n, -1);
    EXPECT_FALSE(sound->FoundModel());
    EXPECT_EQ(log->openHandles, 0);
}

TEST_F(WinUsb, ADeviceThatStallsMidSessionBreaksTheLink) {
    FakeUsbDevice device = Tungsten();
    device.stallAfterBytes = 200;
    PlugWithHandheld(device);
    auto session = UsbSession([this] { return Transport(); });
    ASSERT_TRUE(Pressed(*session));
    ASSERT_TRUE(session->Accept());
    int failures = 0;
    for (int i = 0; i < 5; ++i) failures += session->ReadSysInfo() != 0;
    EXPECT_GT(failures, 0);
    session->Close();
    EXPECT_EQ(log->openHandles, 0);
}

TEST_F(WinUsb, ASessionSyncsAndANewOneMustFindTheDeviceAgain) {
    PlugWithHandheld(Tungsten());
    auto session = UsbSession([this] { return Transport(); });
    ASSERT_NO_FATAL_FAILURE(Sync(*session));
    EXPECT_EQ(log->openHandles, 0);
    ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    EXPECT_EQ(hh->Outcomes().at(0), handheld::SyncOutcome::kCompleted);
    const size_t opens = log->opened.size();
    auto next = UsbSession([this] { return Transport(); });
    next->IsHotSyncPressed();
    EXPECT_GT(log->opened.size(), opens);
}

TEST(UsbEither, TheVendorDriverFirstElseWinUsb) {
    for (const bool vendorThere : {true, false}) {
        SCOPED_TRACE(vendorThere);
        auto bus = std::make_shared<ports::CFakeUsbBus>();
        bus->Plug(FakeUsbDevice{}
                      .WithConnectionInfo({{0, 1}, {2, 2}})
                      .WithExtConnectionInfo(2, 2)
                      .WithBytesAvailable(),
                  nullptr);
        FakeDriverFaults vendorFaults;
        vendorFaults.libraryMissing = !vendorThere;
        std::vector<std::unique_ptr<hotsync::ITransport>> ways;
        ways.push_back(std::make_unique<ports::CVendorUsbTransport>(
            ports::CreateFakeVendorUsbDriver(bus, vendorFaults)));
        ways.push_back(std::make_unique<ports::CUsbTransport>(
            ports::CreateWinUsbBackend(ports::CreateFakeWinUsbDriver(bus))));
        ports::CUsbEitherTransport usb(std::move(ways));
        ASSERT_EQ(usb.Open(), 0);
        EXPECT_EQ(usb.LookForHandheld(100), 1);
        EXPECT_EQ(usb.Chosen(), vendorThere ? 0 : 1);
        usb.Close();
        EXPECT_EQ(usb.Chosen(), -1);
    }
    // Neither way opens: the bind fails as a missing port.
    FakeDriverFaults missing;
    missing.libraryMissing = true;
    auto bus = std::make_shared<ports::CFakeUsbBus>();
    std::vector<std::unique_ptr<hotsync::ITransport>> ways;
    ways.push_back(std::make_unique<ports::CVendorUsbTransport>(
        ports::CreateFakeVendorUsbDriver(bus, missing)));
    ways.push_back(std::make_unique<ports::CUsbTransport>(
        ports::CreateWinUsbBackend(ports::CreateFakeWinUsbDriver(bus, missing))));
    ports::CUsbEitherTransport none(std::move(ways));
    errno = 0;
    EXPECT_EQ(none.Open(), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(none.Read(nullptr, 0, 0), -1);
}

TEST(UsbWaysProbe, TellsTheDriverWaysAndTheHandheldsWinUsbSees) {
    auto bus = std::make_shared<ports::CFakeUsbBus>();
    FakeDriverFaults others;
    others.otherPaths = {"\\\\?\\usb#vid_046d&pid_c52b#1#{x}"};
    auto vendor = ports::CreateFakeVendorUsbDriver(bus);
    auto winUsb = ports::CreateFakeWinUsbDriver(bus, others);
    // Nothing plugged in: both ways there, no handheld.
    auto state = ports::win::ProbeUsbWays(*vendor, *winUsb, true);
    EXPECT_TRUE(state.setupApi);
    EXPECT_FALSE(state.vendorDriver);
    EXPECT_TRUE(state.winUsb);
    EXPECT_TRUE(state.handhelds.empty());

    bus->Plug(FakeUsbDevice{}.WithConnectionInfo({{0, 1}, {2, 2}}), nullptr);
    state = ports::win::ProbeUsbWays(*vendor, *winUsb, true);
    EXPECT_TRUE(state.vendorDriver);
    EXPECT_TRUE(state.vendorHotSync);
    ASSERT_EQ(state.handhelds.size(), 1u);  // the mouse is not among them
    EXPECT_EQ(state.handhelds[0].productId, 0x0060);
    EXPECT_EQ(state.handhelds[0].openError, 0u);

    // Only 0 and 3, and a handheld another program holds.
    FakeUsbDevice held = FakeUsbDevice{}.WithConnectionInfo({{0, 1}, {3, 2}});
    held.accessDenied = true;
    bus->Plug(held, nullptr);
    state = ports::win::ProbeUsbWays(*vendor, *winUsb, true);
    EXPECT_FALSE(state.vendorHotSync);
    ASSERT_EQ(state.handhelds.size(), 1u);
    EXPECT_EQ(state.handhelds[0].openError, ports::win::kErrorAccessDenied);
    // A quick look opens nothing.
    EXPECT_EQ(ports::win::ProbeUsbWays(*vendor, *winUsb, false).handhelds.at(0).openError, 0u);

    FakeDriverFaults missing;
    missing.libraryMissing = true;
    auto noSetupApi = ports::CreateFakeVendorUsbDriver(bus, missing);
    auto noWinUsb = ports::CreateFakeWinUsbDriver(bus, missing);
    state = ports::win::ProbeUsbWays(*noSetupApi, *noWinUsb, true);
    EXPECT_FALSE(state.setupApi);
    EXPECT_FALSE(state.vendorDriver);
    EXPECT_FALSE(state.winUsb);
}

}  // namespace
