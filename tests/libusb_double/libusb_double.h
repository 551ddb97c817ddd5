// A libusb-1.0 of our own for tests: the libusb calls our USB backend makes (the device list
// and descriptors, open and close, claiming interfaces, the kernel driver, control, bulk and
// interrupt transfers with their time-outs) over a bus of scripted devices. A test program
// links it instead of the real library and builds session/link/libusb_backend.cpp a second
// time against it, so the backend that ships runs in the suite.
//
// Each device plays a handheld model: its descriptors, its answers to control requests,
// what it needs to have been asked before its bulk endpoints carry anything, and the one
// bulk pair joined to a line, usually the desktop end of a pipe whose handheld end the
// virtual handheld serves. Everything else behaves as an idle endpoint does: reads wait out
// their time-out, writes vanish.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "hotsync/transport.h"

namespace usbdouble {

constexpr uint8_t kBulk = 0x02;
constexpr uint8_t kInterrupt = 0x03;

struct Endpoint {
    uint8_t address = 0;  // with 0x80 for an in endpoint
    uint8_t attributes = kBulk;
    uint16_t maxPacketSize = 64;
};

struct Interface {
    uint8_t number = 0;
    uint8_t interfaceClass = 0xFF;
    std::vector<Endpoint> endpoints;
};

// A control request as the device saw it.
struct ControlRequest {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

// A device's answer to a control request.
struct Reply {
    bool stall = true;  // refused
    std::vector<uint8_t> bytes;
    bool overlong = false;  // claims more bytes than were asked for

    static Reply Stall() { return {}; }
    static Reply Bytes(std::vector<uint8_t> bytes) { return {false, std::move(bytes), false}; }
};

struct DeviceModel {
    // Where it is: bus, address and the hub ports from the root down.
    uint8_t bus = 1;
    uint8_t address = 5;
    std::vector<uint8_t> ports = {1};

    uint16_t vendorId = 0x0830;
    uint16_t productId = 0x0060;
    uint8_t deviceClass = 0;  // 9 for a hub
    uint8_t configurations = 1;
    std::vector<Interface> interfaces;  // of its one configuration, one setting each

    // The answer to a request; nth counts the earlier requests of the same code. Unset,
    // standard GET_CONFIGURATION and GET_INTERFACE answer 1 and 0, everything else stalls.
    std::function<Reply(const ControlRequest& request, int nth)> control;
    // Whether the HotSync pair moves data yet, given every request asked so far (until then
    // both directions wait out their time-outs). Unset: at once.
    std::function<bool(const std::vector<ControlRequest>& asked)> talking;
    // Its in endpoint stays silent until the desktop has written to the out one.
    bool waitsForDesktop = false;
    // Sent once on that interrupt in endpoint (a unit that tells its endpoints there).
    uint8_t interruptEndpoint = 0;
    std::vector<uint8_t> interruptBytes;

    // The HotSync pair and the line behind it.
    uint8_t hotSyncIn = 0x82;
    uint8_t hotSyncOut = 0x02;
    std::shared_ptr<hotsync::ITransport> line;
    // Said on the in endpoint before anything from the line.
    std::vector<uint8_t> prelude;

    // The system's side.
    bool kernelDriver = false;  // the kernel's driver holds interface 0 (visor)
    bool detachRefused = false;
    bool accessDenied = false;        // the device node is not the user's to open
    bool vanishOnOpen = false;        // listed, but gone when it is opened
    bool readdressAfterSync = false;  // comes back at the next address once released

    // Faults (0: off), counted over the bulk bytes of both directions.
    int64_t stallAfterBytes = 0;      // then its in endpoint stalls
    int64_t goneAfterBytes = 0;       // then it is unplugged
    bool bulkNeverCompletes = false;  // bulk reads wait out every time-out
};

// What happened on the bus to one device.
struct DeviceLog {
    std::vector<ControlRequest> requests;
    std::vector<uint8_t> bulkOut;   // written to the HotSync out endpoint, in order
    std::vector<uint8_t> bulkIn;    // read from the HotSync in endpoint, in order
    std::vector<uint8_t> strayOut;  // written to any other endpoint
    int opens = 0;
    int claims = 0;
    bool detached = false;
    bool claimed = false;
    bool halted = false;  // the in endpoint is stalled now
    int haltsCleared = 0;
};

// The bus every libusb context of the process sees, as the real one is.
class CBus {
  public:
    struct State;

    static CBus& Get();

    // Unplugs everything and forgets the logs; the next device gets id 1.
    void Reset();
    // Plugs a device in; its id for the calls below.
    int Plug(DeviceModel model);
    void Unplug(int id);
    // Unplugged and back at another address (a unit that re-enumerates).
    void Readdress(int id, uint8_t address);
    // Faults from now on: the in endpoint stalls, or the device goes, after that many more
    // bulk bytes (0: not); or bulk reads never complete any more.
    void ArmFaults(int id, int64_t stallAfter, int64_t goneAfter, bool neverCompletes);
    bool Present(int id) const;
    uint8_t Address(int id) const;

    DeviceLog Log(int id) const;
    // libusb calls seen: contexts made, handles open now, device references held now.
    int Inits() const;
    int OpenHandles() const;
    int DeviceRefs() const;
    // Makes the next libusb_init fail (a system without USB).
    void FailInit(bool fail);
    // Time-outs pass at once instead of being waited out (fuzzing).
    void InstantTimeouts(bool instant);

  private:
    CBus();
    friend State& BusState();
    std::shared_ptr<State> m_state;
};

}  // namespace usbdouble
