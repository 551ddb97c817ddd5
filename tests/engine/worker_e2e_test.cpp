// Whole install runs against the virtual handheld over an in-process pipe: the session,
// the worker and the window's share of the run, with the handheld's card and request log
// read afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/user_library.h"
#include "platform/path_rules.h"
#include "session/device_session.h"
#include "tests/session/db_builder.h"
#include "tests/support/worker_harness.h"

namespace {

using testsupport::ExpectSameAsFile;

class WorkerRun : public testsupport::CWorkerRunFixture {};

std::vector<testdb::Res> Code(size_t size, uint8_t seed) {
    return {{"code", 1, testdb::Bytes(size, seed)}, {"tver", 1, {'1', '.', '0', 0}}};
}

TEST_F(WorkerRun, EmptyListOpensAndEndsTheSync) {
    Run({});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(Requested("OpenConduit"));
    EXPECT_TRUE(Requested("EndOfSync"));
    EXPECT_FALSE(Requested("CreateDB"));
    EXPECT_FALSE(Requested("SetSysDateTime"));
    EXPECT_EQ(failed, 0);
}

TEST_F(WorkerRun, DuplicatePathsReachTheHandheldOnce) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("a.prc"), testdb::Info("Alpha", true, "appl", "Alph"),
                                        Code(500, 1)));
    Run({Path("a.prc"), Path("A.PRC"), Path("a.prc")});
    EXPECT_EQ(CountRequests("CreateDB"), 1);
    ASSERT_TRUE(m_hh->FindDatabase("Alpha"));
    ExpectSameAsFile(*m_hh->FindDatabase("Alpha"), Path("a.prc"));
}

TEST_F(WorkerRun, NonPalmFileBetweenTwoDatabases) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("one.prc"), testdb::Info("One", true, "appl", "One1"),
                                        Code(3000, 1)));
    std::ofstream(Path("notes.bin")) << "this is not a Palm database";
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("three.pdb"), testdb::Info("Three", false, "DATA", "Thr3"),
        {testdb::Rec(100, 1, 0, 2, 0x10), testdb::Rec(0, 2), testdb::Rec(4000, 3, 0x40, 15, 0x22)},
        testdb::Bytes(30, 7)));
    Run({Path("one.prc"), Path("notes.bin"), Path("three.pdb")});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_EQ(view.messages, std::vector<std::string>{"unknown format of file"});
    EXPECT_EQ(failed, 0);
    ASSERT_TRUE(m_hh->FindDatabase("One"));
    ASSERT_TRUE(m_hh->FindDatabase("Three"));
    ExpectSameAsFile(*m_hh->FindDatabase("One"), Path("one.prc"));
    ExpectSameAsFile(*m_hh->FindDatabase("Three"), Path("three.pdb"));
    EXPECT_GT(bytesSent, 7000);
    EXPECT_EQ(view.statuses.back().rfind("Ready (", 0), 0u) << view.statuses.back();
}

TEST_F(WorkerRun, MissingFileIsReportedAndTheRunGoesOn) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("b.prc"), testdb::Info("Bee", true, "appl", "Bee1"),
                                        Code(100, 1)));
    Run({Path("missing.prc"), Path("b.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_TRUE(m_hh->FindDatabase("Bee"));
}

TEST_F(WorkerRun, HandheldFullAtTheSecondOfThree) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("1.prc"), testdb::Info("First", true, "appl", "Fst1"),
                                        Code(2000, 1)));
    ASSERT_TRUE(
        testdb::WriteRecordDb(Path("2.pdb"), testdb::Info("Second", false, "DATA", "Snd2"),
                              {testdb::Rec(3000, 1), testdb::Rec(3000, 2), testdb::Rec(3000, 3)}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("3.prc"), testdb::Info("Third", true, "appl", "Thd3"),
                                        Code(10, 3)));
    config.fullAfterBytes = 5000;
    Run({Path("1.prc"), Path("2.pdb"), Path("3.prc")});
    ASSERT_FALSE(view.codes.empty());
    EXPECT_EQ(view.codes[0], 3);
    EXPECT_EQ(view.messages[0].rfind("Device full\nFree memory: ", 0), 0u) << view.messages[0];
    EXPECT_TRUE(m_hh->FindDatabase("First"));
    EXPECT_FALSE(m_hh->FindDatabase("Second")) << "a partial database was left";
    EXPECT_TRUE(Requested("CreateDB", "Third")) << "the third file was not tried";
    EXPECT_GE(failed, 1);
}

