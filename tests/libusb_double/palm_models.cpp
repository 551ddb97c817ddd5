#include "tests/libusb_double/palm_models.h"

#include <algorithm>

namespace usbdouble::palm {
namespace {

using hotsync::Framing;

constexpr uint8_t kVendorRequestType = 0x40;
constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kBytesAvailable = 0x01;
constexpr uint8_t kConnectionInfo = 0x03;
constexpr uint8_t kExtConnectionInfo = 0x04;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kGetInterface = 0x0A;

Endpoint BulkIn(uint8_t number) {
    return {uint8_t(0x80 | number), kBulk, 64};
}
Endpoint BulkOut(uint8_t number) {
    return {number, kBulk, 64};
}
Endpoint InterruptIn(uint8_t number) {
    return {uint8_t(0x80 | number), kInterrupt, 16};
}

// Two ports, as most units have: endpoints 1 and 2 both ways.
std::vector<Interface> TwoPorts() {
    return {{0, 0xFF, {BulkIn(1), BulkOut(1), BulkIn(2), BulkOut(2)}}};
}

bool IsVendor(const ControlRequest& r) {
    return (r.requestType & kTypeMask) == kVendorRequestType;
}

bool Asked(const std::vector<ControlRequest>& asked, uint8_t request) {
    return std::any_of(asked.begin(), asked.end(),
                       [&](const ControlRequest& r) { return r.request == request; });
}

DeviceModel Palm(uint16_t product, uint8_t address) {
    DeviceModel m;
    m.vendorId = 0x0830;
    m.productId = product;
    m.address = address;
    m.interfaces = TwoPorts();
    return m;
}

// Answers: the standard ones as any device does, the vendor ones from the table.
std::function<Reply(const ControlRequest&, int)> Answers(
    std::function<Reply(uint8_t request, int nth)> vendor) {
    return [vendor](const ControlRequest& r, int nth) {
        if (!IsVendor(r)) {
            if (r.request == kGetConfiguration) return Reply::Bytes({1});
            if (r.request == kGetInterface) return Reply::Bytes({0});
            return Reply::Stall();
        }
        return vendor(r.request, nth);
    };
}

Reply BytesAvailable() {
    return Reply::Bytes({0x00, 0x01});  // "always 1", as the units answer
}

// The usual unit's answers: HotSync as this port in the extended form, the bytes available.
std::function<Reply(const ControlRequest&, int)> ExtPortAnswers(uint8_t port) {
    return Answers([port](uint8_t request, int) {
        if (request == kExtConnectionInfo) return Reply::Bytes(ExtInfoOnePort(port));
        if (request == kBytesAvailable) return BytesAvailable();
        return Reply::Stall();
    });
}

}  // namespace

std::vector<uint8_t> ExtInfoOnePort(uint8_t port) {
    // Two functions: the console on port 1, HotSync on the port given; endpoints alike.
    return {2, 0, 0, 0, 'l', 'n', 'o', 'c', 1, 0, 0, 0, 'c', 'n', 'y', 's', port, 0, 0, 0};
}

std::vector<uint8_t> ExtInfoTwoEndpoints(uint8_t in, uint8_t out) {
    return {1, 1, 0, 0, 'c', 'n', 'y', 's', 0, uint8_t(in << 4 | out), 0, 0};
}

std::vector<uint8_t> PlainInfo(uint8_t hotSyncPort) {
    return {2, 0, 0, 1, 2, hotSyncPort};  // count (little-endian), generic on 1, HotSync
}

Family Tungsten() {
    DeviceModel m = Palm(0x0060, 11);
    m.control = ExtPortAnswers(2);
    m.talking = [](const std::vector<ControlRequest>& asked) {
        return Asked(asked, kBytesAvailable);
    };
    return {"Tungsten T", m, Framing::kNetSync};
}

Family Visor() {
    DeviceModel m = Palm(0x0100, 12);
    m.vendorId = 0x082D;
    m.control = Answers([](uint8_t request, int) {
        if (request == kConnectionInfo) return Reply::Bytes(PlainInfo(2));
        if (request == kBytesAvailable) return BytesAvailable();
        return Reply::Stall();
    });
    m.talking = [](const std::vector<ControlRequest>& asked) {
        return Asked(asked, kConnectionInfo) && Asked(asked, kBytesAvailable);
    };
    m.kernelDriver = true;  // the visor driver takes it
    return {"Handspring Visor", m, Framing::kSerial};
}

Family ClieS300() {
    DeviceModel m = Palm(0x0038, 13);
    m.vendorId = 0x054C;
    m.interfaces = {{0, 0xFF, {BulkIn(1), BulkOut(2)}}};
    m.hotSyncIn = 0x81;
    m.hotSyncOut = 0x02;
    m.control = Answers([](uint8_t request, int) {
        return request == kBytesAvailable ? BytesAvailable() : Reply::Stall();
    });
    // Both standard requests, in this order, before any vendor request.
    m.talking = [](const std::vector<ControlRequest>& asked) {
        bool configuration = false, interface = false;
        for (const ControlRequest& r : asked) {
            if (IsVendor(r)) return configuration && interface;
            if (r.request == kGetConfiguration) configuration = true;
            if (r.request == kGetInterface && configuration) interface = true;
        }
        return configuration && interface;
    };
    return {"Sony CLIE S300", m, Framing::kSerial};
}

Family ClieTj() {
    Family f = ClieS300();
    f.name = "Sony CLIE TJ25";
    f.model.productId = 0x0169;
    f.model.address = 14;
    f.framing = Framing::kNetSync;
    return f;
}

Family Treo90() {
    DeviceModel m = Palm(0x0200, 15);
    m.vendorId = 0x082D;
    m.interfaces = {{0, 0xFF, {BulkIn(1), BulkOut(1), InterruptIn(2), BulkOut(2)}}};
    m.hotSyncIn = 0x81;
    m.hotSyncOut = 0x02;
    m.control = Answers([](uint8_t, int) { return Reply::Stall(); });
    m.interruptEndpoint = 0x82;
    m.interruptBytes = {'V', 'N', 'D', 'R', '1', '0'};
    const auto info = ExtInfoTwoEndpoints(1, 2);
    m.interruptBytes.insert(m.interruptBytes.end(), info.begin(), info.end());
    m.kernelDriver = true;
    return {"Handspring Treo 90", m, Framing::kNetSync};
}

Family Treo600() {
    DeviceModel m = Palm(0x0300, 16);
    m.vendorId = 0x082D;
    m.interfaces = {{0, 0xFF, {BulkIn(1), BulkOut(1), InterruptIn(3), BulkIn(2), BulkOut(2)}}};
    m.hotSyncIn = 0x81;
    m.hotSyncOut = 0x02;
    m.control = ExtPortAnswers(2);
    return {"Handspring Treo 600", m, Framing::kNetSync};
}

Family Kyocera7135() {
    Family f = Treo600();
    f.name = "Kyocera 7135";
    f.model.vendorId = 0x0C88;
    f.model.productId = 0x0021;
    f.model.address = 17;
    return f;
}

Family Ux50() {
    DeviceModel m = Palm(0x0144, 18);
    m.vendorId = 0x054C;
    m.hotSyncIn = 0x81;
    m.hotSyncOut = 0x02;
    m.control = ExtPortAnswers(2);
    return {"Sony CLIE UX50", m, Framing::kNetSync};
}

Family Zire72() {
    DeviceModel m = Palm(0x0061, 19);
    m.control = Answers([](uint8_t request, int nth) {
        if (request == kExtConnectionInfo && nth >= 1) return Reply::Bytes(ExtInfoOnePort(2));
        return Reply::Stall();
    });
    m.talking = [](const std::vector<ControlRequest>& asked) {
        return !Asked(asked, kBytesAvailable);  // asked that, it hangs
    };
    return {"Palm Zire 72", m, Framing::kNetSync};
}

Family TungstenTx() {
    DeviceModel m = Palm(0x0061, 20);
    m.hotSyncIn = 0x81;
    m.hotSyncOut = 0x01;
    m.control = Answers([](uint8_t, int) { return Reply::Stall(); });
    m.readdressAfterSync = true;
    return {"Palm Tungsten T|X", m, Framing::kNetSync};
}

Family Treo650() {
    DeviceModel m = Palm(0x0061, 21);
    m.control = Answers([](uint8_t request, int) {
        if (request == kExtConnectionInfo) return Reply::Bytes(ExtInfoOnePort(2));
        return Reply::Stall();
    });
    return {"Palm Treo 650", m, Framing::kNetSync};
}

Family Zodiac() {
    DeviceModel m = Palm(0x0100, 22);
    m.vendorId = 0x12EF;
    m.control = Answers([](uint8_t request, int) {
        if (request == kExtConnectionInfo) return Reply::Bytes(ExtInfoOnePort(2));
        return Reply::Stall();
    });
    m.talking = [](const std::vector<ControlRequest>& asked) {
        return std::count_if(asked.begin(), asked.end(), [](const ControlRequest& r) {
                   return r.request == kExtConnectionInfo;
               }) >= 3;
    };
    return {"Tapwave Zodiac", m, Framing::kNetSync};
}

Family M100() {
    DeviceModel m = Palm(0x0080, 23);
    m.interfaces = {{0, 0xFF, {BulkIn(2), BulkOut(2)}}};
    m.control = Answers([](uint8_t, int) { return Reply::Stall(); });
    return {"Palm m100", m, Framing::kNetSync};
}

Family TungstenT2() {
    Family f = Tungsten();
    f.name = "Tungsten T2";
    f.model.address = 24;
    // The network HotSync announcement (magic, request, then address, netmask and name)
    // with the bytes of its magic the other way round.
    f.model.prelude = {0xDE, 0xFA, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 'T', '2', 0};
    return f;
}

DeviceModel Hub(uint8_t bus, uint8_t address, std::vector<uint8_t> ports) {
    DeviceModel m;
    m.bus = bus;
    m.address = address;
    m.ports = std::move(ports);
    m.vendorId = 0x05E3;
    m.productId = 0x0608;
    m.deviceClass = 9;
    m.interfaces = {{0, 9, {InterruptIn(1)}}};
    m.hotSyncIn = m.hotSyncOut = 0;
    return m;
}

std::vector<Family> AllFamilies() {
    return {Tungsten(), Visor(),  ClieS300(),   ClieTj(),  Treo90(), Treo600(), Kyocera7135(),
            Ux50(),     Zire72(), TungstenTx(), Treo650(), Zodiac(), M100(),    TungstenT2()};
}

}  // namespace usbdouble::palm
