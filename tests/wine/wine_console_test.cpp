// ccourier-cli.exe, the Windows console, under Wine against the Linux virtual handheld: over
// COM1 (a pseudo-terminal the private Wine prefix's dosdevices/com1 leads to) and over
// NetSync on the loopback address, with files of every kind. What it installs must equal,
// byte for byte, what the Linux console installs from the same files, apart from the dates
// the handheld's own clock stamps. Then the bad input of a Windows desktop: device names
// queued as files, a COM port that does not exist or that another program holds, and
// archives whose member names reach out of their folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/cca/cca_test_util.h"
#include "tests/picture/picture_test_util.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tools/ccapack/cca_packer.h"
#include "tools/ccapack/pe_image.h"

namespace {

namespace fs = std::filesystem;
using testsupport::CChild;
using testsupport::LastLine;

// A diary and a memo, named in Japanese.
constexpr const char* kDiary = "\xE6\x97\xA5\xE8\xA8\x98.txt";
constexpr const char* kMemo = "\xE3\x83\xA1\xE3\x83\xA2.pdb";

// The header's creation, modification and backup dates: the handheld's clock sets them.
constexpr size_t kDatesAt = 36;
constexpr size_t kDatesSize = 12;

// A Standard MIDI File of one track, `size` bytes long.
std::vector<uint8_t> Midi(size_t size) {
    std::vector<uint8_t> b = {'M', 'T', 'h', 'd', 0,   0,   0,   6, 0, 0, 0,
                              1,   0,   96,  'M', 'T', 'r', 'k', 0, 0, 0, 0};
    const size_t track = size - b.size();
    for (int i = 0; i < 4; ++i) b[18 + size_t(i)] = uint8_t(track >> (24 - 8 * i));
    b.resize(size, 0);
    for (size_t i = 22; i + 4 < size; ++i) b[i] = uint8_t('a' + i % 26);
    b[size - 3] = 0xFF;
    b[size - 2] = 0x2F;
    return b;
}

// The Windows name of a Linux path: Wine's drive Z: is the root.
std::string WindowsPath(const std::string& path) {
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

// Every database a handheld wrote out, by file name, with the handheld's dates blanked.
std::map<std::string, std::string> CardBytes(const std::string& dir) {
    std::map<std::string, std::string> card;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "requests.json" || entry.is_directory()) continue;
        std::string bytes = testsupport::Slurp(entry.path().string());
        if (bytes.size() >= kDatesAt + kDatesSize)
            bytes.replace(kDatesAt, kDatesSize, kDatesSize, '\0');
        card[name] = bytes;
    }
    return card;
}

class WineConsole : public testsupport::CConsoleRunFixture {
  protected:
    WineConsole() : CConsoleRunFixture(CC_CLI_PATH, CC_HANDHELD_PATH) {}

    static void SetUpTestSuite() {
        if (!fs::exists(CC_WINDOWS_CLI_PATH)) return;
        // The first run makes the private prefix, whose COM ports lead to lines/comN.
        CChild version({CC_WINE_RUN, CC_WINE_PREFIX, CC_WINDOWS_CLI_PATH, "--version"});
        version.Wait(120000);
    }

    void SetUp() override {
        if (!fs::exists(CC_WINDOWS_CLI_PATH)) {
            GTEST_SKIP() << "no Windows build (" << CC_WINDOWS_CLI_PATH
                         << "): cmake --preset windows && cmake --build --preset windows";
        }
        CConsoleRunFixture::SetUp();
        testdb::WriteResourceDb(
            Path("game.prc"), testdb::Info("Wine Game", true, "appl", "WnGm"),
            {{"code", 1, testdb::Bytes(3000, 1)}, {"tver", 1, {'2', '.', '1', 0}}});
        testdb::WriteRecordDb(
            Path("notes.pdb"), testdb::Info("Wine Notes", false, "DATA", "WnNt"),
            {testdb::Rec(500, 2, 0x40, 1, 0x1001), testdb::Rec(0, 3, 0, 2, 0x1002),
             testdb::Rec(4000, 4, 0, 0, 0x1003)});
    }

