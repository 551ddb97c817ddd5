// Backups as a user sets them up and runs them with the console front end: a desktop user
// added with --add-user, a run with --backup against the virtual handheld of that user,
// the copies Debian's Palm::PDB reads as the installed databases, one CR LF log line each,
// and the history rebuilt from them; a handheld of another user leaves nothing.
#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/backup_folder.h"
#include "shell/backup_history.h"
#include "shell/linux/qt_settings.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tests/support/worker_harness.h"

namespace {

namespace fs = std::filesystem;

// What Palm::PDB reads from a file, one fact per line; empty when it cannot run.
std::string PalmPdbView(const std::string& path) {
    const std::string cmd = "perl '" + std::string(CC_SOURCE_DIR) +
                            "/tests/pdb/palm_pdb_dump.pl' '" + path + "' 2>/dev/null";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

class BackupRun : public testsupport::CConsoleRunFixture {
  protected:
    BackupRun() : CConsoleRunFixture(CC_CLI_PATH, CC_HANDHELD_PATH) {}

    void SetUp() override {
        CConsoleRunFixture::SetUp();  // settings and users inside the test's folder
        m_root = Path("data/Cradlecourier/Users/");
        ASSERT_TRUE(testdb::WriteResourceDb(
            Path("app.prc"), testdb::Info("Backup App", true, "appl", "BkAp"),
            {{"code", 1, testdb::Bytes(3000, 1)}, {"tver", 1, {'2', '.', '1', 0}}},
            testdb::Bytes(40, 9)));
        ASSERT_TRUE(testdb::WriteRecordDb(
            Path("data.pdb"), testdb::Info("Backup/Data", false, "DATA", "BkAp"),
            {testdb::Rec(100, 1, 0, 2, 0x1234), testdb::Rec(0, 2), testdb::Rec(700, 3, 0x10)},
            testdb::Bytes(20, 4), testdb::Bytes(8, 5)));
    }
    int Install(const std::string& handheldUser) {
        const std::string pty = StartHandheld({"--user", handheldUser});
        const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", "--backup",
                                   Path("app.prc"), Path("data.pdb")},
                                  {}, true);
        WaitHandheld();
        return status;
    }
    std::string Setting(const std::string& entry) {
        CQtSettings settings(Path("config/Cradlecourier/CCourier.conf"));
        return settings.ReadText("main", entry, "(none)");
    }

    std::string m_root;
};

TEST_F(BackupRun, CopiesAndLogLinesForTheHandheldsDesktopUser) {
    ASSERT_EQ(RunCli({"--add-user", "Virtual User"}), 0) << m_cliOut;
    EXPECT_NE(m_cliOut.find("added desktop user \"Virtual User\""), std::string::npos);
    const std::string userDir = m_root + "Virtual_User/";
    ASSERT_TRUE(fs::is_directory(userDir + "Backup"));
    EXPECT_EQ(RunCli({"--add-user", "Virtual User"}, {}, true), 1);  // the name is taken

    ASSERT_EQ(Install("Virtual User"), 0) << m_cliOut;

    // Each copy is what was installed, as Debian's reader and ours see it: the header as
    // the handheld has the installed database (its modification number included); the
    // sort block, which the handheld does not keep, and the entries as the installed file.
    struct Copy {
        std::string copy, source, onHandheld;
    };
    for (const Copy& c : {Copy{"BACKUP APP.PRC", "app.prc", "Backup App.prc"},
                          Copy{"BACKUP_DATA.PDB", "data.pdb", "Backup_Data.pdb"}}) {
        const std::string path = userDir + "Backup/" + c.copy;
        ASSERT_TRUE(fs::exists(path)) << c.copy << "\n" << m_cliOut;
        auto file = pdb::CPalmDbFile::Open(path);
        ASSERT_TRUE(file);
        testsupport::ExpectSameEntries(*file, Path(c.source));
        const std::string theirs = PalmPdbView(path);
        if (theirs.empty()) continue;  // no Palm::PDB here
        const size_t rest = theirs.find("sortinfo=");
        ASSERT_NE(rest, std::string::npos) << theirs;
        const std::string installed = PalmPdbView(m_out + "/" + c.onHandheld);
        EXPECT_EQ(theirs.substr(0, rest), installed.substr(0, installed.find("sortinfo=")));
        const std::string source = PalmPdbView(Path(c.source));
        EXPECT_EQ(theirs.substr(rest), source.substr(source.find("sortinfo=")));
    }

    std::ifstream in(userDir + "CCourier.log", std::ios::binary);
    const std::string log(std::istreambuf_iterator<char>(in), {});
    ASSERT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 2) << log;
    EXPECT_EQ(log.rfind("BACKUP APP.PRC, 2.1, ", 0), 0u) << log;
    EXPECT_NE(log.find("\r\nBACKUP_DATA.PDB, , "), std::string::npos) << log;

    // The run leaves what the history window opens with.
    EXPECT_EQ(Setting("Userdir"), userDir);
    EXPECT_EQ(Setting("LastHandheldUser"), "Virtual User");
    std::vector<HistoryRow> rows = LoadHistoryLog(Setting("Userdir"));
    ScanBackups(Setting("Userdir"), rows, false);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "BACKUP APP.PRC");
    EXPECT_EQ(rows[0].version, " 2.1");
    EXPECT_TRUE(rows[0].exists && rows[1].exists);
}

