#include "bench/soak/soak_plan.h"

#include <algorithm>
#include <random>

namespace soak {
namespace {

constexpr const char* kFaultNames[kFaultKinds] = {"lost",   "corrupt",       "break", "full",
                                                  "cancel", "answer-cancel", "stall"};

// Bytes of DOC text the converted text holds: its characters without the CRs.
int64_t DocBytes(const std::string& text) {
    return int64_t(std::count_if(text.begin(), text.end(), [](char c) { return c != '\r'; })) + 16;
}

std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, size_t n) {
    std::vector<uint8_t> out(n);
    // Stretches of equal bytes and noise, as real data has.
    for (size_t i = 0; i < n; ++i) out[i] = (i / 64) % 3 == 0 ? uint8_t(i / 64) : uint8_t(rng());
    return out;
}

}  // namespace

const char* FaultName(Fault fault) {
    return kFaultNames[static_cast<int>(fault)];
}

std::optional<Fault> FaultByName(const std::string& name) {
    for (int i = 0; i < kFaultKinds; ++i) {
        if (name == kFaultNames[i]) return static_cast<Fault>(i);
    }
    return std::nullopt;
}

Plan MakePlan(uint64_t seed, std::optional<Fault> forced) {
    Plan p;
    p.seed = seed;
    std::mt19937_64 rng(seed);
    auto between = [&rng](int64_t lo, int64_t hi) {
        return lo + int64_t(rng() % uint64_t(hi - lo + 1));
    };
    const auto drawn = static_cast<Fault>(rng() % kFaultKinds);
    p.fault = forced ? *forced : drawn;

    p.order = {0, 1, 2};
    std::shuffle(p.order.begin(), p.order.end(), rng);
    p.loopbackPackets = int(between(0, 10));

    const int records = int(between(2, 16));
    for (int i = 0; i < records; ++i) {
        p.records.records.push_back(RandomBytes(rng, size_t(between(0, 1500))));
        p.records.categories.push_back(uint8_t(between(0, 15)));
    }
    p.records.appInfo = RandomBytes(rng, size_t(between(1, 300)));

    // Resources of up to 40 KB until they are over 64 KB together.
    size_t total = 0;
    while (total <= 65536 + size_t(between(0, 20000))) {
        const size_t n = size_t(between(1, 40000));
        p.resources.resources.push_back(RandomBytes(rng, n));
        total += n;
    }

    const int lines = int(between(20, 250));
    for (int i = 0; i < lines; ++i) {
        const int n = int(between(0, 70));
        for (int c = 0; c < n; ++c) p.text.push_back(char('a' + rng() % 26));
        p.text += "\r\n";
    }

    const int64_t payload = PayloadBytes(p);
    const int64_t line = LineBytesEstimate(p);
    p.every = int(between(20, 80));
    p.atByte = between(1, line);
    p.fullAt = between(0, payload - 1);
    p.fullStyle = static_cast<handheld::FullStyle>(rng() % 3);
    p.stallTickles = rng() % 2 == 0;
    return p;
}

int64_t PayloadBytes(const Plan& plan) {
    int64_t n = int64_t(plan.records.appInfo.size());
    for (const auto& r : plan.records.records) n += int64_t(r.size());
    for (const auto& r : plan.resources.resources) n += int64_t(r.size());
    return n + DocBytes(plan.text);
}

int64_t LineBytesEstimate(const Plan& plan) {
    // Frames, acknowledgements and replies add a few percent; the handshake and the
    // requests around each database a little more.
    return PayloadBytes(plan) * 21 / 20 + 1500;
}

}  // namespace soak
