// The desktop stack against the virtual handheld, in process and over a pseudo-terminal:
// handshake rates, every request the installer sends, large fragmented entries, lost and
// corrupted packets, tickles, a pulled cable, a full memory and two threads on one link.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "hotsync/hotsync.h"
#include "session/link/pipe_transport.h"
#include "session/link/port_transport.h"
#include "tools/handheld/pty_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace hotsync {
namespace {

using handheld::CVirtualHandheld;
using handheld::HandheldConfig;
using handheld::SyncOutcome;

HandheldConfig FastHandheld() {
    HandheldConfig c;
    c.wakeupIntervalMs = 200;
    c.loopbackPackets = 3;
    c.ackTimeoutMs = 300;
    c.receiveTimeoutMs = 5000;
    c.timeoutSec = 10;
    return c;
}

LinkTimeouts FastDesktop() {
    LinkTimeouts t;
    t.ackWaitMs = 300;
    t.sendTries = 10;
    t.receiveMs = 5000;
    t.acceptMs = 5000;
    t.rateSettleMs = 10;
    return t;
}

std::vector<uint8_t> Pattern(size_t size, int seed) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = uint8_t((i * 31 + size_t(seed) * 7) >> 1);
    return data;
}

class HandheldLinkTest : public ::testing::Test {
  protected:
    // Starts the handheld and accepts it with the session's rate choice (0: none set).
    void Connect(const HandheldConfig& config, int rate = 0, bool forced = false) {
        auto pipe = ports::CreatePipePair();
        handheldEnd = std::move(pipe.handheld);
        hh = std::make_unique<CVirtualHandheld>(config);
        if (prepare) prepare(*hh);
        ASSERT_TRUE(hh->Start(*handheldEnd));
        socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
        socket->SetTimeouts(FastDesktop());
        SocketAddress address;
        MakeAddress("COM1", address);
        ASSERT_EQ(socket->Bind(address, std::move(pipe.desktop)), 0);
        ASSERT_EQ(socket->Listen(1), 0);
        if (rate != 0) socket->SetEstablishRate(rate, forced);
        ASSERT_EQ(socket->Accept(), 0);
    }

    void EndSync(SyncOutcome expected = SyncOutcome::kCompleted) {
        EXPECT_EQ(DlpEndOfSync(*socket, kEndNormal), 0);
        ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
        ASSERT_FALSE(hh->Outcomes().empty());
        EXPECT_EQ(hh->Outcomes().front(), expected);
    }

    void TearDown() override {
        if (socket) {
            socket->SetEndOfSyncSent(true);
            socket->Close();
        }
        if (hh) hh->Stop();
    }

    // Runs on the handheld before it starts (its card's contents).
    std::function<void(CVirtualHandheld&)> prepare;
    std::unique_ptr<ITransport> handheldEnd;
    std::unique_ptr<CVirtualHandheld> hh;
    std::unique_ptr<CSocket> socket;
};

// ---- handshake ----------------------------------------------------------------------------

struct RateCase {
    int announced;
    int rate;  // as the session sets it; 0 = not set
    bool forced;
    int expected;
};

class HandshakeRates : public HandheldLinkTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(HandshakeRates, BothSidesMoveToTheOfferedRate) {
    const RateCase c = GetParam();
    HandheldConfig config = FastHandheld();
    config.maxBaud = uint32_t(c.announced);
    Connect(config, c.rate, c.forced);
    EXPECT_EQ(socket->LineRate(), c.expected);
    EXPECT_EQ(socket->AnnouncedMaxRate(), c.announced);
    SysInfo info;
    ASSERT_EQ(DlpReadSysInfo(*socket, info), 0);
    EXPECT_EQ(hh->Stats().currentRate, c.expected);
    EndSync();
}

INSTANTIATE_TEST_SUITE_P(
    Rates, HandshakeRates,
    ::testing::Values(RateCase{115200, 0, false, 9600}, RateCase{115200, 19200, true, 19200},
                      RateCase{115200, 38400, true, 38400}, RateCase{115200, 57600, true, 57600},
                      RateCase{115200, 115200, true, 115200}, RateCase{57600, 128000, true, 128000},
                      RateCase{57600, 256000, true, 256000},  // forced above the maximum
                      RateCase{115200, kDefaultOfferRate, false, 57600},  // rate -1
                      RateCase{38400, kDefaultOfferRate, false, 38400}));