    // Runs the Windows console under Wine in the private prefix; its exit status, its standard
    // and error output in m_cliOut.
    int RunWindowsCli(std::vector<std::string> args, int waitMs = 180000,
                      const std::string& program = CC_WINDOWS_CLI_PATH) {
        args.insert(args.begin(), {CC_WINE_RUN, CC_WINE_PREFIX, program});
        CChild cli(args, true);
        const int status = cli.Wait(waitMs);
        // Lines end in CR LF on Windows.
        m_cliOut = cli.Output();
        m_cliOut.erase(std::remove(m_cliOut.begin(), m_cliOut.end(), '\r'), m_cliOut.end());
        return status;
    }

    // COMn of the prefix leads to target (or nowhere when target is empty).
    static void LinkCom(int n, const std::string& target) {
        const fs::path link = fs::path(CC_WINE_PREFIX) / "lines" / ("com" + std::to_string(n));
        std::error_code ec;
        fs::remove(link, ec);
        if (!target.empty()) fs::create_symlink(target, link);
    }

    // The handheld of every test: a sound database for MIDI files, a colour display.
    std::vector<std::string> HandheldOptions() {
        const std::string sounds = Path("sounds.pdb");
        if (!fs::exists(sounds)) {
            testdb::WriteRecordDb(sounds, testdb::Info("System MIDI Sounds", false, "smfr", "psys"),
                                  {});
        }
        return {"--load", sounds, "--color", "--user", "Wine Tester"};
    }

    // Files of every kind, as the user has them: Palm databases (one with a Japanese name),
    // texts with a German and a Japanese name, a bitmap, a JPEG, a MIDI file and an archive.
    std::vector<std::string> EveryKind() {
        std::ofstream(Path("B\xC3\xBC"
                           "cher.txt"),
                      std::ios::binary)
            << "Kapitel 1\r\nEs war einmal.\r\n";
        std::ofstream(Path(kDiary), std::ios::binary) << "Day one.\r\nRain.\r\n";
        testdb::WriteRecordDb(Path(kMemo), testdb::Info("Wine Memo", false, "DATA", "WnMm"),
                              {testdb::Rec(300, 5, 0, 1, 0x2001)});
        testsupport::WriteFile(
            Path("sky.bmp"), pictest::Bmp24(80, 60, [](int x, int y) {
                return RgbColor{uint8_t(x * 3), uint8_t(y * 4), uint8_t(200 - x - y)};
            }));
        // JPEG pictures in colour and in grey.
        testsupport::WriteFile(
            Path("photo.jpg"), pictest::EncodeJpeg(64, 48, 3, 90, [](int x, int y) {
                return RgbColor{uint8_t(x * 4), uint8_t(y * 5), uint8_t((x * y) % 256)};
            }));
        testsupport::WriteFile(Path("moon.jpeg"),
                               pictest::EncodeJpeg(40, 30, 1, 75, [](int x, int y) {
                                   return RgbColor{uint8_t((x + y) * 3), 0, 0};
                               }));
        testsupport::WriteFile(Path("bell.mid"), Midi(400));
        std::string error;
        // An archive with a member for every handheld, one for colour and one for grey ones.
        testdb::WriteResourceDb(Path("bundled.prc"),
                                testdb::Info("Wine Bundled", true, "appl", "WnBd"),
                                {{"code", 1, testdb::Bytes(1500, 6)}});
        testdb::WriteResourceDb(Path("colour.prc"),
                                testdb::Info("Wine Colour", true, "appl", "WnCo"),
                                {{"code", 1, testdb::Bytes(700, 5)}});
        testdb::WriteResourceDb(Path("grey.prc"), testdb::Info("Wine Grey", true, "appl", "WnGr"),
                                {{"code", 1, testdb::Bytes(600, 7)}});
        ccapack::CCcaPacker packer;
        EXPECT_TRUE(packer.AddFile("All", Path("bundled.prc"), "bundled.prc", 1, error)) << error;
        EXPECT_TRUE(packer.AddFile("Color", Path("colour.prc"), "app.prc", 1, error)) << error;
        EXPECT_TRUE(packer.AddFile("NonC", Path("grey.prc"), "app.prc", 1, error)) << error;
        EXPECT_TRUE(packer.Write(Path("bundle.cca"), error)) << error;
        return {"game.prc",
                "notes.pdb",
                "B\xC3\xBC"
                "cher.txt",
                kDiary,
                kMemo,
                "sky.bmp",
                "photo.jpg",
                "moon.jpeg",
                "bell.mid",
                "bundle.cca"};
    }

    // The files as one system's console names them.
    std::vector<std::string> Named(const std::vector<std::string>& files, bool windows) {
        std::vector<std::string> out;
        for (const std::string& f : files) out.push_back(windows ? WindowsPath(Path(f)) : Path(f));
        return out;
    }

