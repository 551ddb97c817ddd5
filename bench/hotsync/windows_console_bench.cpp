// The Windows console's speed: installs one database (200 KB unless told otherwise) at
// 115,200 bit/s into the virtual handheld on a pseudo-terminal paced at the agreed rate, with
// the Linux console and with the Windows console (ccourier-cli.exe under Wine, the terminal
// reached as COM1 of a private Wine prefix), run by run in turn, and prints the install times
// and how far apart they are (target: the Windows console within 2 % of the Linux one).
//
// The install is timed by the virtual handheld alone, from the desktop's first request to
// its EndOfSync, so both consoles are measured by one clock; the whole run (program start to
// exit, Wine's start included) is printed beside it.
//
// Usage: windows_console_bench [--runs N] [--size BYTES] [--exe PATH] [--prefix DIR]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/hotsync/timed_program.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

constexpr int kRate = 115200;
constexpr int kRunLimitMs = 180000;

struct Settings {
    int runs = 5;
    size_t size = 200 * 1024;
    std::string exe = CC_WINDOWS_CLI_PATH;
    std::string prefix = CC_WINE_PREFIX;
};

struct Times {
    double installMs = 0;
    double wholeMs = 0;
};

// The Windows name of a Linux path: Wine's drive Z: is the root.
std::string WindowsPath(const std::string& path) {
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

// One install; the times, or nothing when it failed (reason printed).
std::optional<Times> RunOnce(const Settings& s, const std::string& dir, const std::string& db,
                             bool windows, int index) {
    const std::string timeline =
        dir + "/timeline-" + (windows ? "windows-" : "linux-") + std::to_string(index) + ".txt";
    const std::string log = dir + "/programs.log";
    fs::remove(timeline);
    CProgram handheld({CC_HANDHELD_PATH, "--pty", "--line-rate", "auto", "--timeout", "60"},
                      timeline, log);
    const std::string pty = handheld.FirstLine(5000);
    if (!handheld.Started() || pty.empty()) {
        std::fprintf(stderr, "run %d: the handheld did not start (see %s)\n", index, log.c_str());
        return std::nullopt;
    }
    std::vector<std::string> args;
    if (windows) {
        // The prefix's COM1 leads to lines/com1 (scripts/wine_run.sh).
        const fs::path com1 = fs::path(s.prefix) / "lines" / "com1";
        std::error_code ec;
        fs::remove(com1, ec);
        fs::create_symlink(pty, com1, ec);
        args = {CC_WINE_RUN,           s.prefix,  s.exe,    "--port", "COM1",         "--speed",
                std::to_string(kRate), "--quiet", "--wait", "60",     WindowsPath(db)};
    } else {
        args = {CC_CLI_PATH, "--port", pty,  "--speed", std::to_string(kRate),
                "--quiet",   "--wait", "60", db};
    }
    CProgram cli(args, timeline, log);
    const int status = cli.Wait(kRunLimitMs);
    handheld.Wait(10000);
    if (status != 0) {
        std::fprintf(stderr, "run %d: the %s console ended with %d (see %s)\n", index,
                     windows ? "Windows" : "Linux", status, log.c_str());
        return std::nullopt;
    }
    const Marks marks = ReadMarks(timeline);
    const auto request = First(marks, "handheld.request");
    const auto end = First(marks, "handheld.end");
    if (!request || !end) {
        std::fprintf(stderr, "run %d: the handheld's marks are missing in %s\n", index,
                     timeline.c_str());
        return std::nullopt;
    }
    return Times{double(*end - *request) / 1e6, double(cli.ExitNs() - cli.StartNs()) / 1e6};
}

bool ParseArgs(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--runs" && hasValue) {
            s.runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--size" && hasValue) {
            s.size = size_t(std::max(1L, std::atol(argv[++i])));
        } else if (a == "--exe" && hasValue) {
            s.exe = argv[++i];
        } else if (a == "--prefix" && hasValue) {
            s.prefix = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    if (!ParseArgs(argc, argv, s)) {
        std::fprintf(
            stderr, "usage: %s [--runs N] [--size BYTES] [--exe ccourier-cli.exe] [--prefix DIR]\n",
            argv[0]);
        return 2;
    }
    if (!fs::exists(s.exe)) {
        std::fprintf(stderr,
                     "no Windows console at %s: cmake --preset windows && cmake --build --preset "
                     "windows --target ccourier-cli\n",
                     s.exe.c_str());
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/windows_console_bench.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string db = dir + "/bench.pdb";
    if (!WriteDatabase(db, s.size)) {
        std::fprintf(stderr, "cannot write %s\n", db.c_str());
        return 1;
    }
    // Wine makes its prefix at the first start: not inside a timed run.
    {
        CProgram warm({CC_WINE_RUN, s.prefix, s.exe, "--version"}, dir + "/warm.txt",
                      dir + "/programs.log");
        warm.Wait(kRunLimitMs);
    }

    std::printf(
        "one database of %zu bytes at %d bit/s, line paced at the agreed rate, %d runs "
        "each\n",
        s.size, kRate, s.runs);
    std::printf("load average before: %s\n\n", LoadAverage().c_str());
    std::printf("%-6s %16s %16s %16s %16s\n", "run", "Linux install", "Windows install",
                "Linux whole", "Windows whole");
    std::vector<double> linuxInstall, windowsInstall, linuxWhole, windowsWhole;
    int failures = 0;
    for (int run = 0; run < s.runs; ++run) {
        const auto onLinux = RunOnce(s, dir, db, false, run);
        const auto onWindows = RunOnce(s, dir, db, true, run);
        if (!onLinux || !onWindows) {
            ++failures;
            continue;
        }
        linuxInstall.push_back(onLinux->installMs);
        windowsInstall.push_back(onWindows->installMs);
        linuxWhole.push_back(onLinux->wholeMs);
        windowsWhole.push_back(onWindows->wholeMs);
        std::printf("%-6d %13.1f ms %13.1f ms %13.1f ms %13.1f ms\n", run, onLinux->installMs,
                    onWindows->installMs, onLinux->wholeMs, onWindows->wholeMs);
    }
    if (linuxInstall.empty()) {
        std::printf("no run completed; the programs' output is in %s\n", dir.c_str());
        return 1;
    }
    const double linuxMedian = Median(linuxInstall);
    const double windowsMedian = Median(windowsInstall);
    std::printf("%-6s %13.1f ms %13.1f ms %13.1f ms %13.1f ms\n", "median", linuxMedian,
                windowsMedian, Median(linuxWhole), Median(windowsWhole));
    std::printf(
        "\nWindows console install time: %+.2f %% of the Linux console's (target: within "
        "2 %%)\n",
        (windowsMedian / linuxMedian - 1) * 100);
    std::printf("payload rate: Linux %.0f bytes/s, Windows %.0f bytes/s (line: %d bytes/s)\n",
                double(s.size) / (linuxMedian / 1000), double(s.size) / (windowsMedian / 1000),
                kRate / 10);
    std::printf("load average after: %s\n", LoadAverage().c_str());
    if (failures) {
        std::printf("%d runs failed and are not counted; their files are in %s\n", failures,
                    dir.c_str());
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
