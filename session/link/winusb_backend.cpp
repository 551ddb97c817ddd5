#include "session/link/winusb_backend.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "session/link/usb_handheld.h"

namespace ports {
namespace {

using win::Handle;
using win::IoStatus;
using win::IWinUsbDriver;
using win::WinUsbTransfer;

// The driver's own time-out ends a transfer first; ours only stands in when it does not.
constexpr uint32_t kBackstopMs = 100;

std::optional<uint16_t> HexAfter(const std::string& lower, const char* tag) {
    const size_t at = lower.find(tag);
    const size_t start = at + std::strlen(tag);
    if (at == std::string::npos || start + 4 > lower.size()) return std::nullopt;
    uint16_t value = 0;
    for (size_t i = start; i < start + 4; ++i) {
        const char c = lower[i];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = uint16_t(value << 4 | (c <= '9' ? c - '0' : c - 'a' + 10));
    }
    // "vid_08301" is no id of four digits.
    if (start + 4 < lower.size() && std::isxdigit(static_cast<unsigned char>(lower[start + 4]))) {
        return std::nullopt;
    }
    return value;
}

class CWinUsbDevice final : public IUsbDevice {
  public:
    CWinUsbDevice(std::shared_ptr<IWinUsbDriver> driver, Handle handle)
        : m_driver(std::move(driver)), m_handle(handle) {}
    ~CWinUsbDevice() override { m_driver->Close(m_handle); }
    CWinUsbDevice(const CWinUsbDevice&) = delete;
    CWinUsbDevice& operator=(const CWinUsbDevice&) = delete;

    int ControlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                  uint8_t* data, uint16_t length, int timeoutMs) override {
        WinUsbTransfer t;
        t.kind = WinUsbTransfer::kControl;
        t.requestType = requestType;
        t.request = request;
        t.value = value;
        t.index = index;
        const int n = Transfer(t, length, timeoutMs);
        if (n > 0) std::memcpy(data, m_buffer.data(), size_t(n));
        // A control request that timed out was not answered: as refused.
        return n == 0 && m_timedOut ? kUsbErrTimeout : n;
    }
    // WinUSB is the device's driver: nothing to take the interface from, nothing to claim.
    bool KernelDriverActive(int) override { return false; }
    int DetachKernelDriver(int) override { return 0; }
    int ClaimInterface(int) override { return m_broken ? kUsbErrNoDevice : 0; }
    void ReleaseInterface(int) override {}
    int BulkIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) override {
        return In(endpoint, data, length, timeoutMs);
    }
    int InterruptIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) override {
        return In(endpoint, data, length, timeoutMs);
    }
    int BulkOut(uint8_t endpoint, const uint8_t* data, int length, int timeoutMs) override {
        if (length < 0) return kUsbErrIo;
        WinUsbTransfer t;
        t.kind = WinUsbTransfer::kWrite;
        t.pipe = endpoint;
        m_buffer.assign(data, data + length);
        return Transfer(t, uint32_t(length), timeoutMs);
    }
    int ClearHalt(uint8_t endpoint) override {
        if (m_broken) return kUsbErrNoDevice;
        return m_driver->ResetPipe(m_handle, endpoint) ? 0 : kUsbErrIo;
    }

  private:
    int In(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) {
        if (length < 0) return kUsbErrIo;
        WinUsbTransfer t;
        t.kind = WinUsbTransfer::kRead;
        t.pipe = endpoint;
        const int n = Transfer(t, uint32_t(length), timeoutMs);
        if (n > 0) std::memcpy(data, m_buffer.data(), size_t(n));
        return n;
    }

    // One transfer through our own buffer (a transfer the driver never ends may still write
    // it, so it lives as long as the handle). The bytes moved, or our error.
    int Transfer(WinUsbTransfer t, uint32_t length, int timeoutMs) {
        m_timedOut = false;
        if (m_broken) return kUsbErrNoDevice;
        if (t.kind != WinUsbTransfer::kWrite) m_buffer.assign(length, 0);
        t.data = m_buffer.data();
        t.length = length;
        const uint8_t pipe = t.kind == WinUsbTransfer::kControl ? 0 : t.pipe;
        const auto ms = static_cast<uint32_t>(std::max(timeoutMs, 1));
        const auto told = m_timeouts.find(pipe);
        if (told == m_timeouts.end() || told->second != ms) {
            if (m_driver->SetPipeTimeout(m_handle, pipe, ms)) m_timeouts[pipe] = ms;
        }
        const IoStatus status = win::WaitOrCancel(
            m_driver->Begin(m_handle, t), ms + kBackstopMs,
            [&](uint32_t wait) { return m_driver->Wait(m_handle, wait); },
            [&] { m_driver->Abort(m_handle, pipe); });
        switch (status.state) {
            case IoStatus::kDone:
                // More than was asked for is a broken driver, not data.
                return status.transferred <= length ? int(status.transferred) : kUsbErrIo;
            case IoStatus::kPending:
                m_broken = true;  // it would not even be cancelled
                return kUsbErrNoDevice;
            case IoStatus::kFailed:
                break;
        }
        if (status.error == win::kErrorSemTimeout) {
            m_timedOut = true;
            return 0;
        }
        const int error = UsbErrorOfSystem(status.error);
        if (error == kUsbErrNoDevice) m_broken = true;
        return error;
    }

    std::shared_ptr<IWinUsbDriver> m_driver;
    Handle m_handle;
    std::vector<uint8_t> m_buffer;
    std::map<uint8_t, uint32_t> m_timeouts;  // as last set, per pipe
    bool m_broken = false;
    bool m_timedOut = false;
};

