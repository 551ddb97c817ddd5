// The virtual handheld against a minimal desktop: handshake, DLP answers, card state.
#include <filesystem>

#include "pdb/palm_db_file.h"
#include "platform/system.h"
#include "tests/handheld/handheld_fixture.h"
#include "tools/handheld/slp_codec.h"

namespace handheld_test {
namespace {

using handheld::HandheldConfig;
using handheld::SyncOutcome;

constexpr uint32_t kAppl = 0x6170706C, kData = 0x44415441, kTest = 0x54455354, kPsys = 0x70737973;

// ---- Framing against the fact sheet's vectors -------------------------------------------

TEST(SlpCodec, CrcAndWakeupFrameMatchTheRecordedBytes) {
    const std::string check = "123456789";
    EXPECT_EQ(handheld::Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()),
              0x31C3);
    handheld::SlpPacket p;
    p.xid = 0xFF;
    p.body = {0x01, 0xC0, 0x00, 0x0A, 0x01, 0x10, 0x01, 0x03, 0, 0, 0, 0x01, 0xC2, 0x00};
    const std::vector<uint8_t> expected{0xBE, 0xEF, 0xED, 0x03, 0x03, 0x02, 0x00, 0x0E, 0xFF,
                                        0xAF, 0x01, 0xC0, 0x00, 0x0A, 0x01, 0x10, 0x01, 0x03,
                                        0x00, 0x00, 0x00, 0x01, 0xC2, 0x00, 0x6D, 0x2E};
    EXPECT_EQ(handheld::EncodeSlp(p), expected);
}

TEST(SlpCodec, ParserSkipsNoiseAndDamageAndFindsPacketsBehindIt) {
    handheld::SlpPacket a, b;
    a.xid = 7;
    a.body = {1, 2, 3};
    b.xid = 8;
    b.body = {9};
    auto good = handheld::EncodeSlp(a);
    auto damaged = good;
    damaged[11] ^= 1;  // CRC fails
    auto badHeader = good;
    badHeader[9] ^= 1;  // header checksum fails
    std::vector<uint8_t> stream{0x00, 0xBE, 0x42};
    stream.insert(stream.end(), badHeader.begin(), badHeader.end());
    // A damaged packet cut short, with a whole one right behind it.
    stream.insert(stream.end(), damaged.begin(), damaged.begin() + 10);
    const auto second = handheld::EncodeSlp(b);
    stream.insert(stream.end(), second.begin(), second.end());
    stream.insert(stream.end(), good.begin(), good.end());
    handheld::CSlpParser parser;
    std::vector<handheld::SlpPacket> got;
    for (uint8_t byte : stream) {  // byte by byte: partial packets must wait
        parser.Feed(&byte, 1);
        handheld::SlpPacket out;
        while (parser.Next(out)) got.push_back(out);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].xid, 8);
    EXPECT_EQ(got[1].body, a.body);
    EXPECT_GE(parser.BadCount(), 2);
}

// ---- Handshake ------------------------------------------------------------------------

TEST_F(HandheldTest, WakeupCarriesVersionAndRateAndIsRepeatedUntilAnswered) {
    HandheldConfig c = FastConfig();
    c.maxBaud = 57600;
    StartHandheld(c);
    // Let a few wakeups go unanswered, as with a desktop that opens its port late.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_TRUE(desk->AcceptWakeup(wakeup, 3000));
    EXPECT_EQ(desk->loopbacksSeen, 2);
    const std::vector<uint8_t> expected{0x01, 0x10, 1, 3, 0, 0, 0x00, 0x00, 0xE1, 0x00};
    EXPECT_EQ(wakeup, expected);
    EXPECT_GE(hh->Stats().wakeupsSent, 3);
    ASSERT_TRUE(desk->Init(57600, 0x90));
    // The ACK of the INIT: short form, flags echoed, two stray bytes as recorded.
    EXPECT_EQ(desk->lastAckFlags, 0xC0);
    EXPECT_EQ(desk->lastAckExtra.size(), 2u);
    const Response r = Call(Request(0x12, 0x20, {0, 1, 0, 4}));
    EXPECT_EQ(desk->lastAckFlags, 0xD0);  // long-form ACKs once agreed
    EXPECT_EQ(hh->Stats().currentRate, 57600);
    EXPECT_EQ(r.error, 0);
    EndSync();
    EXPECT_EQ(hh->Outcomes().at(0), SyncOutcome::kCompleted);
}

