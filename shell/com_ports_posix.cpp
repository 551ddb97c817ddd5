// Port names on Linux: a setting may point a COM port at another device, and a port that
// does not open is explained in plain words.
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
