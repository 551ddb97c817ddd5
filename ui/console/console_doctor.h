// ccourier-cli --doctor: the connection check on the terminal, the same report the window's
// "Check connection..." shows.
#pragma once

#include <string>

class IConnectionProbe;
class ISettingsStore;

namespace console {

// Prints the report for the port given and returns the exit status: 0 when a handheld can
// be reached now, kExitNotReachable otherwise.
int RunDoctor(IConnectionProbe& probe, const ISettingsStore& settings, const std::string& port);

}  // namespace console
