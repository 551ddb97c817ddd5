#include "tests/libusb_double/libusb_double.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace usbdouble {

namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kTypeMask = 0x60;  // standard 0, class 0x20, vendor 0x40
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kGetInterface = 0x0A;
constexpr int kWaitSliceMs = 10;
constexpr unsigned kForeverMs = 60000;  // libusb's 0: no transfer in a test waits longer

struct Device {
    DeviceModel model;
    DeviceLog log;
    bool present = true;
    int generation = 1;  // a handle or listed device of another generation is of a gone device
    bool interruptSent = false;
    bool spokenTo = false;
    size_t preludeSent = 0;
    int64_t bulkBytes = 0;
    const libusb_device_handle* claimedBy = nullptr;
};

}  // namespace

struct CBus::State {
    mutable std::mutex mutex;
    std::map<int, Device> devices;
    int nextId = 1;
    int inits = 0;
    int openHandles = 0;
    int deviceRefs = 0;
    bool failInit = false;
    bool instantTimeouts = false;
};

CBus::State& BusState() {
    return *CBus::Get().m_state;
}

CBus::CBus() : m_state(std::make_shared<State>()) {}

CBus& CBus::Get() {
    static CBus bus;
    return bus;
}

void CBus::Reset() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    for (auto& [id, device] : m_state->devices) device.present = false;
    m_state->devices.clear();
    m_state->nextId = 1;
    m_state->failInit = false;
}

int CBus::Plug(DeviceModel model) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const int id = m_state->nextId++;
    Device& device = m_state->devices[id];
    device.model = std::move(model);
    return id;
}

void CBus::Unplug(int id) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->devices.find(id);
    if (it != m_state->devices.end()) it->second.present = false;
}

void CBus::Readdress(int id, uint8_t address) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->devices.find(id);
    if (it == m_state->devices.end()) return;
    Device& device = it->second;
    device.model.address = address;
    ++device.generation;
    device.present = true;
    device.claimedBy = nullptr;
    device.log.claimed = false;
    device.log.detached = false;
    device.interruptSent = false;
    device.spokenTo = false;
    device.preludeSent = 0;
}

void CBus::ArmFaults(int id, int64_t stallAfter, int64_t goneAfter, bool neverCompletes) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->devices.find(id);
    if (it == m_state->devices.end()) return;
    Device& d = it->second;
    d.model.stallAfterBytes = stallAfter > 0 ? d.bulkBytes + stallAfter : 0;
    d.model.goneAfterBytes = goneAfter > 0 ? d.bulkBytes + goneAfter : 0;
    d.model.bulkNeverCompletes = neverCompletes;
}

bool CBus::Present(int id) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->devices.find(id);
    return it != m_state->devices.end() && it->second.present;
}

uint8_t CBus::Address(int id) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->devices.find(id);
    return it == m_state->devices.end() ? 0 : it->second.model.address;
}

DeviceLog CBus::Log(int id) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const auto it = m_state->devices.find(id);
    return it == m_state->devices.end() ? DeviceLog{} : it->second.log;
}

int CBus::Inits() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->inits;
}

int CBus::OpenHandles() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->openHandles;
}

int CBus::DeviceRefs() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->deviceRefs;
}

void CBus::InstantTimeouts(bool instant) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->instantTimeouts = instant;
}

void CBus::FailInit(bool fail) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->failInit = fail;
}

}  // namespace usbdouble

// ---- the libusb objects ----------------------------------------------------------------------

struct libusb_context {
    int unused = 0;
};

struct libusb_device {
    int id = 0;
    int generation = 0;
    int refs = 1;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
    std::set<int> claimed;
};