TEST_F(HandheldTest, OldUnitOffersNoLongFormAndStaysShort) {
    HandheldConfig c = FastConfig();
    c.dlpVersion = 0x0100;
    StartHandheld(c);
    Connect(0, 0x10);  // the desktop offers long form; a DLP 1.0 unit never asked for it
    EXPECT_EQ(wakeup[1], 0x00);
    EXPECT_EQ(wakeup[3], 0);  // CMP 1.0
    const Response r = Call(Request(0x12, 0x20, {0, 1, 0, 4}));
    EXPECT_EQ(desk->lastAckFlags, 0xC0);
    ASSERT_EQ(r.args.size(), 1u);  // no version argument before DLP 1.2
    EXPECT_EQ(r.args[0].second.size(), 14u);
    EXPECT_EQ(Call(Request(0x38, 0x20, {0x70, 0x73, 0x79, 0x73, 0, 2})).error, 2);
    EndSync();
}

TEST_F(HandheldTest, AbortEndsTheSyncAsAborted) {
    HandheldConfig c = FastConfig();
    c.cmpMajor = 2;
    c.cmpMinor = 0;
    StartHandheld(c);
    ASSERT_TRUE(desk->AcceptWakeup(wakeup, 5000));
    EXPECT_EQ(wakeup[2], 2);
    std::vector<uint8_t> abort{0x03, 0x80, 2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(desk->Send(0x01, abort));
    ASSERT_TRUE(hh->WaitForSyncs(1, 3000));
    EXPECT_EQ(hh->Outcomes().at(0), SyncOutcome::kAborted);
}

TEST_F(HandheldTest, NoDesktopEndsRunWithAFailure) {
    HandheldConfig c = FastConfig();
    c.timeoutSec = 1;
    StartHandheld(c);
    ASSERT_TRUE(hh->WaitDone(5000));
    EXPECT_EQ(hh->ExitCode(), 1);
    EXPECT_EQ(hh->SyncsDone(), 0);
}

// ---- DLP ------------------------------------------------------------------------------

TEST_F(HandheldTest, InstallSequenceBuildsTheDatabaseAndWritesItOut) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("cc-handheld-out-" + std::to_string(platform::ProcessId()));
    std::filesystem::remove_all(dir);
    HandheldConfig c = FastConfig();
    c.outDir = dir.string();
    StartHandheld(c);
    Connect();
    EXPECT_EQ(Call(Request0(0x2E)).error, 0);
    EXPECT_EQ(Call(Request(0x1A, 0x20, NameArg("Test/DB"))).error, 5);  // not there yet
    const Response created =
        Call(Request(0x18, 0x20, CreateDbArg("Test/DB", kTest, kData, 0x0008)));
    ASSERT_EQ(created.error, 0);
    const uint8_t h = created.args.at(0).second.at(0);
    EXPECT_EQ(Call(Request(0x18, 0x20, CreateDbArg("Test/DB", kTest, kData, 0))).error, 9);
    std::vector<uint8_t> appArg{h, 0, 0, 3, 'a', 'b', 'c'};
    EXPECT_EQ(Call(Request(0x1C, 0x20, appArg)).error, 0);
    const Response given = Call(Request(0x21, 0x20, WriteRecordArg(h, 0x6F8000, 0x40, 3, {1, 2})));
    ASSERT_EQ(given.error, 0);
    EXPECT_EQ(Get32(given.args.at(0).second, 0), 0x6F8000u);
    const Response assigned = Call(Request(0x21, 0x20, WriteRecordArg(h, 0, 0x10, 1, {})));
    ASSERT_EQ(assigned.error, 0);
    const uint32_t newId = Get32(assigned.args.at(0).second, 0);
    EXPECT_NE(newId, 0u);
    EXPECT_NE(newId, 0x6F8000u);
    EXPECT_EQ(Call(Request(0x24, 0x20, WriteResourceArg(h, kAppl, 1, {1}))).error, 0x0D);
    EXPECT_EQ(Call(Request(0x27, 0x20, {h})).error, 0);
    // FindDB by handle, attributes only: 10 + 44 + "Test/DB\0" = 62 bytes.
    const Response found = Call(Request(0x39, 0x21, {0x80, h}));
    ASSERT_EQ(found.error, 0);
    ASSERT_EQ(found.args.size(), 1u);
    const auto& f = found.args[0].second;
    ASSERT_EQ(f.size(), 62u);
    EXPECT_EQ(Get16(f, 12), 0x8008);  // attributes, open
    EXPECT_EQ(Get32(f, 14), kData);
    EXPECT_EQ(Get32(f, 18), kTest);
    EXPECT_EQ(Get16(f, 28), 2027);  // created by the handheld's clock
    EXPECT_EQ(Get16(f, 44), 2027);  // backup date stamped by ResetSyncFlags
    EXPECT_EQ(Get16(f, 52), 0xFFFF);
    EXPECT_EQ(Call(Request(0x19, 0x20, {h})).error, 0);
    EXPECT_EQ(Call(Request(0x19, 0x20, {h})).error, 6);  // nothing open any more
    EndSync();

    const auto db = hh->FindDatabase("Test/DB");
    ASSERT_TRUE(db.has_value());
    ASSERT_EQ(db->records.size(), 2u);
    EXPECT_EQ(db->records[0].category, 3);
    EXPECT_EQ(db->records[0].attributes, 0x00);  // dirty cleared by ResetSyncFlags
    EXPECT_EQ(db->records[1].attributes, 0x10);
    auto file = pdb::CPalmDbFile::Open((dir / "Test_DB.pdb").string());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Info().name, "Test/DB");
    EXPECT_EQ(file->EntryCount(), 2);
    std::vector<uint8_t> app;
    file->GetAppInfo(app);
    EXPECT_EQ(app, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_TRUE(std::filesystem::exists(dir / "requests.json"));
    const std::string json = hh->RequestsJson();
    EXPECT_NE(json.find("\"function\":\"CreateDB\""), std::string::npos);
    EXPECT_NE(json.find("\"name\":\"Test/DB\""), std::string::npos);
    EXPECT_NE(json.find("\"function\":\"DeleteDB\",\"code\":26,\"args\":{\"card\":0,\"name\":"
                        "\"Test/DB\"},\"result\":5"),
              std::string::npos);
    file.reset();  // Windows removes no folder with an open file in it
    std::filesystem::remove_all(dir);
}