TEST_F(HandheldLinkTest, OldHandheldSpeaksDlp10) {
    HandheldConfig config = FastHandheld();
    config.dlpVersion = 0x0100;
    config.romVersion = 0x02003000;
    Connect(config, 57600, true);
    EXPECT_EQ(socket->Version(), kDlpVersion10);
    EndSync();
}

// ---- every request ------------------------------------------------------------------------

TEST_F(HandheldLinkTest, EveryInstallerRequestIsServed) {
    HandheldConfig config = FastHandheld();
    config.userName = "Ada Tester";
    config.ramSize = 16u << 20;
    config.cpuId = 0x00030000;
    config.displayFeature = 2;
    Connect(config, kDefaultOfferRate, false);

    EXPECT_EQ(socket->Version(), kDlpVersion12);
    SysInfo sys;
    ASSERT_EQ(DlpReadSysInfo(*socket, sys), 0);
    EXPECT_EQ(sys.romVersion, config.romVersion);
    EXPECT_EQ(DlpOpenConduit(*socket), 0);

    const time_t now = time(nullptr) - 3600;
    EXPECT_EQ(DlpSetSysDateTime(*socket, now), 0);
    EXPECT_LE(std::llabs(hh->Clock() - int64_t(now)), 5);

    UserInfo user;
    ASSERT_EQ(DlpReadUserInfo(*socket, user), 0);
    EXPECT_EQ(user.userName, "Ada Tester");
    user.userName = "Grace";
    user.lastSyncPc = 0x12345678;
    user.lastSyncDate = now;
    ASSERT_EQ(DlpWriteUserInfo(*socket, user), 0);
    UserInfo back;
    ASSERT_EQ(DlpReadUserInfo(*socket, back), 0);
    EXPECT_EQ(back.userName, "Grace");
    EXPECT_EQ(back.lastSyncPc, 0x12345678u);

    CardInfo card;
    ASSERT_EQ(DlpReadStorageInfo(*socket, 0, card), 0);
    EXPECT_EQ(card.ramSize, config.ramSize);
    EXPECT_GT(card.ramFree, 0u);

    uint32_t value = 0;
    ASSERT_EQ(DlpReadFeature(*socket, FourCC("psys"), 2, value), 0);
    EXPECT_EQ(value, config.cpuId);
    ASSERT_EQ(DlpReadFeature(*socket, FourCC("psys"), 7, value), 0);
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(DlpReadFeature(*socket, FourCC("none"), 1, value), -5);

    // A record database, installed the way the session does it.
    EXPECT_EQ(DlpDeleteDB(*socket, 0, "TestDB"), -5);  // not there yet
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("TeSt"), FourCC("DATA"), 0, 0x0008, 3, "TestDB", handle),
              0);
    const auto appBlock = Pattern(300, 1);
    EXPECT_EQ(DlpWriteAppBlock(*socket, handle, appBlock), 0);
    uint32_t id = 0;
    EXPECT_EQ(DlpWriteRecord(*socket, handle, 0x40, 0x00ABCDEF, 5, Pattern(500, 2), &id), 0);
    EXPECT_EQ(id, 0x00ABCDEFu);
    EXPECT_EQ(DlpWriteRecord(*socket, handle, 0, 0, 1, {}, &id), 0);  // empty record
    RecordData record;
    ASSERT_EQ(DlpReadRecordByIndex(*socket, handle, 0, record), 0);
    EXPECT_EQ(record.data, Pattern(500, 2));
    EXPECT_EQ(record.category, 5);
    EXPECT_EQ(record.id, 0x00ABCDEFu);
    EXPECT_EQ(DlpReadRecordByIndex(*socket, handle, 9, record), -5);
    EXPECT_EQ(DlpResetSyncFlags(*socket, handle), 0);
    DbInfo info;
    ASSERT_EQ(DlpFindDBByHandle(*socket, handle, info), 0);
    EXPECT_EQ(info.name, "TestDB");
    EXPECT_EQ(info.type, FourCC("DATA"));
    EXPECT_EQ(info.creator, FourCC("TeSt"));
    EXPECT_EQ(info.version, 3);
    EXPECT_NE(info.creationDate, 0);
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EXPECT_LT(DlpCloseDB(*socket, handle), 0);  // no longer open

    // Open, then the close-all form, then delete.
    ASSERT_EQ(DlpOpenDB(*socket, 0, kOpenRead, "TestDB", handle), 0);
    EXPECT_EQ(DlpCloseAllDBs(*socket), 0);
    EXPECT_EQ(DlpOpenDB(*socket, 0, kOpenRead, "Missing", handle), -5);

    // A resource database.
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("TeSt"), FourCC("appl"), 0, 0x0001, 1, "TestApp", handle),
              0);
    EXPECT_EQ(DlpWriteResource(*socket, handle, FourCC("code"), 1, Pattern(2000, 3)), 0);
    EXPECT_EQ(DlpWriteResource(*socket, handle, FourCC("tver"), 1000, Pattern(6, 4)), 0);
    EXPECT_EQ(DlpWriteRecord(*socket, handle, 0, 0, 0, Pattern(6, 4)), -13);  // not supported
    EXPECT_EQ(DlpResetSystem(*socket), 0);
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EndSync();

    const auto db = hh->FindDatabase("TestDB");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->appInfo, appBlock);
    ASSERT_EQ(db->records.size(), 2u);
    EXPECT_TRUE(db->records[1].data.empty());
    const auto app = hh->FindDatabase("TestApp");
    ASSERT_TRUE(app);
    ASSERT_EQ(app->resources.size(), 2u);
    EXPECT_EQ(app->resources[0].data, Pattern(2000, 3));
    EXPECT_EQ(hh->ResetCount(), 1);
    EXPECT_TRUE(socket->EndOfSyncSent());
}

