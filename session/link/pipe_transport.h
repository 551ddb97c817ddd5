// An in-process byte pipe: two connected transports, one for each end of a
// simulated cable. Used by tests to put the virtual handheld and the desktop
// stack in one process without a pseudo-terminal.
#pragma once

#include <memory>
#include <utility>

#include "hotsync/transport.h"

namespace ports {

struct PipePair {
    std::unique_ptr<hotsync::ITransport> desktop;
    std::unique_ptr<hotsync::ITransport> handheld;
};

// Both ends start open; Open/SetRate always succeed. Closing either end makes reads
// on the other end fail once its queue is drained, like a pulled cable.
PipePair CreatePipePair();

}  // namespace ports
