#include "hotsync/cmp.h"

namespace hotsync::cmp {

std::optional<Packet> DecodeWakeup(std::span<const uint8_t> message) {
    Packet packet;
    if (message.size() < kPacketSize || !wire::Decode(message, packet) ||
        packet.type != kTypeWakeup) {
        return std::nullopt;
    }
    return packet;
}

int ChooseRate(int establishRate, bool mayExceedAnnounced, int announcedRate) {
    if (establishRate <= 0) return 9600;
    if (!mayExceedAnnounced && announcedRate > 0 && announcedRate < establishRate) {
        return announcedRate;
    }
    return establishRate;
}

Packet MakeInit(const Packet& wakeup, int rate) {
    Packet init;
    init.type = kTypeInit;
    init.versionMajor = kVersionMajor;
    init.versionMinor = kVersionMinor;
    init.baudRate = uint32_t(rate);
    if (rate != 9600) init.flags |= kInitChangeRate;
    // Offer long-form PADP only to a handheld that showed it knows it.
    if (wakeup.flags & kInitLongPadp) init.flags |= kInitLongPadp;
    return init;
}

Packet MakeAbort(const Packet& wakeup) {
    Packet abort = wakeup;
    abort.type = kTypeAbort;
    abort.flags = kAbortVersionMismatch;
    return abort;
}

}  // namespace hotsync::cmp
