#include "shell/palm_desktop.h"

#include "platform/path_rules.h"

namespace {
constexpr size_t kTextBytes = 255;
constexpr size_t kPathBytes = 260;
}  // namespace

int DefaultComPort(const IPalmDesktopValues& values) {
    const std::optional<std::string> text = values.DirectComPort();
    if (!text) return 1;
    const std::string cut = text->substr(0, kTextBytes);
    for (char digit = '1'; digit <= '8'; ++digit) {
        if (cut.find(digit) != std::string::npos) return digit - '0';
    }
    return 1;
}

int DefaultUsb(const IPalmDesktopValues& values) {
    const std::optional<uint32_t> usb = values.UsbValue();
    return usb && *usb == 1 ? 1 : 0;
}

std::string GetPalmDesktopPath(const IPalmDesktopValues& values) {
    if (!values.HasCore()) return {};
    std::string path = values.CorePath().value_or("").substr(0, kPathBytes);
    if (!path.empty() && !platform::IsPathSeparator(path.back())) {
        path += platform::PathSeparator();
    }
    return path;
}