TEST_F(HandheldLinkTest, OpenDatabaseRefusesDeletionUntilClosed) {
    HandheldConfig config = FastHandheld();
    config.openDbName = "Running App";
    prepare = [](CVirtualHandheld& h) {
        handheld::HandheldDatabase db;
        db.info.name = "Running App";
        db.info.attributes = 0x0001;
        db.info.type = FourCC("appl");
        db.info.creator = FourCC("RunA");
        h.AddDatabase(db);
    };
    Connect(config, 57600, true);
    EXPECT_EQ(DlpDeleteDB(*socket, 0, "Running App"), -7);
    EXPECT_EQ(DlpCloseAllDBs(*socket), 0);
    EXPECT_EQ(DlpDeleteDB(*socket, 0, "Running App"), 0);
    EXPECT_EQ(DlpDeleteDB(*socket, 0, "Running App"), -5);
    EndSync();
}

// ---- large entries ------------------------------------------------------------------------

TEST_F(HandheldLinkTest, LargestEntriesTravelWhole) {
    Connect(FastHandheld(), 115200, true);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("BiGg"), FourCC("appl"), 0, 1, 1, "Big App", handle), 0);
    const auto resource = Pattern(65536, 5);
    EXPECT_EQ(DlpWriteResource(*socket, handle, FourCC("data"), 0, resource), 0);
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("BiGg"), FourCC("DATA"), 0, 0, 1, "Big Data", handle), 0);
    const auto record = Pattern(65505, 6);  // the handheld's announced record limit
    EXPECT_EQ(DlpWriteRecord(*socket, handle, 0, 0, 0, record), 0);
    RecordData back;
    EXPECT_EQ(DlpReadRecordByIndex(*socket, handle, 0, back), 0);
    EXPECT_EQ(back.data, record);
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EndSync();
    const auto app = hh->FindDatabase("Big App");
    ASSERT_TRUE(app);
    ASSERT_EQ(app->resources.size(), 1u);
    EXPECT_EQ(app->resources[0].data, resource);
}

// ---- faults -------------------------------------------------------------------------------

