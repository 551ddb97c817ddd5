// Start-up as the user meets it: the real ccourier, offscreen, with its settings, runtime
// and temporary directories of its own. A second start hands its files to the first and
// ends; what the first instance took shows in its recent files ("Recent"/"Recent%d").
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "shell/linux/instance_channel.h"
#include "shell/linux/qt_settings.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tools/ccapack/cca_packer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::CChild;

class StartupRun : public testsupport::CConsoleRunFixture {
  protected:
    StartupRun() : CConsoleRunFixture(CC_WINDOW_PATH, CC_HANDHELD_PATH) {}

    void SetUp() override {
        CConsoleRunFixture::SetUp();
        fs::create_directories(Path("config/Cradlecourier"));
        fs::create_directories(Path("tmp"));
        // Short, so the socket's address fits.
        char runtime[] = "/tmp/ccrt-XXXXXX";
        ASSERT_NE(::mkdtemp(runtime), nullptr);
        m_runtime = runtime;
        ::setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        ::setenv("TMP", Path("tmp").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ResetSettings();
    }
    // No serial port of this machine: an idle window polls a port that is not there.
    void ResetSettings() {
        std::ofstream(SettingsFile()) << "[com]\nDevice1=" << Path("no-tty") << "\n";
    }
    void TearDown() override {
        m_first.reset();
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv("TMP");
        fs::remove_all(m_runtime);
        CConsoleRunFixture::TearDown();
    }

    std::string SettingsFile() const { return Path("config/Cradlecourier/CCourier.conf"); }
    std::string File(const std::string& name) {
        std::ofstream(Path(name)) << name;
        return Path(name);
    }
    std::unique_ptr<CChild> Start(std::vector<std::string> args) {
        args.insert(args.begin(), CC_WINDOW_PATH);
        return std::make_unique<CChild>(args, true);
    }
    // The first instance, once it serves its socket and its window is up (the window
    // stores its port when it shows it).
    // With nQueued, also once that many files are in its list (and so in its recent files).
    void StartFirst(std::vector<std::string> args, size_t nQueued = 0) {
        m_first = Start(std::move(args));
        ASSERT_TRUE(WaitForWindow(nQueued)) << m_first->Output();
    }
    bool WaitForWindow(size_t nQueued = 0) {
        return WaitFor(
            [&] {
                return !Sockets().empty() &&
                       testsupport::Slurp(SettingsFile()).find("ComPort=") != std::string::npos &&
                       Recent().size() >= nQueued;
            },
            20000);
    }
    // A normal close of the first instance (its close box, through SIGTERM); its status.
    int CloseFirst() {
        m_first->Signal(SIGTERM);
        return m_first->Wait(30000);
    }
    std::vector<std::string> Sockets() const {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(m_runtime + "/Cradlecourier", ec)) {
            if (e.path().extension() == ".sock") found.push_back(e.path().string());
        }
        return found;
    }
    static bool WaitFor(const std::function<bool()>& done, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::vector<std::string> Recent() const {
        CQtSettings s(SettingsFile());
        std::vector<std::string> files;
        for (int i = 0; i < 16; ++i) {
            const std::string p = s.ReadText("Recent", "Recent" + std::to_string(i), "");
            if (!p.empty()) files.push_back(p);
        }
        return files;
    }
    std::set<std::string> RecentSet() const {
        const auto r = Recent();
        return {r.begin(), r.end()};
    }
    std::string Slot(int i) const {
        return CQtSettings(SettingsFile()).ReadText("Register", "Name" + std::to_string(i), "");
    }

    std::string m_runtime;
    std::unique_ptr<CChild> m_first;
};

TEST_F(StartupRun, SecondStartHandsOverAndEndsFirstClearsSlotsAtItsEnd) {
    const std::string a = File("a.prc"), b = File("b.prc");
    StartFirst({a}, 1);
    struct stat st {};
    ASSERT_EQ(::stat((m_runtime + "/Cradlecourier").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // b and a path that is gone; the stale slot someone left is dropped on the way.
    CQtSettings(SettingsFile()).WriteText("Register", "Name3", Path("gone-since.prc"));
    auto second = Start({b, Path("missing.prc")});
    EXPECT_EQ(second->Wait(20000), 0) << second->Output();
    EXPECT_EQ(RecentSet(), (std::set<std::string>{a, b}));
    EXPECT_EQ(Slot(0), "");
    EXPECT_EQ(Slot(3), "");
    // A slot written after the last notification goes at the end of the run.
    CQtSettings(SettingsFile()).WriteText("Register", "Name9", b);
    EXPECT_EQ(CloseFirst(), 0);
    EXPECT_EQ(Slot(9), "");
    EXPECT_TRUE(Sockets().empty());
}

TEST_F(StartupRun, TenSimultaneousSecondInstancesAllArrive) {
    StartFirst({});
    std::vector<std::string> files;
    std::vector<std::unique_ptr<CChild>> seconds;
    for (int i = 0; i < 10; ++i) files.push_back(File("f" + std::to_string(i) + ".prc"));
    for (const std::string& f : files) seconds.push_back(Start({f}));
    for (auto& s : seconds) EXPECT_EQ(s->Wait(60000), 0) << s->Output();
    EXPECT_EQ(RecentSet(), std::set<std::string>(files.begin(), files.end()));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(Slot(i), "") << i;
    EXPECT_EQ(CloseFirst(), 0);
}

TEST_F(StartupRun, MoreFilesThanFreeSlotsHandsOverWhatFitsAndCountsAll) {
    // This test is the first instance: it holds the program's lock and serves its socket.
    static int argc = 1;
    static char name[] = "e2e_startup_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    CLocalInstanceChannel first(
        instance::MakeInstanceKey("ccourier", fs::canonical(CC_WINDOW_PATH).string()),
        instance::PrivateRuntimeDir());
    ASSERT_EQ(first.Open(), IInstanceChannel::Role::kFirst);
    std::vector<InstanceMessage> got;
    first.SetHandler([&](const InstanceMessage& m) {
        got.push_back(m);
        return 0;
    });
    {
        std::ofstream settings(SettingsFile(), std::ios::app);
        settings << "[Register]\n";
        for (int i = 0; i < 253; ++i) settings << "Name" << i << "=/q\n";
    }
    const std::string x = File("x.prc"), y = File("y.prc"), z = File("z.prc");
    auto second = Start({x, y, "/CLOSE", z});
    int status = -1;
    while ((status = second->Wait(10)) == -1) QCoreApplication::processEvents();
    EXPECT_EQ(status, 0) << second->Output();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].strName, "CCourier raise");
    EXPECT_EQ(got[1].strName, "CCourier new");
    EXPECT_EQ(got[1].nWParam, 1970);
    EXPECT_EQ(got[1].nLParam, 3);  // all of them, handed over or not
    EXPECT_EQ(Slot(253), x);
    EXPECT_EQ(Slot(254), y);
    EXPECT_EQ(Slot(252), "/q");
}

