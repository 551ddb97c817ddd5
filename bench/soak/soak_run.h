// One soak run: the three files queued as the console queues them, the virtual handheld on a
// pseudo-terminal with the plan's fault, the device session, the install worker and the
// window's share of the run, then every check of the outcome.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/soak/soak_plan.h"
#include "hotsync/hotsync.h"

namespace soak {

// The link time-outs of both ends. Short, so that a run with a fault ends soon, but long
// enough that a busy machine does not break a healthy link.
struct Timing {
    int ackWaitMs = 200;
    int tries = 10;
    int receiveMs = 3000;
    int handheldReceiveMs = 6000;  // beyond the worker's 2 s keep-alive
    // The longest a run may go without a byte on the line before it counts as hung: the
    // longest wait of the protocol, and room for a busy machine.
    int IdleLimitMs() const { return std::max(ackWaitMs * tries, receiveMs) + 4000; }
};

struct RunResult {
    bool connected = false;
    bool cancelled = false;   // the user's stop came before the run's end
    bool linkBroken = false;  // the desktop saw the link break
    int result = 0;           // the console's "result:" value: 0, -1 no handheld, -2 stopped
    int failed = 0;           // m_nFailed
    std::vector<int> messages;
    double seconds = 0;
    std::vector<std::string> problems;  // empty when every check held

    bool Passed() const { return problems.empty(); }
};

RunResult RunOnce(const Plan& plan, const Timing& timing);

}  // namespace soak