TEST_F(BackupRun, AnotherHandheldUserGetsNothingAndNoMessage) {
    ASSERT_EQ(RunCli({"--add-user", "Virtual User"}), 0) << m_cliOut;
    ASSERT_EQ(Install("virtual user"), 0) << m_cliOut;  // letter case counts
    EXPECT_TRUE(Written("Backup App.prc"));
    EXPECT_TRUE(fs::is_empty(m_root + "Virtual_User/Backup"));
    EXPECT_FALSE(fs::exists(m_root + "Virtual_User/CCourier.log"));
    EXPECT_EQ(m_cliOut.find("backup"), std::string::npos) << m_cliOut;
    EXPECT_EQ(Setting("Userdir"), "(none)");
    // Its name is what the users dialog will offer.
    EXPECT_EQ(Setting("LastHandheldUser"), "virtual user");
}

TEST_F(BackupRun, WithoutAnyDesktopUserTheRunSaysSoOnce) {
    ASSERT_EQ(Install("Virtual User"), 0) << m_cliOut;
    EXPECT_NE(m_cliOut.find("no desktop users yet"), std::string::npos) << m_cliOut;
    EXPECT_FALSE(fs::exists(m_root));
}

// The whole handheld with the console: ccourier-cli --backup-all against a handheld loaded
// with the real samples (one of them in its ROM), the handheld hard-reset after that sync,
// then ccourier-cli --restore: every sample back, the handheld's user too.
class WholeBackupRun : public testsupport::CConsoleRunFixture {
  protected:
    WholeBackupRun() : CConsoleRunFixture(CC_CLI_PATH, CC_HANDHELD_PATH) {}

