// The console front end and the virtual handheld as the user runs them: two programs
// speaking over a pseudo-terminal. The handheld writes out its card when the sync ends;
// the databases there are compared with the files installed.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

#include "pdb/palm_db_file.h"
#include "tests/session/db_builder.h"
#include "tests/support/child_process.h"
#include "tests/support/console_harness.h"
#include "tests/support/worker_harness.h"
#include "tools/ccapack/cca_packer.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::CardFiles;
using testsupport::CChild;
using testsupport::ExpectSameEntries;
using testsupport::LastLine;
using testsupport::Slurp;
using testsupport::WriteFile;

class ConsoleRun : public testsupport::CConsoleRunFixture {
  protected:
    ConsoleRun() : CConsoleRunFixture(CC_CLI_PATH, CC_HANDHELD_PATH) {}
};

TEST_F(ConsoleRun, InstallsTwoDatabasesOverAPseudoTerminal) {
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("app.prc"), testdb::Info("Cli App", true, "appl", "CliA"),
        {{"code", 1, testdb::Bytes(5000, 1)}, {"tver", 1, {'2', '.', '1', 0}}}));
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("data.pdb"), testdb::Info("Cli Data", false, "DATA", "CliD"),
        {testdb::Rec(300, 1, 0, 1, 0x100), testdb::Rec(0, 2), testdb::Rec(7000, 3, 0, 9, 0x200)},
        testdb::Bytes(64, 5)));
    const std::string pty = StartHandheld();
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;
    const int status = RunCli({"--port", pty, "--speed", "115200", "--wait", "30", "--set-time",
                               Path("app.prc"), Path("data.pdb"), Path("app.prc")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
    EXPECT_NE(m_cliOut.find("Connection established..."), std::string::npos);
    EXPECT_NE(m_cliOut.find("[1/2] app.prc"), std::string::npos) << m_cliOut;
    EXPECT_NE(m_cliOut.find("Ready ("), std::string::npos);
    EXPECT_NE(m_cliOut.find("line rate: 115200 bit/s"), std::string::npos);
    auto app = Written("Cli App.prc");
    ASSERT_TRUE(app);
    ExpectSameEntries(*app, Path("app.prc"));
    auto data = Written("Cli Data.pdb");
    ASSERT_TRUE(data);
    ExpectSameEntries(*data, Path("data.pdb"));

    const std::string log = Slurp(m_out + "/requests.json");
    EXPECT_NE(log.find("OpenConduit"), std::string::npos);
    EXPECT_NE(log.find("SetSysDateTime"), std::string::npos);
    EXPECT_NE(log.find("EndOfSync"), std::string::npos);
    // The duplicate path reached the handheld once.
    size_t creates = 0;
    for (size_t at = log.find("\"CreateDB\""); at != std::string::npos;
         at = log.find("\"CreateDB\"", at + 1)) {
        ++creates;
    }
    EXPECT_EQ(creates, 2u) << log;
}

// The handheld was pressed before the program started: the wakeup already waiting on the
// line is served, not the next one (which this handheld sends only a minute later).
TEST_F(ConsoleRun, WakeupWaitingWhenTheProgramStartsIsServed) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("early.pdb"),
                                      testdb::Info("Early Cli", false, "DATA", "ErlC"),
                                      {testdb::Rec(200, 1)}));
    const std::string pty = StartHandheld({"--wakeup-interval", "60000"});
    ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the wakeup is out
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "10", Path("early.pdb")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_TRUE(Written("Early Cli.pdb"));
}

