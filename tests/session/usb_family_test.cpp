// One sync per handheld family on the libusb double, each family played as the public
// record describes it (tests/libusb_double/palm_models.h): the models wait for what they
// need to have been asked and carry HotSync only on their own endpoints, so a rule of our
// model table that is missing or wrong makes its family's sync fail.
#include <algorithm>

#include "session/link/usb_handheld.h"
#include "tests/session/libusb_fixture.h"

namespace {

using namespace usbdouble;
namespace palm = usbdouble::palm;

constexpr uint8_t kBytesAvailable = 0x01;
constexpr uint8_t kConnectionInfo = 0x03;
constexpr uint8_t kExtConnectionInfo = 0x04;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kGetInterface = 0x0A;

std::vector<uint8_t> Codes(const DeviceLog& log) {
    std::vector<uint8_t> codes;
    for (const ControlRequest& r : log.requests) codes.push_back(r.request);
    return codes;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& head) {
    return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

const std::vector<uint8_t> kEmptyNetSyncFrame = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00};

class UsbFamily : public LibusbBus, public ::testing::WithParamInterface<palm::Family> {};

TEST_P(UsbFamily, SyncsOverTheShippedBackend) {
    const int id = Plug(GetParam());
    auto session = Session();
    ASSERT_NE(session->m_sd, -1);
    ASSERT_TRUE(Pressed(*session)) << GetParam().name;
    ASSERT_TRUE(session->Accept()) << GetParam().name;
    EXPECT_EQ(session->ReadSysInfo(), 0);
    EXPECT_EQ(session->m_dwRomVersion, Handheld().Config().romVersion);
    EXPECT_EQ(session->EndOfSync(0), 0);
    session->Close();
    ASSERT_TRUE(Handheld().WaitForSyncs(1, 5000));
    EXPECT_EQ(Handheld().Outcomes().front(), handheld::SyncOutcome::kCompleted);
    // Nothing went to the endpoints that do not carry HotSync.
    EXPECT_TRUE(Bus().Log(id).strayOut.empty());
}

INSTANTIATE_TEST_SUITE_P(Families, UsbFamily, ::testing::ValuesIn(palm::AllFamilies()),
                         [](const auto& p) {
                             std::string name;
                             for (char c : p.param.name) {
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             }
                             return name;
                         });

TEST_F(LibusbBus, GenericUnitsAskTheExtendedFormThenBytesAvailable) {
    const int id = Plug(palm::Tungsten());
    ASSERT_TRUE(Sync(*Session()));
    const auto codes = Codes(Bus().Log(id));
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(codes.begin(), codes.begin() + 2),
              (std::vector<uint8_t>{kExtConnectionInfo, kBytesAvailable}));
    // Told as port 2, which both ways is endpoint 2.
    const DeviceLog log = Bus().Log(id);
    EXPECT_FALSE(log.bulkOut.empty());
    EXPECT_FALSE(log.bulkIn.empty());
}

TEST_F(LibusbBus, TheVisorIsAskedThePlainFormOnlyAndTakenFromTheKernelDriver) {
    const int id = Plug(palm::Visor());
    ASSERT_TRUE(Sync(*Session()));
    const DeviceLog log = Bus().Log(id);
    const auto codes = Codes(log);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kExtConnectionInfo), 0);
    EXPECT_GE(std::count(codes.begin(), codes.end(), kConnectionInfo), 1);
    EXPECT_TRUE(log.detached);
}

// The serial stack's units are never prompted with a NetSync frame, even when they are slow
// to speak; a silent NetSync unit is, after a second, and then talks.
TEST_F(LibusbBus, OnlyASilentNetSyncUnitGetsAnEmptyFrame) {
    for (palm::Family family : {palm::Visor(), palm::ClieS300()}) {
        SCOPED_TRACE(family.name);
        handheld::HandheldConfig config = Config(family);
        config.pressAfterMs = 1500;  // the line open and quiet for a while
        const int id = Plug(family, config);
        ASSERT_TRUE(Sync(*Session(6000)));
        EXPECT_FALSE(StartsWith(Bus().Log(id).bulkOut, kEmptyNetSyncFrame));
        Fresh();
    }
    palm::Family silent = palm::Tungsten();
    silent.model.waitsForDesktop = true;
    const int id = Plug(silent);
    ASSERT_TRUE(Sync(*Session()));
    EXPECT_TRUE(StartsWith(Bus().Log(id).bulkOut, kEmptyNetSyncFrame));
}

