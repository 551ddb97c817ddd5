// Where the time of a one-file run goes: runs ccourier-cli against cc-handheld on a
// pseudo-terminal many times at 57,600 and 115,200 bit/s, with both programs marking their
// phase boundaries into one timeline file (CC_TIMELINE), and prints the median of each
// phase and of the whole run.
//
// Each run starts a fresh virtual handheld, which presses HotSync at once, waits a random
// part of the handheld's wakeup period (a user starting the desktop program at any moment),
// then starts ccourier-cli and times it from its start to its exit. With --press-later the
// desktop program is started first and the button is pressed at a random moment while it
// polls; the whole run then counts from the press.
//
// Usage: run_timeline [--runs N] [--size BYTES] [--line paced|unpaced|both] [--press-later]
//                     [--cli PATH] [--handheld PATH]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/hotsync/timed_program.h"

namespace {

using namespace bench;
constexpr int kWakeupPeriodMs = 1000;  // the virtual handheld's default wakeup repetition
constexpr int kRunLimitMs = 60000;
constexpr int kPressLaterMs = 300;  // the desktop program listens well before this

const char* const kPhases[] = {
    "start to listening",
    "listening to wakeup seen",
    "  of which: wakeup on the line to seen",
    "wakeup seen to connection accepted",
    "rate switch",
    "accepted to worker start",
    "worker start to first DLP request",
    "install",
    "EndOfSync to link closed",
    "close to process exit",
    "whole run",
};
constexpr size_t kPhaseCount = sizeof kPhases / sizeof kPhases[0];

// Phase durations in ms, or nothing when a mark is missing (a failed run).
// The whole run counts from wholeFromNs (the program's start, or the press).
std::optional<std::vector<double>> Phases(const Marks& m, int64_t startNs, int64_t wholeFromNs,
                                          int64_t exitNs) {
    const auto listening = First(m, "desktop.listening");
    const auto accepted = First(m, "desktop.accepted");
    if (!listening || !accepted) return std::nullopt;
    const auto seen = LastBefore(m, "desktop.wakeup-seen", *accepted);
    const auto initAcked = LastBefore(m, "desktop.init-acked", *accepted);
    const auto worker = First(m, "desktop.worker");
    const auto request = First(m, "handheld.request");
    const auto endOfSync = First(m, "desktop.end-of-sync");
    const auto closed = First(m, "desktop.closed");
    if (!seen || !initAcked || !worker || !request || !endOfSync || !closed) return std::nullopt;
    // The wakeup the poll saw went out with the last press or wakeup before it; one that
    // was already waiting when the program began to listen was there from then on.
    int64_t onLine = *listening;
    for (const char* name : {"handheld.press", "handheld.wakeup"}) {
        if (const auto t = LastBefore(m, name, *seen)) onLine = std::max(onLine, *t);
    }
    const auto ms = [](int64_t from, int64_t to) { return double(to - from) / 1e6; };
    return std::vector<double>{
        ms(startNs, *listening), ms(*listening, *seen),     ms(onLine, *seen),
        ms(*seen, *initAcked),   ms(*initAcked, *accepted), ms(*accepted, *worker),
        ms(*worker, *request),   ms(*request, *endOfSync),  ms(*endOfSync, *closed),
        ms(*closed, exitNs),     ms(wholeFromNs, exitNs),
    };
}

struct Settings {
    int runs = 20;
    size_t size = 5 * 1024;
    bool paced = true, unpaced = true;
    bool pressLater = false;
    std::string cli = CC_CLI_PATH;
    std::string handheld = CC_HANDHELD_PATH;
};

// One run; the phase durations, or nothing when it failed (reason printed).
std::optional<std::vector<double>> RunOnce(const Settings& s, const std::string& dir,
                                           const std::string& db, int rate, bool paced, int delayMs,
                                           int index) {
    const std::string timeline = dir + "/timeline-" + std::to_string(index) + ".txt";
    const std::string log = dir + "/programs.log";
    std::filesystem::remove(timeline);
    std::vector<std::string> hhArgs = {s.handheld, "--pty", "--timeout", "20"};
    if (paced) hhArgs.insert(hhArgs.end(), {"--line-rate", "auto"});
    // Pressed later: after the desktop program has begun to poll.
    if (s.pressLater) {
        hhArgs.insert(hhArgs.end(), {"--press-after", std::to_string(kPressLaterMs + delayMs)});
    }
    CProgram handheld(hhArgs, timeline, log);
    const std::string pty = handheld.FirstLine(5000);
    if (!handheld.Started() || pty.empty()) {
        std::fprintf(stderr, "run %d: the handheld did not start (see %s)\n", index, log.c_str());
        return std::nullopt;
    }
    if (!s.pressLater) usleep(useconds_t(delayMs) * 1000);
    CProgram cli(
        {s.cli, "--port", pty, "--speed", std::to_string(rate), "--quiet", "--wait", "20", db},
        timeline, log);
    const int status = cli.Wait(kRunLimitMs);
    handheld.Wait(5000);
    if (status != 0) {
        std::fprintf(stderr, "run %d: ccourier-cli ended with %d (see %s)\n", index, status,
                     log.c_str());
        return std::nullopt;
    }
    const Marks marks = ReadMarks(timeline);
    const auto press = First(marks, "handheld.press");
    const int64_t wholeFrom = s.pressLater && press ? *press : cli.StartNs();
    auto phases = Phases(marks, cli.StartNs(), wholeFrom, cli.ExitNs());
    if (!phases) std::fprintf(stderr, "run %d: marks missing in %s\n", index, timeline.c_str());
    return phases;
}

void PrintUsage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--runs N] [--size BYTES] [--line paced|unpaced|both] "
                 "[--press-later] [--cli PATH] [--handheld PATH]\n",
                 program);
}