    void UseCard(const std::string& name) { m_out = m_dir + name; }
};

TEST_F(WineConsole, EveryKindOverCom1InstallsWhatTheLinuxConsoleInstalls) {
    const std::vector<std::string> files = EveryKind();
    std::vector<std::string> common = {"--speed", "115200", "--wait", "60"};

    UseCard("card-linux");
    std::vector<std::string> linuxArgs = {"--port", StartHandheld(HandheldOptions())};
    linuxArgs.insert(linuxArgs.end(), common.begin(), common.end());
    for (const std::string& f : Named(files, false)) linuxArgs.push_back(f);
    EXPECT_EQ(RunCli(linuxArgs, {}, true), 0) << m_cliOut;
    WaitHandheld();

    UseCard("card-windows");
    LinkCom(1, StartHandheld(HandheldOptions()));
    std::vector<std::string> windowsArgs = {"--port", "COM1"};
    windowsArgs.insert(windowsArgs.end(), common.begin(), common.end());
    for (const std::string& f : Named(files, true)) windowsArgs.push_back(f);
    const int status = RunWindowsCli(windowsArgs);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0") << m_cliOut;
    EXPECT_NE(m_cliOut.find("[10] Waiting for connect on port COM1"), std::string::npos)
        << m_cliOut;

    const auto linuxCard = CardBytes(m_dir + "card-linux");
    const auto windowsCard = CardBytes(m_dir + "card-windows");
    ASSERT_GE(linuxCard.size(), 11u);
    for (const auto& [name, bytes] : linuxCard) {
        const auto it = windowsCard.find(name);
        ASSERT_NE(it, windowsCard.end()) << name << " was not installed from Windows";
        EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
    EXPECT_EQ(windowsCard.size(), linuxCard.size());
    EXPECT_TRUE(windowsCard.count("Wine Colour.prc"));
    EXPECT_TRUE(windowsCard.count("Wine Memo.pdb"));
    EXPECT_FALSE(windowsCard.count("Wine Grey.prc"));
    // The converted text and the picture databases were the program's own, and are gone.
    EXPECT_FALSE(
        fs::exists(Path("B\xC3\xBC"
                        "cher.PDB")));
    EXPECT_FALSE(fs::exists(Path("\xE6\x97\xA5\xE8\xA8\x98.PDB")));
}

TEST_F(WineConsole, EveryKindOverNetSyncInstallsWhatTheLinuxConsoleInstalls) {
    const std::vector<std::string> files = EveryKind();
    UseCard("card-linux");
    uint16_t port = StartNetHandheld(HandheldOptions());
    std::vector<std::string> linuxArgs = {"--port", "net:127.0.0.1:" + std::to_string(port),
                                          "--wait", "60"};
    for (const std::string& f : Named(files, false)) linuxArgs.push_back(f);
    EXPECT_EQ(RunCli(linuxArgs, {}, true), 0) << m_cliOut;
    WaitHandheld();

    UseCard("card-windows");
    port = StartNetHandheld(HandheldOptions());
    std::vector<std::string> windowsArgs = {"--port", "net:127.0.0.1:" + std::to_string(port),
                                            "--wait", "60"};
    for (const std::string& f : Named(files, true)) windowsArgs.push_back(f);
    const int status = RunWindowsCli(windowsArgs);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0") << m_cliOut;

    const auto linuxCard = CardBytes(m_dir + "card-linux");
    const auto windowsCard = CardBytes(m_dir + "card-windows");
    ASSERT_GE(linuxCard.size(), 11u);
    EXPECT_EQ(windowsCard, linuxCard);
}

// Every file the handheld's memory card holds, by its path on the card, with the dates of
// Palm databases blanked.
std::map<std::string, std::string> CardFiles(const std::string& dir) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    const fs::path root = fs::path(dir) / "card";
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
        if (!entry.is_regular_file()) continue;
        // A converted text carries the desktop's clock of its conversion.
        std::string bytes = testsupport::Slurp(entry.path().string());
        if (bytes.size() >= kDatesAt + kDatesSize)
            bytes.replace(kDatesAt, kDatesSize, kDatesSize, '\0');
        files[fs::relative(entry.path(), root).generic_string()] = bytes;
    }
    return files;
}

