// Which program holds a serial device open: a sync daemon, a terminal program, or
// ModemManager probing new USB-serial adapters. Each system finds them its own way (Linux:
// shell/linux/proc_port_holder.h); tests use fakes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PortHolder {
    int64_t pid = 0;
    std::string name;  // the process's command name
};

class IPortHolderFinder {
  public:
    virtual ~IPortHolderFinder() = default;
    // The processes other than this one that have the device open, by pid.
    virtual std::vector<PortHolder> Find(const std::string& devicePath) = 0;
};
