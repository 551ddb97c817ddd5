#include "shell/win32/registry_settings.h"

#include <windows.h>

#include "platform/wide_text.h"
#include "shell/win32/registry_key.h"

using registry::CKey;

CRegistrySettings::CRegistrySettings() : m_strRoot(kRootKey) {}

CRegistrySettings::CRegistrySettings(std::string rootKey) : m_strRoot(std::move(rootKey)) {}

std::string CRegistrySettings::SectionKey(std::string_view section) const {
    return m_strRoot + "\\" + std::string(section);
}

int CRegistrySettings::ReadInt(std::string_view section, std::string_view entry, int def) const {
    CKey key;
    if (!key.Open(HKEY_CURRENT_USER, SectionKey(section))) return def;
    const std::optional<uint32_t> value = registry::ReadDword(key.Get(), std::string(entry));
    // A DWORD holds -1 (no speed chosen) as 0xFFFFFFFF.
    return value ? static_cast<int>(static_cast<int32_t>(*value)) : def;
}

std::string CRegistrySettings::ReadText(std::string_view section, std::string_view entry,
                                        std::string_view def) const {
    CKey key;
    if (!key.Open(HKEY_CURRENT_USER, SectionKey(section))) return std::string(def);
    std::optional<std::string> value =
        registry::ReadText(key.Get(), std::string(entry), kMaxTextLength);
    if (!value || value->size() > kMaxTextLength) return std::string(def);
    return *value;
}

bool CRegistrySettings::Has(std::string_view section, std::string_view entry) const {
    CKey key;
    return key.Open(HKEY_CURRENT_USER, SectionKey(section)) &&
           registry::HasValue(key.Get(), std::string(entry));
}

bool CRegistrySettings::WriteInt(std::string_view section, std::string_view entry, int value) {
    CKey key;
    return key.Create(HKEY_CURRENT_USER, SectionKey(section)) &&
           registry::WriteDword(key.Get(), std::string(entry), static_cast<uint32_t>(value));
}

bool CRegistrySettings::WriteText(std::string_view section, std::string_view entry,
                                  std::string_view value) {
    CKey key;
    return key.Create(HKEY_CURRENT_USER, SectionKey(section)) &&
           registry::WriteText(key.Get(), std::string(entry), std::string(value));
}

bool CRegistrySettings::Delete(std::string_view section, std::string_view entry) {
    CKey key;
    return key.Open(HKEY_CURRENT_USER, SectionKey(section), KEY_SET_VALUE) &&
           registry::DeleteValue(key.Get(), std::string(entry));
}

bool CRegistrySettings::Flush() {
    CKey key;
    // Nothing written yet: nothing to put on disk.
    if (!key.Open(HKEY_CURRENT_USER, m_strRoot)) return true;
    return ::RegFlushKey(key.Get()) == ERROR_SUCCESS;
}

bool CRegistrySettings::DeleteAll() {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, platform::Widen(m_strRoot).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
    ::RegDeleteKeyW(HKEY_CURRENT_USER, platform::Widen(m_strRoot).c_str());
    return true;
}