TEST_F(HandheldLinkTest, LostAndCorruptedPacketsAreRecovered) {
    HandheldConfig config = FastHandheld();
    config.dropEvery = 7;
    config.corruptEvery = 5;
    config.ackTimeoutMs = 100;
    Connect(config, 57600, true);
    LinkTimeouts t = FastDesktop();
    t.ackWaitMs = 100;
    socket->SetTimeouts(t);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("LoSt"), FourCC("DATA"), 0, 0, 1, "Lossy", handle), 0);
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(DlpWriteRecord(*socket, handle, 0, 0, 0, Pattern(1500 + size_t(i) * 100, i)), 0)
            << "record " << i;
    }
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EndSync();
    EXPECT_GT(socket->ReceiveErrors(), 0);  // corrupted packets reached us and were dropped
    EXPECT_GT(hh->Stats().retransmissions + hh->Stats().duplicates, 0);
    const auto db = hh->FindDatabase("Lossy");
    ASSERT_TRUE(db);
    ASSERT_EQ(db->records.size(), 8u);  // each once, despite the repeats
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(db->records[size_t(i)].data, Pattern(1500 + size_t(i) * 100, i));
}

TEST_F(HandheldLinkTest, TicklesKeepAnIdleLinkOpen) {
    HandheldConfig config = FastHandheld();
    config.receiveTimeoutMs = 600;
    Connect(config, 57600, true);
    // Idle for three times the handheld's patience, tickling as the worker does.
    for (int i = 0; i < 9; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_EQ(socket->Tickle(), 0);
    }
    EXPECT_EQ(DlpOpenConduit(*socket), 0);
    EXPECT_GT(hh->Stats().ticklesReceived, 0);
    EndSync();
}

TEST_F(HandheldLinkTest, WithoutTicklesTheIdleHandheldGivesUp) {
    HandheldConfig config = FastHandheld();
    config.receiveTimeoutMs = 400;
    Connect(config, 57600, true);
    ASSERT_TRUE(hh->WaitForSyncs(1, 3000));
    EXPECT_EQ(hh->Outcomes().front(), SyncOutcome::kLinkLost);
    LinkTimeouts t = FastDesktop();
    t.ackWaitMs = 100;
    t.sendTries = 3;
    socket->SetTimeouts(t);
    EXPECT_EQ(DlpOpenConduit(*socket), kErrLinkBroken);
    EXPECT_TRUE(socket->IsBroken());
}

TEST_F(HandheldLinkTest, PulledCableBreaksTheLink) {
    HandheldConfig config = FastHandheld();
    config.breakAfterBytes = 6000;
    Connect(config, 57600, true);
    LinkTimeouts t = FastDesktop();
    t.ackWaitMs = 100;
    t.sendTries = 4;
    t.receiveMs = 1000;
    socket->SetTimeouts(t);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("CuTt"), FourCC("DATA"), 0, 0, 1, "Cut", handle), 0);
    int result = 0;
    for (int i = 0; i < 10 && result == 0; ++i) {
        result = DlpWriteRecord(*socket, handle, 0, 0, 0, Pattern(1000, i));
    }
    EXPECT_EQ(result, kErrLinkBroken);
    EXPECT_TRUE(socket->IsBroken());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DlpCloseDB(*socket, handle), kErrLinkBroken);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(HandheldLinkTest, MemoryErrorFlagIsReported) {
    HandheldConfig config = FastHandheld();
    config.fullAfterBytes = 3000;
    config.fullStyle = handheld::FullStyle::kBoth;
    Connect(config, 57600, true);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("FuLl"), FourCC("DATA"), 0, 0, 1, "Full", handle), 0);
    int result = 0;
    for (int i = 0; i < 5 && result == 0; ++i) {
        result = DlpWriteRecord(*socket, handle, 0, 0, 0, Pattern(1000, i));
    }
    EXPECT_LT(result, 0);
    EXPECT_TRUE(socket->LastMemoryError());
    EXPECT_FALSE(socket->IsBroken());
    // The link still works for the clean-up.
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EXPECT_FALSE(socket->LastMemoryError());
    EXPECT_EQ(DlpDeleteDB(*socket, 0, "Full"), 0);
    EndSync();
}

