#include "session/link/vendor_usb_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "session/link/usb_connection_info.h"
#include "session/link/usb_lookup_poll.h"

namespace ports {
namespace {

constexpr uint32_t kDefaultReadMs = 3000;  // a read asked to wait 0 ms
constexpr uint32_t kWriteTimeoutMs = 5000;

}  // namespace

CVendorUsbTransport::CVendorUsbTransport(std::unique_ptr<win::IVendorUsbDriver> driver)
    : m_driver(std::move(driver)) {}

CVendorUsbTransport::~CVendorUsbTransport() {
    Close();
}

int CVendorUsbTransport::Open() {
    m_buffered = m_next = 0;
    m_devicePath.clear();
    if (!m_loaded) m_loaded = m_driver && m_driver->LoadSetupApi();
    if (!m_loaded) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

void CVendorUsbTransport::Close() {
    Forget();
    if (m_loaded) m_driver->UnloadSetupApi();
    m_loaded = false;
}

void CVendorUsbTransport::Forget() {
    m_devicePath.clear();
    if (m_readPipe != win::kNoHandle) m_driver->Close(m_readPipe);
    if (m_writePipe != win::kNoHandle) m_driver->Close(m_writePipe);
    m_readPipe = m_writePipe = win::kNoHandle;
    m_buffered = m_next = 0;
}

bool CVendorUsbTransport::LookOnce() {
    uint32_t error = 0;
    const win::Handle device = m_driver->Open(kVendorUsbDevice, &error);
    if (device == win::kNoHandle) return false;
    std::array<uint8_t, usb::kConnectionInfoSize> info{};
    uint32_t returned = 0;
    const bool answered = m_driver->IoControl(device, kVendorConnectionInfoIoctl, info.data(),
                                              uint32_t(info.size()), &returned);
    m_driver->Close(device);
    if (!answered) return false;
    // Only what the driver says it returned, and never past the buffer.
    const size_t size = std::min<size_t>(returned, info.size());
    if (!usb::FindHotSyncPort(std::span<const uint8_t>(info.data(), size))) return false;
    m_devicePath = kVendorUsbDevice;
    return true;
}

int CVendorUsbTransport::LookForHandheld(int budgetMs) {
    if (!m_loaded) return 0;
    if (!m_devicePath.empty()) return 1;
    return PollForHandheld(budgetMs, m_interrupted, [this] { return LookOnce(); });
}

bool CVendorUsbTransport::OpenPipes() {
    if (m_devicePath.empty()) return false;
    uint32_t error = 0;
    if (m_readPipe == win::kNoHandle) {
        m_readPipe = m_driver->Open(m_devicePath + "\\" + kVendorReadPipe, &error);
    }
    if (m_writePipe == win::kNoHandle) {
        m_writePipe = m_driver->Open(m_devicePath + "\\" + kVendorWritePipe, &error);
    }
    if (!m_buffer) m_buffer = std::make_unique<std::array<uint8_t, kReadBufferSize>>();
    return m_readPipe != win::kNoHandle && m_writePipe != win::kNoHandle;
}

int CVendorUsbTransport::Connect(int timeoutMs) {
    if (!m_loaded) return -1;
    if (m_devicePath.empty() && LookForHandheld(std::max(timeoutMs, 1)) <= 0) return 0;
    if (!OpenPipes()) {
        Forget();
        return -1;
    }
    return 1;
}

int CVendorUsbTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (size == 0) return 0;
    if (!OpenPipes()) return -1;
    if (m_next == m_buffered) {
        if (m_interrupted.exchange(false)) return 0;
        const uint32_t wait = timeoutMs > 0 ? uint32_t(timeoutMs) : kDefaultReadMs;
        const win::Handle pipe = m_readPipe;
        const win::IoStatus status = win::WaitOrCancel(
            m_driver->BeginRead(pipe, m_buffer->data(), uint32_t(m_buffer->size())), wait,
            [&](uint32_t ms) { return m_driver->Wait(pipe, ms); }, [&] { m_driver->Cancel(pipe); });
        if (status.state == win::IoStatus::kFailed && status.error == win::kErrorSemTimeout) {
            return 0;
        }
        // A read that would not end (closing the pipe ends it), that failed, or that claims
        // more than the buffer holds: the device is given up.
        if (status.state != win::IoStatus::kDone || status.transferred > m_buffer->size()) {
            Forget();
            return -1;
        }
        m_buffered = status.transferred;
        m_next = 0;
    }
    const size_t n = std::min(size, m_buffered - m_next);
    std::memcpy(buffer, m_buffer->data() + m_next, n);
    m_next += n;
    return static_cast<int>(n);
}

int CVendorUsbTransport::Write(const uint8_t* data, size_t size) {
    if (!OpenPipes()) return -1;
    size_t done = 0;
    while (done < size) {
        const auto chunk = uint32_t(size - done);
        const win::Handle pipe = m_writePipe;
        const win::IoStatus status = win::WaitOrCancel(
            m_driver->BeginWrite(pipe, data + done, chunk), kWriteTimeoutMs,
            [&](uint32_t ms) { return m_driver->Wait(pipe, ms); }, [&] { m_driver->Cancel(pipe); });
        if (status.state == win::IoStatus::kPending) {
            Forget();  // the write would not end: the pipe is closed under it
            return -1;
        }
        if (status.state != win::IoStatus::kDone || status.transferred == 0 ||
            status.transferred > chunk) {
            return -1;
        }
        done += status.transferred;
    }
    return static_cast<int>(size);
}

}  // namespace ports
