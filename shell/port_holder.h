// Which program holds a serial device open: a sync daemon, a terminal program, or
// ModemManager probing new USB-serial adapters. Read from /proc/*/fd; processes whose file
// descriptors cannot be read (other users') are passed over.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

struct PortHolder {
    pid_t pid = 0;
    std::string name;  // the process's command name
};

class IPortHolderFinder {
  public:
    virtual ~IPortHolderFinder() = default;
    // The processes other than this one that have the device open, by pid.
    virtual std::vector<PortHolder> Find(const std::string& devicePath) = 0;
};

class CProcPortHolderFinder final : public IPortHolderFinder {
  public:
    // procRoot: the process file system ("/proc"; a folder of the same shape in tests).
    explicit CProcPortHolderFinder(std::string procRoot = "/proc") : m_root(std::move(procRoot)) {}
    std::vector<PortHolder> Find(const std::string& devicePath) override;

  private:
    std::string m_root;
};