TEST_F(StartupRun, ACrashedFirstInstanceLeavesNothingThatHoldsTheNextStart) {
    StartFirst({File("a.prc")}, 1);
    m_first->Signal(SIGKILL);
    m_first->Wait(10000);
    EXPECT_FALSE(Sockets().empty());  // left behind
    // The next start is first again: it serves, and a third start hands over to it.
    const std::string b = File("b.prc"), c = File("c.prc");
    ResetSettings();
    m_first = Start({b});
    // Only a first instance opens its window and queues b.
    EXPECT_TRUE(WaitForWindow(1)) << m_first->Output();
    EXPECT_TRUE(RecentSet().count(b));
    auto third = Start({c});
    EXPECT_EQ(third->Wait(20000), 0);
    EXPECT_TRUE(RecentSet().count(c));
    EXPECT_EQ(CloseFirst(), 0);
}

TEST_F(StartupRun, UnopenedArgumentsThenTheWholeCommandLine) {
    fs::create_directories(Path("My Files"));
    const std::string spaced = File("My Files/a b.prc");
    StartFirst({Path("My"), "Files/a", "b.prc"}, 1);
    EXPECT_EQ(Recent(), std::vector<std::string>{spaced});
    EXPECT_EQ(CloseFirst(), 0);

    // Arguments that begin with "/" and are no switch: a file when it opens, else nothing.
    ResetSettings();
    const std::string a = File("a.prc");
    StartFirst({"/com1", "/COM9", "/nowhere/x.prc", a}, 1);
    EXPECT_EQ(Recent(), std::vector<std::string>{a});
    EXPECT_EQ(CloseFirst(), 0);
}

TEST_F(StartupRun, PasswordArchiveIsDroppedWithoutAWord) {
    ccapack::CCcaPacker packer;
    std::string error;
    ccapack::PackOptions options;
    options.strPassword = "secret";
    ASSERT_TRUE(packer.SetOptions(options, error));
    ASSERT_TRUE(packer.AddData("All", "a.prc", {1, 2, 3}, 1, error));
    ASSERT_TRUE(packer.Write(Path("locked.cca"), error));
    const std::string b = File("b.prc");
    StartFirst({Path("locked.cca"), b}, 1);
    EXPECT_EQ(Recent(), std::vector<std::string>{b});
    EXPECT_EQ(CloseFirst(), 0);
}

