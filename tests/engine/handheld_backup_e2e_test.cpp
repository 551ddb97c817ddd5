// The whole handheld backed up and put back, through the worker, the session and the
// window's share of the run, against one virtual handheld over an in-process pipe that
// serves several HotSyncs: its RAM into a Backup folder, a hard reset, the restore; and the
// handhelds that misbehave on the way.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/backup_folder.h"
#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/transfer_monitor.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"
#include "session/link/pipe_transport.h"
#include "tests/session/db_builder.h"
#include "tests/support/worker_harness.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

namespace fs = std::filesystem;

// The desktop's end of the cable, lent to one session after another: a session's close
// leaves it to the next.
class CBorrowedLine final : public hotsync::ITransport {
  public:
    explicit CBorrowedLine(hotsync::ITransport& line) : m_line(line) {}
    int Open() override { return m_line.Open(); }
    void Close() override {}
    int SetRate(int rate) override { return m_line.SetRate(rate); }
    int Read(uint8_t* b, size_t n, int t) override { return m_line.Read(b, n, t); }
    int Write(const uint8_t* d, size_t n) override { return m_line.Write(d, n); }
    int BytesWaiting() override { return m_line.BytesWaiting(); }
    void Interrupt() override { m_line.Interrupt(); }

  private:
    hotsync::ITransport& m_line;
};

// What one HotSync asks for, and what it left.
struct SyncJob {
    bool backupAll = false;
    bool full = false;
    std::vector<std::string> restore;
    std::vector<std::string> install;
};
struct SyncResult {
    std::vector<std::string> report, messages;
    int failed = 0;
};

class WholeBackup : public ::testing::Test {
  protected:
    void SetUp() override {
        resources::SetLanguage(resources::Language::kEnglish);
        m_dir = testdb::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        m_backup = m_dir + "Backup/";
        config.pressAfterMs = -1;
        config.syncs = 10;
        config.ackTimeoutMs = 300;
        config.retries = 3;
        config.receiveTimeoutMs = 3000;
        config.timeoutSec = 20;
        config.userName = "Sample User";
        config.userId = 4711;
    }
    void TearDown() override {
        if (m_hh) m_hh->Stop();
        g_pSession = nullptr;
        fs::remove_all(m_dir);
    }

    void Start() {
        m_pipe = ports::CreatePipePair();
        m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
        for (const auto& load : m_loads) m_load(*m_hh, load);
        ASSERT_TRUE(m_hh->Start(*m_pipe.handheld));
    }

