#include "shell/win32/palm_desktop_registry.h"

#include "shell/win32/registry_key.h"

CRegistryPalmDesktop::CRegistryPalmDesktop(std::string rootKey) : m_strRoot(std::move(rootKey)) {}

std::optional<std::string> CRegistryPalmDesktop::DirectComPort() const {
    return registry::ReadText(HKEY_CURRENT_USER, ManagerKey(), "DirectComPort", kMaxPortChars);
}

std::optional<uint32_t> CRegistryPalmDesktop::UsbValue() const {
    registry::CKey key;
    if (!key.Open(HKEY_CURRENT_USER, ManagerKey())) return std::nullopt;
    return registry::ReadDword(key.Get(), "USB");
}

bool CRegistryPalmDesktop::HasCore() const {
    registry::CKey key;
    return key.Open(HKEY_CURRENT_USER, CoreKey());
}

std::optional<std::string> CRegistryPalmDesktop::CorePath() const {
    return registry::ReadText(HKEY_CURRENT_USER, CoreKey(), "Path", kMaxPathChars);
}

std::optional<std::string> CRegistryPalmDesktop::HotSyncPath() const {
    return registry::ReadText(HKEY_CURRENT_USER, CoreKey(), "HotSyncPath", kMaxPathChars);
}