TEST_F(WineConsole, CardInstallsPutWhatTheLinuxConsolePutsUnderTheFilesOwnNames) {
    std::ofstream(Path(kDiary), std::ios::binary) << "Day one.\r\nRain.\r\n";
    testdb::WriteResourceDb(Path(kMemo), testdb::Info("Wine Card Memo", true, "appl", "WnCm"),
                            {{"code", 1, testdb::Bytes(2500, 3)}});
    testsupport::WriteFile(Path("sky.bmp"), pictest::Bmp24(20, 10, [](int x, int y) {
                               return RgbColor{uint8_t(x * 9), uint8_t(y * 20), 40};
                           }));
    const std::vector<std::string> files = {"game.prc", kDiary, kMemo, "sky.bmp"};
    const std::vector<std::string> handheld = {"--color", "--card", "8M", "--card-label", "TRAVEL"};
    const std::vector<std::string> common = {"--wait", "60",     "--to",    "card",
                                             "--card", "TRAVEL", "--verify"};

    UseCard("card-linux");
    std::vector<std::string> linuxArgs = {"--port", StartHandheld(handheld)};
    linuxArgs.insert(linuxArgs.end(), common.begin(), common.end());
    for (const std::string& f : Named(files, false)) linuxArgs.push_back(f);
    EXPECT_EQ(RunCli(linuxArgs, {}, true), 0) << m_cliOut;
    WaitHandheld();

    UseCard("card-windows");
    LinkCom(1, StartHandheld(handheld));
    std::vector<std::string> windowsArgs = {"--port", "COM1"};
    windowsArgs.insert(windowsArgs.end(), common.begin(), common.end());
    for (const std::string& f : Named(files, true)) windowsArgs.push_back(f);
    const int status = RunWindowsCli(windowsArgs);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0 (4 verified)") << m_cliOut;

    const auto linuxFiles = CardFiles(m_dir + "card-linux");
    const auto windowsFiles = CardFiles(m_dir + "card-windows");
    EXPECT_EQ(windowsFiles, linuxFiles);
    // The desktop's own names, not its folders: "\\" and the drive stay on the desktop.
    EXPECT_TRUE(windowsFiles.count("PALM/Launcher/game.prc"));
    EXPECT_TRUE(windowsFiles.count(std::string("PALM/Launcher/") + kMemo));
    EXPECT_TRUE(windowsFiles.count("PALM/Launcher/\xE6\x97\xA5\xE8\xA8\x98.PDB"));
    // The picture went to memory, where the viewer reads it, on both.
    EXPECT_EQ(CardBytes(m_dir + "card-windows"), CardBytes(m_dir + "card-linux"));
    EXPECT_TRUE(Written("sky.prc")) << m_cliOut;
}

TEST_F(WineConsole, DeviceNamesQueuedAsFilesAreRefusedWithoutOpeningThem) {
    UseCard("card");
    LinkCom(1, StartHandheld());
    // COM1 is the handheld's line itself: had the queue check opened it, the run could not.
    // In any letter case, with extensions (a ".txt" one would go to the text converter), and
    // inside a folder path.
    const std::string inFolder = WindowsPath(Path("Nul.pdb"));
    const int status = RunWindowsCli({"--port", "COM1", "--wait", "60", "CON", "NUL", "COM1",
                                      "aux.prc", "nul.txt", "Con.PRC", "lpt1", "com1.pdb", "conin$",
                                      inFolder, WindowsPath(Path("game.prc"))});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    for (const std::string& name :
         {std::string("CON"), std::string("NUL"), std::string("COM1"), std::string("aux.prc"),
          std::string("nul.txt"), std::string("Con.PRC"), std::string("lpt1"),
          std::string("com1.pdb"), std::string("conin$"), inFolder}) {
        EXPECT_NE(m_cliOut.find("not a file, not queued: " + name), std::string::npos)
            << name << "\n"
            << m_cliOut;
    }
    EXPECT_NE(m_cliOut.find("[1] Waiting for connect on port COM1"), std::string::npos) << m_cliOut;
    EXPECT_TRUE(Written("Wine Game.prc")) << m_cliOut;
}

