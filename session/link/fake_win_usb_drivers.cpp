#include "session/link/fake_win_usb_drivers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "session/link/usb_connection_info.h"
#include "session/link/vendor_usb_transport.h"

namespace ports {
namespace {

using win::Handle;
using win::IoStatus;

IoStatus Failed(uint32_t error) {
    return {IoStatus::kFailed, 0, error};
}

uint32_t SystemErrorOf(int usbError) {
    switch (usbError) {
        case kUsbErrNoDevice:
            return win::kErrorDeviceNotConnected;
        case kUsbErrAccess:
            return win::kErrorAccessDenied;
        case kUsbErrBusy:
            return win::kErrorSharingViolation;
        case kUsbErrTimeout:
            return win::kErrorSemTimeout;
        default:
            return win::kErrorGenFailure;
    }
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The handles both fakes hand out: each an opened device of the fake bus, with the one
// transfer that may be running on it.
class CFakeHandles {
  protected:
    struct Pending {
        bool active = false, aborted = false, write = false;
        uint8_t endpoint = 0;
        uint8_t* data = nullptr;
        const uint8_t* out = nullptr;
        uint32_t length = 0;
    };
    struct Entry {
        std::unique_ptr<IUsbDevice> device;
        UsbDeviceInfo info;
        uint8_t in = 0, out = 0;  // the pipes a vendor pipe file stands for
        Pending pending;
        std::map<uint8_t, uint32_t> timeouts;
    };

  public:
    CFakeHandles(std::shared_ptr<CFakeUsbBus> bus, FakeDriverFaults faults,
                 std::shared_ptr<FakeDriverLog> log)
        : m_backend(CreateFakeUsbBackend(std::move(bus))),
          m_faults(std::move(faults)),
          m_log(log ? std::move(log) : std::make_shared<FakeDriverLog>()) {
        m_backend->Init();
    }

  protected:
    // Opens the bus's device when which(info) says the path names it.
    template <class Which>
    Handle OpenDevice(const std::string& path, uint32_t* error, Which which) {
        m_log->opened.push_back(path);
        for (const UsbDeviceInfo& info : m_backend->Devices()) {
            if (!which(info)) continue;
            int usbError = 0;
            auto device = m_backend->Open(info, &usbError);
            if (!device) {
                *error = SystemErrorOf(usbError);
                return win::kNoHandle;
            }
            device->ClaimInterface(info.interfaceNumber);
            const Handle handle = ++m_lastHandle;
            m_entries[handle] = Entry{std::move(device), info};
            ++m_log->openHandles;
            return handle;
        }
        *error = win::kErrorFileNotFound;
        return win::kNoHandle;
    }

    Entry* Find(Handle handle) {
        const auto it = m_entries.find(handle);
        return it == m_entries.end() ? nullptr : &it->second;
    }

    void CloseEntry(Handle handle) {
        const auto it = m_entries.find(handle);
        if (it == m_entries.end()) return;
        it->second.device->ReleaseInterface(it->second.info.interfaceNumber);
        m_entries.erase(it);
        --m_log->openHandles;
    }

    IoStatus Start(Handle handle, const Pending& pending) {
        Entry* e = Find(handle);
        if (!e) return Failed(win::kErrorBadCommand);
        e->pending = pending;
        e->pending.active = true;
        return {IoStatus::kPending, 0, 0};
    }

    void CancelEntry(Handle handle) {
        ++m_log->cancels;
        if (Entry* e = Find(handle)) e->pending.aborted = true;
    }

    // Runs the handle's transfer for at most waitMs. silentIsTimeout: a read that brought
    // nothing ends with the pipe's time-out (WinUSB), else it stays pending (a file read).
    IoStatus WaitEntry(Handle handle, uint32_t waitMs, bool silentIsTimeout) {
        Entry* e = Find(handle);
        if (!e || !e->pending.active) return Failed(win::kErrorBadCommand);
        Pending& p = e->pending;
        if (p.aborted && !m_faults.cancelIgnored) {
            p.active = false;
            return Failed(win::kErrorOperationAborted);
        }
        if (p.aborted || (m_faults.readsHang && !p.write)) {
            SleepMs(waitMs);
            return {IoStatus::kPending, 0, 0};
        }
        const auto told = e->timeouts.find(p.endpoint);
        const int ms =
            int(told != e->timeouts.end() && told->second > 0 ? std::min(told->second, waitMs)
                                                              : waitMs);
        const int n = p.write ? e->device->BulkOut(p.endpoint, p.out, int(p.length), ms)
                              : e->device->BulkIn(p.endpoint, p.data, int(p.length), ms);
        if (n < 0) {
            p.active = false;
            return Failed(SystemErrorOf(n));
        }
        if (n == 0 && !p.write) {
            if (!silentIsTimeout) return {IoStatus::kPending, 0, 0};
            p.active = false;
            return Failed(win::kErrorSemTimeout);
        }
        p.active = false;
        return {IoStatus::kDone, uint32_t(n) + (p.write ? 0 : m_faults.extraBytes), 0};
    }

    std::unique_ptr<IUsbBackend> m_backend;
    FakeDriverFaults m_faults;
    std::shared_ptr<FakeDriverLog> m_log;
    std::map<Handle, Entry> m_entries;
    Handle m_lastHandle = 0;
};

uint8_t FirstBulk(const std::vector<UsbEndpoint>& endpoints, bool in) {
    for (const UsbEndpoint& ep : endpoints) {
        if ((ep.attributes & kUsbTransferTypeMask) == kUsbTransferBulk &&
            ((ep.address & kUsbEndpointIn) != 0) == in) {
            return ep.address;
        }
    }
    return 0;
}

class CFakeVendorDriver final : public win::IVendorUsbDriver, private CFakeHandles {
  public:
    using CFakeHandles::CFakeHandles;

    bool LoadSetupApi() override {
        m_log->setupApiLoaded = !m_faults.libraryMissing;
        return m_log->setupApiLoaded;
    }
    void UnloadSetupApi() override { m_log->setupApiLoaded = false; }

    Handle Open(const std::string& path, uint32_t* error) override {
        const std::string device = kVendorUsbDevice;
        if (path.compare(0, device.size(), device) != 0) {
            *error = win::kErrorFileNotFound;
            m_log->opened.push_back(path);
            return win::kNoHandle;
        }
        const std::string rest = path.substr(device.size());
        if (!rest.empty() && rest != std::string("\\") + kVendorReadPipe &&
            rest != std::string("\\") + kVendorWritePipe) {
            *error = win::kErrorFileNotFound;
            m_log->opened.push_back(path);
            return win::kNoHandle;
        }
        const Handle h = OpenDevice(path, error, [](const UsbDeviceInfo&) { return true; });
        if (Entry* e = Find(h)) {
            e->in = FirstBulk(e->info.endpoints, true);
            e->out = FirstBulk(e->info.endpoints, false);
        }
        return h;
    }
    void Close(Handle handle) override { CloseEntry(handle); }

    bool IoControl(Handle handle, uint32_t code, uint8_t* buffer, uint32_t size,
                   uint32_t* returned) override {
        Entry* e = Find(handle);
        if (!e || code != kVendorConnectionInfoIoctl) return false;
        const int n = e->device->ControlIn(usb::kVendorIn, usb::kRequestConnectionInfo, 0, 0,
                                           buffer, uint16_t(std::min<uint32_t>(size, 0xFFFF)),
                                           usb::kControlTimeoutMs);
        if (n < 0) return false;
        *returned = uint32_t(n) + m_faults.extraBytes;
        return true;
    }
    IoStatus BeginRead(Handle handle, uint8_t* data, uint32_t size) override {
        Entry* e = Find(handle);
        Pending p;
        p.endpoint = e ? e->in : 0;
        p.data = data;
        p.length = size;
        return Start(handle, p);
    }
    IoStatus BeginWrite(Handle handle, const uint8_t* data, uint32_t size) override {
        Entry* e = Find(handle);
        Pending p;
        p.write = true;
        p.endpoint = e ? e->out : 0;
        p.out = data;
        p.length = size;
        return Start(handle, p);
    }
    IoStatus Wait(Handle handle, uint32_t timeoutMs) override {
        return WaitEntry(handle, timeoutMs, false);
    }
    void Cancel(Handle handle) override { CancelEntry(handle); }
};

class CFakeWinUsbDriver final : public win::IWinUsbDriver, private CFakeHandles {
  public:
    using CFakeHandles::CFakeHandles;

    bool Load() override { return !m_faults.libraryMissing; }

    std::vector<std::string> InterfacePaths() override {
        std::vector<std::string> paths = m_faults.otherPaths;
        for (const UsbDeviceInfo& info : m_backend->Devices()) paths.push_back(PathOf(info));
        return paths;
    }
    Handle Open(const std::string& path, uint32_t* error) override {
        return OpenDevice(path, error,
                          [&](const UsbDeviceInfo& info) { return PathOf(info) == path; });
    }
    void Close(Handle handle) override { CloseEntry(handle); }
    bool QueryInterface(Handle handle, int* interfaceNumber,
                        std::vector<UsbEndpoint>& endpoints) override {
        Entry* e = Find(handle);
        if (!e) return false;
        *interfaceNumber = e->info.interfaceNumber;
        endpoints = e->info.endpoints;
        return true;
    }
    bool SetPipeTimeout(Handle handle, uint8_t pipe, uint32_t timeoutMs) override {
        Entry* e = Find(handle);
        if (e) e->timeouts[pipe] = timeoutMs;
        return e != nullptr;
    }
    IoStatus Begin(Handle handle, const win::WinUsbTransfer& t) override {
        Entry* e = Find(handle);
        if (!e) return Failed(win::kErrorBadCommand);
        if (t.kind == win::WinUsbTransfer::kControl) {
            const int n = e->device->ControlIn(t.requestType, t.request, t.value, t.index, t.data,
                                               uint16_t(std::min<uint32_t>(t.length, 0xFFFF)),
                                               int(e->timeouts[0]));
            if (n < 0) return Failed(SystemErrorOf(n));
            return {IoStatus::kDone, uint32_t(n) + m_faults.extraBytes, 0};
        }
        Pending p;
        p.write = t.kind == win::WinUsbTransfer::kWrite;
        p.endpoint = t.pipe;
        p.data = t.data;
        p.out = t.data;
        p.length = t.length;
        return Start(handle, p);
    }
    IoStatus Wait(Handle handle, uint32_t timeoutMs) override {
        return WaitEntry(handle, timeoutMs, true);
    }
    void Abort(Handle handle, uint8_t) override { CancelEntry(handle); }
    bool ResetPipe(Handle handle, uint8_t pipe) override {
        Entry* e = Find(handle);
        return e && e->device->ClearHalt(pipe) == 0;
    }

  private:
    static std::string PathOf(const UsbDeviceInfo& info) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", info.vendorId, info.productId);
        return std::string("\\\\?\\usb#") + ids + "#" + info.key +
               "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    }
};

}  // namespace

std::unique_ptr<win::IVendorUsbDriver> CreateFakeVendorUsbDriver(
    std::shared_ptr<CFakeUsbBus> bus, FakeDriverFaults faults, std::shared_ptr<FakeDriverLog> log) {
    return std::make_unique<CFakeVendorDriver>(std::move(bus), std::move(faults), std::move(log));
}

std::unique_ptr<win::IWinUsbDriver> CreateFakeWinUsbDriver(std::shared_ptr<CFakeUsbBus> bus,
                                                           FakeDriverFaults faults,
                                                           std::shared_ptr<FakeDriverLog> log) {
    return std::make_unique<CFakeWinUsbDriver>(std::move(bus), std::move(faults), std::move(log));
}

}  // namespace ports