class CWinUsbBackend final : public IUsbBackend {
  public:
    explicit CWinUsbBackend(std::unique_ptr<IWinUsbDriver> driver) : m_driver(std::move(driver)) {}

    int Init() override {
        if (!m_loaded) m_loaded = m_driver && m_driver->Load();
        return m_loaded ? 0 : kUsbErrNoDevice;
    }

    // Only handhelds of the model table are opened (to read their endpoints); nothing else
    // on the bus is touched.
    std::vector<UsbDeviceInfo> Devices() override {
        std::vector<UsbDeviceInfo> out;
        if (!m_loaded) return out;
        std::map<std::string, Interface> seen;
        for (const std::string& path : m_driver->InterfacePaths()) {
            const auto ids = UsbIdsOfPath(path);
            if (!ids || !usb::FindModel(ids->vendorId, ids->productId)) continue;
            auto known = m_interfaces.find(path);
            if (known == m_interfaces.end()) {
                Interface found;
                if (!Query(path, found)) continue;
                known = m_interfaces.emplace(path, std::move(found)).first;
            }
            seen.insert(*known);
            UsbDeviceInfo info;
            info.key = info.location = path;
            info.vendorId = ids->vendorId;
            info.productId = ids->productId;
            info.interfaceNumber = known->second.number;
            info.endpoints = known->second.endpoints;
            out.push_back(std::move(info));
        }
        m_interfaces = std::move(seen);  // a device that went is asked again when it comes
        return out;
    }

    std::unique_ptr<IUsbDevice> Open(const UsbDeviceInfo& device, int* error) override {
        *error = kUsbErrNoDevice;
        if (!m_loaded) return nullptr;
        uint32_t systemError = 0;
        const Handle handle = m_driver->Open(device.key, &systemError);
        if (handle == win::kNoHandle) {
            // WinUSB gives a device to one program at a time: denied means held.
            *error = UsbErrorOfSystem(systemError);
            if (*error == kUsbErrAccess) *error = kUsbErrBusy;
            return nullptr;
        }
        return std::make_unique<CWinUsbDevice>(m_driver, handle);
    }

  private:
    struct Interface {
        int number = 0;
        std::vector<UsbEndpoint> endpoints;
    };

    bool Query(const std::string& path, Interface& found) {
        uint32_t systemError = 0;
        const Handle handle = m_driver->Open(path, &systemError);
        if (handle == win::kNoHandle) return false;
        const bool ok = m_driver->QueryInterface(handle, &found.number, found.endpoints);
        m_driver->Close(handle);
        return ok;
    }

    std::shared_ptr<IWinUsbDriver> m_driver;
    bool m_loaded = false;
    std::map<std::string, Interface> m_interfaces;  // by path, while it is present
};

}  // namespace

std::optional<UsbIds> UsbIdsOfPath(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const auto vendor = HexAfter(lower, "vid_");
    const auto product = HexAfter(lower, "pid_");
    if (!vendor || !product) return std::nullopt;
    return UsbIds{*vendor, *product};
}

int UsbErrorOfSystem(uint32_t error) {
    switch (error) {
        case win::kErrorAccessDenied:
            return kUsbErrAccess;
        case win::kErrorSharingViolation:
            return kUsbErrBusy;
        case win::kErrorFileNotFound:
        case win::kErrorPathNotFound:
        case win::kErrorBadCommand:
        case win::kErrorNoSuchDevice:
        case win::kErrorDeviceNotConnected:
            return kUsbErrNoDevice;
        case win::kErrorGenFailure:
            return kUsbErrPipe;
        case win::kErrorSemTimeout:
            return kUsbErrTimeout;
        default:
            return kUsbErrIo;
    }
}

std::unique_ptr<IUsbBackend> CreateWinUsbBackend(std::unique_ptr<win::IWinUsbDriver> driver) {
    return std::make_unique<CWinUsbBackend>(std::move(driver));
}

}  // namespace ports
