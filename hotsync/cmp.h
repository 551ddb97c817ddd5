// CMP, the connection management protocol: the handheld's wakeup and the desktop's init
// (or abort) that agree on the line rate before DLP starts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hotsync/wire.h"

namespace hotsync::cmp {

constexpr uint8_t kTypeWakeup = 0x01;
constexpr uint8_t kTypeInit = 0x02;
constexpr uint8_t kTypeAbort = 0x03;

// Init flags.
constexpr uint8_t kInitChangeRate = 0x80;
constexpr uint8_t kInitLongPadp = 0x10;  // also seen in wakeups of handhelds that take it

// Abort reason.
constexpr uint8_t kAbortVersionMismatch = 0x80;

constexpr uint8_t kVersionMajor = 1;
constexpr uint8_t kVersionMinor = 1;

constexpr uint8_t kWakeupXid = 0xFF;
constexpr size_t kPacketSize = 10;

// The 10-byte packet, in wire order.
struct Packet {
    uint8_t type = 0;
    uint8_t flags = 0;  // init flags, or the abort reason
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t reserved = 0;
    uint32_t baudRate = 0;

    template <class F>
    void Fields(F& f) {
        f(type);
        f(flags);
        f(versionMajor);
        f(versionMinor);
        f(reserved);
        f(baudRate);
    }
};

// The wakeup in a received message; nothing when it is not one.
std::optional<Packet> DecodeWakeup(std::span<const uint8_t> message);

// The rate to offer: no rate set (0) stays at 9,600; a rate that may not exceed the
// handheld's announced maximum is lowered to it.
int ChooseRate(int establishRate, bool mayExceedAnnounced, int announcedRate);

// The init answering a wakeup, for the chosen rate.
Packet MakeInit(const Packet& wakeup, int rate);
// The refusal of a wakeup whose version we do not speak.
Packet MakeAbort(const Packet& wakeup);

}  // namespace hotsync::cmp
