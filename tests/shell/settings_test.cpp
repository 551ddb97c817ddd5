// The settings layer: the settings file as other programs and people may have left it, and
// the in-memory store that window tests use, held to the same rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <filesystem>
#include <fstream>
#include <memory>

#include "shell/linux/qt_settings.h"
#include "shell/memory_settings.h"
#include "shell/palm_desktop.h"

namespace {

namespace fs = std::filesystem;

std::string ScratchFile(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("cc-settings-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return (dir / "CCourier.conf").string();
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Both stores keep the same rules.
class Store : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) {
            m_path = ScratchFile(::testing::UnitTest::GetInstance()->current_test_info()->name());
            m_store = std::make_unique<CQtSettings>(m_path);
        } else {
            m_store = std::make_unique<CMemorySettings>();
        }
    }
    std::string m_path;
    std::unique_ptr<ISettingsStore> m_store;
};

TEST_P(Store, NamesFoldTypesAndDefaults) {
    ISettingsStore& s = *m_store;
    EXPECT_EQ(s.ReadInt("main", "FileList", 1), 1);
    s.WriteInt("main", "Filelist", 0);
    EXPECT_EQ(s.ReadInt("main", "FileList", 1), 0);
    EXPECT_EQ(s.ReadInt("MAIN", "filelist", 1), 0);
    s.WriteInt("main", "FileList", 1);  // the other spelling replaces it
    EXPECT_EQ(s.ReadInt("main", "Filelist", 0), 1);

    s.WriteInt("com", "Speed", -1);
    EXPECT_EQ(s.ReadInt("com", "Speed", 57600), -1);
    s.WriteText("com", "Speed", "fast");
    EXPECT_EQ(s.ReadInt("com", "Speed", 57600), 57600);
    s.WriteText("com", "Speed", "99999999999");
    EXPECT_EQ(s.ReadInt("com", "Speed", 57600), 57600);
    s.WriteText("com", "Speed", "+-5");
    EXPECT_EQ(s.ReadInt("com", "Speed", 57600), 57600);
    s.WriteText("com", "Speed", " +19200 ");
    EXPECT_EQ(s.ReadInt("com", "Speed", 57600), 19200);

    s.WriteText("Recent", "Recent0", "/home/u/a, b.prc");
    EXPECT_EQ(s.ReadText("Recent", "recent0", ""), "/home/u/a, b.prc");
    s.WriteText("Recent", "Recent1", std::string(ISettingsStore::kMaxTextLength + 1, 'x'));
    EXPECT_EQ(s.ReadText("Recent", "Recent1", "none"), "none");
    EXPECT_TRUE(s.Delete("recent", "RECENT0"));
    EXPECT_FALSE(s.Has("Recent", "Recent0"));
    EXPECT_EQ(s.ReadText("Recent", "Recent0", "gone"), "gone");
    EXPECT_TRUE(s.Flush());
}

INSTANTIATE_TEST_SUITE_P(Settings, Store, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "File" : "Memory"; });