TEST_F(WorkerRun, LinkBrokenAtTheSecondOfThree) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("1.prc"), testdb::Info("First", true, "appl", "Fst1"),
                                        Code(1000, 1)));
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("2.pdb"), testdb::Info("Second", false, "DATA", "Snd2"),
        {testdb::Rec(3000, 1), testdb::Rec(3000, 2), testdb::Rec(3000, 3), testdb::Rec(3000, 4)}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("3.prc"), testdb::Info("Third", true, "appl", "Thd3"),
                                        Code(10, 3)));
    config.breakAfterBytes = 6000;
    Run({Path("1.prc"), Path("2.pdb"), Path("3.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{4});
    EXPECT_EQ(view.messages, std::vector<std::string>{"Connection lost"});
    EXPECT_FALSE(Requested("CreateDB", "Third"));
    EXPECT_EQ(failed, 1);
}

TEST_F(WorkerRun, OpenDatabaseIsClosedAndReplaced) {
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("run.prc"), testdb::Info("Runner", true, "appl", "Run1"), Code(800, 5)));
    // The old version is on the card and open there.
    ASSERT_TRUE(testdb::WriteResourceDb(Path("old.prc"),
                                        testdb::Info("Runner", true, "appl", "Run1"),
                                        {{"code", 1, testdb::Bytes(10, 9)}}));
    config.loadFiles = {Path("old.prc")};
    config.openDbName = "Runner";
    Run({Path("run.prc")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(Requested("OpenDB", "Runner"));
    EXPECT_TRUE(Requested("CloseDB"));
    EXPECT_GE(CountRequests("DeleteDB", "Runner"), 2);
    ASSERT_TRUE(m_hh->FindDatabase("Runner"));
    ExpectSameAsFile(*m_hh->FindDatabase("Runner"), Path("run.prc"));
}

TEST_F(WorkerRun, ShortCutsAndPatchesResetTheHandheld) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("sc.pdb"),
                                      testdb::Info("Graffiti ShortCuts ", false, "sysd", "graf"),
                                      {testdb::Rec(50, 1)}));
    Run({Path("sc.pdb")});
    auto db = m_hh->FindDatabase("Graffiti ShortCuts ");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->info.attributes & 0x8000, 0x8000);
    EXPECT_TRUE(Requested("ResetSystem"));
    EXPECT_EQ(m_hh->ResetCount(), 1);
}

TEST_F(WorkerRun, PatchCreatorResets) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("p.prc"), testdb::Info("Fix", true, "ptch", "ptch"),
                                        Code(20, 1)));
    Run({Path("p.prc")});
    EXPECT_TRUE(Requested("ResetSystem"));
}

TEST_F(WorkerRun, PlainDatabaseDoesNotReset) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("p.prc"), testdb::Info("Plain", true, "appl", "Plai"),
                                        Code(20, 1)));
    Run({Path("p.prc")});
    EXPECT_FALSE(Requested("ResetSystem"));
}

TEST_F(WorkerRun, BootResourceLastResets) {
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("b.prc"), testdb::Info("Booter", true, "appl", "Boot"),
        {{"code", 1, testdb::Bytes(10, 1)}, {"boot", 1, testdb::Bytes(10, 2)}}));
    Run({Path("b.prc")});
    EXPECT_TRUE(Requested("ResetSystem"));
}

TEST_F(WorkerRun, MemoAppInfoIsPaddedOnNewerHandhelds) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("memo.pdb"),
                                      testdb::Info("MemoDB", false, "DATA", "memo"),
                                      {testdb::Rec(20, 1)}, testdb::Bytes(200, 3)));
    config.dlpVersion = 0x0101;
    Run({Path("memo.pdb")});
    auto db = m_hh->FindDatabase("MemoDB");
    ASSERT_TRUE(db);
    ASSERT_EQ(db->appInfo.size(), 282u);
    std::vector<uint8_t> expected = testdb::Bytes(200, 3);
    expected.resize(282, 0);
    EXPECT_EQ(db->appInfo, expected);
}

