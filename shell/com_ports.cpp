#include "shell/com_ports.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "resources/strings/string_table.h"
#include "shell/port_holder.h"
#include "shell/settings_store.h"

using resources::FormatString;

namespace {
constexpr int kDeviceSettings = 8;
}  // namespace

std::string ComDevicePath(const ISettingsStore& settings, int n) {
    if (n < 1) return {};
    if (n <= kDeviceSettings) {
        const std::string device =
            settings.ReadText(settings::kCom, "Device" + std::to_string(n), "");
        if (!device.empty()) return device;
    }
    return ports::DefaultComPath(n);
}

ports::ComPathMapper MakeComPathMapper(const ISettingsStore& settings) {
    return [&settings](int n) { return ComDevicePath(settings, n); };
}

std::string PortDevicePath(const ISettingsStore& settings, const std::string& portName) {
    return ports::DevicePathForPort(portName, MakeComPathMapper(settings));
}

namespace {

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
        if (portName[i] < '0' || portName[i] > '9' || n > kDeviceSettings) return 0;
        n = n * 10 + (portName[i] - '0');
    }
    return n >= 1 && n <= kDeviceSettings ? n : 0;
}

}  // namespace

std::string PortProblemDetail(int err, const std::string& portName, const std::string& devicePath,
                              IPortHolderFinder* finder, const std::string& soleAdapter) {
    const int n = SettableComNumber(portName);
    if (IsMissing(err) && !devicePath.empty() && !soleAdapter.empty() && n != 0 &&
        soleAdapter != devicePath) {
        return FormatString(resources::kIdsPortNoDeviceAdapter, devicePath.c_str(),
                            soleAdapter.c_str(), n, soleAdapter.c_str());
    }
    return PortProblemDetail(err, devicePath, finder);
}

std::string PortProblemDetail(int err, const std::string& devicePath, IPortHolderFinder* finder) {
    if (devicePath.empty()) return {};
    switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return FormatString(resources::kIdsPortNoDevice, devicePath.c_str());
        case EACCES:
        case EPERM:
            return FormatString(resources::kIdsPortNoPermission, devicePath.c_str());
        case EBUSY: {
            const std::vector<PortHolder> holders =
                finder ? finder->Find(devicePath) : std::vector<PortHolder>{};
            if (holders.empty()) return resources::LoadString(resources::kIdsPortInUse);
            return FormatString(resources::kIdsPortHeldBy, holders.front().name.c_str(),
                                static_cast<int>(holders.front().pid));
        }
        case 0:
            return {};
        default:
            return FormatString(resources::kIdsPortOtherError, devicePath.c_str(),
                                std::strerror(err));
    }
}
