#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace testsupport {

using Clock = std::chrono::steady_clock;

CChild::CChild(const std::vector<std::string>& args, bool mergeStderr) {
    int out[2];
    if (pipe(out) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        if (mergeStderr) {
            dup2(out[1], STDERR_FILENO);
        } else {
            const int devnull = open("/dev/null", O_WRONLY);
            if (devnull >= 0) dup2(devnull, STDERR_FILENO);
        }
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    m_fd = out[0];
}

CChild::~CChild() {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_fd >= 0) close(m_fd);
}

void CChild::Pump(int ms) {
    if (m_fd < 0) return;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return;
    char buf[4096];
    const ssize_t n = read(m_fd, buf, sizeof buf);
    if (n > 0) {
        m_out.append(buf, static_cast<size_t>(n));
    } else {
        close(m_fd);
        m_fd = -1;
    }
}

std::string CChild::FirstLine(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (m_out.find('\n') == std::string::npos && Clock::now() < end && m_fd >= 0) Pump(50);
    return m_out.substr(0, m_out.find('\n'));
}

bool CChild::WaitForOutput(const std::string& text, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (m_out.find(text) == std::string::npos && Clock::now() < end && m_fd >= 0) Pump(20);
    return m_out.find(text) != std::string::npos;
}

int CChild::Wait(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!m_status && Clock::now() < end) {
        Pump(20);
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) m_status = status;
    }
    if (!m_status) return -1;
    while (m_fd >= 0) Pump(50);
    return WIFEXITED(*m_status) ? WEXITSTATUS(*m_status) : 128 + WTERMSIG(*m_status);
}

void CChild::Signal(int sig) {
    kill(m_pid, sig);
}

}  // namespace testsupport
