#include "tools/handheld/pty_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace handheld {
namespace {

speed_t SpeedConstant(int bps) {
    switch (bps) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return B0;  // 128,000 and 256,000 have no constant; a pty ignores rates anyway
    }
}

int MakeRaw(int fd, int bps) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return -1;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedConstant(bps);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    return tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

CPtyTransport::~CPtyTransport() {
    Close();
}

int CPtyTransport::Open() {
    if (m_master >= 0) return 0;
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) return -1;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        const int e = errno;
        Close();
        errno = e;
        return -1;
    }
    char name[256];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        const int e = errno;
        Close();
        errno = e;
        return -1;
    }
    m_strSlave = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0 || MakeRaw(m_slave, 9600) != 0 || pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int e = errno;
        Close();
        errno = e;
        return -1;
    }
    // Raw on the master too: no echo or line discipline on the handheld's side.
    MakeRaw(m_master, 9600);
    return 0;
}

void CPtyTransport::Close() {
    for (int* fd : {&m_master, &m_slave, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

int CPtyTransport::SetRate(int bitsPerSecond) {
    if (m_slave < 0) return -1;
    return MakeRaw(m_slave, bitsPerSecond) == 0 ? 0 : -1;
}

int CPtyTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (m_master < 0) return -1;
    pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int rc = ::poll(fds, 2, static_cast<int>(left > 0 ? left : 0));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return -1;
        if (rc == 0) return 0;
        if (fds[1].revents & POLLIN) {
            uint8_t drain[16];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
            return 0;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(m_master, buffer, size);
            if (n > 0) return static_cast<int>(n);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            // EIO: no slave is open. We hold one ourselves, so this is a real failure.
            return -1;
        }
    }
}

int CPtyTransport::Write(const uint8_t* data, size_t size) {
    if (m_master < 0) return -1;
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (done < size) {
        const ssize_t n = ::write(m_master, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN) return -1;
        // The slave's input queue is full (nobody reads): wait a little, but not forever.
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        pollfd fd{m_master, POLLOUT, 0};
        ::poll(&fd, 1, 50);
    }
    return static_cast<int>(done);
}

int CPtyTransport::BytesWaiting() {
    int n = 0;
    if (m_master < 0 || ::ioctl(m_master, FIONREAD, &n) != 0) return -1;
    return n;
}

void CPtyTransport::Interrupt() {
    if (m_wake[1] >= 0) {
        const uint8_t b = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &b, 1);
    }
}

}  // namespace handheld