    // One HotSync: the session, the worker and the window's timer, to the end of the run.
    SyncResult Sync(const SyncJob& job) {
        SyncResult result;
        if (!m_hh) Start();
        m_hh->PressHotSync();
        auto session = std::make_unique<CDeviceSession>(
            "pipe", true, 115200, std::make_unique<CBorrowedLine>(*m_pipe.desktop));
        hotsync::LinkTimeouts t;
        t.ackWaitMs = 300;
        t.sendTries = 3;
        t.receiveMs = 3000;
        t.acceptMs = 5000;
        t.rateSettleMs = 0;
        session->SetLinkTimeouts(t);
        bool pressed = false;
        for (int i = 0; i < 250 && !pressed; ++i) {
            pressed = session->IsHotSyncPressed();
            if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(pressed && session->Accept());
        testsupport::CTestView view;
        view.session = session.get();
        testsupport::CDone done;
        CTransferMonitor monitor(view, {}, [](int) {});
        CInstallRun run;
        session->m_bBackupAll = job.backupAll;
        session->m_bFullBackup = job.full;
        session->m_strBackupDir = m_backup;
        session->m_listRestore = job.restore;
        monitor.Start();
        run.Start(*session, job.install, false, false, &done);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (done.posts == 0 && std::chrono::steady_clock::now() < deadline) {
            monitor.OnTransferTimer(*session);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_EQ(done.posts, 1) << "the worker did not end";
        run.Join();
        monitor.OnInstallDone(*session);
        result.report = session->m_listReport;
        result.messages = view.messages;
        result.failed = session->m_nFailed;
        session->Close();
        m_hh->WaitForSyncs(++m_syncs, 5000);
        return result;
    }

    void Load(const std::string& path, bool rom = false) {
        m_loads.push_back({path, rom});
        m_load = [](handheld::CVirtualHandheld& h, const std::pair<std::string, bool>& l) {
            std::string why;
            const int r = l.second ? h.LoadRomFile(l.first, &why) : h.LoadFile(l.first, &why);
            ASSERT_EQ(r, 0) << why;
        };
    }

    // The card's RAM databases by name.
    std::map<std::string, handheld::HandheldDatabase> Ram() const {
        std::map<std::string, handheld::HandheldDatabase> out;
        for (const auto& db : m_hh->Databases()) {
            if (!(db.info.attributes & pdb::kAttrReadOnly)) out[db.info.name] = db;
        }
        return out;
    }

    std::vector<std::string> BackupPaths() const {
        std::vector<std::string> paths;
        for (const std::string& name : BackupFileNames(m_backup)) paths.push_back(m_backup + name);
        return paths;
    }

    int Count(const std::string& name, int sync) const {
        int n = 0;
        for (const auto& r : m_hh->Requests()) n += r.sync == sync && r.name == name;
        return n;
    }

    static bool Has(const std::vector<std::string>& lines, const std::string& part) {
        for (const auto& l : lines) {
            if (l.find(part) != std::string::npos) return true;
        }
        return false;
    }

    handheld::HandheldConfig config;
    std::string m_dir, m_backup;
    std::unique_ptr<handheld::CVirtualHandheld> m_hh;
    ports::PipePair m_pipe;
    int m_syncs = 0;
    std::vector<std::pair<std::string, bool>> m_loads;
    std::function<void(handheld::CVirtualHandheld&, const std::pair<std::string, bool>&)> m_load;
};

// A database against the one it was backed up from: every field a restore can give back.
void ExpectSameDatabase(const handheld::HandheldDatabase& got,
                        const handheld::HandheldDatabase& want) {
    const std::string& n = want.info.name;
    EXPECT_EQ(got.info.name, want.info.name);
    EXPECT_EQ(got.info.type, want.info.type) << n;
    EXPECT_EQ(got.info.creator, want.info.creator) << n;
    EXPECT_EQ(got.info.version, want.info.version) << n;
    EXPECT_EQ(got.info.attributes, want.info.attributes) << n;
    for (auto [a, b] : {std::pair{got.info.createDate, want.info.createDate},
                        std::pair{got.info.modifyDate, want.info.modifyDate},
                        std::pair{got.info.backupDate, want.info.backupDate}}) {
        if (b > 0) {
            EXPECT_EQ(a, b) << n;  // dates before 1970 are "never"
        }
    }
    EXPECT_EQ(got.appInfo, want.appInfo) << n;
    EXPECT_EQ(got.sortInfo, want.sortInfo) << n;
    ASSERT_EQ(got.records.size(), want.records.size()) << n;
    for (size_t i = 0; i < want.records.size(); ++i) {
        EXPECT_EQ(got.records[i].data, want.records[i].data) << n << " " << i;
        // "Busy" says an application holds the record; no desktop can set it.
        EXPECT_EQ(got.records[i].attributes, want.records[i].attributes & ~pdb::kRecAttrBusy)
            << n << " " << i;
        EXPECT_EQ(got.records[i].category, want.records[i].category) << n << " " << i;
        // A file's record without an id (as some samples have) gets one from the handheld.
        if (want.records[i].uid != 0) {
            EXPECT_EQ(got.records[i].uid, want.records[i].uid) << n << " " << i;
        }
    }
    std::vector<pdb::Resource> resources;
    for (const auto& r : want.resources) {
        if (!r.data.empty()) resources.push_back(r);  // the handheld keeps no empty ones
    }
    ASSERT_EQ(got.resources.size(), resources.size()) << n;
    for (size_t i = 0; i < resources.size(); ++i) {
        EXPECT_EQ(got.resources[i].type, resources[i].type) << n << " " << i;
        EXPECT_EQ(got.resources[i].id, resources[i].id) << n << " " << i;
        EXPECT_EQ(got.resources[i].data, resources[i].data) << n << " " << i;
    }
}

// The "name" of a request's arguments in the handheld's log.
std::string NameIn(const std::string& json) {
    const size_t at = json.find("\"name\":\"");
    if (at == std::string::npos) return {};
    const size_t start = at + 8;
    return json.substr(start, json.find('"', start) - start);
}

// Where the first argument of an answer begins (a tiny or a small wrapper), and its length
// put right after the answer was changed.
size_t DataAt(const std::vector<uint8_t>& answer) {
    return (answer.at(4) & 0x80) ? 8 : 6;
}
void FixLength(std::vector<uint8_t>& answer) {
    const size_t n = answer.size() - DataAt(answer);
    if (answer[4] & 0x80) {
        answer[6] = uint8_t(n >> 8);
        answer[7] = uint8_t(n);
    } else {
        answer[5] = uint8_t(n);
    }
}

handheld::HandheldDatabase RecordDb(const std::string& name, int records, size_t size,
                                    uint32_t firstUid = 0x100) {
    handheld::HandheldDatabase db;
    db.info = testdb::Info(name, false, "DATA", "Test");
    db.appInfo = testdb::Bytes(40, 3);
    db.sortInfo = testdb::Bytes(12, 4);
    for (int i = 0; i < records; ++i) {
        pdb::Record r = testdb::Rec(size, uint8_t(i), i % 3 == 1 ? pdb::kRecAttrSecret : 0,
                                    uint8_t(i % 16), firstUid + uint32_t(i));
        db.records.push_back(std::move(r));
    }
    return db;
}

// The real samples onto a handheld, its RAM backed up, the handheld hard-reset, the backup
// restored: every database as it was, and the handheld's user back.
TEST_F(WholeBackup, SamplesBackedUpHardResetAndRestored) {
    const std::string samples = std::string(CC_SHARED_DIR) + "/samples/palm/";
    if (!fs::is_directory(samples)) GTEST_SKIP() << "no samples at " << samples;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(samples)) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    // One of them is in ROM: never copied, never restored, kept by the reset.
    for (size_t i = 0; i < files.size(); ++i) Load(files[i], files[i].ends_with("nostreak.prc"));
    Start();
    // A database the user archived keeps its data; a deleted one keeps nothing to copy.
    // (A copy keeps an archived record's mark where a category keeps its highest bit, so
    // this one is in a category without it.)
    handheld::HandheldDatabase todo = RecordDb("Archive Test", 4, 300);
    todo.records[1].attributes = pdb::kRecAttrDeleted | pdb::kRecAttrArchived;
    todo.records[1].category = 0x08;
    todo.records[2].attributes = pdb::kRecAttrDeleted;
    todo.records[2].data.clear();
    m_hh->AddDatabase(todo);
    const auto before = Ram();
    ASSERT_GE(before.size(), files.size() - 1);

    const SyncResult backup = Sync({.backupAll = true});
    EXPECT_EQ(backup.failed, 0);
    EXPECT_TRUE(backup.messages.empty());
    ASSERT_FALSE(backup.report.empty());
    EXPECT_NE(backup.report[0].find(std::to_string(before.size()) + " copied, 0 unchanged, 0 not"),
              std::string::npos)
        << backup.report[0];
    EXPECT_EQ(BackupPaths().size(), before.size());
    EXPECT_FALSE(fs::exists(m_backup + "NO STREAK HACK.PRC"));
    HandheldRecord record;
    ASSERT_TRUE(ReadHandheldRecord(m_backup, record));
    EXPECT_EQ(record.userName, "Sample User");
    EXPECT_EQ(record.userId, 4711u);
    EXPECT_EQ(record.databases, int(before.size()));
    EXPECT_GT(record.backupTime, 0);
    // Reading left the handheld as it was.
    EXPECT_EQ(Count("ResetSyncFlags", 1), 0);
    EXPECT_EQ(Count("OpenDB", 1), int(before.size()));

    m_hh->HardReset();
    EXPECT_TRUE(Ram().empty());
    EXPECT_TRUE(m_hh->User().name.empty());
    ASSERT_TRUE(m_hh->FindDatabase("No Streak Hack"));

    const SyncResult restore = Sync({.restore = BackupPaths()});
    EXPECT_EQ(restore.failed, 0);
    EXPECT_TRUE(restore.messages.empty());
    EXPECT_TRUE(Has(restore.report, "\"Sample User\" (id 4711)")) << restore.report[0];
    const auto after = Ram();
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, db] : before) {
        auto deleted = db;
        std::erase_if(deleted.records, [](const pdb::Record& r) {
            return (r.attributes & pdb::kRecAttrDeleted) && !(r.attributes & pdb::kRecAttrArchived);
        });
        ASSERT_TRUE(after.count(name)) << name;
        ExpectSameDatabase(after.at(name), deleted);
    }
    EXPECT_EQ(m_hh->User().name, "Sample User");
    EXPECT_EQ(m_hh->User().userId, 4711u);
    // The user's data before the applications.
    bool resourceSeen = false;
    for (const auto& r : m_hh->Requests()) {
        if (r.sync != 2 || r.name != "CreateDB") continue;
        const bool resource = before.at(NameIn(r.argsJson)).info.IsResourceDb();
        EXPECT_FALSE(resourceSeen && !resource) << r.argsJson;
        resourceSeen = resourceSeen || resource;
    }
}

