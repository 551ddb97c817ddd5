#include "session/link/port_transport.h"

#include <cctype>
#include <cerrno>

#include "session/link/net_transport.h"
#include "session/link/system_ports.h"

namespace ports {

std::string DevicePathForPort(const std::string& portName, const ComPathMapper& mapper) {
    if (IsDevicePathName(portName)) return portName;
    if (portName.size() < 4 || std::toupper(static_cast<unsigned char>(portName[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(portName[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(portName[2])) != 'M') {
        return {};
    }
    int number = 0;
    for (size_t i = 3; i < portName.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(portName[i])) || number > 9999) return {};
        number = number * 10 + (portName[i] - '0');
    }
    return mapper ? mapper(number) : DefaultComPath(number);
}

std::unique_ptr<hotsync::ITransport> CreatePortTransport(const std::string& portName,
                                                         const ComPathMapper& mapper) {
    if (portName == kUsbPortName) {
        return CreateSystemUsbTransport();
    }
    if (const auto endpoint = ParseNetPort(portName)) {
        return std::make_unique<CNetListenTransport>(*endpoint);
    }
    const std::string path = DevicePathForPort(portName, mapper);
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    return CreateSerialTransport(path);
}

std::string BindName(const std::string& portName) {
    return ParseNetPort(portName) ? kNetPortName : portName;
}

}  // namespace ports
