#include "session/link/com_port_transport.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/system.h"
#include "platform/wide_text.h"

namespace ports {
namespace {

constexpr int kInitialRate = 9600;
constexpr DWORD kQueueSize = 4096;
constexpr DWORD kReadIntervalMs = 2000;
constexpr DWORD kPerByteMs = 15;
constexpr DWORD kTotalExtraMs = 500;
constexpr WORD kXonLimit = 2048;
constexpr WORD kXoffLimit = 512;

int ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - since)
                                .count());
}

void FailWith(DWORD code) {
    errno = platform::kSystemErrorBase + static_cast<int>(code);
}

// Opens that have not returned yet, by device path. A port whose open hangs (a Bluetooth
// port looking for its partner) is not asked again until that open returns; a handle it
// brings back late is closed at once.
struct PendingOpen {
    bool done = false;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    bool abandoned = false;
};
std::mutex g_openLock;
std::condition_variable g_openDone;
std::map<std::string, std::shared_ptr<PendingOpen>> g_pendingOpens;

HANDLE OpenPort(const std::string& path, DWORD& error) {
    std::unique_lock<std::mutex> lock(g_openLock);
    if (g_pendingOpens.count(path)) {
        error = ERROR_SEM_TIMEOUT;  // the earlier open still hangs
        return INVALID_HANDLE_VALUE;
    }
    auto pending = std::make_shared<PendingOpen>();
    g_pendingOpens[path] = pending;
    std::thread([path, pending] {
        // Not shared, existing only; overlapped, so that a wait can be ended.
        const HANDLE h = ::CreateFileW(platform::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        const DWORD code = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        std::lock_guard<std::mutex> guard(g_openLock);
        g_pendingOpens.erase(path);
        if (pending->abandoned) {
            if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        } else {
            pending->handle = h;
            pending->error = code;
            pending->done = true;
        }
        g_openDone.notify_all();
    }).detach();
    if (!g_openDone.wait_for(lock, std::chrono::milliseconds(CComPortTransport::kOpenWaitMs),
                             [&] { return pending->done; })) {
        pending->abandoned = true;
        error = ERROR_SEM_TIMEOUT;
        return INVALID_HANDLE_VALUE;
    }
    error = pending->error;
    return pending->handle;
}

}  // namespace

CComPortTransport::CComPortTransport(std::string devicePath) : m_path(std::move(devicePath)) {}

CComPortTransport::~CComPortTransport() {
    Close();
    for (void* event : {m_hInterrupt, m_hIoDone}) {
        if (event) ::CloseHandle(event);
    }
}

int CComPortTransport::Open() {
    if (m_hPort) return 0;
    if (!m_hInterrupt) m_hInterrupt = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_hIoDone) m_hIoDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_hInterrupt || !m_hIoDone) {
        FailWith(::GetLastError());
        return -1;
    }
    DWORD error = 0;
    const HANDLE h = OpenPort(m_path, error);
    if (h == INVALID_HANDLE_VALUE) {
        FailWith(error);
        return -1;
    }
    if (!::SetupComm(h, kQueueSize, kQueueSize)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(h);
        FailWith(code);
        return -1;
    }
    // Only our direction is purged: what the port received is the handheld's (see SetRate).
    ::PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
    ::ResetEvent(m_hInterrupt);
    m_hPort = h;
    m_rate = 0;
    m_aheadNext = m_aheadEnd = 0;
    return 0;
}

void CComPortTransport::Close() {
    if (!m_hPort) return;
    Purge(false);
    // The queue is empty now (or its bytes were dropped), so this cannot wait on a line that
    // flow control holds.
    ::FlushFileBuffers(m_hPort);
    ::PurgeComm(m_hPort, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    ::CloseHandle(m_hPort);
    m_hPort = nullptr;
}

bool CComPortTransport::HasModemLines() const {
    DWORD status = 0;
    return m_hPort && ::GetCommModemStatus(m_hPort, &status);
}

bool CComPortTransport::DrainOutput() {
    const auto start = std::chrono::steady_clock::now();
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(m_hPort, &errors, &stat)) return true;
    const int limitMs = static_cast<int>(kPerByteMs * stat.cbOutQue + kTotalExtraMs);
    while (stat.cbOutQue > 0 && ElapsedMs(start) < limitMs) {
        ::Sleep(2);
        if (!::ClearCommError(m_hPort, &errors, &stat)) break;
    }
    if (stat.cbOutQue > 0) return false;
    // The driver's queue is empty, but the last bytes may still be leaving the UART: give
    // them the line's time (a port without modem lines hands them over at once).
    if (HasModemLines()) std::this_thread::sleep_until(m_sendEnd);
    return true;
}

void CComPortTransport::Purge(bool keepInput) {
    const bool sent = DrainOutput();
    DWORD flags = sent ? 0 : DWORD(PURGE_TXABORT | PURGE_TXCLEAR);
    if (!keepInput) {
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        m_aheadNext = m_aheadEnd = 0;
    }
    if (flags) ::PurgeComm(m_hPort, flags);
}