TEST(SettingsFile, ReadsWhatOthersWroteAndSurvivesBadFiles) {
    const std::string path = ScratchFile("others");
    std::ofstream(path) << "[COM]\ndevice1=/dev/ttyUSB0\nDEVICE2 = /dev/ttyACM0\nSpeed=12345\n"
                           "ComPort=abc\n[main]\nclose=1\nclose2=\n"
                           "[Recent]\nRecent0=\"/tmp/x,y.prc\"\nRecent1=a,b\n";
    {
        CQtSettings s(path);
        EXPECT_EQ(s.ReadText("com", "Device1", ""), "/dev/ttyUSB0");
        EXPECT_EQ(s.ReadText("com", "Device2", ""), "/dev/ttyACM0");
        EXPECT_EQ(s.ReadInt("com", "Speed", 57600), 12345);  // absurd values are the window's
        EXPECT_EQ(s.ReadInt("com", "ComPort", 1), 1);
        EXPECT_EQ(s.ReadInt("main", "close", 0), 1);
        EXPECT_EQ(s.ReadText("Recent", "Recent0", ""), "/tmp/x,y.prc");
        EXPECT_EQ(s.ReadText("Recent", "Recent1", ""), "a,b");
        // A write keeps the section's spelling and drops the other spelling of the entry.
        s.WriteText("com", "Device1", "/dev/ttyUSB1");
    }
    const std::string text = Slurp(path);
    EXPECT_NE(text.find("Device1=/dev/ttyUSB1"), std::string::npos) << text;
    EXPECT_EQ(text.find("device1"), std::string::npos) << text;
    EXPECT_EQ(text.find("[com]"), std::string::npos) << text;

    // Numbers are written as integers.
    {
        CQtSettings s(path);
        s.WriteInt("Result", "code", -2);
    }
    EXPECT_NE(Slurp(path).find("[Result]\ncode=-2"), std::string::npos) << Slurp(path);

    // A file name that is not UTF-8 (handed over to the first instance) keeps its bytes.
    {
        CQtSettings s(path);
        s.WriteText("Register", "Name0", "/home/u/\xe4\xf6.pdb");
        s.WriteText("Register", "Name0", "/home/u/\xe4\xe4.pdb");  // not the same text
    }
    EXPECT_EQ(CQtSettings(path).ReadText("register", "name0", ""), "/home/u/\xe4\xe4.pdb");

    // An entry is read from the first spelling of its section that has it, the exact one
    // first, and a deleted entry goes from all of them.
    std::ofstream(path) << "[REGISTER]\nname0=/b\nName1=/c\n[Register]\nName0=/a\n";
    {
        CQtSettings s(path);
        EXPECT_EQ(s.ReadText("Register", "Name0", ""), "/a");
        EXPECT_EQ(s.ReadText("Register", "Name1", ""), "/c");
        EXPECT_TRUE(s.Delete("Register", "Name0"));
        EXPECT_FALSE(s.Has("Register", "Name0"));
    }

    // Garbage and an unreadable file read as defaults, and nothing crashes on writing.
    const std::string junk = ScratchFile("junk");
    std::ofstream(junk, std::ios::binary) << std::string("\0\xff[[[=\n=\n[main\nclose", 20);
    CQtSettings bad(junk);
    EXPECT_EQ(bad.ReadInt("main", "close", 7), 7);
    // A foreign variant whose list claims two thousand million items (Qt reserves for them
    // all) reads as the default, and the rest of the file still reads.
    std::ofstream(junk) << "[main]\nclose=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)\nopen=1\n";
    CQtSettings foreign(junk);
    EXPECT_EQ(foreign.ReadInt("main", "close", 7), 7);
    EXPECT_EQ(foreign.ReadInt("main", "open", 0), 1);
    if (::geteuid() != 0) {  // root reads anything
        const std::string locked = ScratchFile("locked");
        std::ofstream(locked) << "[main]\nclose=1\n";
        ::chmod(locked.c_str(), 0);
        CQtSettings s(locked);
        EXPECT_EQ(s.ReadInt("main", "close", 0), 0);
        s.WriteInt("main", "close", 1);
        ::chmod(locked.c_str(), 0600);
    }
}

TEST(SettingsFile, DefaultPathFollowsXdgConfigHome) {
    const std::string dir = fs::path(ScratchFile("xdg")).parent_path().string();
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    EXPECT_EQ(CQtSettings::DefaultFilePath(), dir + "/Cradlecourier/CCourier.conf");
    {
        CQtSettings s;
        s.WriteInt("com", "ComPort", 3);
    }
    EXPECT_NE(Slurp(dir + "/Cradlecourier/CCourier.conf").find("ComPort=3"), std::string::npos);
    ::unsetenv("XDG_CONFIG_HOME");
}

// The vendor's values as a fake that has them.
class CFakeDesktop final : public IPalmDesktopValues {
  public:
    std::optional<std::string> port, core, hotsync;
    std::optional<uint32_t> usb;
    bool hasCore = false;
    std::optional<std::string> DirectComPort() const override { return port; }
    std::optional<uint32_t> UsbValue() const override { return usb; }
    bool HasCore() const override { return hasCore; }
    std::optional<std::string> CorePath() const override { return core; }
    std::optional<std::string> HotSyncPath() const override { return hotsync; }
};

TEST(PalmDesktop, DefaultsFromTheVendorsValues) {
    CNoPalmDesktop none;
    EXPECT_EQ(DefaultComPort(none), 1);
    EXPECT_EQ(DefaultUsb(none), 0);
    EXPECT_EQ(GetPalmDesktopPath(none), "");

    CFakeDesktop d;
    d.port = "COM2";
    d.usb = 0;
    EXPECT_EQ(DefaultComPort(d), 2);
    EXPECT_EQ(DefaultUsb(d), 0);
    d.port = "ports 5 and 3";
    EXPECT_EQ(DefaultComPort(d), 3);
    d.port = "COM9";
    EXPECT_EQ(DefaultComPort(d), 1);
    d.port = std::string(300, ' ') + "4";  // beyond the 255 bytes read
    EXPECT_EQ(DefaultComPort(d), 1);
    d.usb = 1;
    EXPECT_EQ(DefaultUsb(d), 1);
    d.usb = 2;
    EXPECT_EQ(DefaultUsb(d), 0);
    d.hasCore = true;
    d.core = "/opt/palm";
    EXPECT_EQ(GetPalmDesktopPath(d), "/opt/palm/");
}

}  // namespace
