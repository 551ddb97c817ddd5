// Backups from the installer window as a user runs it: the real program, offscreen, with the
// menu option on and a desktop user named like the virtual handheld's user; the copies, one
// log line each and the user directory the history window opens with.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "shell/backup_history.h"
#include "shell/desktop_users.h"
#include "shell/linux/qt_settings.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tests/support/worker_harness.h"

namespace {

namespace fs = std::filesystem;

class WindowBackupRun : public testsupport::CConsoleRunFixture {
  protected:
    WindowBackupRun() : CConsoleRunFixture(CC_WINDOW_PATH, CC_HANDHELD_PATH) {}

    void SetUp() override {
        CConsoleRunFixture::SetUp();  // settings and users inside the test's folder
        fs::create_directories(Path("config/Cradlecourier"));
        fs::create_directories(Path("tmp"));
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("TMP", Path("tmp").c_str(), 1);
        // A short runtime directory of its own: the instance socket's path has a length limit.
        char runtime[] = "/tmp/ccrt-XXXXXX";
        ASSERT_NE(::mkdtemp(runtime), nullptr);
        m_runtime = runtime;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        ASSERT_TRUE(testdb::WriteResourceDb(
            Path("a.prc"), testdb::Info("Window App", true, "appl", "WiAp"),
            {{"code", 1, testdb::Bytes(5000, 1)}, {"tver", 1, {'1', '.', '0', 0}}}));
        ASSERT_TRUE(testdb::WriteRecordDb(Path("b.pdb"),
                                          testdb::Info("Window Data", false, "DATA", "WiDa"),
                                          {testdb::Rec(700, 2), testdb::Rec(900, 3)}));
        CDesktopUserStore store(Path("data/Cradlecourier/Users/"));
        DesktopUser user;
        ASSERT_EQ(store.AddUser("Virtual User", &user), CDesktopUserStore::AddResult::kAdded);
        m_userDir = store.Root() + user.folder + "/";
    }
    void TearDown() override {
        ::unsetenv("TMP");
        ::unsetenv("XDG_RUNTIME_DIR");
        if (!m_runtime.empty()) fs::remove_all(m_runtime);
        CConsoleRunFixture::TearDown();
    }

    int Run(const std::string& handheldUser) {
        const std::string pty = StartHandheld({"--user", handheldUser});
        EXPECT_FALSE(pty.empty());
        std::ofstream(Path("config/Cradlecourier/CCourier.conf"))
            << "[com]\nDevice1=" << pty << "\nSpeed=115200\n[main]\nBackupToDir=1\n";
        const int status = RunCli({"/CLOSE", "/COM1", Path("a.prc"), Path("b.pdb")}, {}, true);
        WaitHandheld();
        return status;
    }
    std::string Setting(const std::string& entry) {
        return CQtSettings(Path("config/Cradlecourier/CCourier.conf"))
            .ReadText("main", entry, "(none)");
    }

    std::string m_userDir;
    std::string m_runtime;
};

TEST_F(WindowBackupRun, CopiesLogLinesAndTheUserDirectory) {
    ASSERT_EQ(Run("Virtual User"), 0) << m_cliOut;
    for (const auto& [copy, source] :
         {std::pair<std::string, std::string>{"WINDOW APP.PRC", "a.prc"},
          {"WINDOW DATA.PDB", "b.pdb"}}) {
        auto file = pdb::CPalmDbFile::Open(m_userDir + "Backup/" + copy);
        ASSERT_TRUE(file) << copy << "\n" << m_cliOut;
        testsupport::ExpectSameEntries(*file, Path(source));
    }
    EXPECT_EQ(Setting("Userdir"), m_userDir);
    EXPECT_EQ(Setting("LastHandheldUser"), "Virtual User");
    std::vector<HistoryRow> rows = LoadHistoryLog(Setting("Userdir"));
    ScanBackups(Setting("Userdir"), rows, false);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "WINDOW APP.PRC");
    EXPECT_EQ(rows[0].version, " 1.0");
    EXPECT_EQ(rows[1].name, "WINDOW DATA.PDB");
    EXPECT_TRUE(rows[0].exists && rows[1].exists);
    const std::string log = testsupport::Slurp(m_userDir + "CCourier.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 2);
}

TEST_F(WindowBackupRun, AnotherHandheldUserLeavesNoCopyNoLogNoUserDirectory) {
    ASSERT_EQ(Run("Somebody Else"), 0) << m_cliOut;
    EXPECT_TRUE(Written("Window App.prc"));
    EXPECT_TRUE(fs::is_empty(m_userDir + "Backup"));
    EXPECT_FALSE(fs::exists(m_userDir + "CCourier.log"));
    EXPECT_EQ(Setting("Userdir"), "(none)");
    EXPECT_EQ(Setting("LastHandheldUser"), "Somebody Else");
}

}  // namespace
