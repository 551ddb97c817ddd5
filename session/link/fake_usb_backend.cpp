#include "session/link/fake_usb_backend.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace ports {

struct CFakeUsbBus::State {
    mutable std::mutex mutex;
    bool plugged = false;
    int generation = 0;  // a replugged device is another device
    FakeUsbDevice device;
    std::shared_ptr<hotsync::ITransport> line;
    std::vector<uint8_t> requests;
    bool detached = false;
    bool claimed = false;
    int opens = 0;
    int64_t bulkBytes = 0;
    std::vector<uint8_t> outBytes;
};

namespace {

constexpr size_t kOutBytesKept = 64 * 1024;

std::string KeyOf(int generation) {
    return "fake:" + std::to_string(generation);
}

class CFakeDevice final : public IUsbDevice {
  public:
    CFakeDevice(std::shared_ptr<CFakeUsbBus::State> state, int generation)
        : m_state(std::move(state)), m_generation(generation) {}

    int ControlIn(uint8_t, uint8_t request, uint16_t, uint16_t, uint8_t* data, uint16_t length,
                  int) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!Here()) return kUsbErrNoDevice;
        m_state->requests.push_back(request);
        const auto it = m_state->device.answers.find(request);
        if (it == m_state->device.answers.end()) return kUsbErrPipe;
        const size_t n = std::min<size_t>(length, it->second.size());
        std::copy_n(it->second.begin(), n, data);
        return static_cast<int>(n);
    }
    bool KernelDriverActive(int) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return Here() && m_state->device.kernelDriverActive && !m_state->detached;
    }
    int DetachKernelDriver(int) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!Here()) return kUsbErrNoDevice;
        m_state->detached = true;
        return 0;
    }
    int ClaimInterface(int) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!Here()) return kUsbErrNoDevice;
        if (m_state->device.kernelDriverActive && !m_state->detached) return kUsbErrBusy;
        m_state->claimed = true;
        return 0;
    }
    void ReleaseInterface(int) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->claimed = false;
    }
    int BulkIn(uint8_t endpoint, uint8_t* data, int length, int timeoutMs) override {
        std::shared_ptr<hotsync::ITransport> line;
        size_t allowed = 0;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            const int check = Check(endpoint, true);
            if (check != 0) return check;
            const FakeUsbDevice& d = m_state->device;
            if (d.stallAfterBytes > 0 && m_state->bulkBytes >= d.stallAfterBytes) {
                return kUsbErrPipe;
            }
            if (!d.mute) line = m_state->line;
            allowed = Allowed(size_t(length));
        }
        if (!line) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 50)));
            return 0;
        }
        const int n = line->Read(data, allowed, timeoutMs);
        return Count(n);
    }
    int BulkOut(uint8_t endpoint, const uint8_t* data, int length, int) override {
        std::shared_ptr<hotsync::ITransport> line;
        size_t allowed = 0;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            const int check = Check(endpoint, false);
            if (check != 0) return check;
            line = m_state->line;
            allowed = Allowed(size_t(length));
            const size_t keep = std::min(
                allowed, kOutBytesKept - std::min(kOutBytesKept, m_state->outBytes.size()));
            m_state->outBytes.insert(m_state->outBytes.end(), data, data + keep);
        }
        const int n = line->Write(data, allowed) < 0 ? -1 : static_cast<int>(allowed);
        return Count(n);
    }
    int InterruptIn(uint8_t, uint8_t*, int, int) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return Here() ? 0 : kUsbErrNoDevice;
    }
    int ClearHalt(uint8_t) override { return 0; }

  private:
    bool Here() const { return m_state->plugged && m_state->generation == m_generation; }

    // 0 when a bulk transfer may go on this endpoint, else the error it meets.
    int Check(uint8_t endpoint, bool in) const {
        if (!Here()) return kUsbErrNoDevice;
        if (!m_state->claimed) return kUsbErrIo;
        const auto& eps = m_state->device.endpoints;
        const bool known = std::any_of(eps.begin(), eps.end(), [&](const UsbEndpoint& ep) {
            return ep.address == endpoint &&
                   (ep.attributes & kUsbTransferTypeMask) == kUsbTransferBulk &&
                   ((endpoint & kUsbEndpointIn) != 0) == in;
        });
        return known ? 0 : kUsbErrPipe;
    }

    // How much of a transfer may move before the device goes away.
    size_t Allowed(size_t length) const {
        const int64_t gone = m_state->device.goneAfterBytes;
        if (gone <= 0) return length;
        return size_t(std::clamp<int64_t>(gone - m_state->bulkBytes, 1, int64_t(length)));
    }

    // Counts moved bytes; the device goes when its time has come or the handheld left.
    int Count(int moved) {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!Here()) return kUsbErrNoDevice;
        if (moved < 0) {
            m_state->plugged = false;
            return kUsbErrNoDevice;
        }
        m_state->bulkBytes += moved;
        const int64_t gone = m_state->device.goneAfterBytes;
        if (gone > 0 && m_state->bulkBytes >= gone) m_state->plugged = false;
        return moved;
    }

    std::shared_ptr<CFakeUsbBus::State> m_state;
    int m_generation;
};

