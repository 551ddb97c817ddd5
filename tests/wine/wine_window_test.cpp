// ccourier.exe, the Windows window, under Wine on a virtual display against the Linux
// virtual handheld on COM1, as a calling program starts it: it installs a program, a text
// and a picture and closes by itself with "Result"/"code" 0 in the registry; a second start
// hands its file to the running window and ends at once, and hand-over slots naming a device
// are dropped, never opened; the window with an archive appended opens with just that archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/picture/picture_test_util.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tools/ccapack/cca_packer.h"
#include "tools/ccapack/pe_image.h"

namespace fs = std::filesystem;
using testsupport::CChild;

namespace {

constexpr const char* kSettingsKey = "HKCU\\Software\\Cradlecourier\\CCourier";

std::string WindowsPath(const std::string& path) {
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

// The virtual display every Wine run of this suite shows its windows on.
std::unique_ptr<CChild> g_display;

class WineWindow : public testsupport::CConsoleRunFixture {
  protected:
    WineWindow() : CConsoleRunFixture(CC_HANDHELD_PATH, CC_HANDHELD_PATH) {}

    static void SetUpTestSuite() {
        if (!fs::exists(CC_WINDOWS_WINDOW_PATH) || std::string(CC_XVFB).empty()) return;
        g_display = std::make_unique<CChild>(std::vector<std::string>{
            CC_XVFB, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        const std::string number = g_display->FirstLine(20000);
        if (number.empty()) return;
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        // The first run makes the private prefix, whose COM ports lead to lines/comN.
        CChild({CC_WINE_RUN, CC_WINE_WINDOW_PREFIX, "reg", "query", "HKCU"}).Wait(180000);
    }
    static void TearDownTestSuite() {
        CChild({CC_WINESERVER, "-k"}).Wait(20000);
        g_display.reset();
    }

    void SetUp() override {
        if (!fs::exists(CC_WINDOWS_WINDOW_PATH)) {
            GTEST_SKIP() << "no Windows build (" << CC_WINDOWS_WINDOW_PATH
                         << "): cmake --preset windows && cmake --build --preset windows";
        }
        if (!g_display) GTEST_SKIP() << "no virtual display (Xvfb)";
        CConsoleRunFixture::SetUp();
        ::setenv("WINEPREFIX", CC_WINE_WINDOW_PREFIX, 1);
        Reg({"delete", "HKCU\\Software\\Cradlecourier", "/f"});
        Reg({"delete", "HKCU\\Software\\Classes\\CCOURIER.cca", "/f"});
        // The default-installer question was answered at an earlier start.
        Reg({"add", std::string(kSettingsKey) + "\\main", "/v", "DontAskDefault", "/t",
             "REG_DWORD", "/d", "1", "/f"});
        testdb::WriteResourceDb(Path("a.prc"), testdb::Info("Window Game", true, "appl", "WnWg"),
                                {{"code", 1, testdb::Bytes(2500, 1)}});
        std::ofstream(Path("notes.txt"), std::ios::binary) << "First line.\r\nSecond line.\r\n";
        testsupport::WriteFile(Path("photo.jpg"),
                               pictest::EncodeJpeg(48, 32, 3, 90, [](int x, int y) {
                                   return RgbColor{uint8_t(x * 5), uint8_t(y * 7), 90};
                               }));
        testdb::WriteResourceDb(Path("b.prc"), testdb::Info("Handed Over", true, "appl", "WnHo"),
                                {{"code", 1, testdb::Bytes(900, 2)}});
    }

    // The registry tool of the prefix; its output.
    std::string Reg(std::vector<std::string> args) {
        args.insert(args.begin(), {CC_WINE_RUN, CC_WINE_WINDOW_PREFIX, "reg"});
        CChild reg(args, true);
        reg.Wait(60000);
        return reg.Output();
    }
    // A value of the program's settings as reg prints it ("" when absent).
    std::string Setting(const std::string& section, const std::string& entry) {
        const std::string out =
            Reg({"query", std::string(kSettingsKey) + "\\" + section, "/v", entry});
        const size_t at = out.find(entry);
        return at == std::string::npos ? "" : out.substr(at);
    }

    static void LinkCom(int n, const std::string& target) {
        const fs::path link =
            fs::path(CC_WINE_WINDOW_PREFIX) / "lines" / ("com" + std::to_string(n));
        std::error_code ec;
        fs::create_directories(link.parent_path(), ec);
        fs::remove(link, ec);
        if (!target.empty()) fs::create_symlink(target, link);
    }

    std::vector<std::string> Window(std::vector<std::string> args) {
        args.insert(args.begin(), {CC_WINE_RUN, CC_WINE_WINDOW_PREFIX, CC_WINDOWS_WINDOW_PATH});
        return args;
    }

    // Waits until the setting shows text, at most ms.
    bool WaitForSetting(const std::string& section, const std::string& entry,
                        const std::string& text, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (Setting(section, entry).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return false;
    }

    // The files the handheld wrote out whose names hold the text.
    size_t WrittenLike(const std::string& text) const {
        size_t n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(m_out, ec)) {
            if (e.path().filename().string().find(text) != std::string::npos) ++n;
        }
        return n;
    }
};

TEST_F(WineWindow, CloseOnFinishInstallsEveryKindAndReportsCodeZero) {
    LinkCom(1, StartHandheld({"--color", "--user", "Window Tester", "--timeout", "180"}));
    CChild window(Window({"/CLOSE", "/COM1", WindowsPath(Path("a.prc")),
                          WindowsPath(Path("notes.txt")), WindowsPath(Path("photo.jpg"))}),
                  true);
    const int status = window.Wait(240000);
    WaitHandheld();
    EXPECT_EQ(status, 0) << window.Output();
    EXPECT_TRUE(Written("Window Game.prc"));
    EXPECT_EQ(WrittenLike("notes"), 1u);
    EXPECT_EQ(WrittenLike("photo"), 1u);
    // What a calling program reads.
    EXPECT_NE(Setting("Result", "code").find("REG_DWORD    0x0"), std::string::npos)
        << Setting("Result", "code");
    // The archive type was made this program's at the start, in the user's classes; the
    // Palm types were left alone as the question was not to be asked.
    const std::string command =
        Reg({"query", "HKCU\\Software\\Classes\\CCOURIER.cca\\shell\\open\\command"});
    EXPECT_NE(command.find("ccourier.exe"), std::string::npos) << command;
    EXPECT_EQ(Reg({"query", "HKCU\\Software\\Classes\\.prc"}).find("CCOURIER.prc"),
              std::string::npos);
}

TEST_F(WineWindow, SelfExtractingWindowInstallsItsArchiveOverCom1) {
    testdb::WriteResourceDb(Path("bundled.prc"),
                            testdb::Info("Window Bundled", true, "appl", "WnBd"),
                            {{"code", 1, testdb::Bytes(1500, 6)}});
    testdb::WriteResourceDb(Path("grey.prc"), testdb::Info("Window Grey", true, "appl", "WnGr"),
                            {{"code", 1, testdb::Bytes(600, 7)}});
    ccapack::CCcaPacker packer;
    std::string error;
    ASSERT_TRUE(packer.AddFile("All", Path("bundled.prc"), "bundled.prc", 1, error)) << error;
    ASSERT_TRUE(packer.AddFile("NonC", Path("grey.prc"), "app.prc", 1, error)) << error;
    ASSERT_TRUE(packer.Write(Path("game.cca"), error)) << error;
    const std::string setup = Path("game-setup.exe");
    ASSERT_TRUE(ccapack::AppendSfxArchive(CC_WINDOWS_WINDOW_PATH, Path("game.cca"), setup, error))
        << error;
    // The port and "close on finish" as a user left them: a program that carries an archive
    // reads no switch.
    Reg({"add", std::string(kSettingsKey) + "\\com", "/v", "ComPort", "/t", "REG_DWORD", "/d",
         "1", "/f"});
    Reg({"add", std::string(kSettingsKey) + "\\main", "/v", "close", "/t", "REG_DWORD", "/d",
         "1", "/f"});

    LinkCom(1, StartHandheld({"--color", "--user", "Window Tester", "--timeout", "180"}));
    CChild window({CC_WINE_RUN, CC_WINE_WINDOW_PREFIX, setup, WindowsPath(Path("a.prc"))}, true);
    const int status = window.Wait(240000);
    WaitHandheld();
    EXPECT_EQ(status, 0) << window.Output();
    // Only the archive's member for every handheld (a colour one): the file named was not
    // queued, the grey member not chosen.
    EXPECT_TRUE(Written("Window Bundled.prc"));
    EXPECT_FALSE(Written("Window Grey.prc"));
    EXPECT_FALSE(Written("Window Game.prc"));
    EXPECT_NE(Setting("Result", "code").find("REG_DWORD    0x0"), std::string::npos)
        << Setting("Result", "code");
}

TEST_F(WineWindow, SecondStartHandsItsFileOverAndEndsAtOnce) {
    LinkCom(1, "");  // no line: the first window idles with its port busy
    CChild first(Window({"/COM1", WindowsPath(Path("a.prc"))}), true);
    ASSERT_TRUE(WaitForSetting("Recent", "Recent0", "a.prc", 120000)) << first.Output();
    // A slot someone left naming a device: dropped, never opened; the second start passes
    // over it to the next free slot.
    Reg({"add", std::string(kSettingsKey) + "\\Register", "/v", "Name0", "/d",
         "\\\\.\\PhysicalDrive0", "/f"});

    CChild second(Window({WindowsPath(Path("b.prc"))}), true);
    EXPECT_EQ(second.Wait(60000), 0) << second.Output();
    EXPECT_TRUE(WaitForSetting("Recent", "Recent0", "b.prc", 30000));
    EXPECT_EQ(Setting("Register", "Name0"), "");
    EXPECT_EQ(Setting("Register", "Name1"), "");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Setting("Recent", "Recent" + std::to_string(i)).find("PhysicalDrive"),
                  std::string::npos);
    }
    // The first window is still there, with both files.
    EXPECT_TRUE(WaitForSetting("Recent", "Recent1", "a.prc", 5000));
}

}  // namespace
