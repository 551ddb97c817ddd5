#include "shell/win32/registry_settings.h"

#include <windows.h>

#include <vector>

#include "platform/wide_text.h"

namespace {

// Owns an open registry key.
class CKey {
  public:
    CKey() = default;
    ~CKey() {
        if (m_key) ::RegCloseKey(m_key);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;

    // Opens an existing key for reading.
    bool Open(const std::wstring& path) {
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &m_key) ==
               ERROR_SUCCESS;
    }
    // Opens the key for writing, making it and the keys above it when missing (read, create
    // sub-key, set value).
    bool Create(const std::wstring& path) {
        return ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &m_key,
                                 nullptr) == ERROR_SUCCESS;
    }
    HKEY Get() const { return m_key; }

  private:
    HKEY m_key = nullptr;
};

// The value's type and size without its data; false when it is missing.
bool Describe(HKEY key, const std::wstring& name, DWORD& type, DWORD& size) {
    return ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

}  // namespace

CRegistrySettings::CRegistrySettings() : m_strRoot(kRootKey) {}

CRegistrySettings::CRegistrySettings(std::string rootKey) : m_strRoot(std::move(rootKey)) {}

std::wstring CRegistrySettings::SectionKey(std::string_view section) const {
    return platform::Widen(m_strRoot + "\\" + std::string(section));
}

int CRegistrySettings::ReadInt(std::string_view section, std::string_view entry, int def) const {
    CKey key;
    if (!key.Open(SectionKey(section))) return def;
    const std::wstring name = platform::Widen(entry);
    DWORD type = 0, size = 0;
    if (!Describe(key.Get(), name, type, size) || type != REG_DWORD || size != sizeof(DWORD)) {
        return def;
    }
    DWORD value = 0;
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(DWORD)) {
        return def;
    }
    // A DWORD holds -1 (no speed chosen) as 0xFFFFFFFF.
    return static_cast<int>(static_cast<int32_t>(value));
}

std::string CRegistrySettings::ReadText(std::string_view section, std::string_view entry,
                                        std::string_view def) const {
    CKey key;
    if (!key.Open(SectionKey(section))) return std::string(def);
    const std::wstring name = platform::Widen(entry);
    DWORD type = 0, size = 0;
    // Sizes are told before anything is read: a value someone blew up is not taken in.
    constexpr DWORD kMaxBytes = DWORD((kMaxTextLength + 1) * sizeof(wchar_t));
    if (!Describe(key.Get(), name, type, size) || type != REG_SZ || size > kMaxBytes) {
        return std::string(def);
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(text.data()), &got) != ERROR_SUCCESS ||
        type != REG_SZ || got > size) {
        return std::string(def);
    }
    // The text ends at its first NUL, also when the value has none.
    size_t length = got / sizeof(wchar_t);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'\0') {
            length = i;
            break;
        }
    }
    const std::string value = platform::Narrow(std::wstring_view(text.data(), length));
    if (value.size() > kMaxTextLength) return std::string(def);
    return value;
}

bool CRegistrySettings::Has(std::string_view section, std::string_view entry) const {
    CKey key;
    DWORD type = 0, size = 0;
    return key.Open(SectionKey(section)) && Describe(key.Get(), platform::Widen(entry), type, size);
}

bool CRegistrySettings::WriteInt(std::string_view section, std::string_view entry, int value) {
    CKey key;
    if (!key.Create(SectionKey(section))) return false;
    const DWORD data = static_cast<DWORD>(value);
    return ::RegSetValueExW(key.Get(), platform::Widen(entry).c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

bool CRegistrySettings::WriteText(std::string_view section, std::string_view entry,
                                  std::string_view value) {
    CKey key;
    if (!key.Create(SectionKey(section))) return false;
    const std::wstring text = platform::Widen(value);
    return ::RegSetValueExW(key.Get(), platform::Widen(entry).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            DWORD((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool CRegistrySettings::Delete(std::string_view section, std::string_view entry) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    const bool removed = ::RegDeleteValueW(key, platform::Widen(entry).c_str()) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return removed;
}

bool CRegistrySettings::Flush() {
    CKey key;
    // Nothing written yet: nothing to put on disk.
    if (!key.Open(platform::Widen(m_strRoot))) return true;
    return ::RegFlushKey(key.Get()) == ERROR_SUCCESS;
}

bool CRegistrySettings::DeleteAll() {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, platform::Widen(m_strRoot).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
    ::RegDeleteKeyW(HKEY_CURRENT_USER, platform::Widen(m_strRoot).c_str());
    return true;
}