class CFakeBackend final : public IUsbBackend {
  public:
    explicit CFakeBackend(std::shared_ptr<CFakeUsbBus::State> state) : m_state(std::move(state)) {}

    int Init() override { return 0; }

    std::vector<UsbDeviceInfo> Devices() override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->plugged) return {};
        const FakeUsbDevice& d = m_state->device;
        return {UsbDeviceInfo{KeyOf(m_state->generation), "1-1", d.vendorId, d.productId, 0,
                              d.endpoints}};
    }

    std::unique_ptr<IUsbDevice> Open(const UsbDeviceInfo& device, int* error) override {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        *error = kUsbErrNoDevice;
        if (!m_state->plugged || device.key != KeyOf(m_state->generation)) return nullptr;
        if (m_state->device.accessDenied) {
            *error = kUsbErrAccess;
            return nullptr;
        }
        ++m_state->opens;
        return std::make_unique<CFakeDevice>(m_state, m_state->generation);
    }

  private:
    std::shared_ptr<CFakeUsbBus::State> m_state;
};

}  // namespace

FakeUsbDevice& FakeUsbDevice::WithConnectionInfo(const std::vector<usb::ConnectionPort>& ports) {
    usb::ConnectionInfo info;
    info.portCount = uint16_t(ports.size());
    std::copy_n(ports.begin(), std::min(ports.size(), info.ports.size()), info.ports.begin());
    std::vector<uint8_t> bytes = hotsync::wire::Encode(info);
    bytes.resize(std::min(bytes.size(), 2 + 2 * ports.size()));
    answers[usb::kRequestConnectionInfo] = bytes;
    return *this;
}

FakeUsbDevice& FakeUsbDevice::WithExtConnectionInfo(uint8_t in, uint8_t out,
                                                    std::array<uint8_t, 4> function) {
    usb::ExtConnectionInfo info;
    info.portCount = 1;
    info.differentEndpoints = in != out ? 1 : 0;
    info.ports[0].function = function;
    info.ports[0].port = in != out ? 0 : in;
    info.ports[0].endpoints = in != out ? uint8_t(in << 4 | (out & 0x0F)) : 0;
    std::vector<uint8_t> bytes = hotsync::wire::Encode(info);
    bytes.resize(4 + 8);  // the one port
    answers[usb::kRequestExtConnectionInfo] = bytes;
    return *this;
}

FakeUsbDevice& FakeUsbDevice::WithBytesAvailable() {
    answers[usb::kRequestBytesAvailable] = {0x00, 0x01};
    return *this;
}

CFakeUsbBus::CFakeUsbBus() : m_state(std::make_shared<State>()) {}

void CFakeUsbBus::Plug(FakeUsbDevice device, std::unique_ptr<hotsync::ITransport> line) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->device = std::move(device);
    m_state->line = std::move(line);
    m_state->plugged = true;
    ++m_state->generation;
    m_state->detached = false;
    m_state->claimed = false;
    m_state->bulkBytes = 0;
}

void CFakeUsbBus::Unplug() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->plugged = false;
}

std::vector<uint8_t> CFakeUsbBus::ControlRequests() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->requests;
}

bool CFakeUsbBus::DriverDetached() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->detached;
}

bool CFakeUsbBus::Claimed() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->claimed;
}

int CFakeUsbBus::Opens() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->opens;
}

std::vector<uint8_t> CFakeUsbBus::BulkOutBytes() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->outBytes;
}

std::unique_ptr<IUsbBackend> CreateFakeUsbBackend(std::shared_ptr<CFakeUsbBus> bus) {
    return std::make_unique<CFakeBackend>(bus->m_state);
}

}  // namespace ports
