#include "bench/hotsync/timed_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>

#include "pdb/palm_db_file.h"

extern char** environ;

namespace bench {
namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

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

CProgram::CProgram(const std::vector<std::string>& args, const std::string& timelinePath,
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

CProgram::~CProgram() {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_fd >= 0) ::close(m_fd);
}

std::string CProgram::FirstLine(int ms) {
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

int CProgram::Wait(int ms) {
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

Marks ReadMarks(const std::string& path) {
    Marks marks;
    std::ifstream in(path);
    std::string name;
    int64_t ns = 0;
    while (in >> name >> ns) marks[name].push_back(ns);
    return marks;
}

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

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

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

}  // namespace bench
