// Port names on Windows: COM1 ... COM8 are the communication ports themselves, and a port
// that does not open is explained in the system's own words.
#include "platform/system.h"
#include "resources/strings/string_table.h"
#include "shell/com_ports.h"

std::string ComDevicePath(const ISettingsStore&, int n) {
    return ports::DefaultComPath(n);
}

std::string PortProblemDetail(int err, const std::string& devicePath, IPortHolderFinder*) {
    if (devicePath.empty() || err == 0) return {};
    // "\\.\COM3" reads as the user knows it: "COM3".
    std::string shown = devicePath;
    if (ports::IsDevicePathName(shown)) shown.erase(0, 4);
    return resources::FormatString(resources::kIdsPortOtherError, shown.c_str(),
                                   platform::ErrorText(err).c_str());
}