bool ParseArgs(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--runs" && hasValue) {
            s.runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--size" && hasValue) {
            s.size = size_t(std::max(1L, std::atol(argv[++i])));
        } else if (a == "--line" && hasValue) {
            const std::string v = argv[++i];
            if (v != "paced" && v != "unpaced" && v != "both") return false;
            s.paced = v != "unpaced";
            s.unpaced = v != "paced";
        } else if (a == "--press-later") {
            s.pressLater = true;
        } else if (a == "--cli" && hasValue) {
            s.cli = argv[++i];
        } else if (a == "--handheld" && hasValue) {
            s.handheld = argv[++i];
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
        PrintUsage(argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/run_timeline.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string db = dir + "/timeline.pdb";
    if (!WriteDatabase(db, s.size)) {
        std::fprintf(stderr, "cannot write %s\n", db.c_str());
        return 1;
    }

    std::printf("one database of %zu bytes, %d runs per column, %s\n", s.size, s.runs,
                s.pressLater ? "desktop started first, button pressed at a random moment"
                             : "button pressed first, desktop started at a random moment");
    std::printf("load average before: %s\n", LoadAverage().c_str());
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, kWakeupPeriodMs - 1);
    int failures = 0;
    for (bool paced : {true, false}) {
        if ((paced && !s.paced) || (!paced && !s.unpaced)) continue;
        std::vector<std::vector<double>> medians;
        for (int rate : {57600, 115200}) {
            std::vector<std::vector<double>> samples(kPhaseCount);
            for (int run = 0; run < s.runs; ++run) {
                const auto phases = RunOnce(s, dir, db, rate, paced, delay(random), run);
                if (!phases) {
                    ++failures;
                    continue;
                }
                for (size_t p = 0; p < kPhaseCount; ++p) samples[p].push_back((*phases)[p]);
            }
            std::vector<double> column;
            for (const auto& sample : samples) column.push_back(Median(sample));
            medians.push_back(column);
        }
        std::printf("\nline %s; median ms\n", paced ? "paced at the agreed rate" : "not paced");
        std::printf("%-40s %10s %10s\n", "phase", "57600", "115200");
        for (size_t p = 0; p < kPhaseCount; ++p) {
            std::printf("%-40s %10.1f %10.1f\n", kPhases[p], medians[0][p], medians[1][p]);
        }
    }
    std::printf("\nload average after: %s\n", LoadAverage().c_str());
    if (failures) {
        std::printf("%d runs failed and are not counted; their files are in %s\n", failures,
                    dir.c_str());
        return 1;
    }
    std::filesystem::remove_all(dir);
    return 0;
}
