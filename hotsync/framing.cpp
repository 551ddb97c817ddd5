#include "hotsync/framing.h"

#include <algorithm>
#include <array>

#include "hotsync/netsync.h"
#include "hotsync/slp.h"

namespace hotsync {
namespace {

enum class Match { kNo, kPartial, kYes };

Match SlpHeaderAt(std::span<const uint8_t> b) {
    const size_t n = std::min(b.size(), slp::kHeaderSize);
    for (size_t i = 0; i < std::min(n, slp::kSignature.size()); ++i) {
        if (b[i] != slp::kSignature[i]) return Match::kNo;
    }
    if (n < slp::kHeaderSize) return Match::kPartial;
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < slp::kHeaderSize; ++i) sum += b[i];
    return uint8_t(sum) == b[slp::kHeaderSize - 1] ? Match::kYes : Match::kNo;
}

// A data frame of 1 to 255 bytes whose payload starts like the handheld's hello.
Match NetSyncHelloAt(std::span<const uint8_t> b) {
    constexpr size_t kNeeded = netsync::kHeaderSize + 1;
    const size_t n = std::min(b.size(), kNeeded);
    for (size_t i = 0; i < n; ++i) {
        bool ok = true;
        if (i == 0) ok = b[i] == netsync::kTypeData;
        if (i >= 2 && i <= 4) ok = b[i] == 0;
        if (i == 5) ok = b[i] != 0;
        if (i == 6) ok = b[i] == netsync::kBareHelloByte;
        if (!ok) return Match::kNo;
    }
    return n < kNeeded ? Match::kPartial : Match::kYes;
}

// The hello without its header: its first ten bytes are the same on every handheld seen.
Match BareHelloAt(std::span<const uint8_t> b) {
    constexpr std::array<uint8_t, 10> kStart = {0x90, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x20};
    const size_t n = std::min(b.size(), kStart.size());
    if (!std::equal(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n), kStart.begin())) {
        return Match::kNo;
    }
    return n < kStart.size() ? Match::kPartial : Match::kYes;
}

// A network HotSync announcement, either way round; NetSync frames follow it.
Match AnnouncementAt(std::span<const uint8_t> b) {
    constexpr uint8_t kHigh = uint8_t(netsync::kWakeupMagic >> 8);
    constexpr uint8_t kLow = uint8_t(netsync::kWakeupMagic);
    if (b.empty() || (b[0] != kHigh && b[0] != kLow)) return Match::kNo;
    if (b.size() < 2) return Match::kPartial;
    if (!netsync::IsWakeupMagic(uint16_t(b[0] << 8 | b[1]))) return Match::kNo;
    if (b.size() < 3) return Match::kPartial;
    return b[2] == netsync::kWakeupRequest ? Match::kYes : Match::kNo;
}

}  // namespace

Framing DetectFraming(std::span<const uint8_t> bytes, size_t& start) {
    for (start = 0; start < bytes.size(); ++start) {
        const auto rest = bytes.subspan(start);
        const Match slp = SlpHeaderAt(rest);
        if (slp == Match::kYes) return Framing::kSerial;
        const Match net = NetSyncHelloAt(rest);
        const Match bare = BareHelloAt(rest);
        const Match announced = AnnouncementAt(rest);
        if (net == Match::kYes || bare == Match::kYes || announced == Match::kYes) {
            return Framing::kNetSync;
        }
        if (slp == Match::kPartial || net == Match::kPartial || bare == Match::kPartial ||
            announced == Match::kPartial) {
            return Framing::kDetect;
        }
    }
    return Framing::kDetect;
}

}  // namespace hotsync