// A second backup of an unchanged handheld asks for the list and nothing else; a changed
// database is read again, the others not; with "full" every one is.
TEST_F(WholeBackup, IncrementalReadsOnlyWhatChanged) {
    Start();
    for (int i = 0; i < 5; ++i) m_hh->AddDatabase(RecordDb("Db " + std::to_string(i), 3, 100));
    Sync({.backupAll = true});
    const auto firstCopy = fs::last_write_time(m_backup + "DB 3.PDB");

    const SyncResult again = Sync({.backupAll = true});
    EXPECT_EQ(Count("OpenDB", 2), 0);
    EXPECT_NE(again.report.at(0).find("0 copied, 5 unchanged"), std::string::npos);

    auto changed = RecordDb("Db 3", 4, 100);
    changed.info.modnum += 1;
    m_hh->AddDatabase(changed);
    const SyncResult third = Sync({.backupAll = true});
    EXPECT_EQ(Count("OpenDB", 3), 1);
    EXPECT_NE(third.report.at(0).find("1 copied, 4 unchanged"), std::string::npos);
    auto copy = pdb::CPalmDbFile::Open(m_backup + "DB 3.PDB");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->EntryCount(), 4);
    EXPECT_NE(fs::last_write_time(m_backup + "DB 3.PDB"), firstCopy);

    Sync({.backupAll = true, .full = true});
    EXPECT_EQ(Count("OpenDB", 4), 5);
}