// With CC_TIMELINE set, both programs mark the phases of the run into one file, in the
// order the run passes them (the run timeline benchmark relies on each of them).
TEST_F(ConsoleRun, TimelineMarksFollowTheRun) {
    ASSERT_TRUE(testdb::WriteRecordDb(Path("marked.pdb"),
                                      testdb::Info("Marked Cli", false, "DATA", "MrkC"),
                                      {testdb::Rec(100, 1)}));
    const std::string timeline = Path("timeline.txt");
    ::setenv("CC_TIMELINE", timeline.c_str(), 1);
    const std::string pty = StartHandheld();
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("marked.pdb")});
    ::unsetenv("CC_TIMELINE");
    WaitHandheld();
    ASSERT_EQ(status, 0) << m_cliOut;
    std::map<std::string, int64_t> first;
    std::ifstream in(timeline);
    std::string name;
    int64_t ns = 0;
    while (in >> name >> ns) first.emplace(name, ns);
    const char* const order[] = {"desktop.start",  "desktop.listening",  "desktop.wakeup-seen",
                                 "desktop.wakeup", "desktop.init-acked", "desktop.accepted",
                                 "desktop.worker", "handheld.request",   "desktop.end-of-sync",
                                 "desktop.closed"};
    for (size_t i = 0; i < std::size(order); ++i) {
        ASSERT_TRUE(first.count(order[i])) << order[i];
        if (i > 0) {
            EXPECT_LE(first[order[i - 1]], first[order[i]]) << order[i];
        }
    }
    EXPECT_TRUE(first.count("handheld.press"));
    EXPECT_TRUE(first.count("handheld.wakeup"));
}

TEST_F(ConsoleRun, UnknownFileIsReportedAndTheOthersInstalled) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("a.prc"),
                                        testdb::Info("First Cli", true, "appl", "Fcl1"),
                                        {{"code", 1, testdb::Bytes(100, 1)}}));
    std::ofstream(Path("plain.bin")) << "not a database at all";
    ASSERT_TRUE(testdb::WriteResourceDb(Path("c.prc"),
                                        testdb::Info("Third Cli", true, "appl", "Tcl1"),
                                        {{"code", 1, testdb::Bytes(100, 2)}}));
    const std::string pty = StartHandheld();
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("a.prc"),
                               Path("plain.bin"), Path("c.prc")});
    WaitHandheld();
    EXPECT_EQ(status, 1) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
    EXPECT_NE(m_cliOut.find("message: unknown format of file"), std::string::npos) << m_cliOut;
    EXPECT_NE(m_cliOut.find("Ready ("), std::string::npos);  // no database failed
    EXPECT_TRUE(Written("First Cli.prc"));
    EXPECT_TRUE(Written("Third Cli.prc"));
}

TEST_F(ConsoleRun, CancelAnswerEndsTheRunAfterTheMessage) {
    std::ofstream(Path("junk.bin")) << "junk";
    ASSERT_TRUE(testdb::WriteResourceDb(Path("b.prc"), testdb::Info("Never", true, "appl", "Nev1"),
                                        {{"code", 1, testdb::Bytes(100, 1)}}));
    const std::string pty = StartHandheld();
    const int status = RunCli({"--port", pty, "--quiet", "--answer", "cancel", "--wait", "30",
                               Path("junk.bin"), Path("b.prc")});
    WaitHandheld();
    EXPECT_EQ(status, 1);
    EXPECT_NE(m_cliOut.find("answer: Cancel"), std::string::npos);
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
    EXPECT_FALSE(Written("Never.prc"));
}

TEST_F(ConsoleRun, HandheldFullIsReportedWithItsMemory) {
    ASSERT_TRUE(
        testdb::WriteRecordDb(Path("big.pdb"), testdb::Info("Too Big", false, "DATA", "Big2"),
                              {testdb::Rec(3000, 1), testdb::Rec(3000, 2), testdb::Rec(3000, 3)}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("s.prc"), testdb::Info("Small", true, "appl", "Sml1"),
                                        {{"code", 1, testdb::Bytes(10, 1)}}));
    const std::string pty = StartHandheld({"--full-after-bytes", "4000"});
    const int status =
        RunCli({"--port", pty, "--quiet", "--wait", "30", Path("big.pdb"), Path("s.prc")});
    WaitHandheld();
    EXPECT_EQ(status, 1);
    EXPECT_NE(m_cliOut.find("message: Device full"), std::string::npos) << m_cliOut;
    EXPECT_NE(m_cliOut.find("Finished ("), std::string::npos);
    EXPECT_FALSE(Written("Too Big.pdb"));
}