    // The samples, the handheld's arguments to load them, and the one put into ROM.
    bool Samples(std::vector<std::string>& args) {
        const std::string dir = std::string(CC_SHARED_DIR) + "/samples/palm/";
        if (!fs::is_directory(dir)) return false;
        for (const auto& e : fs::directory_iterator(dir)) m_samples.push_back(e.path().string());
        std::sort(m_samples.begin(), m_samples.end());
        for (const std::string& path : m_samples) {
            args.push_back(path.ends_with("nostreak.prc") ? "--load-rom" : "--load");
            args.push_back(path);
        }
        return true;
    }
    std::string Requests() const {
        std::ifstream in(m_out + "/requests.json");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> m_samples;
};

TEST_F(WholeBackupRun, BackUpHardResetRestoreWithABackupFolder) {
    std::vector<std::string> args = {"--user",  "Sample User", "--user-id",          "77",
                                     "--syncs", "2",           "--hard-reset-after", "1"};
    if (!Samples(args)) GTEST_SKIP() << "no samples";
    const std::string pty = StartHandheld(args);
    const std::string backup = Path("backup") + "/";
    ASSERT_EQ(RunCli({"--port", pty, "--quiet", "--wait", "30", "--backup-all", "--backup-dir",
                      Path("backup")}),
              0)
        << m_cliOut;
    const size_t ram = m_samples.size() - 1;
    EXPECT_NE(m_cliOut.find("Backup of the handheld: " + std::to_string(ram) + " copied"),
              std::string::npos)
        << m_cliOut;
    EXPECT_EQ(BackupFileNames(backup).size(), ram);
    EXPECT_FALSE(fs::exists(backup + "NO STREAK HACK.PRC"));  // in ROM

    // Each copy is the sample as the handheld held it, as Debian's reader sees both (the
    // header, both blocks, every entry with its attributes, category and id).
    for (const BackupCopy& copy : ScanBackupCopies(backup)) {
        const std::string ours = PalmPdbView(backup + copy.fileName);
        if (ours.empty()) break;  // no Palm::PDB here
        const auto sample = std::find_if(m_samples.begin(), m_samples.end(), [&](const auto& p) {
            auto f = pdb::CPalmDbFile::Open(p);
            return f && f->Info().name == copy.dbName;
        });
        ASSERT_NE(sample, m_samples.end()) << copy.dbName;
        EXPECT_EQ(ours, PalmPdbView(*sample)) << copy.fileName;
    }

    ASSERT_EQ(RunCli({"--port", pty, "--quiet", "--wait", "30", "--restore", "--backup-dir",
                      Path("backup")}),
              0)
        << m_cliOut;
    WaitHandheld();
    EXPECT_NE(m_cliOut.find("restoring from " + backup), std::string::npos) << m_cliOut;
    EXPECT_NE(m_cliOut.find("Restore: " + std::to_string(ram) + " restored, 0 not restored"),
              std::string::npos)
        << m_cliOut;
    EXPECT_NE(m_cliOut.find("the handheld belongs to \"Sample User\" (id 77) again"),
              std::string::npos)
        << m_cliOut;
    // What the second sync did: every sample but the ROM's created anew, the user written
    // back. requests.json has one request a line.
    std::vector<std::string> secondSync;
    std::istringstream lines(Requests());
    for (std::string line; std::getline(lines, line);) {
        if (line.find("{\"sync\":2,") != std::string::npos) secondSync.push_back(line);
    }
    const auto requested = [&](const std::string& function, const std::string& part) {
        return std::any_of(secondSync.begin(), secondSync.end(), [&](const std::string& l) {
            return l.find("\"function\":\"" + function + "\"") != std::string::npos &&
                   l.find(part) != std::string::npos;
        });
    };
    for (const std::string& path : m_samples) {
        auto f = pdb::CPalmDbFile::Open(path);
        ASSERT_TRUE(f);
        EXPECT_EQ(requested("CreateDB", "\"name\":\"" + f->Info().name + "\""),
                  !path.ends_with("nostreak.prc"))
            << f->Info().name;
    }
    EXPECT_TRUE(requested("WriteUserInfo", "\"userId\":77,"));
    EXPECT_TRUE(requested("WriteUserInfo", "\"name\":\"Sample User\""));
}

// With a desktop user: the backup goes into the user's Backup folder, the history knows it,
// and --restore alone takes that folder back after the hard reset.
TEST_F(WholeBackupRun, DesktopUsersFolderAndRestoreWithoutNamingIt) {
    ASSERT_EQ(RunCli({"--add-user", "Virtual User"}), 0) << m_cliOut;
    ASSERT_TRUE(testdb::WriteRecordDb(Path("memo.pdb"),
                                      testdb::Info("MemoDB", false, "DATA", "memo"),
                                      {testdb::Rec(300, 1, 0x40, 3, 0x123456)}));
    const std::string pty =
        StartHandheld({"--load", Path("memo.pdb"), "--syncs", "2", "--hard-reset-after", "1"});
    ASSERT_EQ(RunCli({"--port", pty, "--quiet", "--wait", "30", "--backup-all", "--full"}), 0)
        << m_cliOut;
    const std::string userDir = Path("data/Cradlecourier/Users/Virtual_User/");
    ASSERT_TRUE(fs::exists(userDir + "Backup/MEMODB.PDB")) << m_cliOut;
    EXPECT_EQ(LastBackupNote(userDir + "Backup/").rfind("Last backup of the handheld: ", 0), 0u);
    ASSERT_EQ(RunCli({"--port", pty, "--quiet", "--wait", "30", "--restore"}), 0) << m_cliOut;
    WaitHandheld();
    EXPECT_NE(m_cliOut.find("restoring from " + userDir + "Backup/"), std::string::npos)
        << m_cliOut;
    auto restored = Written("MemoDB.pdb");
    ASSERT_TRUE(restored);
    testsupport::ExpectSameEntries(*restored, Path("memo.pdb"));
    pdb::Record rec;
    ASSERT_EQ(restored->ReadRecord(0, rec), pdb::kOk);
    EXPECT_EQ(rec.uid, 0x123456u);
    EXPECT_EQ(rec.attributes, 0x40);
}

// Nothing to restore from: said at once, no waiting for a handheld.
TEST_F(WholeBackupRun, RestoreWithoutAFolderSaysSo) {
    EXPECT_EQ(RunCli({"--port", "/dev/null", "--restore"}, {}, true), 1);
    EXPECT_NE(m_cliOut.find("give the folder with --backup-dir DIR"), std::string::npos)
        << m_cliOut;
    EXPECT_NE(m_cliOut.find("result: -1"), std::string::npos);
}

}  // namespace