// Open databases and ROM are left; two databases whose copies would share a file name get
// a file each; and a folder of another handheld's user is not written into.
TEST_F(WholeBackup, OpenRomCollidingNamesAndAnotherUsersFolder) {
    config.openDbName = "Busy";
    Start();
    m_hh->AddDatabase(RecordDb("Busy", 2, 50));
    m_hh->AddDatabase(RecordDb("MemoDB", 2, 50));
    m_hh->AddDatabase(RecordDb("MEMODB", 3, 50));
    m_hh->AddDatabase(RecordDb("a/b", 1, 50));
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_TRUE(Has(r.report, "not copied: Busy (open on the handheld)"));
    EXPECT_EQ(r.failed, 0);
    auto one = pdb::CPalmDbFile::Open(m_backup + "MEMODB.PDB");
    auto two = pdb::CPalmDbFile::Open(m_backup + "MEMODB (2).PDB");
    ASSERT_TRUE(one && two);
    EXPECT_NE(one->Info().name, two->Info().name);
    EXPECT_TRUE(fs::exists(m_backup + "A_B.PDB"));

    // The same folder for a handheld of another user: nothing written there.
    HandheldRecord record;
    ASSERT_TRUE(ReadHandheldRecord(m_backup, record));
    record.userName = "Somebody Else";
    ASSERT_TRUE(WriteHandheldRecord(m_backup, record));
    const SyncResult other = Sync({.backupAll = true, .full = true});
    EXPECT_TRUE(Has(other.report, "holds the backup of \"Somebody Else\""));
    EXPECT_EQ(Count("OpenDB", 2), 0);
    EXPECT_EQ(other.failed, 1);
}