TEST_F(ConsoleRun, InterruptStopsTheRunAndRemovesThePartialDatabase) {
    std::vector<pdb::Record> records;
    for (int i = 0; i < 40; ++i) records.push_back(testdb::Rec(1500, static_cast<uint8_t>(i)));
    ASSERT_TRUE(testdb::WriteRecordDb(Path("large.pdb"),
                                      testdb::Info("Large Cli", false, "DATA", "Lcl1"), records));
    const std::string pty = StartHandheld({"--line-rate", "115200"});
    const int status =
        RunCli({"--port", pty, "--quiet", "--speed", "115200", "--wait", "30", Path("large.pdb")},
               [](CChild& cli) {
                   const auto end = Clock::now() + std::chrono::seconds(20);
                   while (cli.Output().find("[1/1]") == std::string::npos && Clock::now() < end) {
                       cli.Pump(20);
                   }
                   std::this_thread::sleep_for(std::chrono::milliseconds(800));
                   cli.Signal(SIGINT);
               });
    WaitHandheld();
    EXPECT_EQ(status, 3) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: -2");
    EXPECT_NE(m_cliOut.find("Cancel transfer (please wait)..."), std::string::npos);
    EXPECT_FALSE(Written("Large Cli.pdb"));
    const std::string log = Slurp(m_out + "/requests.json");
    EXPECT_NE(log.find("DeleteDB"), std::string::npos);
}

TEST_F(ConsoleRun, NoHandheldWithinTheWaitingTime) {
    const int status = RunCli({"--port", "/dev/cc-no-such-port", "--wait", "1", "x.prc"});
    EXPECT_EQ(status, 2);
    EXPECT_NE(m_cliOut.find("port /dev/cc-no-such-port busy"), std::string::npos) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: -1");
}

// Three seconds of retries: the reason once, the system's line once.
TEST_F(ConsoleRun, AMissingDeviceIsNamedOnceInPlainWords) {
    RunCli({"--port", "/dev/cc-no-such-port", "--wait", "3", "x.prc"}, {}, true);
    const auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = m_cliOut.find(text); at != std::string::npos;
             at = m_cliOut.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("pi_bind: No such file or directory"), 1u) << m_cliOut;
    EXPECT_EQ(count("port /dev/cc-no-such-port busy (no such device /dev/cc-no-such-port)"), 1u)
        << m_cliOut;
}

// A FIFO named like a database is refused without being opened (opening it would wait for
// a writer for ever), and COM3 is the device the settings name for it.
TEST_F(ConsoleRun, FifosAreRefusedAndComPortsFollowTheSettings) {
    ASSERT_EQ(::mkfifo(Path("x.pdb").c_str(), 0600), 0);
    ASSERT_TRUE(testdb::WriteResourceDb(Path("app.prc"),
                                        testdb::Info("Fifo App", true, "appl", "FiAp"),
                                        {{"code", 1, testdb::Bytes(500, 1)}}));
    const std::string pty = StartHandheld();
    std::filesystem::create_directories(Path("config/Cradlecourier"));
    std::ofstream(Path("config/Cradlecourier/CCourier.conf")) << "[com]\ndevice3=" << pty << "\n";
    ::setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
    const int status =
        RunCli({"--port", "COM3", "--wait", "30", Path("x.pdb"), Path("app.prc")}, {}, true);
    ::unsetenv("XDG_CONFIG_HOME");
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_NE(m_cliOut.find("not a file, not queued: " + Path("x.pdb")), std::string::npos)
        << m_cliOut;
    EXPECT_NE(m_cliOut.find("[1] Waiting for connect on port COM3"), std::string::npos) << m_cliOut;
    EXPECT_TRUE(Written("Fifo App.prc"));
}

