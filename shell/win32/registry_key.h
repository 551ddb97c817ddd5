// Small pieces for reading and writing the registry: an owned key, and values read with
// their type and size checked before anything is taken in, so that a value another
// program (or a person with regedit) gave the wrong type or blew up reads as missing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace registry {

class CKey {
  public:
    CKey() = default;
    ~CKey();
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;

    // Opens an existing key.
    bool Open(HKEY root, const std::string& path, REGSAM access = KEY_READ);
    // Opens the key for writing, making it and the keys above it when missing.
    bool Create(HKEY root, const std::string& path,
                REGSAM access = KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE);
    HKEY Get() const { return m_key; }

  private:
    void Close();
    HKEY m_key = nullptr;
};

// Whether the value is there (any type).
bool HasValue(HKEY key, const std::string& name);
// A REG_SZ value of at most maxChars characters, up to its first NUL; nullopt when it is
// missing, of another type or longer. An empty name is the key's unnamed value.
std::optional<std::string> ReadText(HKEY key, const std::string& name, size_t maxChars);
// A REG_DWORD value of exactly four bytes.
std::optional<uint32_t> ReadDword(HKEY key, const std::string& name);
bool WriteText(HKEY key, const std::string& name, const std::string& value);
bool WriteDword(HKEY key, const std::string& name, uint32_t value);
bool DeleteValue(HKEY key, const std::string& name);

// The same for a value of a key given by its path; missing key: nullopt or false.
std::optional<std::string> ReadText(HKEY root, const std::string& path, const std::string& name,
                                    size_t maxChars);
// Creates the key when needed.
bool WriteText(HKEY root, const std::string& path, const std::string& name,
               const std::string& value);

// Deletes the key when it holds neither values nor sub-keys; whether it was deleted.
bool DeleteKeyIfEmpty(HKEY root, const std::string& path);

// Compares without regard to case, as the registry compares names.
bool SameName(const std::string& a, const std::string& b);

}  // namespace registry
