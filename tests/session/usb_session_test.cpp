// USB handhelds: the connection information and how its HotSync function and endpoints are
// read, the model table against the udev rule, and the session's lookup, accept and close on
// the fake bus with the virtual handheld behind its bulk endpoints. Broken links and every
// family's rules: libusb_backend_test.cpp and usb_family_test.cpp, on the libusb double.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "session/device_session.h"
#include "session/link/fake_usb_backend.h"
#include "session/link/pipe_transport.h"
#include "session/link/usb_handheld.h"
#include "session/link/usb_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

using ports::FakeUsbDevice;
using namespace ports::usb;

TEST(UsbConnectionInfo, HotSyncFunctionAndItsPort) {
    // Count (little-endian), then function and port per entry.
    EXPECT_EQ(FindHotSyncPort(std::vector<uint8_t>{2, 0, 0, 1, 2, 3})->inNumber, 3);
    EXPECT_FALSE(FindHotSyncPort(std::vector<uint8_t>{2, 0, 0, 1, 3, 2}));
    // An entry that did not arrive, or beyond the count, is not looked at.
    EXPECT_FALSE(FindHotSyncPort(std::vector<uint8_t>{2, 0, 0, 1, 2}));
    EXPECT_FALSE(FindHotSyncPort(std::vector<uint8_t>{1, 0, 0, 1, 2, 3}));
    EXPECT_FALSE(FindHotSyncPort(std::vector<uint8_t>{2}));
    // Only the 8 entries of the 18-byte buffer count, whatever the count says.
    std::vector<uint8_t> many = {0xFF, 0xFF};
    for (int i = 0; i < 8; ++i) many.insert(many.end(), {0, uint8_t(i)});
    many.insert(many.end(), {2, 9});
    EXPECT_FALSE(FindHotSyncPort(many));
    many[16] = 2;
    EXPECT_EQ(FindHotSyncPort(many)->outNumber, 7);

    // The extended form: 'cnys', with the endpoints in nibbles when they differ.
    auto ext = FakeUsbDevice{}.WithExtConnectionInfo(3, 4).answers[kRequestExtConnectionInfo];
    const auto port = FindHotSyncExtPort(ext);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->inNumber, 3);
    EXPECT_EQ(port->outNumber, 4);
    ext = FakeUsbDevice{}.WithExtConnectionInfo(2, 2).answers[kRequestExtConnectionInfo];
    EXPECT_EQ(FindHotSyncExtPort(ext)->inNumber, 2);
    ext = FakeUsbDevice{}
              .WithExtConnectionInfo(2, 2, {'l', 'c', 'n', 'c'})
              .answers[kRequestExtConnectionInfo];
    EXPECT_FALSE(FindHotSyncExtPort(ext));
    ext.resize(6);
    EXPECT_FALSE(FindHotSyncExtPort(ext));
}

TEST(UsbConnectionInfo, PipesFollowWhatTheDeviceTold) {
    const std::vector<ports::UsbEndpoint> eps = {{0x81, 0x03, 8},    // interrupt: never
                                                 {0x82, 0x02, 512},  // bulk in, not 64
                                                 {0x83, 0x02, 64},   // bulk in
                                                 {0x02, 0x02, 64},   // bulk out
                                                 {0x04, 0x02, 64}};  // bulk out
    auto pipes = ChoosePipes(eps, HotSyncPort{});
    ASSERT_TRUE(pipes);
    EXPECT_EQ(pipes->in, 0x83);  // 64-byte packets, as on every Palm OS device
    EXPECT_EQ(pipes->out, 0x02);
    pipes = ChoosePipes(eps, HotSyncPort{2, 4});
    ASSERT_TRUE(pipes);
    EXPECT_EQ(pipes->in, 0x82);
    EXPECT_EQ(pipes->out, 0x04);
    EXPECT_FALSE(ChoosePipes(eps, HotSyncPort{5, 2}));  // told, but not there
    EXPECT_FALSE(ChoosePipes({{0x02, 0x02, 64}}, HotSyncPort{}));
}

