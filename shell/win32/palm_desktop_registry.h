// The Palm Desktop's and its HotSync Manager's own values, read (never written) from
// HKEY_CURRENT_USER\Software\U.S. Robotics\Pilot Desktop:
//   HotSync Manager  "DirectComPort" text, "USB" number
//   Core             "Path" (the desktop software's folder), "HotSyncPath" (the manager)
// A value of another type, or a text longer than its limit, reads as missing.
#pragma once

#include <string>

#include "shell/palm_desktop.h"

class CRegistryPalmDesktop final : public IPalmDesktopValues {
  public:
    static constexpr const char* kRootKey = "Software\\U.S. Robotics\\Pilot Desktop";
    static constexpr size_t kMaxPortChars = 255;
    static constexpr size_t kMaxPathChars = 260;

    // Another key below HKEY_CURRENT_USER in place of kRootKey (tests).
    explicit CRegistryPalmDesktop(std::string rootKey = kRootKey);

    std::optional<std::string> DirectComPort() const override;
    std::optional<uint32_t> UsbValue() const override;
    bool HasCore() const override;
    std::optional<std::string> CorePath() const override;
    std::optional<std::string> HotSyncPath() const override;

  private:
    std::string ManagerKey() const { return m_strRoot + "\\HotSync Manager"; }
    std::string CoreKey() const { return m_strRoot + "\\Core"; }

    std::string m_strRoot;
};
