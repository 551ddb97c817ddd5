#include "session/link/usb_handheld.h"

#include <algorithm>

namespace ports::usb {
namespace {

using hotsync::Framing;

constexpr Init kGen = Init::kGeneric;
constexpr Framing kNet = Framing::kNetSync;
constexpr PipeRule kTold = PipeRule::kTold;
// Treo and Kyocera phones pair their first bulk in endpoint with the second bulk out one,
// the Sony UX50 and TH55 likewise (in on their first port, out on their second).
constexpr PipeRule kTreoPairs = PipeRule::kFirstInSecondOutIfInterrupt;

// Known Palm OS handhelds. Vendors: 0x054C Sony, 0x081E AlphaSmart, 0x082D Handspring,
// 0x0830 Palm, 0x091E Garmin, 0x0C88 Kyocera, 0x12EF Tapwave, 0x4766 Aceeca, 0x04E8 Samsung.
// The Visor and the early CLIE speak the serial protocols over USB; every other NetSync.
constexpr Model kModels[] = {
    {0x054C, 0x0038, "Sony CLIE S300, S320 (Palm OS 3.5)", Init::kEarlyClie, Framing::kSerial,
     kTold},
    {0x054C, 0x0066, "Sony CLIE T, SJ series (Palm OS 4.0)", kGen, kNet, kTold},
    {0x054C, 0x0095, "Sony CLIE S360", kGen, kNet, kTold},
    {0x054C, 0x000A, "Sony CLIE NR (Palm OS 4.1)", kGen, kNet, kTold},
    {0x054C, 0x009A, "Sony CLIE NR70", Init::kEarlyClie, kNet, kTold},
    {0x054C, 0x00DA, "Sony CLIE NX", kGen, kNet, kTold},
    {0x054C, 0x00E9, "Sony CLIE NZ", kGen, kNet, kTold},
    {0x054C, 0x0144, "Sony CLIE UX50, TH55", kGen, kNet, PipeRule::kFirstInSecondOut},
    {0x054C, 0x0169, "Sony CLIE TJ series", Init::kEarlyClie, kNet, kTold},
    {0x081E, 0xDF00, "AlphaSmart Dana", kGen, kNet, kTold},
    {0x082D, 0x0100, "Handspring Visor, Treo 300", Init::kConnectionInfo, Framing::kSerial, kTold},
    {0x082D, 0x0200, "Handspring Treo 90, 180, 270", kGen, kNet, kTreoPairs},
    {0x082D, 0x0300, "Handspring Treo 600", kGen, kNet, kTreoPairs},
    {0x0830, 0x0001, "Palm m500", kGen, kNet, kTold},
    {0x0830, 0x0002, "Palm m505", kGen, kNet, kTold},
    {0x0830, 0x0003, "Palm m515", kGen, kNet, kTold},
    {0x0830, 0x0010, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0011, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0020, "Palm i705", kGen, kNet, kTold},
    {0x0830, 0x0030, "Palm Tungsten Z", kGen, kNet, kTold},
    {0x0830, 0x0031, "Palm Tungsten W", kGen, kNet, kTold},
    {0x0830, 0x0040, "Palm m125", kGen, kNet, kTold},
    {0x0830, 0x0050, "Palm m130", kGen, kNet, kTold},
    {0x0830, 0x0051, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0052, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0053, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0060, "Palm Tungsten T, T2, T3, C, E, Zire 71", kGen, kNet, kTold},
    {0x0830, 0x0061, "Palm Zire 31, 72, Z22, Tungsten T5, T|X, E2, LifeDrive, Treo 650",
     Init::kExtThrice, kNet, kTold, true},
    {0x0830, 0x0062, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0063, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0070, "Palm Zire", kGen, kNet, kTold},
    {0x0830, 0x0071, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0080, "Palm m100", Init::kNone, kNet, kTold},
    {0x0830, 0x0099, "Palm handheld", kGen, kNet, kTold},
    {0x0830, 0x0100, "Palm handheld", kGen, kNet, kTold},
    {0x091E, 0x0004, "Garmin iQue 3600", kGen, kNet, kTold},
    {0x0C88, 0x0021, "Kyocera 7135", kGen, kNet, kTreoPairs},
    {0x0C88, 0xA226, "Kyocera 6035", kGen, kNet, kTreoPairs},
    {0x12EF, 0x0100, "Tapwave Zodiac", Init::kExtThrice, kNet, kTold},
    {0x4766, 0x0001, "Aceeca MEZ1000", kGen, kNet, kTold},
    {0x04E8, 0x8001, "Samsung SPH-i330", kGen, kNet, kTold},
};

constexpr int kPreambleTimeoutMs = 300;
constexpr int kPreambleSize = 64;
constexpr int kExtAsks = 3;

// A control request; the bytes that came, or nothing when the device refused it.
std::optional<std::vector<uint8_t>> Ask(IUsbDevice& device, uint8_t type, uint8_t request,
                                        uint16_t index, size_t size) {
    std::vector<uint8_t> answer(size);
    const int n =
        device.ControlIn(type, request, 0, index, answer.data(), uint16_t(size), kControlTimeoutMs);
    if (n < 0 || static_cast<size_t>(n) > size) return std::nullopt;
    answer.resize(static_cast<size_t>(n));
    return answer;
}

// What one extended request brings; nothing when it was refused.
std::optional<Answer> AskExtended(IUsbDevice& device, HotSyncPort& port) {
    const auto answer =
        Ask(device, kVendorIn, kRequestExtConnectionInfo, 0, kExtConnectionInfoSize);
    if (!answer) return std::nullopt;
    return DecodeExtConnectionInfo(*answer, port);
}

std::optional<Answer> AskPlain(IUsbDevice& device, HotSyncPort& port) {
    const auto answer = Ask(device, kVendorIn, kRequestConnectionInfo, 0, kConnectionInfoSize);
    if (!answer) return std::nullopt;
    return DecodeConnectionInfo(*answer, port);
}

// Units that take no vendor requests send the extended answer after "VNDR10" on an
// interrupt endpoint instead. Reading it needs the interface, which the kernel's driver may
// hold; it is given back at once.
std::optional<Answer> ReadPreamble(IUsbDevice& device, const UsbDeviceInfo& info,
                                   HotSyncPort& port) {
    const int number = info.interfaceNumber;
    if (device.KernelDriverActive(number) && device.DetachKernelDriver(number) != 0) {
        return std::nullopt;
    }
    if (device.ClaimInterface(number) != 0) return std::nullopt;
    std::optional<Answer> found;
    for (const UsbEndpoint& ep : info.endpoints) {
        if ((ep.attributes & kUsbTransferTypeMask) != kUsbTransferInterrupt ||
            (ep.address & kUsbEndpointIn) == 0) {
            continue;
        }
        uint8_t bytes[kPreambleSize] = {};
        const int n = device.InterruptIn(ep.address, bytes, kPreambleSize, kPreambleTimeoutMs);
        if (n <= 0 || n > kPreambleSize) continue;
        const Answer answer = DecodePreamble({bytes, size_t(n)}, port);
        if (answer != Answer::kNone) {
            found = answer;
            break;
        }
    }
    device.ReleaseInterface(number);
    return found;
}

// Most models stay silent until they were asked this.
bool AskBytesAvailable(IUsbDevice& device) {
    return Ask(device, kVendorIn, kRequestBytesAvailable, 0, 2).has_value();
}

Contact Found(std::optional<Answer> answer) {
    return answer == Answer::kHotSync ? Contact::kFound : Contact::kNotReady;
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

Contact Initialise(IUsbDevice& device, const Model& model, const UsbDeviceInfo& info,
                   HotSyncPort& port) {
    port = HotSyncPort{};
    Contact contact = Contact::kFound;
    switch (model.init) {
        case Init::kNone:
            return Contact::kFound;
        case Init::kEarlyClie: {
            // Answers do not matter; the early models only wait to be asked, in this order.
            const auto interfaceNumber = static_cast<uint16_t>(info.interfaceNumber);
            Ask(device, kStandardIn, kRequestGetConfiguration, 0, 1);
            Ask(device, kStandardInterfaceIn, kRequestGetInterface, interfaceNumber, 1);
            break;
        }
        case Init::kConnectionInfo:
            contact = Found(AskPlain(device, port));
            break;
        case Init::kGeneric: {
            std::optional<Answer> answer = AskExtended(device, port);
            // Older units know only the plain form; some know neither and say it unasked.
            if (!answer) answer = AskPlain(device, port);
            if (!answer) {
                answer = ReadPreamble(device, info, port);
                // Those take no vendor request at all: the one below is asked, not needed.
                if (answer == Answer::kHotSync) {
                    AskBytesAvailable(device);
                    return Contact::kFound;
                }
            }
            contact = Found(answer);
            break;
        }
        case Init::kExtThrice: {
            bool answered = false, hotSync = false;
            for (int i = 0; i < kExtAsks; ++i) {
                HotSyncPort told;
                const auto answer = AskExtended(device, told);
                if (!answer) continue;
                answered = true;
                if (*answer == Answer::kHotSync && !hotSync) {
                    hotSync = true;
                    port = told;
                }
            }
            // Not answered at all: the first bulk pair carries HotSync on these units.
            return !answered || hotSync ? Contact::kFound : Contact::kNotReady;
        }
    }
    if (contact != Contact::kFound || !AskBytesAvailable(device)) return Contact::kNotReady;
    return Contact::kFound;
}

std::optional<Pipes> ChoosePipes(const std::vector<UsbEndpoint>& endpoints, const HotSyncPort& port,
                                 PipeRule rule) {
    std::vector<UsbEndpoint> bulkIn, bulkOut;
    bool interruptIn = false;
    for (const UsbEndpoint& ep : endpoints) {
        if ((ep.address & kUsbEndpointReservedMask) != 0 ||
            (ep.address & kUsbEndpointNumberMask) == 0) {
            continue;  // no endpoint a device may have
        }
        const bool in = (ep.address & kUsbEndpointIn) != 0;
        const uint8_t type = ep.attributes & kUsbTransferTypeMask;
        if (type == kUsbTransferInterrupt && in) interruptIn = true;
        if (type != kUsbTransferBulk) continue;
        (in ? bulkIn : bulkOut).push_back(ep);
    }
    const auto byNumber = [](const std::vector<UsbEndpoint>& eps,
                             uint8_t number) -> std::optional<uint8_t> {
        for (const UsbEndpoint& ep : eps) {
            if ((ep.address & kUsbEndpointNumberMask) == number) return ep.address;
        }
        return std::nullopt;
    };
    const auto firstOf = [](const std::vector<UsbEndpoint>& eps) -> std::optional<uint8_t> {
        const auto full = std::find_if(
            eps.begin(), eps.end(), [](const UsbEndpoint& ep) { return ep.maxPacketSize == 64; });
        if (full != eps.end()) return full->address;
        if (eps.empty()) return std::nullopt;
        return eps.front().address;
    };

    std::optional<uint8_t> in, out;
    const bool pairing = rule == PipeRule::kFirstInSecondOut ||
                         (rule == PipeRule::kFirstInSecondOutIfInterrupt && interruptIn);
    if (port.Told() && !port.oneNumber) {
        in = byNumber(bulkIn, port.inNumber);
        out = byNumber(bulkOut, port.outNumber);
    } else if (pairing && !bulkIn.empty() && bulkOut.size() >= 2) {
        in = bulkIn[0].address;
        out = bulkOut[1].address;
    } else if (port.Told()) {
        in = byNumber(bulkIn, port.inNumber);
        out = byNumber(bulkOut, port.outNumber);
    } else {
        in = firstOf(bulkIn);
        out = firstOf(bulkOut);
    }
    if (!in || !out) return std::nullopt;
    return Pipes{*in, *out};
}

}  // namespace ports::usb
