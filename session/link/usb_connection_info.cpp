#include "session/link/usb_connection_info.h"

#include <algorithm>
#include <vector>

namespace ports::usb {
namespace {

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

// How many entries of entrySize arrived whole after a head of headSize, at most count.
size_t EntriesArrived(size_t arrived, size_t headSize, size_t entrySize, size_t count) {
    return std::min(count, (arrived - headSize) / entrySize);
}

uint8_t Checked(uint8_t number) {
    return number <= kMaxEndpointNumber ? number : 0;
}

}  // namespace

Answer DecodeConnectionInfo(std::span<const uint8_t> answer, HotSyncPort& port) {
    constexpr size_t kCountSize = 2, kPortSize = 2;
    if (answer.size() < kCountSize) return Answer::kNone;
    const auto info = DecodePadded<ConnectionInfo>(answer, kConnectionInfoSize);
    const size_t count =
        EntriesArrived(std::min(answer.size(), kConnectionInfoSize), kCountSize, kPortSize,
                       std::min<size_t>(info.portCount, info.ports.size()));
    for (size_t i = 0; i < count; ++i) {
        if (info.ports[i].function != kFunctionHotSync) continue;
        const uint8_t number = Checked(info.ports[i].port);
        port = HotSyncPort{number, number, true};
        return Answer::kHotSync;
    }
    return Answer::kNone;
}

Answer DecodeExtConnectionInfo(std::span<const uint8_t> answer, HotSyncPort& port) {
    constexpr size_t kHeadSize = 4, kPortSize = 8;
    if (answer.size() < kHeadSize) return Answer::kNone;
    const auto info = DecodePadded<ExtConnectionInfo>(answer, kExtConnectionInfoSize);
    const size_t count =
        EntriesArrived(std::min(answer.size(), kExtConnectionInfoSize), kHeadSize, kPortSize,
                       std::min<size_t>(info.portCount, info.ports.size()));
    bool drive = false;
    for (size_t i = 0; i < count; ++i) {
        const ExtConnectionPort& entry = info.ports[i];
        drive = drive || entry.function == kExtFunctionDrive;
        if (entry.function != kExtFunctionHotSync) continue;
        if (info.differentEndpoints) {
            port =
                HotSyncPort{uint8_t(entry.endpoints >> 4), uint8_t(entry.endpoints & 0x0F), false};
        } else {
            const uint8_t number = Checked(entry.port);
            port = HotSyncPort{number, number, true};
        }
        return Answer::kHotSync;
    }
    return drive ? Answer::kDrive : Answer::kNone;
}

Answer DecodePreamble(std::span<const uint8_t> bytes, HotSyncPort& port) {
    if (bytes.size() < kPreambleMagic.size() ||
        !std::equal(kPreambleMagic.begin(), kPreambleMagic.end(), bytes.begin())) {
        return Answer::kNone;
    }
    return DecodeExtConnectionInfo(bytes.subspan(kPreambleMagic.size()), port);
}

std::optional<HotSyncPort> FindHotSyncPort(std::span<const uint8_t> connectionInfo) {
    HotSyncPort port;
    if (DecodeConnectionInfo(connectionInfo, port) != Answer::kHotSync) return std::nullopt;
    return port;
}

std::optional<HotSyncPort> FindHotSyncExtPort(std::span<const uint8_t> extConnectionInfo) {
    HotSyncPort port;
    if (DecodeExtConnectionInfo(extConnectionInfo, port) != Answer::kHotSync) return std::nullopt;
    return port;
}

}  // namespace ports::usb
