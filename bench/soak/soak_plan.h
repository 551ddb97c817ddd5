// One soak run, drawn from its seed: the three files it installs and the one fault it meets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/handheld/virtual_handheld.h"

namespace soak {

enum class Fault {
    kLost,          // every Nth packet in each direction is lost
    kCorrupt,       // every Nth packet in each direction arrives damaged
    kBreak,         // the cable is pulled after a number of bytes
    kMemoryFull,    // the handheld's memory is full after a number of data bytes
    kCancel,        // the user stops the transfer once a number of bytes went out
    kAnswerCancel,  // memory full as above, and the message is answered Cancel
    kStall,         // the handheld stops answering for longer than the time-outs
};
inline constexpr int kFaultKinds = 7;
const char* FaultName(Fault fault);
std::optional<Fault> FaultByName(const std::string& name);

// The files of a run, by content.
struct RecordSpec {
    std::vector<std::vector<uint8_t>> records;
    std::vector<uint8_t> categories;
    std::vector<uint8_t> appInfo;
};
struct ResourceSpec {
    std::vector<std::vector<uint8_t>> resources;  // together over 64 KB
};

struct Plan {
    uint64_t seed = 0;
    Fault fault = Fault::kLost;
    // The order the three files are queued in: 0 records, 1 resources, 2 text.
    std::vector<int> order;
    RecordSpec records;
    ResourceSpec resources;
    std::string text;  // CR LF line ends, converted to DOC when queued
    int loopbackPackets = 0;

    // The fault's own figures.
    int every = 0;       // lost, corrupted
    int64_t atByte = 0;  // break, stall: line bytes both ways; cancel: bytes sent
    int64_t fullAt = 0;  // memory full: data bytes the handheld still takes
    handheld::FullStyle fullStyle = handheld::FullStyle::kBoth;
    bool stallTickles = false;
};

// The plan a seed gives (the fault drawn too, unless one is forced).
Plan MakePlan(uint64_t seed, std::optional<Fault> forced);

// Data bytes the three files put on the handheld, text converted; and about how many bytes
// cross the line for them in both directions.
int64_t PayloadBytes(const Plan& plan);
int64_t LineBytesEstimate(const Plan& plan);

}  // namespace soak