TEST_F(StartupRun, SelfExtractingProgramStartsWithJustItsArchive) {
    ccapack::CCcaPacker packer;
    std::string error;
    ASSERT_TRUE(packer.AddData("All", "a.prc", {1, 2, 3}, 1, error));
    ASSERT_TRUE(packer.Write(Path("game.cca"), error));
    const std::string program = Path("game-installer");
    CChild pack({CC_CCAPACK_PATH, "--sfx", CC_WINDOW_PATH, "-o", program, Path("game.cca")});
    ASSERT_EQ(pack.Wait(30000), 0);
    fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);

    const std::string copy = Path("tmp/CCASFX.CCA");
    m_first = std::make_unique<CChild>(
        std::vector<std::string>{program, File("a.prc"), "/CLOSE", "--help"}, true);
    ASSERT_TRUE(WaitForWindow(1)) << m_first->Output();
    EXPECT_EQ(Recent(), std::vector<std::string>{copy});
    EXPECT_TRUE(fs::exists(copy));
    m_first->Pump(100);
    EXPECT_EQ(m_first->Output().find("usage"), std::string::npos);  // arguments not looked at
    // Another program file has an instance of its own beside this one.
    const std::string b = File("b.prc");
    auto plain = Start({b});
    EXPECT_TRUE(WaitFor([&] { return RecentSet().count(b) > 0 && Sockets().size() == 2; }, 20000));
    plain->Signal(SIGTERM);
    EXPECT_EQ(plain->Wait(30000), 0);
    EXPECT_EQ(CloseFirst(), 0);
    EXPECT_FALSE(fs::exists(copy));
}

// Against the virtual handheld.

class StartupTransfer : public StartupRun {
  protected:
    std::string Pointed(std::vector<std::string> handheld) {
        const std::string pty = StartHandheld(std::move(handheld));
        std::ofstream(SettingsFile())
            << "[com]\nDevice1=" << Path("no-tty") << "\nDevice2=" << pty << "\nSpeed=115200\n";
        return pty;
    }
    std::string Settings() const { return testsupport::Slurp(SettingsFile()); }
};

TEST_F(StartupTransfer, SwitchesInAnyCaseButThePortsCloseAfterTheRun) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("a.prc"),
                                        testdb::Info("Start App", true, "appl", "StAp"),
                                        {{"code", 1, testdb::Bytes(3000, 1)}}));
    ASSERT_FALSE(Pointed({}).empty());
    // /COM2 counts; /com1 and /COM9 after it are not port switches; /Title takes its text.
    auto run = Start({"/close", "/Title", "Start title", "/COM2", "/com1", "/COM9", Path("a.prc")});
    EXPECT_EQ(run->Wait(60000), 0) << run->Output();  // closed itself
    WaitHandheld();
    EXPECT_TRUE(Written("Start App.prc"));
    EXPECT_NE(Settings().find("[Result]\ncode=0"), std::string::npos) << Settings();
}

TEST_F(StartupTransfer, TitleBeforeCloseTakesItAsText) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("a.prc"),
                                        testdb::Info("Title App", true, "appl", "TiAp"),
                                        {{"code", 1, testdb::Bytes(3000, 1)}}));
    ASSERT_FALSE(Pointed({}).empty());
    m_first = Start({"/COM2", "/TITLE", "/CLOSE", Path("a.prc")});
    WaitHandheld();
    EXPECT_TRUE(Written("Title App.prc"));
    EXPECT_EQ(m_first->Wait(1500), -1);  // the close flag stayed off
    EXPECT_EQ(CloseFirst(), 0);
    EXPECT_NE(Settings().find("[Result]\ncode=0"), std::string::npos) << Settings();
}

TEST_F(StartupTransfer, HandOverDuringATransferWaitsInItsSlot) {
    std::vector<pdb::Record> records;
    for (int i = 0; i < 40; ++i) records.push_back(testdb::Rec(2000, uint8_t(i)));
    ASSERT_TRUE(testdb::WriteRecordDb(Path("big.pdb"),
                                      testdb::Info("Start Big", false, "DATA", "StBg"), records));
    ASSERT_FALSE(Pointed({"--press-after", "300", "--line-rate", "19200"}).empty());
    StartFirst({"/COM2", Path("big.pdb")}, 1);
    // Well inside the database at this rate.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string c = File("c.prc");
    auto second = Start({c});
    EXPECT_EQ(second->Wait(30000), 0) << second->Output();
    EXPECT_EQ(Slot(0), c);
    EXPECT_FALSE(RecentSet().count(c));
    // Closing during the transfer ends the process at once: the slot stays for later.
    EXPECT_EQ(CloseFirst(), 0);
    WaitHandheld();
    EXPECT_NE(Settings().find("[Result]\ncode=-2"), std::string::npos) << Settings();
    EXPECT_EQ(Slot(0), c);
}

}  // namespace