// After a hard reset the handheld has no user: its few new databases never replace the
// backup.
TEST_F(WholeBackup, HardResetHandheldIsNotBackedUpOverItsBackup) {
    Start();
    m_hh->AddDatabase(RecordDb("MemoDB", 5, 80));
    Sync({.backupAll = true});
    m_hh->HardReset();
    m_hh->AddDatabase(RecordDb("MemoDB", 0, 0));  // what the memo application makes anew
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_TRUE(Has(r.report, "has lost its user"));
    auto copy = pdb::CPalmDbFile::Open(m_backup + "MEMODB.PDB");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->EntryCount(), 5);
}

// A handheld that lists a database twice: copied once, the second said.
TEST_F(WholeBackup, DatabaseListedTwice) {
    config.reviseAnswer = [](const std::vector<uint8_t>& request, std::vector<uint8_t>& answer) {
        if (request.at(0) != 0x16 || answer.size() < 12 || answer[3] != 0) return;
        // The list's header, then its first entry: that entry once more at the end.
        const size_t list = DataAt(answer), first = list + 4;
        const size_t entry = answer.at(first);
        answer.insert(answer.end(), answer.begin() + long(first),
                      answer.begin() + long(first + entry));
        answer[list + 3] = uint8_t(answer[list + 3] + 1);
        FixLength(answer);
    };
    Start();
    m_hh->AddDatabase(RecordDb("Twice", 2, 50));
    m_hh->AddDatabase(RecordDb("Once", 2, 50));
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_TRUE(Has(r.report, "not copied again: Twice (the handheld lists it twice)"));
    EXPECT_EQ(Count("OpenDB", 1), 2);
    EXPECT_EQ(BackupPaths().size(), 2u);
}

// Ten thousand databases: listed page by page and compared with ten thousand copies,
// the few that changed read again; nothing hangs.
TEST_F(WholeBackup, TenThousandDatabases) {
    config.freeRam = 1u << 30;
    Start();
    ASSERT_TRUE(fs::create_directories(m_backup));
    handheld::HandheldDatabase db;
    db.info = testdb::Info("", false, "DATA", "Many");
    for (int i = 0; i < 10000; ++i) {
        db.info.name = "Db " + std::to_string(i);
        db.info.modnum = i % 1000 == 7 ? 9 : 3;  // ten changed since their copies
        m_hh->AddDatabase(db);
        auto copy = pdb::CPalmDbFile::Create(m_backup + "DB " + std::to_string(i) + ".PDB",
                                             testdb::Info(db.info.name, false, "DATA", "Many"));
        ASSERT_TRUE(copy && copy->Close() == pdb::kOk);
    }
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_NE(r.report.at(0).find("10 copied, 9990 unchanged, 0 not copied"), std::string::npos)
        << r.report.at(0);
    EXPECT_EQ(Count("ReadDBList", 1), 10000 / 20 + 1);
    EXPECT_EQ(Count("OpenDB", 1), 10);
    EXPECT_EQ(BackupPaths().size(), 10000u);
}