TEST_F(LibusbBus, EarlyClieUnitsAreAskedTheStandardRequestsFirst) {
    for (palm::Family family : {palm::ClieS300(), palm::ClieTj()}) {
        SCOPED_TRACE(family.name);
        const int id = Plug(family);
        ASSERT_TRUE(Sync(*Session()));
        const DeviceLog log = Bus().Log(id);
        ASSERT_GE(log.requests.size(), 3u);
        EXPECT_EQ(log.requests[0].request, kGetConfiguration);
        EXPECT_EQ(log.requests[0].requestType, 0x80);
        EXPECT_EQ(log.requests[1].request, kGetInterface);
        EXPECT_EQ(log.requests[1].requestType, 0x81);  // to the interface
        EXPECT_EQ(log.requests[2].request, kBytesAvailable);
        Fresh();
    }
}

TEST_F(LibusbBus, SharedPalmIdAsksTheExtendedFormThriceAndNeverBytesAvailable) {
    // The Zire 72 answers only the second request; asked for the bytes available, it hangs.
    const int zire = Plug(palm::Zire72());
    ASSERT_TRUE(Sync(*Session()));
    const auto codes = Codes(Bus().Log(zire));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kExtConnectionInfo) % 3, 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kBytesAvailable), 0);
}

TEST_F(LibusbBus, TheZodiacTalksAfterTheThirdExtendedRequest) {
    const int id = Plug(palm::Zodiac());
    ASSERT_TRUE(Sync(*Session()));
    const auto codes = Codes(Bus().Log(id));
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(codes.begin(), codes.begin() + 3),
              (std::vector<uint8_t>(3, kExtConnectionInfo)));
}

// One id, many models: what it is, only the handheld's system information says.
TEST_F(LibusbBus, SharedPalmIdNamesEveryModelAndTheHandheldTellsWhichItIs) {
    const ports::usb::Model* model = ports::usb::FindModel(0x0830, 0x0061);
    ASSERT_TRUE(model);
    for (const char* name : {"Zire 31", "72", "Z22", "T5", "T|X", "E2", "Treo 650"}) {
        EXPECT_NE(std::string(model->name).find(name), std::string::npos) << name;
    }
    const std::pair<palm::Family, uint32_t> units[] = {{palm::Zire72(), 0x05200000},
                                                       {palm::TungstenTx(), 0x05400000},
                                                       {palm::Treo650(), 0x05410000}};
    for (const auto& [family, rom] : units) {
        SCOPED_TRACE(family.name);
        handheld::HandheldConfig config = Config(family);
        config.romVersion = rom;
        Plug(family, config);
        auto session = Session();
        ASSERT_TRUE(Pressed(*session));
        ASSERT_TRUE(session->Accept());
        EXPECT_EQ(session->ReadSysInfo(), 0);
        EXPECT_EQ(session->m_dwRomVersion, rom);
        EXPECT_EQ(session->EndOfSync(0), 0);
        session->Close();
        Fresh();
    }
}

TEST_F(LibusbBus, TheTreo650OpensWithItsHelloHeader) {
    const int id = Plug(palm::Treo650());
    ASSERT_TRUE(Sync(*Session()));
    EXPECT_TRUE(StartsWith(Bus().Log(id).bulkIn, {0x01, 0xFF, 0x00, 0x00, 0x00, 0x16}));
}

