// What the desktop knows about USB handhelds: the models by vendor and product id, the
// control requests they answer, the layouts of their connection information, and how the
// HotSync function and its bulk endpoints are found on a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hotsync/transport.h"
#include "hotsync/wire.h"
#include "session/link/usb_backend.h"

namespace ports::usb {

// How a model is brought to talk before its HotSync function can be used.
enum class Init {
    kNone,            // it talks at once
    kGeneric,         // extended connection information (else the plain form), bytes available
    kConnectionInfo,  // the plain connection information, bytes available
    kEarlyClie,       // the standard configuration and interface requests, bytes available
    kTapwave,         // extended connection information three times, nothing else
};

struct Model {
    uint16_t vendorId;
    uint16_t productId;
    const char* name;
    Init init;
    // What the model is known to speak; its first bytes decide (hotsync/framing.h).
    hotsync::Framing framing;
};

std::span<const Model> Models();
const Model* FindModel(uint16_t vendorId, uint16_t productId);

// ---- control requests ----------------------------------------------------------------------

constexpr uint8_t kVendorIn = 0xC2;    // device to host, vendor request, recipient endpoint
constexpr uint8_t kStandardIn = 0x80;  // device to host, standard request, recipient device
constexpr uint8_t kRequestBytesAvailable = 0x01;     // answer: u16, bytes waiting (not used)
constexpr uint8_t kRequestConnectionInfo = 0x03;     // answer: ConnectionInfo
constexpr uint8_t kRequestExtConnectionInfo = 0x04;  // answer: ExtConnectionInfo
constexpr uint8_t kRequestGetConfiguration = 0x08;   // standard
constexpr uint8_t kRequestGetInterface = 0x0A;       // standard
constexpr int kControlTimeoutMs = 1000;

// Port functions of the plain connection information.
constexpr uint8_t kFunctionGeneric = 0;
constexpr uint8_t kFunctionDebugger = 1;
constexpr uint8_t kFunctionHotSync = 2;
constexpr uint8_t kFunctionConsole = 3;
constexpr uint8_t kFunctionRemoteFileSystem = 4;
// The HotSync function in the extended form: the creator 'sync' stored backwards.
constexpr std::array<uint8_t, 4> kExtFunctionHotSync = {'c', 'n', 'y', 's'};

struct ConnectionPort {
    uint8_t function = 0;
    uint8_t port = 0;  // the endpoint number both directions use

    template <class F>
    void Fields(F& f) {
        f(function);
        f(port);
    }
};

// The plain connection information in the 18-byte buffer it is asked with: only the
// entries that fit in it are looked at.
struct ConnectionInfo {
    uint16_t portCount = 0;  // little-endian
    std::array<ConnectionPort, 8> ports{};

    template <class F>
    void Fields(F& f) {
        f(hotsync::wire::Little16{portCount});
        for (ConnectionPort& port : ports) f(port);
    }
};
constexpr size_t kConnectionInfoSize = 18;

struct ExtConnectionPort {
    std::array<uint8_t, 4> function{};
    uint8_t port = 0;       // both directions, unless the endpoints differ
    uint8_t endpoints = 0;  // in endpoint in the high nibble, out endpoint in the low one
    std::array<uint8_t, 2> reserved{};

    template <class F>
    void Fields(F& f) {
        f(function);
        f(port);
        f(endpoints);
        f(reserved);
    }
};

struct ExtConnectionInfo {
    uint8_t portCount = 0;
    uint8_t differentEndpoints = 0;  // 1: take the endpoints field, 0: the port
    std::array<uint8_t, 2> reserved{};
    std::array<ExtConnectionPort, 2> ports{};

    template <class F>
    void Fields(F& f) {
        f(portCount);
        f(differentEndpoints);
        f(reserved);
        for (ExtConnectionPort& port : ports) f(port);
    }
};
constexpr size_t kExtConnectionInfoSize = 20;

// The HotSync function's endpoint numbers; 0 where the device did not tell.
struct HotSyncPort {
    uint8_t inNumber = 0;
    uint8_t outNumber = 0;
};

// The HotSync entry of an answer to the plain or the extended request (as many bytes as
// arrived); nothing when no entry that arrived whole is the HotSync function.
std::optional<HotSyncPort> FindHotSyncPort(std::span<const uint8_t> connectionInfo);
std::optional<HotSyncPort> FindHotSyncExtPort(std::span<const uint8_t> extConnectionInfo);

// Runs a model's initialisation on an opened device. Nothing when the device refuses a
// request that matters or offers no HotSync function now.
std::optional<HotSyncPort> Initialise(IUsbDevice& device, Init init);

// The bulk endpoint addresses of the HotSync function among an interface's endpoints:
// the numbers the device told, else its first bulk pair (64-byte packets preferred, as on
// every Palm OS device). Nothing when a told number is missing or a direction has none.
struct Pipes {
    uint8_t in = 0;
    uint8_t out = 0;
};
std::optional<Pipes> ChoosePipes(const std::vector<UsbEndpoint>& endpoints,
                                 const HotSyncPort& port);

}  // namespace ports::usb
