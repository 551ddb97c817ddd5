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
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "pdb/palm_db_file.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWakeupPeriodMs = 1000;  // the virtual handheld's default wakeup repetition
constexpr int kRunLimitMs = 60000;
constexpr int kPressLaterMs = 300;  // the desktop program listens well before this

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// A child program with its standard output on a pipe (read for the handheld's path).
class CProgram {
  public:
    CProgram(const std::vector<std::string>& args, const std::string& timelinePath,
             const std::string& logPath) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "CC_TIMELINE=", 12) != 0) env.emplace_back(*e);
        }
        env.push_back("CC_TIMELINE=" + timelinePath);
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        m_startNs = MonotonicNs();
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_fd = out[0];
    }
    ~CProgram() {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0) ::close(m_fd);
    }
    CProgram(const CProgram&) = delete;
    CProgram& operator=(const CProgram&) = delete;

    bool Started() const { return m_pid > 0; }
    int64_t StartNs() const { return m_startNs; }
    int64_t ExitNs() const { return m_exitNs; }

    // The first line of output, waiting at most ms.
    std::string FirstLine(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (m_out.find('\n') == std::string::npos && m_fd >= 0 && Clock::now() < end) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0) break;
            m_out.append(buf, size_t(n));
        }
        return m_out.substr(0, m_out.find('\n'));
    }
    // The exit status, or -1 when the program had to be killed after ms.
    int Wait(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!m_status) {
            int status = 0;
            // Short steps keep the exit time exact to a fraction of a millisecond.
            const pid_t got = waitpid(m_pid, &status, WNOHANG);
            if (got == m_pid) {
                m_exitNs = MonotonicNs();
                m_status = status;
                break;
            }
            if (Clock::now() >= end) return -1;
            usleep(200);
        }
        return WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : 128 + WTERMSIG(*m_status);
    }

  private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_out;
    std::optional<int> m_status;
    int64_t m_startNs = 0;
    int64_t m_exitNs = 0;
};

// The marks of one run: every time of every name, in file order.
using Marks = std::map<std::string, std::vector<int64_t>>;

Marks ReadMarks(const std::string& path) {
    Marks marks;
    std::ifstream in(path);
    std::string name;
    int64_t ns = 0;
    while (in >> name >> ns) marks[name].push_back(ns);
    return marks;
}

// The last time of a mark not after limit; nothing when there is none.
std::optional<int64_t> LastBefore(const Marks& marks, const std::string& name, int64_t limit) {
    const auto it = marks.find(name);
    if (it == marks.end()) return std::nullopt;
    std::optional<int64_t> best;
    for (int64_t t : it->second) {
        if (t <= limit) best = t;
    }
    return best;
}

std::optional<int64_t> First(const Marks& marks, const std::string& name) {
    const auto it = marks.find(name);
    if (it == marks.end() || it->second.empty()) return std::nullopt;
    return it->second.front();
}

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

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Settings {
    int runs = 20;
    size_t size = 5 * 1024;
    bool paced = true, unpaced = true;
    bool pressLater = false;
    std::string cli = CC_CLI_PATH;
    std::string handheld = CC_HANDHELD_PATH;
};

bool WriteDatabase(const std::string& path, size_t size) {
    pdb::DbInfo info;
    info.name = "Timeline Data";
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("TmLn");
    info.version = 1;
    auto file = pdb::CPalmDbFile::Create(path, info);
    if (!file) return false;
    constexpr size_t kRecord = 1024;
    for (size_t done = 0, i = 0; done < size; done += kRecord, ++i) {
        pdb::Record rec;
        rec.data.resize(std::min(kRecord, size - done));
        for (size_t j = 0; j < rec.data.size(); ++j) rec.data[j] = uint8_t(i * 31 + j * 7);
        rec.uid = uint32_t(0x1000 + i);
        file->AppendRecord(rec);
    }
    return file->Close() == pdb::kOk;
}

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
