#include "shell/com_ports.h"

#include <cerrno>

#include "resources/strings/string_table.h"

ports::ComPathMapper MakeComPathMapper(const ISettingsStore& settings) {
    return [&settings](int n) { return ComDevicePath(settings, n); };
}

std::string PortDevicePath(const ISettingsStore& settings, const std::string& portName) {
    return ports::DevicePathForPort(portName, MakeComPathMapper(settings));
}

namespace {

constexpr int kPortBoxComs = 8;  // the port box's COM1 to COM8

bool IsMissing(int err) {
    return err == ENOENT || err == ENODEV || err == ENXIO || err == ENOTDIR;
}

// n of "COMn" (any case) for the port box's eight; 0 for any other name.
int SettableComNumber(const std::string& portName) {
    if (portName.size() < 4 ||
        (portName.compare(0, 3, "COM") != 0 && portName.compare(0, 3, "com") != 0)) {
        return 0;
    }
    int n = 0;
    for (size_t i = 3; i < portName.size(); ++i) {
        if (portName[i] < '0' || portName[i] > '9' || n > kPortBoxComs) return 0;
        n = n * 10 + (portName[i] - '0');
    }
    return n >= 1 && n <= kPortBoxComs ? n : 0;
}

}  // namespace

std::string PortProblemDetail(int err, const std::string& portName, const std::string& devicePath,
                              IPortHolderFinder* finder, const std::string& soleAdapter) {
    const int n = SettableComNumber(portName);
    if (IsMissing(err) && !devicePath.empty() && !soleAdapter.empty() && n != 0 &&
        soleAdapter != devicePath) {
        return resources::FormatString(resources::kIdsPortNoDeviceAdapter, devicePath.c_str(),
                                       soleAdapter.c_str(), n, soleAdapter.c_str());
    }
    return PortProblemDetail(err, devicePath, finder);
}
