// The desktop's side of the DLP targets and their seeds: every request in turn over a bare
// socket, or the install run's requests through the device session.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "hotsync/transport.h"

namespace fuzz {

// The files the session installs, made once in the scratch folder: a record database with
// an app info block and deleted, archived and dirty records, a resource database that asks
// for a reset, and a small MIDI file.
struct SessionFiles {
    std::string records, resources, midi;
};
const SessionFiles& TheSessionFiles();

// The wakeup a handheld sends: rate and long-form flag from the mode and the rate given.
std::vector<uint8_t> MakeWakeup(uint8_t mode, uint32_t rate);

// The handheld of the answer targets, read from the input: a mode byte (given back in mode),
// the rate of its wakeup, then the answers, one chunk each (at most maxAnswers), given in turn
// to whatever the desktop asks.
std::unique_ptr<hotsync::ITransport> AnsweringHandheld(CInput& input, size_t maxAnswers,
                                                       uint8_t& mode);

// Accepts the handheld on the line and runs the desktop's requests: with mode bit 0 the
// install run through a device session (bit 1: the rate is the handheld's choice), else
// every DLP request in turn on a bare socket. Link time-outs are short and the line decides
// when the exchange ends.
void RunDesktop(uint8_t mode, std::unique_ptr<hotsync::ITransport> line);

}  // namespace fuzz