// Records larger than one answer are read in parts and come out whole.
TEST_F(WholeBackup, RecordLargerThanTheAnswerIsReadInParts) {
    config.reviseAnswer = [](const std::vector<uint8_t>& request, std::vector<uint8_t>& answer) {
        if (request.at(0) != 0x20 || answer[3] != 0) return;
        // At most 1000 bytes of data an answer.
        answer.resize(std::min(answer.size(), DataAt(answer) + 10 + 1000));
        FixLength(answer);
    };
    Start();
    m_hh->AddDatabase(RecordDb("Large", 3, 4500));
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_EQ(r.failed, 0);
    EXPECT_GE(Count("ReadRecordById", 1), 3 * 4);
    auto copy = pdb::CPalmDbFile::Open(m_backup + "LARGE.PDB");
    ASSERT_TRUE(copy);
    const auto original = m_hh->FindDatabase("Large");
    for (int i = 0; i < 3; ++i) {
        pdb::Record rec;
        ASSERT_EQ(copy->ReadRecord(i, rec), pdb::kOk);
        EXPECT_EQ(rec.data, original->records[size_t(i)].data);
    }
}

// Answers that do not fit: a record that never adds up to its size, a part answered for
// another record. The database is not copied, the good copy from before stays as it was.
TEST_F(WholeBackup, AnswersThatDoNotFitLeaveTheOldCopy) {
    int mode = 0;
    config.reviseAnswer = [&mode](const std::vector<uint8_t>& request,
                                  std::vector<uint8_t>& answer) {
        if (mode == 0 || request.at(0) != 0x20 || answer[3] != 0) return;
        const bool byId = (request.at(2) & 0x3F) == 0x20;
        const size_t data = DataAt(answer) + 10;
        if (!byId) {
            answer.resize(data + 10);  // the first part: ten bytes of a larger record
        } else if (mode == 1) {
            answer.resize(data);  // the rest: nothing, ever
        } else {
            answer[DataAt(answer) + 3] ^= 0x01;  // the rest: of another record
        }
        FixLength(answer);
    };
    Start();
    m_hh->AddDatabase(RecordDb("Notes", 2, 500));
    Sync({.backupAll = true});
    std::ifstream in(m_backup + "NOTES.PDB", std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), {});

    auto changed = RecordDb("Notes", 3, 500);
    changed.info.modnum += 1;
    m_hh->AddDatabase(changed);
    for (int m : {1, 2}) {
        mode = m;
        const SyncResult r = Sync({.backupAll = true});
        EXPECT_TRUE(Has(r.report, "not copied: Notes (the handheld's answers do not fit"))
            << (r.report.size() > 1 ? r.report[1] : r.report.at(0));
        EXPECT_TRUE(Has(r.report, m == 1 ? "does not add up" : "answered record")) << m;
        EXPECT_EQ(r.failed, 1);
        std::ifstream now(m_backup + "NOTES.PDB", std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(now)), {}), good);
    }
    EXPECT_EQ(BackupFileNames(m_backup).size(), 1u);
}

// The cable pulled in the middle of a backup: the connection-lost message, a line for what
// was not copied, no half copy in the folder and the older copies untouched.
TEST_F(WholeBackup, LinkBrokenMidBackup) {
    Start();
    for (int i = 0; i < 4; ++i) m_hh->AddDatabase(RecordDb("Db " + std::to_string(i), 4, 2000));
    Sync({.backupAll = true});
    m_hh->Stop();
    const auto copies = BackupPaths();

    config.breakAfterBytes = 12000;
    m_hh.reset();
    m_syncs = 0;
    Start();
    for (int i = 0; i < 4; ++i) {
        auto db = RecordDb("Db " + std::to_string(i), 5, 2000);
        db.info.modnum = 9;
        m_hh->AddDatabase(db);
    }
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_EQ(r.messages, std::vector<std::string>{"Connection lost"});
    EXPECT_TRUE(Has(r.report, "and what follows it (the connection was lost)"));
    EXPECT_EQ(BackupPaths(), copies);
    for (const auto& path : copies) {
        auto file = pdb::CPalmDbFile::Open(path);
        ASSERT_TRUE(file);
        // The old copy, or a whole new one.
        EXPECT_TRUE(file->EntryCount() == 4 || file->EntryCount() == 5) << path;
    }
    for (const auto& e : fs::directory_iterator(m_backup)) {
        EXPECT_EQ(e.path().filename().string().rfind(".partial-", 0), std::string::npos);
    }
}

