#include <gtest/gtest.h>

#include <filesystem>

#include "resources/strings/string_table.h"
#include "shell/connection_probe.h"
#include "shell/memory_settings.h"
#include "ui/console/cli_options.h"
#include "ui/console/console_app.h"
#include "ui/console/console_doctor.h"

namespace {

using console::Options;

bool Parse(std::vector<const char*> args, Options& o, std::string& error) {
    args.insert(args.begin(), "ccourier-cli");
    return console::ParseOptions(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(CliOptions, DefaultsAndFilesInOrder) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"b.prc", "a.pdb"}, o, error)) << error;
    EXPECT_EQ(o.port, "COM1");
    EXPECT_EQ(o.speed, 57600);
    EXPECT_FALSE(o.backup);
    EXPECT_FALSE(o.setTime);
    EXPECT_TRUE(o.answerOk);
    EXPECT_FALSE(o.quiet);
    EXPECT_EQ(o.files, (std::vector<std::string>{"b.prc", "a.pdb"}));
}

TEST(CliOptions, EveryOption) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--port", "/dev/pts/7", "--speed=-1", "--backup", "--set-time", "--wait",
                       "12", "--answer", "cancel", "--quiet", "x.prc", "--", "--odd-name.prc"},
                      o, error))
        << error;
    EXPECT_EQ(o.port, "/dev/pts/7");
    EXPECT_EQ(o.speed, -1);
    EXPECT_TRUE(o.backup);
    EXPECT_TRUE(o.setTime);
    EXPECT_EQ(o.waitSeconds, 12);
    EXPECT_FALSE(o.answerOk);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.files, (std::vector<std::string>{"x.prc", "--odd-name.prc"}));
}

TEST(CliOptions, DestinationCardAndVerify) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"a.prc"}, o, error)) << error;
    EXPECT_EQ(o.destination, 0);
    EXPECT_TRUE(o.card.empty());
    EXPECT_FALSE(o.verify);
    const std::pair<const char*, int> destinations[] = {{"ram", 0}, {"card", 1}, {"auto", 2}};
    for (const auto& [name, value] : destinations) {
        Options p;
        ASSERT_TRUE(Parse({"--to", name, "--card", "SD CARD", "--verify", "a.prc"}, p, error))
            << error;
        EXPECT_EQ(p.destination, value) << name;
        EXPECT_EQ(p.card, "SD CARD");
        EXPECT_TRUE(p.verify);
    }
    const std::vector<std::vector<const char*>> bad = {
        {"--to", "flash"}, {"--to", "CARD"}, {"--to"}, {"--card", ""}, {"--card"}, {"--verify=1"}};
    for (const auto& args : bad) {
        Options p;
        error.clear();
        EXPECT_FALSE(Parse(args, p, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
    const std::vector<std::vector<const char*>> bad = {
        {"--port", "LPT1"},  {"--port", "COM"}, {"--port", "COMx"},  {"--speed", "12345"},
        {"--speed", "fast"}, {"--wait", "-3"},  {"--answer", "yes"}, {"--bogus"},
        {"--port"},          {"--quiet=1"}};
    for (const auto& args : bad) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(CliOptions, AddUserTakesANameAndNoFiles) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--add-user", "Jane Doe"}, o, error)) << error;
    EXPECT_TRUE(o.addUser);
    EXPECT_EQ(o.userName, "Jane Doe");
    ASSERT_TRUE(Parse({"--add-user="}, o, error)) << error;  // refused later, by the store
    EXPECT_EQ(o.userName, "");
    Options withFiles;
    EXPECT_FALSE(Parse({"--add-user", "Jane", "x.prc"}, withFiles, error));
    EXPECT_FALSE(Parse({"--add-user"}, withFiles, error));
}

TEST(CliOptions, DoctorTakesAPortAndNoFiles) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--doctor", "--port", "USB"}, o, error)) << error;
    EXPECT_TRUE(o.doctor);
    EXPECT_EQ(o.port, "USB");
    Options withFiles;
    EXPECT_FALSE(Parse({"--doctor", "x.prc"}, withFiles, error));
    EXPECT_NE(error.find("--doctor"), std::string::npos);
    EXPECT_FALSE(Parse({"--doctor=yes"}, withFiles, error));
    EXPECT_NE(console::UsageText("ccourier-cli").find("--doctor"), std::string::npos);
}

// The report goes to standard output; the exit status says whether a handheld can be
// reached now on the port given.
TEST(Doctor, ReportsAndExitsByReachability) {
    resources::SetLanguage(resources::Language::kEnglish);
    ConnectionFacts facts;
    facts.handhelds.push_back({0x082D, 0x0100, "2-1", "/dev/bus/usb/002/003", 0, {}});
    facts.net = {"127.0.0.1", 14238, 0, {}};
    CFixedConnectionProbe probe(facts);
    CMemorySettings settings;
    testing::internal::CaptureStdout();
    EXPECT_EQ(console::RunDoctor(probe, settings, "USB"), console::kExitOk);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("082d:0100 Handspring Visor, Treo 300 at 2-1"), std::string::npos) << out;
    EXPECT_NE(out.find("A handheld can be reached now: USB."), std::string::npos) << out;
    probe.m_facts.handhelds.front().openError = 13;  // no permission
    testing::internal::CaptureStdout();
    EXPECT_EQ(console::RunDoctor(probe, settings, "USB"), console::kExitNotReachable);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("fix: sudo install -m 0644"), std::string::npos) << out;
}