TEST_F(HandheldTest, DeviceFactsFollowTheConfiguration) {
    HandheldConfig c = FastConfig();
    c.romVersion = 0x03503000;
    c.cpuId = 0x00030000;
    c.displayFeature = 2;
    c.ramSize = 4000000;
    c.freeRam = 100000;
    c.userName = "Jo";
    StartHandheld(c);
    Connect();
    const Response sys = Call(Request(0x12, 0x20, {0, 1, 0, 4}));
    ASSERT_EQ(sys.args.size(), 2u);
    EXPECT_EQ(Get32(sys.args[0].second, 0), 0x03503000u);
    EXPECT_EQ(Get16(sys.args[1].second, 0), 1);
    EXPECT_EQ(Get16(sys.args[1].second, 2), 2);
    EXPECT_EQ(Get32(sys.args[1].second, 8), 0xFFE1u);
    std::vector<uint8_t> feature{0x70, 0x73, 0x79, 0x73, 0, 2};
    EXPECT_EQ(Get32(Call(Request(0x38, 0x20, feature)).args.at(0).second, 0), 0x00030000u);
    feature[5] = 7;
    EXPECT_EQ(Get32(Call(Request(0x38, 0x20, feature)).args.at(0).second, 0), 2u);
    feature[5] = 99;
    EXPECT_EQ(Call(Request(0x38, 0x20, feature)).error, 5);
    const Response storage = Call(Request(0x15, 0x20, {0, 0}));
    ASSERT_EQ(storage.error, 0);
    const auto& s = storage.args.at(0).second;
    EXPECT_EQ(s[3], 1);                     // one card
    EXPECT_EQ(s[4] % 2, 0);                 // even record size
    EXPECT_EQ(Get32(s, 4 + 16), 4000000u);  // RAM
    EXPECT_EQ(Get32(s, 4 + 20), 100000u);   // free
    EXPECT_EQ(Call(Request(0x15, 0x20, {1, 0})).error, 5);
    const Response user = Call(Request0(0x10));
    const auto& u = user.args.at(0).second;
    ASSERT_EQ(u.size(), 33u);
    EXPECT_EQ(u[28], 3);
    EXPECT_EQ(std::string(u.begin() + 30, u.end() - 1), "Jo");
    EXPECT_EQ(Call(Request0(0x7E)).error, 2);  // unknown function
    EndSync();
}