TEST_F(WorkerRun, MemoAppInfoIsSentAsItIsOnDlp10) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("memo.pdb"),
                                      testdb::Info("MemoDB", false, "DATA", "memo"),
                                      {testdb::Rec(20, 1)}, testdb::Bytes(200, 3)));
    config.dlpVersion = 0x0100;
    config.romVersion = 0x01003000;
    Run({Path("memo.pdb")});
    auto db = m_hh->FindDatabase("MemoDB");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->appInfo, testdb::Bytes(200, 3));
}

// In a file the archive bit shares the attribute byte's low nibble with the category, so
// an archived record is a deleted one with that bit; a live record of category 11 is not
// archived.
std::vector<pdb::Record> MixedRecords() {
    return {testdb::Rec(10, 1, 0, 1, 0x101), testdb::Rec(11, 2, pdb::kRecAttrDeleted, 2, 0x102),
            testdb::Rec(12, 3, pdb::kRecAttrDeleted, pdb::kRecAttrArchived, 0x103),
            testdb::Rec(13, 4, 0, 11, 0x104)};
}

TEST_F(WorkerRun, DeletedAndArchivedRecordsAreSkippedOnDlp10) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("m.pdb"), testdb::Info("Mixed", false, "DATA", "Mix1"),
                                      MixedRecords()));
    config.dlpVersion = 0x0100;
    config.romVersion = 0x01003000;
    Run({Path("m.pdb")});
    auto db = m_hh->FindDatabase("Mixed");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->records.size(), 2u);  // the live ones, whatever their category
    ExpectSameAsFile(*db, Path("m.pdb"), true);
}

TEST_F(WorkerRun, DeletedAndArchivedRecordsAreSentOnNewerHandhelds) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("m.pdb"), testdb::Info("Mixed", false, "DATA", "Mix1"),
                                      MixedRecords()));
    Run({Path("m.pdb")});
    auto db = m_hh->FindDatabase("Mixed");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->records.size(), 4u);
    EXPECT_EQ(CountRequests("WriteRecord"), 4);
}

TEST_F(WorkerRun, ResourceOf65536BytesPassesAndOf65537Fails) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("big.prc"), testdb::Info("Big", true, "appl", "Big1"),
                                        {{"code", 1, testdb::Bytes(65536, 1)}}));
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("huge.prc"), testdb::Info("Huge", true, "appl", "Hug1"),
        {{"code", 1, testdb::Bytes(10, 1)}, {"code", 2, testdb::Bytes(65537, 2)}}));
    testing::internal::CaptureStderr();
    Run({Path("big.prc"), Path("huge.prc")});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Database contains resource over 64K!\n"), std::string::npos);
    EXPECT_EQ(view.codes, std::vector<int>{18});
    ASSERT_TRUE(m_hh->FindDatabase("Big"));
    ExpectSameAsFile(*m_hh->FindDatabase("Big"), Path("big.prc"));
    EXPECT_FALSE(m_hh->FindDatabase("Huge"));
    EXPECT_EQ(CountRequests("WriteResource"), 1);  // nothing of the huge one was written
    EXPECT_EQ(failed, 1);
}

TEST_F(WorkerRun, FortyCharacterNameIsCutTo31) {
    const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    ASSERT_EQ(name.size(), 40u);
    pdb::DbInfo info = testdb::Info("", true, "appl", "Long");
    ASSERT_TRUE(testdb::WriteResourceDb(Path("long.prc"), info, Code(10, 1)));
    // The file writer keeps 31 characters; put all 40 into the header by hand.
    {
        std::fstream f(Path("long.prc"), std::ios::in | std::ios::out | std::ios::binary);
        f.write(name.data(), 32);  // no terminator within the 32-byte field
    }
    Run({Path("long.prc")});
    EXPECT_TRUE(m_hh->FindDatabase(name.substr(0, 31)));
}

