// COM port names to devices, the holders of a device, and what the user is told.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "resources/strings/string_table.h"
#include "shell/com_ports.h"
#include "shell/linux/proc_port_holder.h"
#include "shell/memory_settings.h"

namespace {

namespace fs = std::filesystem;

TEST(ComPorts, SettingElseTheSerialDevice) {
    CMemorySettings s;
    EXPECT_EQ(ComDevicePath(s, 1), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(s, 8), "/dev/ttyS7");
    EXPECT_EQ(ComDevicePath(s, 0), "");
    s.WriteText("com", "device1", "/dev/ttyUSB0");
    s.WriteText("com", "Device9", "/dev/ttyACM0");  // only 1 ... 8 are looked up
    EXPECT_EQ(ComDevicePath(s, 1), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(s, 9), "/dev/ttyS8");
    EXPECT_EQ(PortDevicePath(s, "COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(s, "/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(PortDevicePath(s, "USB"), "");
    EXPECT_EQ(PortDevicePath(s, "NET"), "");
}

// A process tree of the /proc shape with two holders and an unreadable process.
TEST(PortHolders, FoundByTheirOpenDescriptors) {
    const fs::path root = fs::temp_directory_path() / ("cc-proc-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path device = root / "dev-ttyUSB0";
    fs::create_directories(root);
    std::ofstream(device) << "";
    const auto process = [&](const std::string& pid, const std::string& comm,
                             const std::vector<fs::path>& fds) {
        fs::create_directories(root / pid / "fd");
        std::ofstream(root / pid / "comm") << comm << "\n";
        for (size_t i = 0; i < fds.size(); ++i) {
            fs::create_symlink(fds[i], root / pid / "fd" / std::to_string(i));
        }
    };
    process("412", "ModemManager", {"/dev/null", device});
    process("77", "minicom", {device});
    process("90", "bash", {"/dev/pts/1"});
    fs::create_directories(root / "self");
    fs::create_directories(root / "555");  // no fd folder: not ours to read

    CProcPortHolderFinder finder(root.string());
    const auto holders = finder.Find(device.string());
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].pid, 77);
    EXPECT_EQ(holders[0].name, "minicom");
    EXPECT_EQ(holders[1].name, "ModemManager");
    EXPECT_TRUE(finder.Find((root / "nothing").string()).empty());
    EXPECT_TRUE(CProcPortHolderFinder((root / "none").string()).Find(device.string()).empty());

    resources::SetLanguage(resources::Language::kEnglish);
    EXPECT_EQ(PortProblemDetail(EBUSY, device.string(), &finder), " (held by minicom, pid 77)");
    resources::SetLanguage(resources::Language::kGerman);
    EXPECT_EQ(PortProblemDetail(EBUSY, device.string(), &finder), " (belegt von minicom, PID 77)");
    resources::SetLanguage(resources::Language::kEnglish);
    fs::remove_all(root);
}

TEST(PortHolders, TheRealProcessTable) {
    // A child of ours holds a file; the finder names it from the real /proc.
    const fs::path file = fs::temp_directory_path() / ("cc-held-" + std::to_string(::getpid()));
    std::ofstream(file) << "x";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(file.c_str(), O_RDONLY);
        [[maybe_unused]] ssize_t n = ::write(ready[1], "k", 1);
        ::pause();
        ::_exit(fd >= 0 ? 0 : 1);
    }
    char k;
    ASSERT_EQ(::read(ready[0], &k, 1), 1);
    CProcPortHolderFinder finder;
    const auto holders = finder.Find(file.string());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    fs::remove(file);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, child);
}

TEST(PortProblems, PlainWords) {
    resources::SetLanguage(resources::Language::kEnglish);
    EXPECT_EQ(PortProblemDetail(ENOENT, "/dev/ttyS0", nullptr), " (no such device /dev/ttyS0)");
    EXPECT_EQ(PortProblemDetail(EACCES, "/dev/ttyUSB0", nullptr),
              " (permission denied on /dev/ttyUSB0: join the group dialout)");
    EXPECT_EQ(PortProblemDetail(EBUSY, "/dev/ttyS0", nullptr), " (in use by another program)");
    EXPECT_EQ(PortProblemDetail(EIO, "/dev/ttyS0", nullptr), " (/dev/ttyS0: Input/output error)");
    EXPECT_EQ(PortProblemDetail(ENOENT, "", nullptr), "");  // USB: nothing to add yet
    EXPECT_EQ(PortProblemDetail(0, "/dev/ttyS0", nullptr), "");
}

}  // namespace