TEST_F(LibusbBus, TheTreo90TellsItsEndpointsOnItsInterruptEndpoint) {
    const int id = Plug(palm::Treo90());
    ASSERT_TRUE(Sync(*Session()));
    const DeviceLog log = Bus().Log(id);
    // Every vendor request stalled; the preamble told in 1 and out 2.
    EXPECT_FALSE(log.bulkIn.empty());
    EXPECT_FALSE(log.bulkOut.empty());
    EXPECT_TRUE(log.strayOut.empty());
}

TEST_F(LibusbBus, TreoKyoceraAndUxPairTheFirstBulkInWithTheSecondBulkOut) {
    for (palm::Family family : {palm::Treo600(), palm::Kyocera7135(), palm::Ux50()}) {
        SCOPED_TRACE(family.name);
        const int id = Plug(family);
        ASSERT_TRUE(Sync(*Session()));
        EXPECT_TRUE(Bus().Log(id).strayOut.empty());
        Fresh();
    }
    // A Kyocera without an interrupt endpoint keeps to the port it told.
    palm::Family plain = palm::Kyocera7135();
    auto& eps = plain.model.interfaces[0].endpoints;
    eps.erase(std::remove_if(eps.begin(), eps.end(),
                             [](const Endpoint& ep) { return ep.attributes == kInterrupt; }),
              eps.end());
    plain.model.hotSyncIn = 0x82;
    plain.model.hotSyncOut = 0x02;
    Plug(plain);
    EXPECT_TRUE(Sync(*Session()));
}

TEST_F(LibusbBus, TheM100IsAskedNothing) {
    const int id = Plug(palm::M100());
    ASSERT_TRUE(Sync(*Session()));
    EXPECT_TRUE(Bus().Log(id).requests.empty());
}

// The Tungsten T2's announcement of network HotSync, its magic the other way round, comes
// before its hello; the link passes over it.
TEST_F(LibusbBus, TheTungstenT2AnnouncementIsPassedOver) {
    const int id = Plug(palm::TungstenT2());
    ASSERT_TRUE(Sync(*Session()));
    EXPECT_TRUE(StartsWith(Bus().Log(id).bulkIn, {0xDE, 0xFA, 0x01}));
    palm::Family fade = palm::TungstenT2();
    fade.model.prelude[0] = 0xFA;
    fade.model.prelude[1] = 0xDE;
    Fresh();
    Plug(fade);
    EXPECT_TRUE(Sync(*Session()));
}

// After each HotSync the T|X leaves the bus and comes back at the next address: the next
// session's poll finds it there.
TEST_F(LibusbBus, AUnitAtANewAddressAfterEachSyncIsFoundByTheNextPoll) {
    palm::Family tx = palm::TungstenTx();
    handheld::HandheldConfig config = Config(tx);
    config.syncs = 3;
    const int id = Plug(tx, config);
    for (int sync = 0; sync < 3; ++sync) {
        const uint8_t address = Bus().Address(id);
        ASSERT_TRUE(Sync(*Session())) << "sync " << sync;
        EXPECT_EQ(Bus().Address(id), address + 1);
    }
    EXPECT_TRUE(Handheld().WaitForSyncs(3, 5000));
}

// A unit that re-enumerates between the press and the accept is looked for again.
TEST_F(LibusbBus, AUnitThatMovesBeforeTheAcceptIsFoundAgain) {
    const int id = Plug(palm::Tungsten());
    auto session = Session();
    ASSERT_TRUE(Pressed(*session));
    Bus().Readdress(id, 40);
    ASSERT_TRUE(session->Accept());
    EXPECT_EQ(session->EndOfSync(0), 0);
    session->Close();
}

TEST_F(LibusbBus, AUnitBehindAHubIsFoundLikeAnyOther) {
    Bus().Plug(palm::Hub(3, 2, {1}));
    palm::Family behind = palm::Tungsten();
    behind.model.bus = 3;
    behind.model.address = 9;
    behind.model.ports = {1, 4, 2};
    Plug(behind);
    EXPECT_TRUE(Sync(*Session()));
}

}  // namespace
