// Injected faults: lost and corrupted packets, duplicates, a pulled cable, memory full,
// a paced line and a stall.
#include "tests/handheld/handheld_fixture.h"

namespace handheld_test {
namespace {

using handheld::FullStyle;
using handheld::HandheldConfig;
using handheld::SyncOutcome;

constexpr uint32_t kData = 0x44415441, kTest = 0x54455354;

// Creates a record database and writes records of the given sizes; the last result.
uint16_t InstallRecords(HandheldTest& t, CMiniDesktop& desk, const std::vector<size_t>& sizes,
                        uint8_t* handle = nullptr) {
    std::vector<uint8_t> bytes;
    Response r;
    EXPECT_TRUE(desk.Call(Request(0x18, 0x20, CreateDbArg("Faulty", kTest, kData, 0)), bytes));
    EXPECT_TRUE(DecodeResponse(bytes, r));
    const uint8_t h = r.args.at(0).second.at(0);
    if (handle) *handle = h;
    uint16_t last = 0;
    for (size_t n : sizes) {
        if (!desk.Call(Request(0x21, 0x20, WriteRecordArg(h, 0, 0, 0, std::vector<uint8_t>(n, 1))),
                       bytes, 3000)) {
            return 0xFFFF;
        }
        EXPECT_TRUE(DecodeResponse(bytes, r));
        last = r.error;
    }
    (void)t;
    return last;
}

TEST_F(HandheldTest, LostAndCorruptedPacketsAreRecoveredByRetransmission) {
    HandheldConfig c = FastConfig();
    c.dropEvery = 5;
    c.corruptEvery = 7;
    StartHandheld(c);
    desk->ackWaitMs = 300;
    Connect();
    EXPECT_EQ(InstallRecords(*this, *desk, {10, 3000, 200, 5000, 1}), 0);
    const Response r = Call(Request(0x2F, 0x20, {0, 0}));
    EXPECT_EQ(r.error, 0);
    ASSERT_TRUE(hh->WaitForSyncs(1, 10000));
    EXPECT_EQ(hh->Outcomes().at(0), SyncOutcome::kCompleted);
    const auto stats = hh->Stats();
    EXPECT_GT(stats.retransmissions, 0);
    EXPECT_GT(stats.badPackets, 0);
    EXPECT_GT(stats.duplicates, 0);  // desktop packets whose ACK was lost came again
    // Every record arrived exactly once despite the repeats.
    const auto db = hh->FindDatabase("Faulty");
    ASSERT_TRUE(db.has_value());
    ASSERT_EQ(db->records.size(), 5u);
    EXPECT_EQ(db->records[3].data.size(), 5000u);
}

TEST_F(HandheldTest, RepeatedRequestIsAcknowledgedButServedOnce) {
    StartHandheld(FastConfig());
    Connect();
    // The same request packet twice, as when the desktop missed our ACK.
    const auto req = Request(0x18, 0x20, CreateDbArg("Twice", kTest, kData, 0));
    ASSERT_TRUE(desk->SendData(0x05, 0xC0, static_cast<uint32_t>(req.size()), req));
    ASSERT_TRUE(desk->SendData(0x05, 0xC0, static_cast<uint32_t>(req.size()), req));
    std::vector<uint8_t> answer;
    uint8_t xid = 0;
    ASSERT_TRUE(desk->Receive(answer, xid, 3000));
    EXPECT_EQ(xid, 0x05);
    EXPECT_EQ(answer[3], 0);  // created, not "already exists"
    EndSync();
    EXPECT_EQ(hh->Stats().duplicates, 1);
    int creates = 0;
    for (const auto& e : hh->Requests()) creates += e.name == "CreateDB";
    EXPECT_EQ(creates, 1);
}

TEST_F(HandheldTest, PulledCableEndsTheSyncAndTheDesktopSeesTheLineDie) {
    HandheldConfig c = FastConfig();
    c.breakAfterBytes = 400;
    StartHandheld(c);
    Connect();
    std::vector<uint8_t> bytes;
    bool failed = false;
    for (int i = 0; i < 20 && !failed; ++i) {
        failed = !desk->Call(Request0(0x10), bytes, 1500);
    }
    EXPECT_TRUE(failed);
    ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    EXPECT_EQ(hh->Outcomes().at(0), SyncOutcome::kBroken);
    const auto stats = hh->Stats();
    EXPECT_EQ(stats.bytesSent + stats.bytesReceived, 400);
    uint8_t b = 0;
    EXPECT_EQ(m_pipe.desktop->Read(&b, 1, 100), -1);  // closed, like a pulled cable
}

class MemoryFullTest : public HandheldTest, public ::testing::WithParamInterface<FullStyle> {};

TEST_P(MemoryFullTest, WriteBeyondTheLimitIsRefusedInTheChosenStyle) {
    HandheldConfig c = FastConfig();
    c.fullAfterBytes = 1000;
    c.fullStyle = GetParam();
    StartHandheld(c);
    Connect();
    uint8_t h = 0;
    EXPECT_EQ(InstallRecords(*this, *desk, {600, 400}, &h), 0);  // exactly at the limit
    EXPECT_EQ(desk->lastAckFlags & 0x20, 0);
    std::vector<uint8_t> bytes;
    const bool answered =
        desk->Call(Request(0x21, 0x20, WriteRecordArg(h, 0, 0, 0, {1})), bytes, 1500);
    const bool flagged = (desk->lastAckFlags & 0x20) != 0;
    Response r;
    switch (GetParam()) {
        case FullStyle::kBoth:
            EXPECT_TRUE(flagged);
            ASSERT_TRUE(answered);
            ASSERT_TRUE(DecodeResponse(bytes, r));
            EXPECT_EQ(r.error, 16);
            break;
        case FullStyle::kPadp:
            EXPECT_TRUE(flagged);
            EXPECT_FALSE(answered);
            EXPECT_EQ(hh->Requests().back().result, -1);
            break;
        case FullStyle::kDlp:
            EXPECT_FALSE(flagged);
            ASSERT_TRUE(answered);
            ASSERT_TRUE(DecodeResponse(bytes, r));
            EXPECT_EQ(r.error, 16);
            break;
    }
    EndSync();
    EXPECT_EQ(hh->FindDatabase("Faulty")->records.size(), 2u);
    EXPECT_EQ(hh->BytesStored(), 1000);
}

INSTANTIATE_TEST_SUITE_P(Styles, MemoryFullTest,
                         ::testing::Values(FullStyle::kBoth, FullStyle::kPadp, FullStyle::kDlp));

TEST_F(HandheldTest, FreeStorageRunsOutWithErrorSixteen) {
    HandheldConfig c = FastConfig();
    c.freeRam = 2000;
    StartHandheld(c);
    Connect();
    EXPECT_EQ(InstallRecords(*this, *desk, {1500, 600}), 16);
    const Response storage = Call(Request(0x15, 0x20, {0, 0}));
    EXPECT_EQ(Get32(storage.args.at(0).second, 4 + 20), 500u);
    EndSync();
}

TEST_F(HandheldTest, PacedLineTakesTheTimeOfItsBitRate) {
    HandheldConfig c = FastConfig();
    c.lineRate = 19200;  // 1,920 bytes a second each way
    StartHandheld(c);
    Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InstallRecords(*this, *desk, {1900}), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // About 2,000 bytes each way had to cross; at least a second, well under three.
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 3.0);
    EndSync();
}

TEST_F(HandheldTest, StallWithTicklesKeepsTheDesktopWaiting) {
    HandheldConfig c = FastConfig();
    c.stallAfterBytes = 60;  // just after the wakeup was answered
    c.stallMs = 1300;
    c.stallTickles = true;
    c.tickleIntervalMs = 400;
    StartHandheld(c);
    ASSERT_TRUE(desk->AcceptWakeup(wakeup, 5000));
    // The INIT goes unanswered while the handheld is stalled; only tickles come.
    ASSERT_TRUE(desk->Init(0, 0x10));
    EXPECT_GE(desk->ticklesSeen, 2);
    EXPECT_EQ(Call(Request0(0x10)).error, 0);
    EndSync();
    EXPECT_GE(hh->Stats().ticklesSent, 2);
}

TEST_F(HandheldTest, SilentDesktopEndsTheSyncAsLinkLost) {
    HandheldConfig c = FastConfig();
    c.receiveTimeoutMs = 600;
    StartHandheld(c);
    Connect();
    // Tickles keep it alive ...
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(desk->WritePacket(2, 0xFF, {0x04, 0xC0, 0, 0}));
    }
    EXPECT_EQ(hh->SyncsDone(), 0);
    // ... silence does not.
    ASSERT_TRUE(hh->WaitForSyncs(1, 3000));
    EXPECT_EQ(hh->Outcomes().at(0), SyncOutcome::kLinkLost);
    EXPECT_EQ(hh->Stats().ticklesReceived, 4);
}

}  // namespace
}  // namespace handheld_test
