// The installer window as a user starts it: the real program, offscreen, against the virtual
// handheld on a pseudo-terminal that setting "com"/"Device1" names, in a settings file under
// a temporary XDG_CONFIG_HOME.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/picture/picture_test_util.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tests/support/worker_harness.h"

namespace {

class WindowRun : public testsupport::CConsoleRunFixture {
  protected:
    WindowRun() : CConsoleRunFixture(CC_WINDOW_PATH, CC_HANDHELD_PATH) {}

    void SetUp() override {
        CConsoleRunFixture::SetUp();
        std::filesystem::create_directories(Path("config/Cradlecourier"));
        std::filesystem::create_directories(Path("tmp"));
        ::setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("TMP", Path("tmp").c_str(), 1);
        // A runtime directory of its own: windows of other tests are other instances.
        char runtime[] = "/tmp/ccrt-XXXXXX";
        ASSERT_NE(::mkdtemp(runtime), nullptr);
        m_runtime = runtime;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_RUNTIME_DIR");
        std::filesystem::remove_all(m_runtime);
        ::unsetenv("TMP");
        CConsoleRunFixture::TearDown();
    }

    std::string SettingsFile() const { return Path("config/Cradlecourier/CCourier.conf"); }
    void PointComOneAt(const std::string& pty) {
        std::ofstream(SettingsFile()) << "[com]\nDevice1=" << pty << "\nSpeed=115200\n";
    }
    std::string Settings() const { return testsupport::Slurp(SettingsFile()); }
    std::string m_runtime;
};

TEST_F(WindowRun, InstallsEverythingAndClosesWithResultZero) {
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("a.prc"), testdb::Info("Window App", true, "appl", "WiAp"),
        {{"code", 1, testdb::Bytes(5000, 1)}, {"tver", 1, {'1', '.', '0', 0}}}));
    ASSERT_TRUE(testdb::WriteRecordDb(Path("b.pdb"),
                                      testdb::Info("Window Data", false, "DATA", "WiDa"),
                                      {testdb::Rec(700, 2), testdb::Rec(900, 3)}));
    std::ofstream(Path("notes.txt")) << "Notes from the window.\n";
    testsupport::WriteFile(Path("sunset.bmp"), pictest::Bmp24(12, 9, [](int x, int y) {
                               return RgbColor{uint8_t(x * 20), uint8_t(y * 25), 80};
                           }));
    const std::string pty = StartHandheld();
    ASSERT_FALSE(pty.empty());
    PointComOneAt(pty);

    const int status = RunCli(
        {"/CLOSE", "/COM1", Path("a.prc"), Path("b.pdb"), Path("notes.txt"), Path("sunset.bmp")},
        {}, true);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_NE(Settings().find("[Result]\ncode=0"), std::string::npos) << Settings();
    EXPECT_NE(Settings().find("ComPort=1"), std::string::npos);
    auto app = Written("Window App.prc");
    ASSERT_TRUE(app) << m_cliOut;
    testsupport::ExpectSameEntries(*app, Path("a.prc"));
    auto data = Written("Window Data.pdb");
    ASSERT_TRUE(data);
    testsupport::ExpectSameEntries(*data, Path("b.pdb"));
    auto doc = Written("notes.pdb");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->Info().type, pdb::MakeFourCC("TEXt"));
    // The picture became its viewer application, converted on the window's thread.
    EXPECT_TRUE(Written("sunset.prc")) << m_cliOut;
    // The converted text, the viewer and the picture's database were temporary files.
    EXPECT_FALSE(std::filesystem::exists(Path("notes.PDB")));
    EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));
}

TEST_F(WindowRun, CloseDuringALargeDatabaseLeavesNoPartAndResultMinusTwo) {
    std::vector<pdb::Record> records;
    for (int i = 0; i < 60; ++i) records.push_back(testdb::Rec(2000, uint8_t(i)));
    ASSERT_TRUE(testdb::WriteRecordDb(Path("big.pdb"),
                                      testdb::Info("Window Big", false, "DATA", "WiBg"), records));
    const std::string pty = StartHandheld({"--press-after", "500", "--line-rate", "19200"});
    PointComOneAt(pty);
    const int status = RunCli({"/COM1", Path("big.pdb")}, [](testsupport::CChild& child) {
        // Well inside the database: it takes a minute at this rate.
        std::this_thread::sleep_for(std::chrono::seconds(6));
        child.Signal(SIGTERM);
    });
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_NE(Settings().find("[Result]\ncode=-2"), std::string::npos) << Settings();
    EXPECT_FALSE(Written("Window Big.pdb"));
    const std::string requests = testsupport::Slurp(m_out + "/requests.json");
    EXPECT_NE(requests.find("DeleteDB"), std::string::npos) << requests;
}

TEST_F(WindowRun, AMissingDeviceIsNamedOnceWithItsReason) {
    std::ofstream(SettingsFile()) << "[com]\nDevice2=" << Path("no-such-tty") << "\n";
    const int status = RunCli(
        {"/COM2"},
        [](testsupport::CChild& child) {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            child.Signal(SIGTERM);
        },
        true);
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_NE(m_cliOut.find("pi_bind: No such file or directory"), std::string::npos) << m_cliOut;
    EXPECT_EQ(m_cliOut.find("pi_bind"), m_cliOut.rfind("pi_bind")) << m_cliOut;
    EXPECT_NE(Settings().find("[Result]\ncode=-1"), std::string::npos) << Settings();
}

}  // namespace
