#include "session/link/usb_handheld.h"

#include <algorithm>

namespace ports::usb {
namespace {

using hotsync::Framing;

// Known Palm OS handhelds. Vendors: 0x054C Sony, 0x081E AlphaSmart, 0x082D Handspring,
// 0x0830 Palm, 0x091E Garmin, 0x0C88 Kyocera, 0x12EF Tapwave, 0x4766 Aceeca, 0x04E8 Samsung.
constexpr Model kModels[] = {
    {0x054C, 0x0038, "Sony CLIE S series (Palm OS 3.5)", Init::kEarlyClie, Framing::kNetSync},
    {0x054C, 0x0066, "Sony CLIE T, SJ series (Palm OS 4.0)", Init::kGeneric, Framing::kNetSync},
    {0x054C, 0x0095, "Sony CLIE S360", Init::kGeneric, Framing::kNetSync},
    {0x054C, 0x000A, "Sony CLIE NR (Palm OS 4.1)", Init::kGeneric, Framing::kNetSync},
    {0x054C, 0x009A, "Sony CLIE NR70", Init::kEarlyClie, Framing::kNetSync},
    {0x054C, 0x00DA, "Sony CLIE NX", Init::kGeneric, Framing::kNetSync},
    {0x054C, 0x00E9, "Sony CLIE NZ", Init::kGeneric, Framing::kNetSync},
    {0x054C, 0x0144, "Sony CLIE UX", Init::kGeneric, Framing::kNetSync},
    {0x054C, 0x0169, "Sony CLIE TJ", Init::kEarlyClie, Framing::kNetSync},
    {0x081E, 0xDF00, "AlphaSmart Dana", Init::kGeneric, Framing::kNetSync},
    {0x082D, 0x0100, "Handspring Visor, Treo 300", Init::kConnectionInfo, Framing::kSerial},
    {0x082D, 0x0200, "Handspring Treo", Init::kGeneric, Framing::kNetSync},
    {0x082D, 0x0300, "Handspring Treo 600", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0001, "Palm m500", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0002, "Palm m505", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0003, "Palm m515", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0010, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0011, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0020, "Palm i705", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0030, "Palm Tungsten Z", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0031, "Palm Tungsten W", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0040, "Palm m125", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0050, "Palm m130", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0051, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0052, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0053, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0060, "Palm Tungsten series, Zire 71", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0061, "Palm Zire 31, 72, Z22", Init::kTapwave, Framing::kNetSync},
    {0x0830, 0x0062, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0063, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0070, "Palm Zire", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0071, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0080, "Palm m100", Init::kNone, Framing::kNetSync},
    {0x0830, 0x0099, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x0830, 0x0100, "Palm handheld", Init::kGeneric, Framing::kNetSync},
    {0x091E, 0x0004, "Garmin iQue 3600", Init::kGeneric, Framing::kNetSync},
    {0x0C88, 0x0021, "Kyocera 7135", Init::kGeneric, Framing::kNetSync},
    {0x0C88, 0xA226, "Kyocera 6035", Init::kGeneric, Framing::kNetSync},
    {0x12EF, 0x0100, "Tapwave Zodiac", Init::kTapwave, Framing::kNetSync},
    {0x4766, 0x0001, "Aceeca MEZ1000", Init::kGeneric, Framing::kNetSync},
    {0x04E8, 0x8001, "Samsung SPH-i330", Init::kGeneric, Framing::kNetSync},
};

// A control request; the bytes that came, or nothing when the device refused it.
std::optional<std::vector<uint8_t>> Ask(IUsbDevice& device, uint8_t type, uint8_t request,
                                        size_t size) {
    std::vector<uint8_t> answer(size);
    const int n =
        device.ControlIn(type, request, 0, 0, answer.data(), uint16_t(size), kControlTimeoutMs);
    if (n < 0) return std::nullopt;
    answer.resize(static_cast<size_t>(n));
    return answer;
}

// Decodes an answer of fixed layout from the bytes that arrived, the rest left zero.
template <class Layout>
Layout DecodePadded(std::span<const uint8_t> answer, size_t size) {
    std::vector<uint8_t> padded(
        answer.begin(),
        answer.begin() + static_cast<std::ptrdiff_t>(std::min(answer.size(), size)));
    padded.resize(size, 0);
    Layout layout;
    hotsync::wire::Decode(padded, layout);
    return layout;
}

std::optional<HotSyncPort> AskExtended(IUsbDevice& device, bool& refused) {
    const auto answer = Ask(device, kVendorIn, kRequestExtConnectionInfo, kExtConnectionInfoSize);
    refused = !answer;
    return answer ? FindHotSyncExtPort(*answer) : std::nullopt;
}

std::optional<HotSyncPort> AskPlain(IUsbDevice& device) {
    const auto answer = Ask(device, kVendorIn, kRequestConnectionInfo, kConnectionInfoSize);
    return answer ? FindHotSyncPort(*answer) : std::nullopt;
}

// Most models stay silent until they were asked this.
bool AskBytesAvailable(IUsbDevice& device) {
    return Ask(device, kVendorIn, kRequestBytesAvailable, 2).has_value();
}

}  // namespace

std::span<const Model> Models() {
    return kModels;
}

const Model* FindModel(uint16_t vendorId, uint16_t productId) {
    for (const Model& model : kModels) {
        if (model.vendorId == vendorId && model.productId == productId) return &model;
    }
    return nullptr;
}

std::optional<HotSyncPort> FindHotSyncPort(std::span<const uint8_t> answer) {
    constexpr size_t kCountSize = 2, kPortSize = 2;
    if (answer.size() < kCountSize) return std::nullopt;
    const auto info = DecodePadded<ConnectionInfo>(answer, kConnectionInfoSize);
    const size_t arrived = std::min(answer.size(), kConnectionInfoSize);
    const size_t count =
        std::min<size_t>({info.portCount, info.ports.size(), (arrived - kCountSize) / kPortSize});
    for (size_t i = 0; i < count; ++i) {
        if (info.ports[i].function == kFunctionHotSync) {
            return HotSyncPort{info.ports[i].port, info.ports[i].port};
        }
    }
    return std::nullopt;
}

std::optional<HotSyncPort> FindHotSyncExtPort(std::span<const uint8_t> answer) {
    constexpr size_t kHeadSize = 4, kPortSize = 8;
    if (answer.size() < kHeadSize) return std::nullopt;
    const auto info = DecodePadded<ExtConnectionInfo>(answer, kExtConnectionInfoSize);
    const size_t arrived = std::min(answer.size(), kExtConnectionInfoSize);
    const size_t count =
        std::min<size_t>({info.portCount, info.ports.size(), (arrived - kHeadSize) / kPortSize});
    for (size_t i = 0; i < count; ++i) {
        const ExtConnectionPort& port = info.ports[i];
        if (port.function != kExtFunctionHotSync) continue;
        if (info.differentEndpoints) {
            return HotSyncPort{uint8_t(port.endpoints >> 4), uint8_t(port.endpoints & 0x0F)};
        }
        return HotSyncPort{port.port, port.port};
    }
    return std::nullopt;
}

std::optional<HotSyncPort> Initialise(IUsbDevice& device, Init init) {
    std::optional<HotSyncPort> port;
    switch (init) {
        case Init::kNone:
            return HotSyncPort{};
        case Init::kEarlyClie:
            // Answers do not matter; the early models only wait to be asked.
            Ask(device, kStandardIn, kRequestGetConfiguration, 1);
            Ask(device, kStandardIn, kRequestGetInterface, 1);
            port = HotSyncPort{};
            break;
        case Init::kConnectionInfo:
            port = AskPlain(device);
            break;
        case Init::kGeneric: {
            bool refused = false;
            port = AskExtended(device, refused);
            // Older units do not know the extended form: the plain one speaks for them.
            if (refused) port = AskPlain(device);
            break;
        }
        case Init::kTapwave: {
            bool refused = false;
            port = AskExtended(device, refused);
            // Their own driver asks twice more before the unit talks.
            if (port) {
                AskExtended(device, refused);
                AskExtended(device, refused);
            }
            return port;
        }
    }
    if (!port || !AskBytesAvailable(device)) return std::nullopt;
    return port;
}

std::optional<Pipes> ChoosePipes(const std::vector<UsbEndpoint>& endpoints,
                                 const HotSyncPort& port) {
    const auto pick = [&](bool in, uint8_t number) -> std::optional<uint8_t> {
        std::optional<uint8_t> best;
        bool bestFull = false;
        for (const UsbEndpoint& ep : endpoints) {
            if ((ep.attributes & kUsbTransferTypeMask) != kUsbTransferBulk) continue;
            if (((ep.address & kUsbEndpointIn) != 0) != in) continue;
            if (number != 0 && (ep.address & kUsbEndpointNumberMask) != number) continue;
            const bool full = ep.maxPacketSize == 64;
            if (!best || (full && !bestFull)) {
                best = ep.address;
                bestFull = full;
            }
        }
        return best;
    };
    const auto in = pick(true, port.inNumber);
    const auto out = pick(false, port.outNumber);
    if (!in || !out) return std::nullopt;
    return Pipes{*in, *out};
}

}  // namespace ports::usb