TEST_F(HandheldTest, UserInfoAndClockAreWritable) {
    StartHandheld(FastConfig());
    Connect();
    std::vector<uint8_t> w;
    Put32(w, 77);
    Put32(w, 0);
    Put32(w, 0xC0A80001);
    w.insert(w.end(), {0x07, 0xE7, 6, 8, 3, 0x39, 0x21, 0});
    w.push_back(0xF0 & ~0x08);  // user id, sync PC, date, name
    w.push_back(6);
    PutStr(w, "Alice");
    EXPECT_EQ(Call(Request(0x11, 0x20, w)).error, 0);
    EXPECT_EQ(Call(Request(0x14, 0x20, {0x07, 0xD0, 1, 2, 3, 4, 5, 0})).error, 0);
    EXPECT_EQ(Call(Request(0x14, 0x20, {0x07, 0xD0, 13, 2, 3, 4, 5, 0})).error, 4);
    const Response t = Call(Request0(0x13));
    EXPECT_EQ(Get16(t.args.at(0).second, 0), 2000);
    EXPECT_EQ(t.args.at(0).second[2], 1);
    EndSync();
    const auto user = hh->User();
    EXPECT_EQ(user.name, "Alice");
    EXPECT_EQ(user.userId, 77u);
    EXPECT_EQ(user.lastSyncPc, 0xC0A80001u);
    EXPECT_EQ(user.lastSync, 1686196653);  // 2023-06-08 03:57:33
}

TEST_F(HandheldTest, NetworkSyncSettingsReadBackWhatWasWritten) {
    StartHandheld(FastConfig());
    Connect();
    const Response before = Call(Request0(0x36));
    ASSERT_EQ(before.error, 0);
    EXPECT_EQ(before.args.at(0).second.size(), 24u);  // flag, reserved, three empty sizes
    // The recorded desktop's request: only the address is marked as changed.
    std::vector<uint8_t> w = {0x20, 1};
    w.resize(18, 0);
    w.insert(w.end(), {0, 0, 0, 12, 0, 0});
    PutStr(w, "192.168.2.4");
    EXPECT_EQ(Call(Request(0x37, 0x20, w)).error, 0);
    const Response after = Call(Request0(0x36));
    ASSERT_EQ(after.error, 0);
    const auto& a = after.args.at(0).second;
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[0], 0);  // the flag was not marked as changed
    EXPECT_EQ(Get16(a, 20), 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a[24])), "192.168.2.4");
    EndSync();
}

TEST_F(HandheldTest, DatabaseHeldOpenRefusesDeletionUntilCloseAll) {
    HandheldConfig c = FastConfig();
    c.openDbName = "Running";
    prepare = [](handheld::CVirtualHandheld& h) {
        handheld::HandheldDatabase db;
        db.info.name = "Running";
        db.info.attributes = pdb::kAttrResDb;
        db.info.type = kAppl;
        db.resources.push_back({{1, 2, 3}, 0x636F6465, 0});
        h.AddDatabase(db);
    };
    StartHandheld(c);
    Connect();
    EXPECT_EQ(Call(Request(0x1A, 0x20, NameArg("Running"))).error, 7);
    const Response opened = Call(Request(0x17, 0x20, NameArg("Running", 0, 0x80)));
    ASSERT_EQ(opened.error, 0);
    EXPECT_EQ(Call(Request(0x19, 0x20, {opened.args.at(0).second.at(0)})).error, 0);
    EXPECT_EQ(Call(Request(0x1A, 0x20, NameArg("Running"))).error, 7);
    EXPECT_EQ(Call({0x19, 0x01, 0x21, 0x00}).error, 0);  // close all
    EXPECT_EQ(Call(Request(0x1A, 0x20, NameArg("Running"))).error, 0);
    EndSync();
    EXPECT_FALSE(hh->FindDatabase("Running").has_value());
}