// Noise on the line looks like the button on a port without modem lines; with no wakeup
// behind it the waiting time still ends the program on time.
TEST_F(ConsoleRun, ButtonWithoutAHandheldEndsWithinTheWaitingTime) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    const int keep = open(slave.c_str(), O_RDWR | O_NOCTTY);  // the line stays up
    ASSERT_GE(keep, 0);
    const auto begin = Clock::now();
    const int status =
        RunCli({"--port", slave, "--quiet", "--wait", "2", "x.prc"}, [&](CChild& cli) {
            // Once the port is open, the noise arrives.
            const auto end = Clock::now() + std::chrono::seconds(5);
            while (cli.Output().find("Waiting for connect") == std::string::npos &&
                   Clock::now() < end) {
                cli.Pump(20);
            }
            EXPECT_EQ(write(master, "\x55\x55", 2), 2);
        });
    const auto seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    close(keep);
    close(master);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(LastLine(m_cliOut), "result: -1");
    EXPECT_LT(seconds, 10.0);  // the link's own wait for a wakeup is 30 s
}

TEST_F(ConsoleRun, BadUsageAndHelp) {
    EXPECT_EQ(RunCli({"--speed", "1234", "x.prc"}), 64);
    EXPECT_EQ(RunCli({"--help"}), 0);
    EXPECT_NE(m_cliOut.find("--answer"), std::string::npos);
}

TEST_F(ConsoleRun, ForcedRateAboveTheAnnouncedOne) {
    const std::string pty = StartHandheld({"--baud", "57600"});
    RunCli({"--port", pty, "--speed", "256000", "--wait", "30"});
    WaitHandheld();
    EXPECT_NE(m_cliOut.find("line rate: 256000 bit/s"), std::string::npos) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
}

TEST_F(ConsoleRun, HandheldsChoiceUpTo57600) {
    const std::string pty = StartHandheld({"--baud", "38400"});
    RunCli({"--port", pty, "--speed", "-1", "--wait", "30"});
    WaitHandheld();
    EXPECT_NE(m_cliOut.find("line rate: 38400 bit/s"), std::string::npos) << m_cliOut;
}

TEST_F(ConsoleRun, TextFileIsQueuedAsADocDatabase) {
    std::ofstream(Path("story.txt")) << "Once upon a time a handheld got a book.\nThe end.\n";
    const std::string pty = StartHandheld();
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("story.txt")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    bool found = false;
    for (auto& f : CardFiles(m_out)) {
        if (f->Info().type == pdb::MakeFourCC("TEXt") &&
            f->Info().creator == pdb::MakeFourCC("REAd")) {
            found = true;
            EXPECT_GE(f->EntryCount(), 2);
        }
    }
    EXPECT_TRUE(found) << m_cliOut;
}

TEST_F(ConsoleRun, MidiFileBecomesASystemSound) {
    // The handheld's sound database, with one sound already in it.
    ASSERT_TRUE(testdb::WriteRecordDb(Path("sounds.pdb"),
                                      testdb::Info("System MIDI Sounds", false, "smfr", "psys"),
                                      {testdb::Rec(40, 1)}));
    const std::vector<uint8_t> midi = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                       96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    WriteFile(Path("beep.mid"), midi);
    const std::string pty = StartHandheld({"--load", Path("sounds.pdb")});
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("beep.mid")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    auto sounds = Written("System MIDI Sounds.pdb");
    ASSERT_TRUE(sounds);
    ASSERT_EQ(sounds->EntryCount(), 2);
    pdb::Record r;
    ASSERT_EQ(sounds->ReadRecord(1, r), pdb::kOk);
    ASSERT_GE(r.data.size(), midi.size());
    EXPECT_EQ(std::string(r.data.begin(), r.data.begin() + 4), "PMrc");
    EXPECT_TRUE(
        std::equal(midi.begin(), midi.end(), r.data.end() - static_cast<long>(midi.size())));
}