// A Backup folder with a foreign file and a truncated copy: both refused by name, the rest
// restored, in the order system, data, applications.
TEST_F(WholeBackup, RestoreRefusesForeignAndTruncatedFiles) {
    Start();
    m_hh->AddDatabase(RecordDb("Data", 2, 100));
    handheld::HandheldDatabase app;
    app.info = testdb::Info("App", true, "appl", "ApAp");
    app.info.attributes |= pdb::kAttrResetAfterInstall;
    app.resources.push_back({testdb::Bytes(500, 1), pdb::MakeFourCC("code"), 1});
    m_hh->AddDatabase(app);
    handheld::HandheldDatabase prefs;
    prefs.info = testdb::Info("Saved Preferences", true, "sprf", "psys");
    prefs.resources.push_back({testdb::Bytes(50, 2), pdb::MakeFourCC("psys"), 1});
    m_hh->AddDatabase(prefs);
    m_hh->AddDatabase(RecordDb("Cut", 4, 800));
    Sync({.backupAll = true});
    std::ofstream(m_backup + "notes.txt") << "not a database";
    // Cut within its third record: the fourth's data is not in the file.
    fs::resize_file(m_backup + "CUT.PDB", fs::file_size(m_backup + "CUT.PDB") - 1300);
    m_hh->HardReset();

    const SyncResult r = Sync({.restore = BackupPaths()});
    EXPECT_TRUE(Has(r.report, "not restored: notes.txt (not a Palm database)"));
    EXPECT_TRUE(Has(r.report, "not restored: CUT.PDB (truncated)"));
    EXPECT_TRUE(Has(r.report, "3 restored, 2 not restored"));
    EXPECT_TRUE(Has(r.report, "resets when the HotSync ends"));
    EXPECT_EQ(m_hh->ResetCount(), 1);
    EXPECT_FALSE(m_hh->FindDatabase("Cut"));
    std::vector<std::string> order;
    for (const auto& q : m_hh->Requests()) {
        if (q.sync == 2 && q.name == "CreateDB") order.push_back(q.argsJson);
    }
    ASSERT_EQ(order.size(), 3u);
    EXPECT_NE(order[0].find("Saved Preferences"), std::string::npos);
    EXPECT_NE(order[1].find("\"name\":\"Data\""), std::string::npos);
    EXPECT_NE(order[2].find("\"name\":\"App\""), std::string::npos);
}

// A DLP 1.0 handheld: one database per list answer, no SetDBInfo; still every record.
TEST_F(WholeBackup, OldHandheldOneEntryPerAnswer) {
    config.dlpVersion = 0x0100;
    Start();
    for (int i = 0; i < 3; ++i) m_hh->AddDatabase(RecordDb("Db " + std::to_string(i), 3, 100));
    const SyncResult r = Sync({.backupAll = true});
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(Count("ReadDBList", 1), 4);
    EXPECT_EQ(BackupPaths().size(), 3u);
    m_hh->HardReset();
    Sync({.restore = BackupPaths()});
    EXPECT_EQ(Count("SetDBInfo", 2), 0);
    ASSERT_TRUE(m_hh->FindDatabase("Db 1"));
    EXPECT_EQ(m_hh->FindDatabase("Db 1")->records.size(), 3u);
}

}  // namespace
