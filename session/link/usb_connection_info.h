// What a Palm OS handheld tells about its USB functions: the plain connection information
// (the older units' vendor request), the extended one (with the creator of each function
// and, where they differ, its in and out endpoints), and that extended answer sent unasked
// after "VNDR10" on an in endpoint by units whose chip takes no vendor requests. The
// layouts as the handhelds send them; the decoders look only at entries that arrived whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "hotsync/wire.h"

namespace ports::usb {

// ---- control requests ----------------------------------------------------------------------

constexpr uint8_t kVendorIn = 0xC2;               // device to host, vendor, recipient endpoint
constexpr uint8_t kStandardIn = 0x80;             // device to host, standard, recipient device
constexpr uint8_t kStandardInterfaceIn = 0x81;    // device to host, standard, recipient interface
constexpr uint8_t kRequestBytesAvailable = 0x01;  // answer: u16, bytes waiting (not used)
constexpr uint8_t kRequestConnectionInfo = 0x03;  // answer: ConnectionInfo
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
// Functions of the extended form: creators stored backwards. 'sync' is HotSync; 'rfsL' is
// a unit plugged in as a drive, which does not sync until its user starts a HotSync.
constexpr std::array<uint8_t, 4> kExtFunctionHotSync = {'c', 'n', 'y', 's'};
constexpr std::array<uint8_t, 4> kExtFunctionDrive = {'L', 's', 'f', 'r'};

// Endpoint numbers are 1 to 15; a told number outside them is none.
constexpr uint8_t kMaxEndpointNumber = 15;

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

// The unasked form: these six bytes, then an ExtConnectionInfo.
constexpr std::array<uint8_t, 6> kPreambleMagic = {'V', 'N', 'D', 'R', '1', '0'};

// The HotSync function's endpoint numbers as the handheld told them; 0 where it did not.
struct HotSyncPort {
    uint8_t inNumber = 0;
    uint8_t outNumber = 0;
    bool oneNumber = false;  // told as one port number for both directions

    bool Told() const { return inNumber != 0 && outNumber != 0; }
};

// What an answer says about HotSync.
enum class Answer {
    kHotSync,  // the HotSync function, in port
    kNone,     // no HotSync function among the entries that arrived
    kDrive,    // the unit is plugged in as a drive and not syncing
};

// The HotSync entry of an answer to the plain or the extended request (as many bytes as
// arrived), or of a preamble.
Answer DecodeConnectionInfo(std::span<const uint8_t> answer, HotSyncPort& port);
Answer DecodeExtConnectionInfo(std::span<const uint8_t> answer, HotSyncPort& port);
Answer DecodePreamble(std::span<const uint8_t> bytes, HotSyncPort& port);

// The same, as the lookup uses them: the port, or nothing unless the answer names HotSync.
std::optional<HotSyncPort> FindHotSyncPort(std::span<const uint8_t> connectionInfo);
std::optional<HotSyncPort> FindHotSyncExtPort(std::span<const uint8_t> extConnectionInfo);

}  // namespace ports::usb