int CComPortTransport::SetRate(int bitsPerSecond) {
    if (!m_hPort || bitsPerSecond <= 0) return -1;
    // The first setting after opening keeps the input: the handheld may already be calling,
    // and its waiting wakeup is then served at once instead of at its next try.
    Purge(m_rate == 0);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = kPerByteMs;
    timeouts.ReadTotalTimeoutConstant = kTotalExtraMs;
    timeouts.WriteTotalTimeoutMultiplier = kPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kTotalExtraMs;
    if (!::SetCommTimeouts(m_hPort, &timeouts)) return -1;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(m_hPort, &dcb)) return -1;
    dcb.BaudRate = static_cast<DWORD>(bitsPerSecond);
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // Hardware handshaking only above 9,600 bit/s, as the cradle expects.
    if (bitsPerSecond > kInitialRate) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else {
        dcb.fOutxCtsFlow = FALSE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    dcb.XonLim = kXonLimit;
    dcb.XoffLim = kXoffLimit;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    if (!::SetCommState(m_hPort, &dcb)) return -1;
    m_rate = bitsPerSecond;
    return 0;
}

int CComPortTransport::Transfer(bool write, void* data, size_t size, int waitMs) {
    OVERLAPPED ov{};
    ov.hEvent = m_hIoDone;
    const DWORD count = static_cast<DWORD>(size);
    const bool done = write ? ::WriteFile(m_hPort, data, count, nullptr, &ov) != 0
                            : ::ReadFile(m_hPort, data, count, nullptr, &ov) != 0;
    if (!done) {
        if (::GetLastError() != ERROR_IO_PENDING) return -1;
        const HANDLE events[2] = {m_hIoDone, static_cast<HANDLE>(m_hInterrupt)};
        if (::WaitForMultipleObjects(2, events, FALSE, DWORD(waitMs)) != WAIT_OBJECT_0) {
            ::CancelIoEx(m_hPort, &ov);
        }
    }
    // A cancelled transfer still tells what it moved before it ended; so does one that ran
    // out of time (Wine reports the port's time-out as an error where Windows reports
    // success with fewer bytes).
    DWORD moved = 0;
    if (!::GetOverlappedResult(m_hPort, &ov, &moved, TRUE)) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_OPERATION_ABORTED && code != ERROR_TIMEOUT && code != ERROR_SEM_TIMEOUT) {
            return moved > 0 ? static_cast<int>(moved) : -1;
        }
    }
    return static_cast<int>(moved);
}

int CComPortTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (!m_hPort) return -1;
    if (size == 0) return 0;
    if (m_aheadNext == m_aheadEnd) {
        // Bytes the port holds already come in one read, a whole packet rather than its
        // header first: each read costs more than the bytes (on Wine above all).
        DWORD errors = 0;
        COMSTAT stat{};
        const size_t waiting = ::ClearCommError(m_hPort, &errors, &stat) ? stat.cbInQue : 0;
        if (waiting <= size) {
            const size_t want = std::min<size_t>(size, kQueueSize);
            // The port's own time-outs end the read: all wanted bytes, a pause of the read
            // interval after a byte, or the read total. The caller's time-out bounds the wait
            // for a read that has not got anything after its own total.
            const int totalMs = static_cast<int>(kPerByteMs * want + kTotalExtraMs);
            return Transfer(false, buffer, want,
                            std::max(timeoutMs, 0) + totalMs + int(kReadIntervalMs));
        }
        const int got = Transfer(false, m_ahead.data(), std::min(waiting, m_ahead.size()),
                                 static_cast<int>(kPerByteMs * waiting + kTotalExtraMs));
        if (got <= 0) return got;
        m_aheadNext = 0;
        m_aheadEnd = static_cast<size_t>(got);
    }
    const size_t n = std::min(size, m_aheadEnd - m_aheadNext);
    std::copy_n(m_ahead.data() + m_aheadNext, n, buffer);
    m_aheadNext += n;
    return static_cast<int>(n);
}

int CComPortTransport::Write(const uint8_t* data, size_t size) {
    if (!m_hPort) return -1;
    size_t done = 0;
    while (done < size) {
        const size_t chunk = std::min<size_t>(size - done, kQueueSize);
        // The write total time-out ends a write that flow control holds.
        const int n = Transfer(true, const_cast<uint8_t*>(data + done), chunk,
                               static_cast<int>(kPerByteMs * chunk + kTotalExtraMs) * 2);
        if (n <= 0) break;  // the line failed: what is missing brings a retransmission
        done += static_cast<size_t>(n);
        // Ten bit times a byte: when the line will have sent everything so far.
        const int rate = m_rate > 0 ? m_rate : kInitialRate;
        m_sendEnd = std::max(m_sendEnd, std::chrono::steady_clock::now()) +
                    std::chrono::microseconds(int64_t(n) * 10 * 1000000 / rate);
    }
    return done == size ? static_cast<int>(done) : -1;
}

bool CComPortTransport::ReadModemStatus(bool& cts) {
    cts = false;
    DWORD status = 0;
    if (!m_hPort || !::GetCommModemStatus(m_hPort, &status)) return false;
    cts = (status & MS_CTS_ON) != 0;
    return true;
}

int CComPortTransport::BytesWaiting() {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!m_hPort || !::ClearCommError(m_hPort, &errors, &stat)) return -1;
    return static_cast<int>(stat.cbInQue + (m_aheadEnd - m_aheadNext));
}

void CComPortTransport::Interrupt() {
    if (m_hInterrupt) ::SetEvent(m_hInterrupt);
}

}  // namespace ports
