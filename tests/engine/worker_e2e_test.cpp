// Whole install runs against the virtual handheld over an in-process pipe: the session,
// the worker and the window's share of the run, with the handheld's card and request log
// read afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/transfer_monitor.h"
#include "engine/user_library.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"
#include "session/link/pipe_transport.h"
#include "tests/session/db_builder.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

using handheld::HandheldDatabase;

// The window: answers every message and keeps the run's codes.
class CTestView final : public ITransferView {
  public:
    CDeviceSession* session = nullptr;
    bool answer = true;
    std::vector<int> codes;
    std::vector<std::string> messages, statuses;

    void SetStatus(const std::string& t) override { statuses.push_back(t); }
    void SetCaption(const std::string&) override {}
    void SetProgress(int, int) override {}
    void SetElapsed(const std::string&) override {}
    bool AskOkCancel(const std::string& t) override {
        codes.push_back(session ? session->m_nError.load() : -1);
        messages.push_back(t);
        return answer;
    }
};

class CDone final : public IInstallDoneSink {
  public:
    void PostInstallDone() override { ++posts; }
    std::atomic<int> posts{0};
};

class WorkerRun : public ::testing::Test {
  protected:
    void SetUp() override {
        resources::SetLanguage(resources::Language::kEnglish);
        m_dir = testdb::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        config.pressAfterMs = 0;
        config.ackTimeoutMs = 300;
        config.retries = 3;
        config.receiveTimeoutMs = 3000;
        config.timeoutSec = 10;
    }
    void TearDown() override {
        if (m_session) m_session->Close();
        if (m_hh) m_hh->Stop();
        g_pSession = nullptr;
        g_pUserLibrary = m_savedLibrary;
        std::filesystem::remove_all(m_dir);
    }

    std::string Path(const std::string& name) const { return m_dir + name; }

