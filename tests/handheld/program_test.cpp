// The command line of cc-handheld and the program itself over a pseudo-terminal.
#include <fcntl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/handheld/mini_desktop.h"
#include "tools/handheld/pty_transport.h"
#include "tools/handheld/tcp_client_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace handheld_test {
namespace {

int Parse(std::vector<const char*> args, handheld::ProgramOptions& out, std::string& message) {
    args.insert(args.begin(), "cc-handheld");
    return handheld::ParseProgramOptions(static_cast<int>(args.size()), args.data(), out, message);
}

TEST(ProgramOptions, ContractOptionsReachTheConfiguration) {
    handheld::ProgramOptions o;
    std::string message;
    ASSERT_EQ(Parse({"--pty",
                     "--press-after",
                     "250",
                     "--syncs",
                     "2",
                     "--out",
                     "/tmp/x",
                     "--load",
                     "a.prc",
                     "--load",
                     "b.pdb",
                     "--rom",
                     "0x03503000",
                     "--dlp",
                     "1.1",
                     "--grey",
                     "--cpu",
                     "0x00010000",
                     "--baud",
                     "57600",
                     "--user",
                     "Bo",
                     "--ram",
                     "2097152",
                     "--free",
                     "1000",
                     "--break-after-bytes",
                     "5000",
                     "--full-after-bytes",
                     "0",
                     "--corrupt-every",
                     "9",
                     "--drop-every",
                     "11",
                     "--line-rate",
                     "115200",
                     "--timeout",
                     "5",
                     "--open-db",
                     "Running",
                     "--cmp-version",
                     "2.0"},
                    o, message),
              0)
        << message;
    const auto& c = o.config;
    EXPECT_TRUE(o.pty);
    EXPECT_EQ(c.pressAfterMs, 250);
    EXPECT_EQ(c.syncs, 2);
    EXPECT_EQ(c.outDir, "/tmp/x");
    EXPECT_EQ(c.loadFiles, (std::vector<std::string>{"a.prc", "b.pdb"}));
    EXPECT_EQ(c.romVersion, 0x03503000u);
    EXPECT_EQ(c.dlpVersion, 0x0101);
    EXPECT_EQ(c.displayFeature, 2u);
    EXPECT_EQ(c.cpuId, 0x00010000u);
    EXPECT_EQ(c.maxBaud, 57600u);
    EXPECT_EQ(c.userName, "Bo");
    EXPECT_EQ(c.ramSize, 2097152u);
    EXPECT_EQ(c.freeRam, 1000u);
    EXPECT_EQ(c.breakAfterBytes, 5000);
    EXPECT_EQ(c.fullAfterBytes, 0);  // full from the first byte
    EXPECT_EQ(c.corruptEvery, 9);
    EXPECT_EQ(c.dropEvery, 11);
    EXPECT_EQ(c.lineRate, 115200);
    EXPECT_EQ(c.timeoutSec, 5);
    EXPECT_EQ(c.openDbName, "Running");
    EXPECT_EQ(c.cmpMajor, 2);
    handheld::ProgramOptions colour;
    ASSERT_EQ(Parse({"--color", "--help"}, colour, message), 0);
    EXPECT_EQ(colour.config.displayFeature, 8u);
    EXPECT_TRUE(colour.help);
    EXPECT_EQ(colour.config.fullAfterBytes, -1);  // off unless asked
}

TEST(ProgramOptions, BadOptionsAreRefusedWithTheirName) {
    const std::vector<std::vector<const char*>> bad = {
        {"--dlp", "1.3"},
        {"--rom", "zz"},
        {"--baud"},
        {"--syncs", "0"},
        {"--drop-every", "1"},
        {"--bogus"},
        {"--timeout", "-4"},
        {"--cpu", "0x1FFFFFFFF"},
        {"--line-rate", "fast"},
        {"--press-after", "1x"},
        {"--net", "host"},
        {"--net", "host:99999"},
        {"--net", "127.0.0.1:1", "--pty"},
    };
    for (const auto& args : bad) {
        handheld::ProgramOptions o;
        std::string message;
        EXPECT_EQ(Parse(args, o, message), 2) << args[0];
        EXPECT_NE(message.find(args[0]), std::string::npos) << message;
    }
}

TEST(ProgramOptions, NetworkAndUsbHandhelds) {
    handheld::ProgramOptions net;
    std::string message;
    ASSERT_EQ(Parse({"--net", "127.0.0.1:14238", "--net-wakeup"}, net, message), 0) << message;
    EXPECT_EQ(net.net, "127.0.0.1:14238");
    EXPECT_EQ(net.netWakeups, 3);
    EXPECT_TRUE(net.config.netSync);
    EXPECT_FALSE(net.config.usb);
    EXPECT_FALSE(net.pty);
    handheld::ProgramOptions usb;
    ASSERT_EQ(Parse({"--usb", "--pty"}, usb, message), 0) << message;
    EXPECT_TRUE(usb.config.netSync);
    EXPECT_TRUE(usb.config.usb);
    EXPECT_FALSE(usb.stay);
    ASSERT_EQ(Parse({"--pty", "--stay"}, usb, message), 0) << message;
    EXPECT_TRUE(usb.stay);
    std::string host;
    uint16_t port = 0;
    EXPECT_TRUE(handheld::ParseHostPort("[::1]:15000", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 15000);
}

TEST(SafeFileName, UnsafeCharactersBecomeUnderscores) {
    EXPECT_EQ(handheld::SafeFileName("a/b\\c:d*e?\"<>|", false), "a_b_c_d_e_____.pdb");
    EXPECT_EQ(handheld::SafeFileName("Graffiti ShortCuts ", true), "Graffiti ShortCuts .prc");
    EXPECT_EQ(handheld::SafeFileName("..", false), "___.pdb");
    EXPECT_EQ(handheld::SafeFileName(std::string("x\x01\xE9"), false), "x__.pdb");
}

// An ITransport over the desktop's end of the pseudo-terminal.
class CFdTransport : public hotsync::ITransport {
  public:
    explicit CFdTransport(int fd) : m_fd(fd) {}
    ~CFdTransport() override { Close(); }
    int Open() override { return 0; }
    void Close() override {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    int SetRate(int) override { return 0; }
    int Read(uint8_t* b, size_t n, int timeoutMs) override {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_fd, &set);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        const int rc = ::select(m_fd + 1, &set, nullptr, nullptr, &tv);
        if (rc <= 0) return rc;
        const ssize_t got = ::read(m_fd, b, n);
        return got > 0 ? static_cast<int>(got) : -1;
    }
    int Write(const uint8_t* d, size_t n) override { return static_cast<int>(::write(m_fd, d, n)); }

  private:
    int m_fd;
};

TEST(Program, SyncsOverAPseudoTerminalAndWritesItsFiles) {
    const std::string exe = std::string(CC_BINARY_DIR) + "/tools/handheld/cc-handheld";
    if (!std::filesystem::exists(exe)) GTEST_SKIP() << "no " << exe;
    const auto dir =
        std::filesystem::temp_directory_path() / ("cc-handheld-prog-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const std::string cmd = exe + " --pty --user Zed --timeout 10 --out " + dir.string();
    FILE* child = ::popen(cmd.c_str(), "r");
    ASSERT_NE(child, nullptr);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, child), nullptr);
    std::string path(line);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    {
        CFdTransport line_(fd);
        CMiniDesktop desk(line_);
        std::vector<uint8_t> cmp;
        ASSERT_TRUE(desk.AcceptWakeup(cmp, 5000));
        ASSERT_TRUE(desk.Init(115200, 0x90));
        std::vector<uint8_t> answer;
        ASSERT_TRUE(desk.Call(Request0(0x10), answer));
        Response r;
        ASSERT_TRUE(DecodeResponse(answer, r));
        EXPECT_EQ(std::string(r.args.at(0).second.begin() + 30, r.args.at(0).second.end() - 1),
                  "Zed");
        ASSERT_TRUE(desk.Call(Request(0x2F, 0x20, {0, 0}), answer));
    }
    const int status = ::pclose(child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream json(dir / "requests.json");
    std::string text((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"function\":\"ReadUserInfo\""), std::string::npos);
    EXPECT_NE(text.find("\"function\":\"EndOfSync\""), std::string::npos);
    std::filesystem::remove_all(dir);
}

// With --stay the handheld keeps its line after its syncs (here: none came), so a window that
// polls the port afterwards still finds it, until a signal ends the program.
TEST(Program, StaysOnItsLineUntilStopped) {
    const std::string exe = std::string(CC_BINARY_DIR) + "/tools/handheld/cc-handheld";
    if (!std::filesystem::exists(exe)) GTEST_SKIP() << "no " << exe;
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execl(exe.c_str(), exe.c_str(), "--pty", "--timeout", "1", "--stay", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* lines = ::fdopen(out[0], "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, lines), nullptr);
    std::string path(line);
    while (!path.empty() && path.back() == '\n') path.pop_back();
    std::this_thread::sleep_for(std::chrono::milliseconds(1800));  // its one wait is over
    EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), 0);              // still there
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0) << path;
    if (fd >= 0) ::close(fd);
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    std::fclose(lines);
}

TEST(Program, BadOptionAndMissingDesktopFail) {
    const std::string exe = std::string(CC_BINARY_DIR) + "/tools/handheld/cc-handheld";
    if (!std::filesystem::exists(exe)) GTEST_SKIP() << "no " << exe;
    int status = std::system((exe + " --dlp 9.9 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    status = std::system((exe + " --pty --timeout 1 >/dev/null 2>&1").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
}  // namespace handheld_test