// A 24-bit Windows bitmap of w x h pixels.
std::vector<uint8_t> SmallBitmap(int w, int h) {
    const int row = (w * 3 + 3) & ~3;
    const uint32_t size = 54 + static_cast<uint32_t>(row * h);
    std::vector<uint8_t> b(size, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    b[26] = 1;
    b[28] = 24;
    put32(34, static_cast<uint32_t>(row * h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t at = 54 + static_cast<size_t>(y * row + x * 3);
            b[at] = static_cast<uint8_t>(x * 30);
            b[at + 1] = static_cast<uint8_t>(y * 30);
            b[at + 2] = 200;
        }
    }
    return b;
}

TEST_F(ConsoleRun, PictureBecomesAPictureApplication) {
    WriteFile(Path("sunset.bmp"), SmallBitmap(8, 6));
    const std::string pty = StartHandheld({"--rom", "0x03503000", "--color"});
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("sunset.bmp")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_NE(m_cliOut.find("Converting sunset.bmp"), std::string::npos) << m_cliOut;
    EXPECT_EQ(CardFiles(m_out).size(), 1u);
}

// A copy of the console that carries an archive (cc-ccapack --sfx) installs just that
// archive: the files named are not queued, and its copy of the archive goes at the end.
class CarriedArchiveRun : public testsupport::CConsoleRunFixture {
  protected:
    static constexpr const char* kProgram = CC_BINARY_DIR "/tests/console/ccourier-cli-carrying";
    CarriedArchiveRun() : CConsoleRunFixture(kProgram, CC_HANDHELD_PATH) {}
    void TearDown() override {
        CConsoleRunFixture::TearDown();
        std::filesystem::remove(kProgram);
        if (m_savedTmp) {
            ::setenv("TMP", m_savedTmp->c_str(), 1);
        } else {
            ::unsetenv("TMP");
        }
    }
    std::optional<std::string> m_savedTmp;
};

TEST_F(CarriedArchiveRun, InstallsJustItsArchive) {
    if (const char* tmp = std::getenv("TMP")) m_savedTmp = tmp;
    std::filesystem::create_directory(Path("tmp"));
    ::setenv("TMP", Path("tmp").c_str(), 1);
    ASSERT_TRUE(testdb::WriteResourceDb(Path("app.prc"),
                                        testdb::Info("Carried App", true, "appl", "CarA"),
                                        {{"code", 1, testdb::Bytes(2000, 1)}}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("other.prc"),
                                        testdb::Info("Named App", true, "appl", "NamA"),
                                        {{"code", 1, testdb::Bytes(900, 2)}}));
    ccapack::CCcaPacker packer;
    std::string error;
    ASSERT_TRUE(packer.AddFile("All", Path("app.prc"), "", 1, error)) << error;
    ASSERT_TRUE(packer.Write(Path("game.cca"), error)) << error;
    ASSERT_TRUE(ccapack::AppendSfxArchive(CC_CLI_PATH, Path("game.cca"), kProgram, error)) << error;
    ASSERT_EQ(::chmod(kProgram, 0755), 0);

    const std::string pty = StartHandheld();
    const int status = RunCli({"--port", pty, "--wait", "30", Path("other.prc")}, {}, true);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0") << m_cliOut;
    EXPECT_NE(m_cliOut.find("installs its own archive; not queued: " + Path("other.prc")),
              std::string::npos)
        << m_cliOut;
    auto app = Written("Carried App.prc");
    ASSERT_TRUE(app) << m_cliOut;
    ExpectSameEntries(*app, Path("app.prc"));
    EXPECT_FALSE(Written("Named App.prc"));
    // The copy of the archive is gone with the run.
    EXPECT_FALSE(std::filesystem::exists(Path("tmp/CCASFX.CCA")));
    for (const auto& entry : std::filesystem::directory_iterator(Path("tmp"))) {
        EXPECT_EQ(entry.path().filename().string().find("CCASFX.CCA"), std::string::npos)
            << entry.path();
    }
}

}  // namespace
