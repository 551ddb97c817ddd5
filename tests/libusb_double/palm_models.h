// Palm OS handhelds as the public record describes their USB side (pilot-link's USB code,
// palm-sync's device table, the Linux visor driver): descriptors, what each answers to the
// connection-information requests, what each needs before it talks, and which bulk pair
// carries HotSync. Written from those facts, not from our model table, so that a rule the
// table gets wrong shows.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "hotsync/transport.h"
#include "tests/libusb_double/libusb_double.h"

namespace usbdouble::palm {

struct Family {
    std::string name;
    DeviceModel model;
    hotsync::Framing framing;  // what its handheld speaks on the HotSync pair
};

// Test output names a family, not its bytes.
inline void PrintTo(const Family& family, std::ostream* os) {
    *os << family.name;
}

// A Tungsten T (0830:0060): the extended information, HotSync on endpoints 2; silent until
// the bytes-available request.
Family Tungsten();
// Handspring Visor (082d:0100): the plain information only; the serial protocols.
Family Visor();
// Sony CLIE S300 (054c:0038): the standard configuration and interface requests before any
// vendor one, or it never talks; one bulk pair; the serial protocols.
Family ClieS300();
// Sony CLIE TJ25 (054c:0169): the same requests first; NetSync.
Family ClieTj();
// Handspring Treo 90 (082d:0200): takes no vendor request; "VNDR10" and the extended
// information on its interrupt endpoint 0x82; HotSync on bulk in 1 and bulk out 2.
Family Treo90();
// Handspring Treo 600 (082d:0300): tells HotSync as port 2, but carries it on bulk in 1 and
// bulk out 2, beside an interrupt endpoint.
Family Treo600();
// Kyocera 7135 (0c88:0021): paired as the Treo.
Family Kyocera7135();
// Sony CLIE UX50 (054c:0144): in on its first port, out on its second.
Family Ux50();
// 0830:0061 units, one id for many models: the model is what ReadSysInfo says.
// Zire 72: answers the extended request from the second one on; hangs when asked for the
// bytes available.
Family Zire72();
// Tungsten T|X: never answers the extended request; HotSync on the first bulk pair; comes
// back at a new address after each HotSync.
Family TungstenTx();
// Treo 650: answers at once; its first bytes are 01 ff 00 00 00 16.
Family Treo650();
// Tapwave Zodiac (12ef:0100): talks only after the third extended request.
Family Zodiac();
// Palm m100 (0830:0080): no request needed; every vendor request stalls.
Family M100();
// Tungsten T2 (0830:0060): announces network HotSync with the magic 0xDEFA before its hello.
Family TungstenT2();

// A USB hub, which handhelds may sit behind.
DeviceModel Hub(uint8_t bus, uint8_t address, std::vector<uint8_t> ports);

// The answers, byte by byte as the handhelds send them.
std::vector<uint8_t> ExtInfoOnePort(uint8_t port);                  // 'sync' on port
std::vector<uint8_t> ExtInfoTwoEndpoints(uint8_t in, uint8_t out);  // 'sync', in and out
std::vector<uint8_t> PlainInfo(uint8_t hotSyncPort);                // generic 1, HotSync

// Every family, for tests that go through all of them.
std::vector<Family> AllFamilies();

}  // namespace usbdouble::palm