TEST_F(WineConsole, AComPortThatDoesNotExistIsBusyOnceWithTheSystemsReason) {
    LinkCom(7, "");
    const auto start = std::chrono::steady_clock::now();
    const int status =
        RunWindowsCli({"--port", "COM7", "--wait", "4", WindowsPath(Path("game.prc"))});
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_EQ(status, 2) << m_cliOut;
    EXPECT_LT(seconds, 30) << m_cliOut;
    const size_t busy = m_cliOut.find("port COM7 busy (COM7: ");
    ASSERT_NE(busy, std::string::npos) << m_cliOut;
    EXPECT_EQ(m_cliOut.find("port COM7 busy", busy + 1), std::string::npos)
        << "said more than once\n"
        << m_cliOut;
    EXPECT_NE(m_cliOut.find("no handheld within 4 seconds"), std::string::npos) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: -1");
}

TEST_F(WineConsole, APortThatNeverAnswersEndsWithinTheWaitingTime) {
    // A line that opens but where nobody ever calls (a Bluetooth port without its partner).
    LinkCom(1, StartHandheld({"--press-after", "600000"}));
    const auto start = std::chrono::steady_clock::now();
    const int status =
        RunWindowsCli({"--port", "COM1", "--wait", "5", WindowsPath(Path("game.prc"))});
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_EQ(status, 2) << m_cliOut;
    EXPECT_LT(seconds, 30) << m_cliOut;
    EXPECT_NE(m_cliOut.find("no handheld within 5 seconds"), std::string::npos) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: -1");
}

TEST_F(WineConsole, AComPortAnotherProgramHoldsIsBusyOnceWithTheSystemsReason) {
    const std::string pty = StartHandheld();
    LinkCom(1, pty);
    // The Linux console holds the line exclusively while it waits for the button.
    CChild holder({CC_CLI_PATH, "--port", pty, "--wait", "60", Path("game.prc")});
    ASSERT_TRUE(holder.WaitForOutput("Waiting for connect", 10000)) << holder.Output();
    const int status =
        RunWindowsCli({"--port", "COM1", "--wait", "4", WindowsPath(Path("game.prc"))});
    holder.Signal(SIGINT);
    holder.Wait(10000);
    EXPECT_EQ(status, 2) << m_cliOut;
    const size_t busy = m_cliOut.find("port COM1 busy (COM1: ");
    ASSERT_NE(busy, std::string::npos) << m_cliOut;
    EXPECT_EQ(m_cliOut.find("port COM1 busy", busy + 1), std::string::npos) << m_cliOut;
}

TEST_F(WineConsole, ArchiveMembersThatReachOutOfTheirFolderAreRefused) {
    const std::string good = testsupport::Slurp(Path("game.prc"));
    const ccatest::Bytes data(good.begin(), good.end());
    ccatest::ArchiveBuilder archive;
    archive.Stored("All\\..\\EVIL1.PRC", data)
        .Stored("All\\C:EVIL2.PRC", data)
        .Stored("All\\\\\\server\\share\\EVIL3.PRC", data)
        .Stored("All\\C:\\EVIL4.PRC", data)
        .Stored("All\\CON", data)
        .Stored("All\\GOOD.PRC", data);
    ccatest::WriteFileBytes(Path("hostile.cca"), archive.Build());

    UseCard("card");
    LinkCom(1, StartHandheld());
    RunWindowsCli({"--port", "COM1", "--wait", "60", WindowsPath(Path("hostile.cca"))});
    WaitHandheld();
    EXPECT_NE(m_cliOut.find("result: 0"), std::string::npos) << m_cliOut;
    // The good member arrived; nothing was written where the others pointed.
    EXPECT_TRUE(Written("Wine Game.prc")) << m_cliOut;
    const fs::path drive = fs::path(CC_WINE_PREFIX) / "drive_c";
    for (const char* name : {"EVIL1.PRC", "EVIL2.PRC", "EVIL3.PRC", "EVIL4.PRC"}) {
        EXPECT_FALSE(fs::exists(drive / name)) << name;
        EXPECT_FALSE(fs::exists(fs::path(m_dir) / name)) << name;
        for (const auto& entry : fs::recursive_directory_iterator(drive / "users")) {
            EXPECT_NE(entry.path().filename().string().find("EVIL"), 0u) << entry.path();
        }
    }
}

// The layout and checksum of a Windows program file.
ccapack::PeLayout ReadLayout(const std::string& path) {
    ccapack::PeLayout layout;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    std::string error;
    EXPECT_TRUE(f && ccapack::ReadPeLayout(f.get(), fs::file_size(path), layout, error))
        << path << ": " << error;
    uint32_t sum = 0;
    EXPECT_TRUE(f && ccapack::ComputePeChecksum(f.get(), layout.nChecksumOffset, sum));
    EXPECT_EQ(sum, layout.dwChecksum) << path << ": the stored checksum is not the file's";
    return layout;
}