namespace {

using namespace usbdouble;

Device* Find(int id) {
    auto& devices = BusState().devices;
    const auto it = devices.find(id);
    return it == devices.end() ? nullptr : &it->second;
}

// The device behind a handle while it is still the one that was opened.
Device* Here(const libusb_device_handle* handle) {
    Device* d = handle ? Find(handle->device->id) : nullptr;
    return d && d->present && d->generation == handle->device->generation ? d : nullptr;
}

const usbdouble::Endpoint* FindEndpoint(const usbdouble::DeviceModel& model, uint8_t address,
                                        int* interfaceNumber) {
    for (const usbdouble::Interface& intf : model.interfaces) {
        for (const usbdouble::Endpoint& ep : intf.endpoints) {
            if (ep.address != address) continue;
            *interfaceNumber = intf.number;
            return &ep;
        }
    }
    return nullptr;
}

usbdouble::Reply DefaultReply(const usbdouble::ControlRequest& request) {
    if ((request.requestType & kTypeMask) == 0 && request.request == kGetConfiguration) {
        return usbdouble::Reply::Bytes({1});
    }
    if ((request.requestType & kTypeMask) == 0 && request.request == kGetInterface) {
        return usbdouble::Reply::Bytes({0});
    }
    return usbdouble::Reply::Stall();
}

// Waits out a time-out as an idle endpoint does; NO_DEVICE when the device goes meanwhile.
int WaitOut(libusb_device_handle* handle, unsigned timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(BusState().mutex);
        if (!Here(handle)) return LIBUSB_ERROR_NO_DEVICE;
        if (BusState().instantTimeouts) return LIBUSB_ERROR_TIMEOUT;
    }
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(timeoutMs == 0 ? kForeverMs : timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard<std::mutex> lock(BusState().mutex);
            if (!Here(handle)) return LIBUSB_ERROR_NO_DEVICE;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
    }
    return LIBUSB_ERROR_TIMEOUT;
}

// How much of a transfer may move before the device goes away.
int Allowed(const Device& d, int length) {
    const int64_t gone = d.model.goneAfterBytes;
    if (gone <= 0) return length;
    return int(std::clamp<int64_t>(gone - d.bulkBytes, 1, length));
}

// Counts moved bytes; the device goes when its time has come.
void Count(Device& d, int moved) {
    d.bulkBytes += moved;
    if (d.model.goneAfterBytes > 0 && d.bulkBytes >= d.model.goneAfterBytes) d.present = false;
}

void Unref(libusb_device* device) {
    if (--device->refs > 0) return;
    --BusState().deviceRefs;
    delete device;
}

}  // namespace

// ---- the calls ---------------------------------------------------------------------------------

int LIBUSB_CALL libusb_init(libusb_context** context) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    if (BusState().failInit) return LIBUSB_ERROR_OTHER;
    ++BusState().inits;
    if (context) *context = new libusb_context;
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context* context) {
    delete context;
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context*, libusb_device*** list) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    std::vector<libusb_device*> found;
    for (auto& [id, device] : BusState().devices) {
        if (!device.present) continue;
        found.push_back(new libusb_device{id, device.generation, 1});
        ++BusState().deviceRefs;
    }
    *list = new libusb_device*[found.size() + 1];
    std::copy(found.begin(), found.end(), *list);
    (*list)[found.size()] = nullptr;
    return static_cast<ssize_t>(found.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices) {
    if (!list) return;
    std::lock_guard<std::mutex> lock(BusState().mutex);
    if (unrefDevices) {
        for (libusb_device** d = list; *d; ++d) Unref(*d);
    }
    delete[] list;
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* device) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    ++device->refs;
    return device;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* device) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Unref(device);
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* device) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    const Device* d = Find(device->id);
    return d ? d->model.bus : 0;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* device) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    const Device* d = Find(device->id);
    return d ? d->model.address : 0;
}

int LIBUSB_CALL libusb_get_port_numbers(libusb_device* device, uint8_t* ports, int length) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    const Device* d = Find(device->id);
    if (!d) return LIBUSB_ERROR_NOT_FOUND;
    const auto& path = d->model.ports;
    if (static_cast<int>(path.size()) > length) return LIBUSB_ERROR_OVERFLOW;
    std::copy(path.begin(), path.end(), ports);
    return static_cast<int>(path.size());
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* device,
                                             libusb_device_descriptor* descriptor) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    const Device* d = Find(device->id);
    if (!d) return LIBUSB_ERROR_NOT_FOUND;
    *descriptor = libusb_device_descriptor{};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->bcdUSB = 0x0110;
    descriptor->bDeviceClass = d->model.deviceClass;
    descriptor->bMaxPacketSize0 = 8;
    descriptor->idVendor = d->model.vendorId;
    descriptor->idProduct = d->model.productId;
    descriptor->bNumConfigurations = d->model.configurations;
    return 0;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* device, uint8_t index,
                                             libusb_config_descriptor** config) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    const Device* d = Find(device->id);
    if (!d || index >= d->model.configurations) return LIBUSB_ERROR_NOT_FOUND;
    const auto& interfaces = d->model.interfaces;
    auto* c = new libusb_config_descriptor{};
    c->bLength = LIBUSB_DT_CONFIG_SIZE;
    c->bDescriptorType = LIBUSB_DT_CONFIG;
    c->bNumInterfaces = uint8_t(interfaces.size());
    c->bConfigurationValue = 1;
    auto* list = new libusb_interface[interfaces.size() + 1]{};
    for (size_t i = 0; i < interfaces.size(); ++i) {
        auto* alt = new libusb_interface_descriptor{};
        alt->bLength = LIBUSB_DT_INTERFACE_SIZE;
        alt->bDescriptorType = LIBUSB_DT_INTERFACE;
        alt->bInterfaceNumber = interfaces[i].number;
        alt->bInterfaceClass = interfaces[i].interfaceClass;
        alt->bNumEndpoints = uint8_t(interfaces[i].endpoints.size());
        auto* eps = new libusb_endpoint_descriptor[interfaces[i].endpoints.size() + 1]{};
        for (size_t e = 0; e < interfaces[i].endpoints.size(); ++e) {
            eps[e].bLength = LIBUSB_DT_ENDPOINT_SIZE;
            eps[e].bDescriptorType = LIBUSB_DT_ENDPOINT;
            eps[e].bEndpointAddress = interfaces[i].endpoints[e].address;
            eps[e].bmAttributes = interfaces[i].endpoints[e].attributes;
            eps[e].wMaxPacketSize = interfaces[i].endpoints[e].maxPacketSize;
        }
        alt->endpoint = eps;
        list[i].altsetting = alt;
        list[i].num_altsetting = 1;
    }
    c->interface = list;
    *config = c;
    return 0;
}

