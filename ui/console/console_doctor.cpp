#include "ui/console/console_doctor.h"

#include <cstdio>

#include "shell/connection_report.h"
#include "ui/console/cli_options.h"

namespace console {

int RunDoctor(IConnectionProbe& probe, const ISettingsStore& settings, const std::string& port) {
    std::string address;
    uint16_t netPort = 0;
    NetListenAddress(settings, port, address, netPort);
    const ConnectionReport report =
        BuildConnectionReport(probe.Probe(true, address, netPort), settings, port);
    std::fputs(RenderConnectionReport(report).c_str(), stdout);
    std::fflush(stdout);
    return report.reachable ? kExitOk : kExitNotReachable;
}

}  // namespace console
