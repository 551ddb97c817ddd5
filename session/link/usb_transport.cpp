#include "session/link/usb_transport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "session/link/usb_lookup_poll.h"

namespace ports {
namespace {

constexpr size_t kMaxWriteTransfer = 4096;
constexpr int kWriteTimeoutMs = 5000;
constexpr int kDefaultReadMs = 3000;  // a read asked to wait 0 ms
// A NetSync model that has said nothing this long after its pipes opened is sent an
// empty frame: some units only start once they hear from the desktop.
constexpr int kFirstWordMs = 1000;
constexpr uint8_t kEmptyNetSyncFrame[6] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00};

}  // namespace

// A read that claims more bytes than the buffer holds is a broken device, not data.
int CUsbTransport::Checked(int bytesRead) {
    return bytesRead > static_cast<int>(kReadBufferSize) ? kUsbErrIo : bytesRead;
}

CUsbTransport::CUsbTransport(std::unique_ptr<IUsbBackend> backend)
    : m_backend(std::move(backend)) {}

CUsbTransport::~CUsbTransport() {
    Close();
}

int CUsbTransport::Open() {
    if (m_open) return 0;
    if (!m_backend || m_backend->Init() != 0) {
        errno = ENOENT;
        return -1;
    }
    m_open = true;
    m_buffered = m_next = 0;
    m_found.reset();
    return 0;
}

void CUsbTransport::Close() {
    Forget();
    m_open = false;
}

void CUsbTransport::Interrupt() {
    m_interrupted = true;
}

void CUsbTransport::Forget() {
    if (m_device && m_found) m_device->ReleaseInterface(m_found->info.interfaceNumber);
    m_device.reset();
    m_found.reset();
    m_buffered = m_next = 0;
}

void CUsbTransport::Fail(int error, uint8_t endpoint) {
    if (error == kUsbErrPipe && m_device) m_device->ClearHalt(endpoint);
    Forget();
}

bool CUsbTransport::LookOnce() {
    for (const UsbDeviceInfo& info : m_backend->Devices()) {
        const usb::Model* model = usb::FindModel(info.vendorId, info.productId);
        if (!model) continue;
        int error = 0;
        auto device = m_backend->Open(info, &error);
        if (!device) {
            if (error == kUsbErrAccess && !m_accessReported) {
                // Once per port: the user has to act (the udev rule), the poll goes on.
                std::fprintf(stderr,
                             "usb_open: %04x:%04x (%s): no permission to open the handheld; "
                             "install packaging/60-cradlecourier.rules\n",
                             info.vendorId, info.productId, model->name);
                m_accessReported = true;
            }
            continue;  // also a device that went between the listing and the opening
        }
        usb::HotSyncPort port;
        if (usb::Initialise(*device, *model, info, port) != usb::Contact::kFound) continue;
        const auto pipes = usb::ChoosePipes(info.endpoints, port, model->pipes);
        if (!pipes) {
            if (m_unusableReported.insert(info.key).second) {
                std::fprintf(stderr,
                             "usb: %04x:%04x (%s) at %s offers no bulk endpoints for HotSync; "
                             "not taken\n",
                             info.vendorId, info.productId, model->name, info.location.c_str());
            }
            continue;
        }
        m_found = Found{info, model, *pipes};
        return true;  // the device closes here; its pipes open when the link starts
    }
    return false;
}

int CUsbTransport::LookForHandheld(int budgetMs) {
    if (!m_open) return 0;
    if (m_found) return 1;
    return PollForHandheld(budgetMs, m_interrupted, [this] { return LookOnce(); });
}

int CUsbTransport::OpenPipes() {
    const auto findFound = [this](const std::vector<UsbDeviceInfo>& devices) {
        return std::find_if(devices.begin(), devices.end(),
                            [&](const UsbDeviceInfo& d) { return d.key == m_found->info.key; });
    };
    std::vector<UsbDeviceInfo> devices = m_backend->Devices();
    auto it = findFound(devices);
    if (it == devices.end()) {
        // Some units come back at another address once their HotSync starts: look again.
        m_found.reset();
        if (!LookOnce()) return -1;
        devices = m_backend->Devices();
        it = findFound(devices);
    }
    int error = kUsbErrNoDevice;
    auto device = it == devices.end() ? nullptr : m_backend->Open(*it, &error);
    if (!device) {
        Forget();
        return -1;
    }
    const int interfaceNumber = m_found->info.interfaceNumber;
    // The kernel's USB-serial driver takes Palm handhelds; the link needs the interface.
    if (device->KernelDriverActive(interfaceNumber) &&
        (error = device->DetachKernelDriver(interfaceNumber)) != 0) {
        std::fprintf(stderr, "usb_detach: the kernel's driver holds the handheld (error %d)\n",
                     error);
        Forget();
        return -1;
    }
    if ((error = device->ClaimInterface(interfaceNumber)) != 0) {
        std::fprintf(stderr, "usb_claim: the handheld's interface is busy (error %d)\n", error);
        Forget();
        return -1;
    }
    m_device = std::move(device);
    m_buffered = m_next = 0;
    if (!m_buffer) m_buffer = std::make_unique<std::array<uint8_t, kReadBufferSize>>();
    if (m_found->model->framing == hotsync::Framing::kNetSync) {
        const int n = Checked(m_device->BulkIn(m_found->pipes.in, m_buffer->data(),
                                               static_cast<int>(m_buffer->size()), kFirstWordMs));
        if (n > 0) {
            m_buffered = static_cast<size_t>(n);
        } else if (n == 0) {
            m_device->BulkOut(m_found->pipes.out, kEmptyNetSyncFrame, sizeof kEmptyNetSyncFrame,
                              kFirstWordMs);
        } else {
            Fail(n, m_found->pipes.in);
            return -1;
        }
    }
    return 1;
}

int CUsbTransport::Connect(int timeoutMs) {
    if (!m_open) return -1;
    if (m_device) return 1;
    if (!m_found && LookForHandheld(std::max(timeoutMs, 1)) <= 0) return 0;
    return OpenPipes();
}

int CUsbTransport::Read(uint8_t* buffer, size_t size, int timeoutMs) {
    if (size == 0) return 0;
    if (!m_device && (!m_found || OpenPipes() <= 0)) return -1;
    if (m_next == m_buffered) {
        if (m_interrupted.exchange(false)) return 0;
        const int n = Checked(m_device->BulkIn(m_found->pipes.in, m_buffer->data(),
                                               static_cast<int>(m_buffer->size()),
                                               timeoutMs > 0 ? timeoutMs : kDefaultReadMs));
        if (n < 0) {
            Fail(n, m_found->pipes.in);
            return -1;
        }
        m_buffered = static_cast<size_t>(n);
        m_next = 0;
    }
    const size_t n = std::min(size, m_buffered - m_next);
    std::memcpy(buffer, m_buffer->data() + m_next, n);
    m_next += n;
    return static_cast<int>(n);
}

int CUsbTransport::Write(const uint8_t* data, size_t size) {
    if (!m_device && (!m_found || OpenPipes() <= 0)) return -1;
    size_t done = 0;
    while (done < size) {
        const int chunk = static_cast<int>(std::min(kMaxWriteTransfer, size - done));
        const int n = m_device->BulkOut(m_found->pipes.out, data + done, chunk, kWriteTimeoutMs);
        if (n != chunk) {
            Fail(n < 0 ? n : kUsbErrTimeout, m_found->pipes.out);
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(size);
}

}  // namespace ports