void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor* config) {
    if (!config) return;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface_descriptor* alt = config->interface[i].altsetting;
        delete[] alt->endpoint;
        delete alt;
    }
    delete[] config->interface;
    delete config;
}

int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Device* d = Find(device->id);
    if (!d || !d->present || d->generation != device->generation) return LIBUSB_ERROR_NO_DEVICE;
    if (d->model.vanishOnOpen) {
        d->present = false;
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (d->model.accessDenied) return LIBUSB_ERROR_ACCESS;
    ++device->refs;
    *handle = new libusb_device_handle{device, {}};
    ++BusState().openHandles;
    ++d->log.opens;
    return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
    if (!handle) return;
    std::lock_guard<std::mutex> lock(BusState().mutex);
    if (Device* d = Find(handle->device->id); d && d->claimedBy == handle) {
        d->claimedBy = nullptr;
        d->log.claimed = false;
    }
    Unref(handle->device);
    --BusState().openHandles;
    delete handle;
}

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle* handle, int) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    const Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    return d->model.kernelDriver && !d->log.detached ? 1 : 0;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* handle, int) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    if (!d->model.kernelDriver || d->log.detached) return LIBUSB_ERROR_NOT_FOUND;
    if (d->model.detachRefused) return LIBUSB_ERROR_ACCESS;
    d->log.detached = true;
    return 0;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int interfaceNumber) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    const auto& interfaces = d->model.interfaces;
    if (std::none_of(interfaces.begin(), interfaces.end(),
                     [&](const usbdouble::Interface& i) { return i.number == interfaceNumber; })) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (d->model.kernelDriver && !d->log.detached) return LIBUSB_ERROR_BUSY;
    if (d->claimedBy && d->claimedBy != handle) return LIBUSB_ERROR_BUSY;
    d->claimedBy = handle;
    d->log.claimed = true;
    ++d->log.claims;
    handle->claimed.insert(interfaceNumber);
    return 0;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int interfaceNumber) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    if (!handle->claimed.erase(interfaceNumber)) return LIBUSB_ERROR_NOT_FOUND;
    Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    d->claimedBy = nullptr;
    d->log.claimed = false;
    if (d->model.readdressAfterSync) {
        // Its HotSync over, the unit leaves the bus and comes back at the next address.
        ++d->model.address;
        ++d->generation;
        d->log.detached = false;
        d->interruptSent = false;
        d->spokenTo = false;
        d->preludeSent = 0;
    }
    return 0;
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* handle, unsigned char) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    d->log.halted = false;
    ++d->log.haltsCleared;
    return 0;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType,
                                        uint8_t request, uint16_t value, uint16_t index,
                                        unsigned char* data, uint16_t length, unsigned int) {
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    const usbdouble::ControlRequest asked{requestType, request, value, index, length};
    const int nth = static_cast<int>(
        std::count_if(d->log.requests.begin(), d->log.requests.end(),
                      [&](const usbdouble::ControlRequest& r) { return r.request == request; }));
    d->log.requests.push_back(asked);
    const usbdouble::Reply reply =
        d->model.control ? d->model.control(asked, nth) : DefaultReply(asked);
    if (reply.stall) return LIBUSB_ERROR_PIPE;
    if ((requestType & kDirectionIn) == 0) return 0;
    const size_t n = std::min<size_t>(length, reply.bytes.size());
    if (n > 0) std::memcpy(data, reply.bytes.data(), n);
    return reply.overlong ? length + 16 : static_cast<int>(n);
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* moved,
                                     unsigned int timeout) {
    if (moved) *moved = 0;
    const bool in = (endpoint & kDirectionIn) != 0;
    std::shared_ptr<hotsync::ITransport> line;
    int allowed = 0;
    {
        std::lock_guard<std::mutex> lock(BusState().mutex);
        Device* d = Here(handle);
        if (!d) return LIBUSB_ERROR_NO_DEVICE;
        int interfaceNumber = -1;
        const usbdouble::Endpoint* ep = FindEndpoint(d->model, endpoint, &interfaceNumber);
        if (!ep || (ep->attributes & 0x03) != usbdouble::kBulk) return LIBUSB_ERROR_IO;
        if (!handle->claimed.count(interfaceNumber)) return LIBUSB_ERROR_IO;
        if (in && d->log.halted) return LIBUSB_ERROR_PIPE;
        if (in && d->model.stallAfterBytes > 0 && d->bulkBytes >= d->model.stallAfterBytes) {
            d->log.halted = true;
            return LIBUSB_ERROR_PIPE;
        }
        const bool pair = endpoint == (in ? d->model.hotSyncIn : d->model.hotSyncOut);
        if (!pair && !in) {
            d->log.strayOut.insert(d->log.strayOut.end(), data, data + length);
            if (moved) *moved = length;
            return 0;
        }
        const bool talking = !d->model.talking || d->model.talking(d->log.requests);
        const bool heard = !in || !d->model.waitsForDesktop || d->spokenTo;
        const bool moving = pair && talking && heard && !d->model.bulkNeverCompletes;
        allowed = Allowed(*d, length);
        if (moving && in && d->preludeSent < d->model.prelude.size()) {
            const size_t n = std::min<size_t>(static_cast<size_t>(allowed),
                                              d->model.prelude.size() - d->preludeSent);
            if (n > 0) std::memcpy(data, d->model.prelude.data() + d->preludeSent, n);
            d->preludeSent += n;
            d->log.bulkIn.insert(d->log.bulkIn.end(), data, data + n);
            Count(*d, static_cast<int>(n));
            if (moved) *moved = static_cast<int>(n);
            return 0;
        }
        if (moving) line = d->model.line;
    }
    if (!line) return WaitOut(handle, timeout);

    int n = 0;
    if (in) {
        n = line->Read(data, static_cast<size_t>(allowed),
                       static_cast<int>(timeout == 0 ? kForeverMs : timeout));
        if (n == 0) return LIBUSB_ERROR_TIMEOUT;
    } else {
        n = line->Write(data, static_cast<size_t>(allowed)) < 0 ? -1 : allowed;
    }
    std::lock_guard<std::mutex> lock(BusState().mutex);
    Device* d = Here(handle);
    if (!d) return LIBUSB_ERROR_NO_DEVICE;
    if (n < 0) {
        d->present = false;  // the handheld hung up: the unit leaves the bus
        return LIBUSB_ERROR_NO_DEVICE;
    }
    auto& log = in ? d->log.bulkIn : d->log.bulkOut;
    log.insert(log.end(), data, data + n);
    if (!in) d->spokenTo = true;
    Count(*d, n);
    if (moved) *moved = n;
    return !in && n < length ? LIBUSB_ERROR_NO_DEVICE : 0;
}

int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                          unsigned char* data, int length, int* moved,
                                          unsigned int timeout) {
    if (moved) *moved = 0;
    {
        std::lock_guard<std::mutex> lock(BusState().mutex);
        Device* d = Here(handle);
        if (!d) return LIBUSB_ERROR_NO_DEVICE;
        int interfaceNumber = -1;
        const usbdouble::Endpoint* ep = FindEndpoint(d->model, endpoint, &interfaceNumber);
        if (!ep || (ep->attributes & 0x03) != usbdouble::kInterrupt ||
            (endpoint & kDirectionIn) == 0 || !handle->claimed.count(interfaceNumber)) {
            return LIBUSB_ERROR_IO;
        }
        if (endpoint == d->model.interruptEndpoint && !d->interruptSent) {
            d->interruptSent = true;
            const int n = std::min<int>(length, static_cast<int>(d->model.interruptBytes.size()));
            if (n > 0) std::memcpy(data, d->model.interruptBytes.data(), static_cast<size_t>(n));
            if (moved) *moved = n;
            return 0;
        }
    }
    return WaitOut(handle, timeout);
}
