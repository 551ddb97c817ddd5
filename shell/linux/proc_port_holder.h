// The programs holding a serial device on Linux: read from /proc/*/fd; processes whose file
// descriptors cannot be read (other users') are passed over.
#pragma once

#include <string>
#include <vector>

#include "shell/port_holder.h"

class CProcPortHolderFinder final : public IPortHolderFinder {
  public:
    // procRoot: the process file system ("/proc"; a folder of the same shape in tests).
    explicit CProcPortHolderFinder(std::string procRoot = "/proc") : m_root(std::move(procRoot)) {}
    std::vector<PortHolder> Find(const std::string& devicePath) override;

  private:
    std::string m_root;
};
