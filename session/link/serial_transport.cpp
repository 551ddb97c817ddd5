#include "session/link/serial_transport.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace ports {
namespace {

constexpr int kInitialRate = 9600;
constexpr int kReadIntervalMs = 2000;
constexpr int kReadPerByteMs = 15;
constexpr int kReadTotalExtraMs = 500;

// The standard speed constant for a rate, or 0 when the rate has none.
speed_t StandardSpeed(int rate) {
    switch (rate) {
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
            return 0;
    }
}

// Waits until the driver has sent what was written, at most as long as the write
// time-out allows (a port held back by flow control must not block us for good).
void DrainOutput(int fd, size_t queued) {
    const auto start = std::chrono::steady_clock::now();
    const auto limit =
        std::chrono::milliseconds(kReadPerByteMs * static_cast<int>(queued) + kReadTotalExtraMs);
    int left = 0;
    while (ioctl(fd, TIOCOUTQ, &left) == 0 && left > 0 &&
           std::chrono::steady_clock::now() - start < limit) {
        usleep(2000);
    }
}

// Pending output first goes out (it may be the last ACK of a session), then both
// directions are cleared.
void Purge(int fd) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) DrainOutput(fd, size_t(queued));
    ioctl(fd, TCFLSH, TCIOFLUSH);
}

int ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - since)
                                .count());
}

}  // namespace

CSerialTransport::CSerialTransport(std::string devicePath) : m_path(std::move(devicePath)) {}

CSerialTransport::~CSerialTransport() {
    Close();
}

int CSerialTransport::Open() {
    if (m_fd >= 0) return 0;
    // errno stays as the system set it: the user is told whether the device is missing,
    // held by another program or forbidden.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // Held exclusively from bind to close, so a second program cannot share the cradle.
    if (ioctl(fd, TIOCEXCL) < 0 || pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) < 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    m_fd = fd;
    ioctl(m_fd, TCFLSH, TCIOFLUSH);
    return 0;
}

void CSerialTransport::Close() {
    if (m_fd >= 0) {
        Purge(m_fd);
        ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
    for (int& end : m_wakePipe) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

int CSerialTransport::SetRate(int bitsPerSecond) {
    if (m_fd < 0 || bitsPerSecond <= 0) return -1;
    Purge(m_fd);
    struct termios2 tio {};
    if (ioctl(m_fd, TCGETS2, &tio) < 0) return -1;
    // Raw 8N1 without software flow control or special characters.
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                             IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // Hardware handshaking only above 9,600 bit/s, as the cradle expects.
    if (bitsPerSecond > kInitialRate) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t standard = StandardSpeed(bitsPerSecond);
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    if (standard != 0) {
        tio.c_cflag |= standard | (standard << IBSHIFT);
    } else {
        tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    }
    tio.c_ispeed = speed_t(bitsPerSecond);
    tio.c_ospeed = speed_t(bitsPerSecond);
    if (ioctl(m_fd, TCSETS2, &tio) < 0) return -1;

    // DTR on; RTS on (the driver drives it for the handshake above 9,600).
    if (HasModemLines()) {
        int lines = TIOCM_DTR | TIOCM_RTS;
        ioctl(m_fd, TIOCMBIS, &lines);
    }
    m_rate = bitsPerSecond;
    return 0;
}

int CSerialTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (m_fd < 0) return -1;
    if (size == 0) return 0;
    size_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point firstByte;
    const int totalMs = kReadPerByteMs * static_cast<int>(size) + kReadTotalExtraMs;
    for (;;) {
        int waitMs;
        if (got == 0) {
            waitMs = timeoutMs - ElapsedMs(start);
        } else {
            if (got == size) break;
            waitMs = std::min(kReadIntervalMs, totalMs - ElapsedMs(firstByte));
        }
        if (waitMs <= 0) break;
        struct pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return got > 0 ? static_cast<int>(got) : -1;
        }
        if (ready == 0) break;
        if (fds[1].revents & POLLIN) {
            uint8_t drain[16];
            while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
            break;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) return got > 0 ? static_cast<int>(got) : -1;
        const ssize_t n = ::read(m_fd, buffer + got, size - got);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            // A pseudo-terminal whose other side closed reports EIO: the cable is gone.
            return got > 0 ? static_cast<int>(got) : -1;
        }
        if (n == 0) {
            if (fds[0].revents & POLLHUP) return got > 0 ? static_cast<int>(got) : -1;
            continue;
        }
        if (got == 0) firstByte = std::chrono::steady_clock::now();
        got += static_cast<size_t>(n);
    }
    return static_cast<int>(got);
}

int CSerialTransport::Write(const uint8_t* data, size_t size) {
    if (m_fd < 0) return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // The driver's queue is full (or CTS holds the line): wait a little for room.
            struct pollfd out = {m_fd, POLLOUT, 0};
            if (::poll(&out, 1, kReadIntervalMs) > 0) continue;
        }
        break;  // the line failed: what is missing brings a retransmission
    }
    return done == size ? static_cast<int>(done) : -1;
}

bool CSerialTransport::HasModemLines() const {
    int lines = 0;
    return m_fd >= 0 && ioctl(m_fd, TIOCMGET, &lines) == 0;
}

bool CSerialTransport::ReadModemStatus(bool& cts) {
    cts = false;
    int lines = 0;
    if (m_fd < 0 || ioctl(m_fd, TIOCMGET, &lines) < 0) return false;
    cts = (lines & TIOCM_CTS) != 0;
    return true;
}

int CSerialTransport::BytesWaiting() {
    int waiting = 0;
    if (m_fd < 0 || ioctl(m_fd, FIONREAD, &waiting) < 0) return -1;
    return waiting;
}

void CSerialTransport::Interrupt() {
    if (m_wakePipe[1] >= 0) {
        const uint8_t wake = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakePipe[1], &wake, 1);
    }
}

}  // namespace ports
