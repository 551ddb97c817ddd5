#include "shell/com_ports.h"

ports::ComPathMapper MakeComPathMapper(const ISettingsStore& settings) {
    return [&settings](int n) { return ComDevicePath(settings, n); };
}

std::string PortDevicePath(const ISettingsStore& settings, const std::string& portName) {
    return ports::DevicePathForPort(portName, MakeComPathMapper(settings));
}