TEST_F(HandheldLinkTest, NotEnoughSpaceWithoutTheFlag) {
    HandheldConfig config = FastHandheld();
    config.fullAfterBytes = 3000;
    config.fullStyle = handheld::FullStyle::kDlp;
    Connect(config, 57600, true);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("FuLl"), FourCC("DATA"), 0, 0, 1, "Full", handle), 0);
    int result = 0;
    for (int i = 0; i < 5 && result == 0; ++i) {
        result = DlpWriteRecord(*socket, handle, 0, 0, 0, Pattern(1000, i));
    }
    EXPECT_EQ(result, -16);
    EXPECT_FALSE(socket->LastMemoryError());
    EndSync();
}

TEST_F(HandheldLinkTest, TwoThreadsShareTheLinkSafely) {
    Connect(FastHandheld(), 115200, true);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("TwoT"), FourCC("DATA"), 0, 0, 1, "Two", handle), 0);
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 30; ++i) {
            if (DlpWriteRecord(*socket, handle, 0, 0, 0, Pattern(1200, i)) != 0) ++failures;
        }
        done = true;
    });
    std::thread window([&] {
        while (!done.load()) {
            CardInfo card;
            if (DlpReadStorageInfo(*socket, 0, card) != 0) ++failures;
            if (socket->Tickle() != 0) ++failures;
        }
    });
    worker.join();
    window.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EndSync();
    EXPECT_EQ(hh->Stats().badPackets, 0);
    const auto db = hh->FindDatabase("Two");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->records.size(), 30u);
}

TEST_F(HandheldLinkTest, StalledHandheldThatTicklesIsWaitedFor) {
    HandheldConfig config = FastHandheld();
    config.stallAfterBytes = 500;
    config.stallMs = 1500;
    config.stallTickles = true;
    config.tickleIntervalMs = 200;
    Connect(config, 57600, true);
    LinkTimeouts t = FastDesktop();
    t.receiveMs = 700;  // shorter than the stall: only the tickles keep us waiting
    socket->SetTimeouts(t);
    for (int i = 0; i < 4; ++i) {
        CardInfo card;
        ASSERT_EQ(DlpReadStorageInfo(*socket, 0, card), 0);
    }
    EXPECT_FALSE(socket->IsBroken());
    EndSync();
}

// ---- over a pseudo-terminal ---------------------------------------------------------------

TEST(HandheldOverPty, InstallsThroughTheSerialTransport) {
    handheld::CPtyTransport pty;
    ASSERT_EQ(pty.Open(), 0);
    HandheldConfig config = FastHandheld();
    config.maxBaud = 57600;
    CVirtualHandheld hh(config);
    ASSERT_TRUE(hh.Start(pty));

    auto socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
    socket->SetTimeouts(FastDesktop());
    SocketAddress address;
    ASSERT_TRUE(MakeAddress(pty.SlavePath(), address));
    ASSERT_EQ(socket->Bind(address, ports::CreatePortTransport(pty.SlavePath())), 0);
    ASSERT_EQ(socket->Listen(1), 0);
    socket->SetEstablishRate(256000, true);
    ASSERT_EQ(socket->Accept(), 0);
    EXPECT_EQ(socket->LineRate(), 256000);
    int handle = -1;
    ASSERT_EQ(DlpCreateDB(*socket, FourCC("PtyT"), FourCC("appl"), 0, 1, 1, "Pty App", handle), 0);
    EXPECT_EQ(DlpWriteResource(*socket, handle, FourCC("code"), 0, Pattern(65536, 9)), 0);
    EXPECT_EQ(DlpCloseDB(*socket, handle), 0);
    EXPECT_EQ(socket->Close(), 0);  // sends the end of sync
    ASSERT_TRUE(hh.WaitForSyncs(1, 5000));
    EXPECT_EQ(hh.Outcomes().front(), SyncOutcome::kCompleted);
    const auto app = hh.FindDatabase("Pty App");
    ASSERT_TRUE(app);
    ASSERT_EQ(app->resources.size(), 1u);
    EXPECT_EQ(app->resources[0].data, Pattern(65536, 9));
    hh.Stop();
}

}  // namespace
}  // namespace hotsync
