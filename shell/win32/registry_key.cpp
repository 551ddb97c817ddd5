#include "shell/win32/registry_key.h"

#include <vector>

#include "platform/wide_text.h"

namespace registry {

CKey::~CKey() {
    Close();
}

void CKey::Close() {
    if (m_key) ::RegCloseKey(m_key);
    m_key = nullptr;
}

bool CKey::Open(HKEY root, const std::string& path, REGSAM access) {
    Close();
    return ::RegOpenKeyExW(root, platform::Widen(path).c_str(), 0, access, &m_key) == ERROR_SUCCESS;
}

bool CKey::Create(HKEY root, const std::string& path, REGSAM access) {
    Close();
    return ::RegCreateKeyExW(root, platform::Widen(path).c_str(), 0, nullptr,
                             REG_OPTION_NON_VOLATILE, access, nullptr, &m_key,
                             nullptr) == ERROR_SUCCESS;
}

namespace {

// The value's type and size without its data; false when it is missing.
bool Describe(HKEY key, const std::wstring& name, DWORD& type, DWORD& size) {
    return ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

}  // namespace

bool HasValue(HKEY key, const std::string& name) {
    DWORD type = 0, size = 0;
    return key && Describe(key, platform::Widen(name), type, size);
}

std::optional<std::string> ReadText(HKEY key, const std::string& name, size_t maxChars) {
    if (!key) return std::nullopt;
    const std::wstring wide = platform::Widen(name);
    DWORD type = 0, size = 0;
    // Sizes are told before anything is read: a value someone blew up is not taken in.
    const DWORD maxBytes = DWORD((maxChars + 1) * sizeof(wchar_t));
    if (!Describe(key, wide, type, size) || type != REG_SZ || size > maxBytes) return std::nullopt;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    if (::RegQueryValueExW(key, wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                           &got) != ERROR_SUCCESS ||
        type != REG_SZ || got > size) {
        return std::nullopt;
    }
    // The text ends at its first NUL, also when the value has none.
    size_t length = got / sizeof(wchar_t);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'\0') {
            length = i;
            break;
        }
    }
    if (length > maxChars) return std::nullopt;
    return platform::Narrow(std::wstring_view(text.data(), length));
}

std::optional<uint32_t> ReadDword(HKEY key, const std::string& name) {
    if (!key) return std::nullopt;
    const std::wstring wide = platform::Widen(name);
    DWORD type = 0, size = 0;
    if (!Describe(key, wide, type, size) || type != REG_DWORD || size != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD value = 0;
    if (::RegQueryValueExW(key, wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(DWORD)) {
        return std::nullopt;
    }
    return value;
}

bool WriteText(HKEY key, const std::string& name, const std::string& value) {
    const std::wstring text = platform::Widen(value);
    return ::RegSetValueExW(key, platform::Widen(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            DWORD((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WriteDword(HKEY key, const std::string& name, uint32_t value) {
    const DWORD data = value;
    return ::RegSetValueExW(key, platform::Widen(name).c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

bool DeleteValue(HKEY key, const std::string& name) {
    return ::RegDeleteValueW(key, platform::Widen(name).c_str()) == ERROR_SUCCESS;
}

bool DeleteKeyIfEmpty(HKEY root, const std::string& path) {
    DWORD subKeys = 0;
    DWORD values = 0;
    {
        CKey key;
        if (!key.Open(root, path)) return false;
        if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return false;
        }
    }
    if (subKeys != 0 || values != 0) return false;
    return ::RegDeleteKeyW(root, platform::Widen(path).c_str()) == ERROR_SUCCESS;
}

std::optional<std::string> ReadText(HKEY root, const std::string& path, const std::string& name,
                                    size_t maxChars) {
    CKey key;
    if (!key.Open(root, path)) return std::nullopt;
    return ReadText(key.Get(), name, maxChars);
}

bool WriteText(HKEY root, const std::string& path, const std::string& name,
               const std::string& value) {
    CKey key;
    return key.Create(root, path) && WriteText(key.Get(), name, value);
}

bool SameName(const std::string& a, const std::string& b) {
    const std::wstring wa = platform::Widen(a), wb = platform::Widen(b);
    return ::CompareStringOrdinal(wa.c_str(), int(wa.size()), wb.c_str(), int(wb.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace registry