TEST(UsbModels, TableAndUdevRuleAgree) {
    std::set<std::pair<int, int>> table;
    for (const Model& m : Models()) {
        EXPECT_TRUE(table.insert({m.vendorId, m.productId}).second) << m.name;
        EXPECT_EQ(FindModel(m.vendorId, m.productId), &m);
    }
    EXPECT_FALSE(FindModel(0x0830, 0x9999));
    EXPECT_EQ(FindModel(0x082D, 0x0100)->framing, hotsync::Framing::kSerial);  // the Visor

    std::ifstream in(std::string(CC_SOURCE_DIR) + "/packaging/60-cradlecourier.rules");
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    const std::string rules = text.str();
    const std::regex rule(
        "ATTR\\{idVendor\\}==\"([0-9a-f]{4})\", ATTR\\{idProduct\\}==\"([0-9a-f]{4})\", "
        "TAG\\+=\"uaccess\"");
    std::set<std::pair<int, int>> listed;
    for (auto it = std::sregex_iterator(rules.begin(), rules.end(), rule);
         it != std::sregex_iterator(); ++it) {
        listed.insert({std::stoi((*it)[1], nullptr, 16), std::stoi((*it)[2], nullptr, 16)});
    }
    EXPECT_EQ(listed, table);
}

// A session on the fake bus; the virtual handheld serves the device's bulk endpoints.
class UsbSession : public ::testing::Test {
  protected:
    void Plug(FakeUsbDevice device, bool netSync = true) {
        auto pipe = ports::CreatePipePair();
        m_handheldEnd = std::move(pipe.handheld);
        bus->Plug(std::move(device), std::move(pipe.desktop));
        config.netSync = config.usb = netSync;
        config.timeoutSec = 5;
        config.receiveTimeoutMs = 3000;
        config.wakeupIntervalMs = 200;
        hh = std::make_unique<handheld::CVirtualHandheld>(config);
        ASSERT_TRUE(hh->Start(*m_handheldEnd));
    }
    std::unique_ptr<CDeviceSession> Session() {
        auto shared = bus;
        auto session =
            std::make_unique<CDeviceSession>("USB", true, -1, [shared](const std::string&) {
                return std::make_unique<ports::CUsbTransport>(ports::CreateFakeUsbBackend(shared));
            });
        hotsync::LinkTimeouts t;
        t.acceptMs = 2000;
        t.receiveMs = 1500;
        session->SetLinkTimeouts(t);
        return session;
    }
    void TearDown() override {
        if (hh) hh->Stop();
    }
    // Polls as the window's timer does.
    static bool Pressed(CDeviceSession& session) {
        for (int i = 0; i < 10; ++i) {
            if (session.IsHotSyncPressed()) return true;
        }
        return false;
    }

    std::shared_ptr<ports::CFakeUsbBus> bus = std::make_shared<ports::CFakeUsbBus>();
    handheld::HandheldConfig config;
    std::unique_ptr<handheld::CVirtualHandheld> hh;
    std::unique_ptr<hotsync::ITransport> m_handheldEnd;
};

