// The values the handheld vendor's desktop software keeps for itself: the HotSync Manager's
// port choice (defaults for our own port settings) and where the desktop software lives.
// Linux has no such software; CNoPalmDesktop finds none of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class IPalmDesktopValues {
  public:
    virtual ~IPalmDesktopValues() = default;
    // The HotSync Manager's "DirectComPort" text and "USB" number; nullopt when missing.
    virtual std::optional<std::string> DirectComPort() const = 0;
    virtual std::optional<uint32_t> UsbValue() const = 0;
    // The desktop software's "Core" values: whether they exist at all, its folder ("Path")
    // and the HotSync Manager program ("HotSyncPath").
    virtual bool HasCore() const = 0;
    virtual std::optional<std::string> CorePath() const = 0;
    virtual std::optional<std::string> HotSyncPath() const = 0;
};

class CNoPalmDesktop final : public IPalmDesktopValues {
  public:
    std::optional<std::string> DirectComPort() const override { return std::nullopt; }
    std::optional<uint32_t> UsbValue() const override { return std::nullopt; }
    bool HasCore() const override { return false; }
    std::optional<std::string> CorePath() const override { return std::nullopt; }
    std::optional<std::string> HotSyncPath() const override { return std::nullopt; }
};

// Default of "com"/"ComPort": the first of the digits 1 ... 8, tested in that order, that
// occurs anywhere in the first 255 bytes of "DirectComPort"; 1 without one.
int DefaultComPort(const IPalmDesktopValues& values);
// Default of "com"/"USB": 1 when "USB" is exactly 1, else 0.
int DefaultUsb(const IPalmDesktopValues& values);
// The desktop software's folder (at most 260 bytes), ending in a separator when not empty.
std::string GetPalmDesktopPath(const IPalmDesktopValues& values);