    // Starts the handheld and accepts it as the window's poll would.
    void Connect() {
        m_pipe = ports::CreatePipePair();
        m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
        ASSERT_TRUE(m_hh->Start(*m_pipe.handheld));
        m_session =
            std::make_unique<CDeviceSession>("pipe", true, 115200, std::move(m_pipe.desktop));
        ASSERT_NE(m_session->m_sd, -1);
        hotsync::LinkTimeouts t;
        t.ackWaitMs = 300;
        t.sendTries = 3;
        t.receiveMs = 3000;
        t.acceptMs = 5000;
        t.rateSettleMs = 0;
        m_session->SetLinkTimeouts(t);
        bool pressed = false;
        for (int i = 0; i < 250 && !pressed; ++i) {
            pressed = m_session->IsHotSyncPressed();
            if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(pressed);
        ASSERT_TRUE(m_session->Accept());
        view.session = m_session.get();
    }

    // One run over the files; onTick runs on the window's thread at every tick.
    void Run(const std::vector<std::string>& files, bool backup = false, bool setTime = false,
             const std::function<void(CInstallRun&)>& onTick = {}) {
        ASSERT_NO_FATAL_FAILURE(Connect());
        CTransferMonitor monitor(view, {}, [](int) {});
        CInstallRun run;
        monitor.Start();
        run.Start(*m_session, files, backup, setTime, &m_done);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_done.posts == 0 && std::chrono::steady_clock::now() < deadline) {
            if (onTick) onTick(run);
            if (m_done.posts != 0) break;
            monitor.OnTransferTimer(*m_session);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(m_done.posts, 1) << "the worker did not end";
        run.Join();
        monitor.OnInstallDone(*m_session);
        failed = m_session->m_nFailed;
        bytesSent = m_session->m_nBytesSent;
        m_session->Close();
        m_hh->WaitForSyncs(1, 5000);
        requests = m_hh->Requests();
    }

    int CountRequests(const std::string& name, const std::string& argsPart = "") const {
        int n = 0;
        for (const auto& r : requests) {
            if (r.name == name && r.argsJson.find(argsPart) != std::string::npos) ++n;
        }
        return n;
    }
    bool Requested(const std::string& name, const std::string& argsPart = "") const {
        return CountRequests(name, argsPart) > 0;
    }

    handheld::HandheldConfig config;
    CTestView view;
    CDone m_done;
    int failed = -1;
    int bytesSent = 0;
    std::vector<handheld::RequestLogEntry> requests;
    std::unique_ptr<handheld::CVirtualHandheld> m_hh;
    std::unique_ptr<CDeviceSession> m_session;
    ports::PipePair m_pipe;
    std::string m_dir;
    IUserLibrary* m_savedLibrary = g_pUserLibrary;
};

// The handheld's database against the file it came from, field by field and byte by byte.
void ExpectSameAsFile(const HandheldDatabase& db, const std::string& path, bool dlp10 = false) {
    auto file = pdb::CPalmDbFile::Open(path);
    ASSERT_TRUE(file) << path;
    const pdb::DbInfo& info = file->Info();
    EXPECT_EQ(db.info.name, info.name.substr(0, 31));
    EXPECT_EQ(db.info.type, info.type);
    EXPECT_EQ(db.info.creator, info.creator);
    EXPECT_EQ(db.info.version, info.version);
    EXPECT_EQ(db.info.attributes & 0x7FFF, info.attributes & 0x7FFF);
    std::vector<uint8_t> appInfo;
    file->GetAppInfo(appInfo);
    if (db.info.name != "MemoDB") {
        EXPECT_EQ(db.appInfo, appInfo);
    }
    if (info.IsResourceDb()) {
        std::vector<pdb::Resource> expected;
        for (int i = 0; i < file->EntryCount(); ++i) {
            pdb::Resource r;
            ASSERT_EQ(file->ReadResource(i, r), pdb::kOk);
            if (!r.data.empty()) expected.push_back(r);
        }
        ASSERT_EQ(db.resources.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(db.resources[i].type, expected[i].type) << i;
            EXPECT_EQ(db.resources[i].id, expected[i].id) << i;
            EXPECT_EQ(db.resources[i].data, expected[i].data) << i;
        }
    } else {
        std::vector<pdb::Record> expected;
        for (int i = 0; i < file->EntryCount(); ++i) {
            pdb::Record r;
            ASSERT_EQ(file->ReadRecord(i, r), pdb::kOk);
            if (dlp10 && (r.attributes & (pdb::kRecAttrDeleted | pdb::kRecAttrArchived))) continue;
            expected.push_back(r);
        }
        ASSERT_EQ(db.records.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(db.records[i].data, expected[i].data) << i;
            EXPECT_EQ(db.records[i].category, expected[i].category) << i;
            if (expected[i].uid != 0) {
                EXPECT_EQ(db.records[i].uid, expected[i].uid) << i;
            }
        }
    }
}

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
    const std::string userDir = m_dir + "desk/VirtualU/";
    auto copy = pdb::CPalmDbFile::Open(userDir + "Backup/VERSIONED.PRC");
    ASSERT_TRUE(copy) << m_hh->RequestsJson();
    auto db = m_hh->FindDatabase("Versioned");
    ASSERT_TRUE(db);
    // Dates as the handheld reports them, stored counted from 1970 in the copy.
    EXPECT_EQ(copy->Info().createDate, db->info.createDate - pdb::kEpochOffset);
    EXPECT_EQ(copy->Info().modifyDate, copy->Info().backupDate);
    EXPECT_EQ(copy->Info().type, pdb::MakeFourCC("appl"));
    ASSERT_EQ(copy->EntryCount(), 2);

    std::ifstream log(userDir + "CCourier.log");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line.rfind("VERSIONED.PRC, 3.5, ", 0), 0u) << line;
    EXPECT_EQ(line.size(), std::string("VERSIONED.PRC, 3.5, ").size() + 24);
    EXPECT_FALSE(std::getline(log, line));
    EXPECT_TRUE(Requested("WriteUserInfo"));  // the user record goes back at the end
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