TEST_F(WorkerRun, TruncatedFileIsNotInstalledAndNotALostLink) {
    ASSERT_TRUE(
        testdb::WriteRecordDb(Path("t.pdb"), testdb::Info("Trunc", false, "DATA", "Trn1"),
                              {testdb::Rec(100, 1), testdb::Rec(100, 2), testdb::Rec(100, 3)}));
    std::filesystem::resize_file(Path("t.pdb"), std::filesystem::file_size(Path("t.pdb")) - 150);
    ASSERT_TRUE(testdb::WriteResourceDb(Path("ok.prc"), testdb::Info("After", true, "appl", "Aft1"),
                                        Code(10, 1)));
    Run({Path("t.pdb"), Path("ok.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_FALSE(m_hh->FindDatabase("Trunc"));
    EXPECT_TRUE(m_hh->FindDatabase("After"));
    EXPECT_EQ(failed, 1);
}

TEST_F(WorkerRun, CancelDuringALargeDatabaseRemovesIt) {
    std::vector<pdb::Record> records;
    for (int i = 0; i < 60; ++i) records.push_back(testdb::Rec(2000, static_cast<uint8_t>(i)));
    ASSERT_TRUE(testdb::WriteRecordDb(Path("large.pdb"),
                                      testdb::Info("Large", false, "DATA", "Lrg1"), records));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("next.prc"),
                                        testdb::Info("Next", true, "appl", "Nxt1"), Code(10, 1)));
    // A paced line (about a second for the database) so that the stop lands inside it.
    config.lineRate = 1000000;
    bool stopped = false;
    Run({Path("large.pdb"), Path("next.prc")}, false, false, [&](CInstallRun& run) {
        if (!stopped && m_session->m_nFileBytesDone > 4000) {
            stopped = true;
            EXPECT_TRUE(run.Stop(*m_session));
        }
    });
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_FALSE(m_hh->FindDatabase("Large"));
    EXPECT_FALSE(Requested("CreateDB", "Next"));
    EXPECT_TRUE(Requested("DeleteDB", "Large"));
}

TEST_F(WorkerRun, CancelAnsweredInAMessageEndsTheRun) {
    std::ofstream(Path("junk.bin")) << "junk";
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("n.prc"), testdb::Info("NotReached", true, "appl", "Nr01"), Code(10, 1)));
    view.answer = false;
    Run({Path("junk.bin"), Path("n.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_FALSE(Requested("CreateDB"));
    EXPECT_TRUE(Requested("EndOfSync"));
}

TEST_F(WorkerRun, ClockIsSetWhenAsked) {
    config.clock = 1000000000;  // 2001
    Run({}, false, true);
    EXPECT_TRUE(Requested("SetSysDateTime"));
    EXPECT_NEAR(static_cast<double>(m_hh->Clock()), static_cast<double>(std::time(nullptr)), 120);
}

TEST_F(WorkerRun, ArchivePathThatIsNoArchiveIsDroppedSilently) {
    std::filesystem::create_directories(m_dir + "pack.cca");
    ASSERT_TRUE(testdb::WriteResourceDb(Path("pack.cca/in.prc"),
                                        testdb::Info("Inside", true, "appl", "Ins1"), Code(10, 1)));
    Run({Path("pack.cca/in.prc")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_FALSE(Requested("CreateDB"));
    EXPECT_TRUE(Requested("ReadSysInfo"));  // device facts were read for the archive
}

// A user library that knows the handheld's user.
class COneUserLibrary final : public IUserLibrary {
  public:
    std::string root;
    int UmGetUserCount() override { return 1; }
    int UmGetUserID(int index, uint32_t& id) override {
        id = 42;
        return index == 0 ? 0 : -1;
    }
    int UmGetUserName(uint32_t, std::string& name) override {
        name = "Virtual User";
        return 0;
    }
    int UmGetRootDirectory(std::string& dir) override {
        dir = root;
        return 0;
    }
    int UmGetUserDirectory(uint32_t, std::string& dir) override {
        dir = "VirtualU";
        return 0;
    }
};

TEST_F(WorkerRun, BackupCopyAndLogLineForTheHandheldsUser) {
    COneUserLibrary library;
    library.root = m_dir + "desk";
    std::filesystem::create_directories(m_dir + "desk/VirtualU/Backup");
    g_pUserLibrary = &library;
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("v.prc"), testdb::Info("Versioned", true, "appl", "Ver1"),
        {{"code", 1, testdb::Bytes(100, 1)}, {"tver", 1, {'3', '.', '5', 0}}}));
    config.userName = "Virtual User";
    const time_t before = std::time(nullptr);
    Run({Path("v.prc")}, true);
    // Made of the library's folders as the system writes paths.
    const std::string userDir = platform::WithTrailingSeparator(
        platform::WithTrailingSeparator(m_dir + "desk") + "VirtualU");
    auto copy = pdb::CPalmDbFile::Open(userDir + "Backup/VERSIONED.PRC");
    ASSERT_TRUE(copy) << m_hh->RequestsJson();
    auto db = m_hh->FindDatabase("Versioned");
    ASSERT_TRUE(db);
    // Dates as the handheld reports them, stored counted from 1970 in the copy.
    EXPECT_EQ(copy->Info().createDate, db->info.createDate - pdb::kEpochOffset);
    EXPECT_EQ(copy->Info().modifyDate, copy->Info().backupDate);
    EXPECT_EQ(copy->Info().type, pdb::MakeFourCC("appl"));
    ASSERT_EQ(copy->EntryCount(), 2);

    std::ifstream log(userDir + "CCourier.log", std::ios::binary);
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');  // CR LF on disk
    line.pop_back();
    EXPECT_EQ(line.rfind("VERSIONED.PRC, 3.5, ", 0), 0u) << line;
    EXPECT_EQ(line.size(), std::string("VERSIONED.PRC, 3.5, ").size() + 24);
    EXPECT_FALSE(std::getline(log, line));
    EXPECT_TRUE(Requested("WriteUserInfo"));  // the user record goes back at the end
    EXPECT_EQ(view.userDir, userDir);
    EXPECT_EQ(view.handheldUser, "Virtual User");
    (void)before;
}

TEST_F(WorkerRun, BackupWantedButUserUnknownMakesNoCopy) {
    COneUserLibrary library;
    library.root = m_dir + "desk";
    std::filesystem::create_directories(m_dir + "desk/VirtualU/Backup");
    g_pUserLibrary = &library;
    config.userName = "Somebody Else";
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("v.prc"), testdb::Info("Versioned", true, "appl", "Ver1"), Code(10, 1)));
    Run({Path("v.prc")}, true);
    EXPECT_TRUE(m_hh->FindDatabase("Versioned"));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "desk/VirtualU/CCourier.log"));
    EXPECT_TRUE(std::filesystem::is_empty(m_dir + "desk/VirtualU/Backup"));
    // No user directory to remember, but the name to offer for a new desktop user.
    EXPECT_EQ(view.userDir, "");
    EXPECT_EQ(view.handheldUser, "Somebody Else");
}

TEST_F(WorkerRun, ProcessorFeatureThatCannotBeReadClaimsNeither) {
    config.romVersion = 0x03503000;
    config.dlpVersion = 0x0100;  // too old for the feature request
    Connect();
    m_session->ReadSysInfo();
    EXPECT_EQ(m_session->m_dwRomVersion, 0x03503000u);
    EXPECT_FALSE(m_session->CheckProcessor());
    EXPECT_EQ(m_session->m_bEzCpu, 0);
    EXPECT_EQ(m_session->m_bOldCpu, 0);
    EXPECT_FALSE(m_session->CheckColor());
}

TEST_F(WorkerRun, DeviceFactsOfAColourEzHandheld) {
    config.romVersion = 0x03503000;
    config.displayFeature = 8;
    config.cpuId = 0x00020001;
    Connect();
    m_session->ReadSysInfo();
    EXPECT_TRUE(m_session->CheckColor());
    EXPECT_EQ(m_session->m_dwDisplayFeature, 8u);
    EXPECT_TRUE(m_session->CheckProcessor());
    EXPECT_EQ(m_session->m_bOldCpu, 0);
}

}  // namespace