TEST_F(UsbSession, EachModelIsAskedWhatItNeeds) {
    struct Case {
        uint16_t product;
        FakeUsbDevice device;
        std::vector<uint8_t> requests;
        bool found;
    };
    const auto device = [](uint16_t vendor, uint16_t product) {
        FakeUsbDevice d;
        d.vendorId = vendor;
        d.productId = product;
        return d;
    };
    std::vector<Case> cases = {
        // Generic: the extended form; the plain one only when that is refused.
        {1,
         device(0x0830, 0x0060).WithExtConnectionInfo(2, 2).WithBytesAvailable(),
         {0x04, 0x01},
         true},
        {2,
         device(0x0830, 0x0060).WithConnectionInfo({{0, 1}, {2, 2}}).WithBytesAvailable(),
         {0x04, 0x03, 0x01},
         true},
        {3,
         device(0x0830, 0x0060).WithConnectionInfo({{0, 1}, {3, 2}}).WithBytesAvailable(),
         {0x04, 0x03},
         false},
        // A device that does not answer how many bytes wait is not taken.
        {4, device(0x0830, 0x0060).WithExtConnectionInfo(2, 2), {0x04, 0x01}, false},
        // The Visor asks the plain form only.
        {5,
         device(0x082D, 0x0100).WithConnectionInfo({{0, 1}, {2, 2}}).WithBytesAvailable(),
         {0x03, 0x01},
         true},
        // Early CLIE models: the standard requests, whatever they answer.
        {6, device(0x054C, 0x0038).WithBytesAvailable(), {0x08, 0x0A, 0x01}, true},
        // Tapwave-like: the extended form three times, nothing else.
        {7, device(0x12EF, 0x0100).WithExtConnectionInfo(2, 2), {0x04, 0x04, 0x04}, true},
        // The m100 talks at once.
        {8, device(0x0830, 0x0080), {}, true},
        // Nonsense for an answer: no HotSync function in it.
        {10,
         [&] {
             FakeUsbDevice d = device(0x0830, 0x0060).WithBytesAvailable();
             d.answers[kRequestExtConnectionInfo] = {0x07, 0x01, 0xFF, 'c', 'n', 'y', 's', 0x22};
             return d;
         }(),
         {0x04},
         false},
        // Not a handheld: never opened.
        {9, device(0x046D, 0xC52B).WithExtConnectionInfo(2, 2).WithBytesAvailable(), {}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.product);
        bus = std::make_shared<ports::CFakeUsbBus>();
        bus->Plug(c.device, nullptr);
        auto session = Session();
        ASSERT_NE(session->m_sd, -1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(session->IsHotSyncPressed(), c.found);
        std::vector<uint8_t> once = bus->ControlRequests();
        if (!c.found) {
            // Three looks, 100 ms apart, then the poll gives the window back.
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
            if (!c.requests.empty()) {
                EXPECT_EQ(bus->Opens(), 3);
            }
            once.resize(std::min(once.size(), c.requests.size()));
        }
        EXPECT_EQ(once, c.requests);
        session->Close();
    }
}

TEST_F(UsbSession, KernelDriverIsDetachedAndCloseForgetsTheDevice) {
    FakeUsbDevice d = FakeUsbDevice{}.WithExtConnectionInfo(2, 2).WithBytesAvailable();
    d.kernelDriverActive = true;
    Plug(d);
    auto session = Session();
    ASSERT_TRUE(Pressed(*session));
    const int opensAfterLookup = bus->Opens();
    ASSERT_TRUE(session->Accept());
    EXPECT_TRUE(bus->DriverDetached());
    EXPECT_TRUE(bus->Claimed());
    EXPECT_EQ(session->ReadSysInfo(), 0);
    EXPECT_EQ(session->m_dwRomVersion, config.romVersion);
    session->Close();
    EXPECT_FALSE(bus->Claimed());
    // A new session must find the device again.
    auto next = Session();
    next->IsHotSyncPressed();
    EXPECT_GT(bus->Opens(), opensAfterLookup + 1);
}

TEST_F(UsbSession, SilentNetSyncModelIsSentAnEmptyFrame) {
    auto pipe = ports::CreatePipePair();  // the handheld's end stays open, and mute
    bus->Plug(FakeUsbDevice{}.WithExtConnectionInfo(2, 2).WithBytesAvailable(),
              std::move(pipe.desktop));
    auto session = Session();
    ASSERT_TRUE(Pressed(*session));
    hotsync::LinkTimeouts t;
    t.acceptMs = 1300;
    session->SetLinkTimeouts(t);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(session->Accept());
    testing::internal::GetCapturedStderr();
    const auto written = bus->BulkOutBytes();
    ASSERT_GE(written.size(), 6u);
    EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.begin() + 6),
              (std::vector<uint8_t>{0x01, 0, 0, 0, 0, 0}));
}

}  // namespace