TEST(CliOptions, TheWindowsSwitchesWhereTheyMakeSense) {
    Options o;
    std::string error;
    const char* const argv[] = {"ccourier-cli",
                                "/close",
                                "/IgnoreHS",
                                "/USB",
                                "/Title",
                                "T t",
                                "/COM3",
                                "/com4",
                                "/COM9",
                                "/home/me/a.prc",
                                "--title",
                                "U",
                                "/home/me/gone.prc"};
    ASSERT_TRUE(console::ParseOptions(13, argv, o, error, [](const std::string&) { return false; }))
        << error;
    EXPECT_TRUE(o.close && o.ignoreHotSync);
    EXPECT_EQ(o.port, "COM3");
    EXPECT_EQ(o.title, "U");
    // Paths are files, there or not: the install list says what is wrong with them.
    EXPECT_EQ(o.files, (std::vector<std::string>{"/home/me/a.prc", "/home/me/gone.prc"}));
    EXPECT_EQ(o.ignored, (std::vector<std::string>{"/com4", "/COM9"}));
    const char* const named[] = {"ccourier-cli", "/com1"};
    ASSERT_TRUE(console::ParseOptions(2, named, o = {}, error,
                                      [](const std::string& p) { return p == "/com1"; }));
    EXPECT_EQ(o.files, std::vector<std::string>{"/com1"});  // something is there
    ASSERT_TRUE(Parse({"--close", "--ignore-hs", "--version", "--", "/CLOSE"}, o = {}, error));
    EXPECT_TRUE(o.close && o.ignoreHotSync && o.version);
    EXPECT_EQ(o.files, std::vector<std::string>{"/CLOSE"});  // after "--" only files
}

TEST(CliOptions, PortNames) {
    EXPECT_TRUE(console::IsValidPortName("COM1"));
    EXPECT_TRUE(console::IsValidPortName("COM8"));
    EXPECT_TRUE(console::IsValidPortName("COM12"));
    EXPECT_TRUE(console::IsValidPortName("USB"));
    EXPECT_TRUE(console::IsValidPortName("/dev/ttyUSB0"));
    EXPECT_TRUE(console::IsValidPortName("NET"));
    EXPECT_TRUE(console::IsValidPortName("net:127.0.0.1:15000"));
    EXPECT_TRUE(console::IsValidPortName("net:0.0.0.0:14238"));
    EXPECT_FALSE(console::IsValidPortName("net:"));
    EXPECT_FALSE(console::IsValidPortName("net:host:70000"));
    EXPECT_FALSE(console::IsValidPortName("COM0"));
    EXPECT_FALSE(console::IsValidPortName("COM123456"));  // beyond what maps to a device
    EXPECT_FALSE(console::IsValidPortName(""));
    EXPECT_FALSE(console::IsValidPortName("ttyS0"));
}

TEST(InstallList, ExactDuplicatesAreSkippedAndPathsMadeFull) {
    console::CInstallList list;
    EXPECT_TRUE(list.AddFile("/data/a.prc"));
    EXPECT_FALSE(list.AddFile("/data/a.prc"));
    EXPECT_FALSE(list.AddFile("/data/./a.prc"));
    EXPECT_TRUE(list.AddFile("/data/A.prc"));  // another file on this system
    EXPECT_TRUE(list.AddFile("rel.pdb"));
    ASSERT_EQ(list.Paths().size(), 3u);
    EXPECT_EQ(list.Paths()[2], (std::filesystem::current_path() / "rel.pdb").string());
}

TEST(InstallList, TextFilesGoThroughTheConverter) {
    console::SetTextConverter([](const std::string& in, std::string& out) {
        if (in.find("bad") != std::string::npos) return false;
        out = in + ".pdb";
        return true;
    });
    console::CInstallList list;
    EXPECT_TRUE(list.AddFile("/d/readme.txt"));
    EXPECT_FALSE(list.AddFile("/d/bad.TXT"));
    EXPECT_EQ(list.Paths(), std::vector<std::string>{"/d/readme.txt.pdb"});
    EXPECT_EQ(list.TempFiles(), std::vector<std::string>{"/d/readme.txt.pdb"});
    console::SetTextConverter({});
    EXPECT_TRUE(list.AddFile("/d/other.txt"));  // queued as it stands without a converter
}

}  // namespace

namespace {

// The whole handheld: --backup-all with or without --full, --restore with files (the files
// are backup copies then, not files to install) or without, and the folder to use.
TEST(CliOptions, WholeHandheldBackupAndRestore) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--backup-all", "--full", "--backup-dir", "/tmp/bk"}, o, error)) << error;
    EXPECT_TRUE(o.backupAll);
    EXPECT_TRUE(o.fullBackup);
    EXPECT_FALSE(o.restore);
    EXPECT_EQ(o.backupDir, "/tmp/bk");

    Options r;
    ASSERT_TRUE(Parse({"--restore", "MEMODB.PDB", "--backup-dir=x"}, r, error)) << error;
    EXPECT_TRUE(r.restore);
    EXPECT_EQ(r.files, (std::vector<std::string>{"MEMODB.PDB"}));
    EXPECT_EQ(r.backupDir, "x");

    for (const auto& args : std::vector<std::vector<const char*>>{{"--full"},
                                                                  {"--backup-dir"},
                                                                  {"--backup-dir="},
                                                                  {"--restore=all"},
                                                                  {"--backup-all=1"}}) {
        Options bad;
        EXPECT_FALSE(Parse(args, bad, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
    EXPECT_NE(console::UsageText("ccourier-cli").find("--backup-all [--full]"), std::string::npos);
}

}  // namespace
