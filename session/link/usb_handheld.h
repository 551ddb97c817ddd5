// What the desktop knows about USB handhelds: the models by vendor and product id, and the
// rules by which each is brought to talk and its HotSync endpoints are found. Nothing here
// knows how the bus is reached: the rules speak to an opened device through IUsbDevice, so
// every system's USB backend shares the table and the rules.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hotsync/transport.h"
#include "session/link/usb_backend.h"
#include "session/link/usb_connection_info.h"

namespace ports::usb {

// How a model is brought to talk before its HotSync function can be used.
enum class Init {
    kNone,            // it talks at once
    kGeneric,         // the extended connection information, else the plain one, else the
                      // preamble on an interrupt endpoint; then the bytes-available request
    kConnectionInfo,  // the plain connection information, then bytes available
    kEarlyClie,       // the standard configuration and interface requests first, then the
                      // bytes-available request
    kExtThrice,       // the extended request three times (some answer only a later one, some
                      // talk only after the third); none answered: the first bulk pair. No
                      // bytes-available request: these units may hang on it
};

// Which bulk endpoints carry HotSync when the handheld does not tell them apart.
enum class PipeRule {
    kTold,                         // the told number, else the first bulk pair
    kFirstInSecondOut,             // the first bulk in endpoint with the second bulk out one
    kFirstInSecondOutIfInterrupt,  // the same on units with an interrupt in endpoint
};

struct Model {
    uint16_t vendorId;
    uint16_t productId;
    // The family; where several models share the id, all of them: which one it is, the
    // handheld's own system information tells.
    const char* name;
    Init init;
    // What the model is known to speak; its first bytes decide (hotsync/framing.h), but a
    // desktop only prompts a NetSync model that stays silent.
    hotsync::Framing framing;
    PipeRule pipes;
    // Several models answer to this id: only the handheld's system information (ReadSysInfo)
    // tells which one it is, so nothing here may depend on more than the family.
    bool sharedId = false;
};

std::span<const Model> Models();
const Model* FindModel(uint16_t vendorId, uint16_t productId);

// The handheld a device's model table entry and its connection information point to.
enum class Contact {
    kFound,     // the HotSync function is there (port: the endpoints it told, if any)
    kNotReady,  // a known unit that offers no HotSync now (a drive, refused requests)
};

// Runs a model's initialisation on an opened device. kNotReady when the device refuses a
// request that matters or offers no HotSync function now.
Contact Initialise(IUsbDevice& device, const Model& model, const UsbDeviceInfo& info,
                   HotSyncPort& port);

// The bulk endpoint addresses of the HotSync function among an interface's endpoints.
struct Pipes {
    uint8_t in = 0;
    uint8_t out = 0;
};
// The numbers the device told when it told both apart, else the model's pairing, else the
// told number, else the first bulk pair (64-byte packets preferred, as on every Palm OS
// device). Nothing when a told number is missing or a direction has no bulk endpoint.
std::optional<Pipes> ChoosePipes(const std::vector<UsbEndpoint>& endpoints, const HotSyncPort& port,
                                 PipeRule rule = PipeRule::kTold);

}  // namespace ports::usb