TEST_F(HandheldTest, FullSizeResourceTravelsInLongFormAndReadsBackInPieces) {
    StartHandheld(FastConfig());
    Connect(0, 0x10);
    const Response created = Call(
        Request(0x18, 0x20,
                CreateDbArg("Big", kTest, kAppl, pdb::kAttrResDb | pdb::kAttrResetAfterInstall)));
    const uint8_t h = created.args.at(0).second.at(0);
    std::vector<uint8_t> data(65536);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    // 65,546 argument bytes: a long wrapper in a long-form PADP message.
    EXPECT_EQ(Call(Request(0x24, 0x20, WriteResourceArg(h, 0x636F6465, 1, data))).error, 0);
    std::vector<uint8_t> tooBig(65537);
    EXPECT_EQ(Call(Request(0x24, 0x20, WriteResourceArg(h, 0x636F6465, 2, tooBig))).error, 0x11);
    std::vector<uint8_t> read{h, 0, 0, 0, 0x10, 0x00, 0x10, 0x00};  // index 0, offset/count 4096
    const Response piece = Call(Request(0x23, 0x20, read));
    ASSERT_EQ(piece.error, 0);
    const auto& p = piece.args.at(0).second;
    ASSERT_EQ(p.size(), 10u + 4096u);
    EXPECT_EQ(Get32(p, 0), 0x636F6465u);
    EXPECT_TRUE(std::equal(p.begin() + 10, p.end(), data.begin() + 4096));
    EXPECT_EQ(Call(Request0(0x29)).error, 0);  // reset after the sync
    EndSync();
    EXPECT_EQ(hh->ResetCount(), 1);
    EXPECT_EQ(hh->FindDatabase("Big")->resources.at(0).data, data);
    EXPECT_GE(hh->BytesStored(), 65536);
}

TEST_F(HandheldTest, LongAnswerIsSentInFragments) {
    prepare = [](handheld::CVirtualHandheld& h) {
        handheld::HandheldDatabase db;
        db.info.name = "MemoDB";
        db.info.type = kData;
        db.records.push_back({std::vector<uint8_t>(3000, 0x41), 0x40, 1, 0xC04001});
        h.AddDatabase(db);
    };
    StartHandheld(FastConfig());
    Connect();
    const Response opened = Call(Request(0x17, 0x20, NameArg("MemoDB", 0, 0x80)));
    const uint8_t h = opened.args.at(0).second.at(0);
    const int before = desk->dataSeen;
    const Response rec = Call(Request(0x20, 0x21, {h, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(desk->dataSeen - before, 3);  // 3014 bytes in 1024-byte fragments
    ASSERT_EQ(rec.error, 0);
    const auto& r = rec.args.at(0).second;
    EXPECT_EQ(Get32(r, 0), 0xC04001u);
    EXPECT_EQ(Get16(r, 6), 3000);
    EXPECT_EQ(r[8], 0x40);
    EXPECT_EQ(r[9], 1);
    // A write on a read-only handle is refused.
    EXPECT_EQ(Call(Request(0x21, 0x20, WriteRecordArg(h, 0, 0, 0, {1}))).error, 0x0F);
    // ReadDBList: RAM, one entry per reply unless "multiple".
    const Response list = Call(Request(0x16, 0x20, {0x80, 0, 0, 0}));
    ASSERT_EQ(list.error, 0);
    EXPECT_EQ(list.args.at(0).second[3], 1);
    EXPECT_EQ(Call(Request(0x16, 0x20, {0x80, 0, 0, 1})).error, 5);
    EndSync();
}

}  // namespace
}  // namespace handheld_test