TEST_F(WineConsole, SelfExtractingConsoleStartsAndInstallsItsArchiveOverCom1) {
    EveryKind();
    const std::string setup = Path("game-setup.exe");
    std::string error;
    ASSERT_TRUE(ccapack::AppendSfxArchive(CC_WINDOWS_CLI_PATH, Path("bundle.cca"), setup, error))
        << error;
    // The linker's checksum of the program is ours, and the setup's is true again; the
    // program's own data ends where the archive begins.
    const ccapack::PeLayout program = ReadLayout(CC_WINDOWS_CLI_PATH);
    const ccapack::PeLayout carried = ReadLayout(setup);
    EXPECT_NE(program.dwChecksum, 0u);
    EXPECT_NE(carried.dwChecksum, program.dwChecksum);
    EXPECT_EQ(carried.nImageEnd, program.nImageEnd);
    EXPECT_EQ(program.nImageEnd, fs::file_size(CC_WINDOWS_CLI_PATH));
    // The toolchain's own reader still reads the headers.
    if (std::string(CC_MINGW_OBJDUMP).empty()) {
        std::printf("no x86_64-w64-mingw32-objdump: its reading is not checked\n");
    } else {
        CChild objdump({CC_MINGW_OBJDUMP, "-p", setup}, true);
        EXPECT_EQ(objdump.Wait(60000), 0) << objdump.Output();
        EXPECT_NE(objdump.Output().find("PE32+"), std::string::npos) << objdump.Output();
    }

    UseCard("card");
    LinkCom(1, StartHandheld(HandheldOptions()));
    const int status = RunWindowsCli(
        {"--port", "COM1", "--wait", "60", WindowsPath(Path("game.prc"))}, 180000, setup);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0") << m_cliOut;
    EXPECT_NE(m_cliOut.find("installs its own archive; not queued"), std::string::npos) << m_cliOut;
    // Just the archive's members for a colour handheld; the file named was not queued.
    const auto card = CardBytes(m_dir + "card");
    EXPECT_TRUE(card.count("Wine Bundled.prc")) << m_cliOut;
    EXPECT_TRUE(card.count("Wine Colour.prc")) << m_cliOut;
    EXPECT_FALSE(card.count("Wine Grey.prc"));
    EXPECT_FALSE(card.count("Wine Game.prc"));
}

// USB on Windows: Wine has no handheld's driver and no handheld, so the port opens, waits
// for one through both ways and gives up when the waiting time is over.
TEST_F(WineConsole, UsbWaitsForAHandheldAndEndsWithTheWaitingTime) {
    const auto start = std::chrono::steady_clock::now();
    const int status =
        RunWindowsCli({"--port", "USB", "--wait", "3", WindowsPath(Path("game.prc"))});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << m_cliOut;
    EXPECT_EQ(status, 2) << m_cliOut;
    EXPECT_NE(m_cliOut.find("no handheld within 3 seconds"), std::string::npos) << m_cliOut;
}

TEST_F(WineConsole, TheConnectionCheckReportsComPortsAndNetSync) {
    LinkCom(1, StartHandheld());
    EXPECT_EQ(RunWindowsCli({"--doctor", "--port", "COM1"}), 0) << m_cliOut;
    for (const char* line :
         {"Serial ports", "[ok] chosen port COM1: may be opened", "Handhelds on USB",
          "the handheld vendor's USB driver is not installed", "Network HotSync",
          "NET would listen on 127.0.0.1 port 14238", "A handheld can be reached now: COM1."}) {
        EXPECT_NE(m_cliOut.find(line), std::string::npos) << line << "\n" << m_cliOut;
    }
    EXPECT_EQ(m_cliOut.find("dialout"), std::string::npos) << m_cliOut;
    EXPECT_EQ(m_cliOut.find("ModemManager"), std::string::npos) << m_cliOut;

    // A port that is not there: nothing can be reached on it.
    LinkCom(7, "");
    EXPECT_EQ(RunWindowsCli({"--doctor", "--port", "COM7"}), 1) << m_cliOut;
    EXPECT_NE(m_cliOut.find("[problem] chosen port COM7"), std::string::npos) << m_cliOut;
    EXPECT_NE(m_cliOut.find("No handheld can be reached now."), std::string::npos) << m_cliOut;
}

}  // namespace
