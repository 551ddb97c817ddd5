// The settings on Windows: the registry key CRegistrySettings::kRootKey below
// HKEY_CURRENT_USER, each section a sub-key, each entry a value in it: numbers as REG_DWORD,
// texts as REG_SZ. The registry compares names without regard to case, as the settings do. A value
// of another type, or a text longer than kMaxTextLength, reads as the default.
#pragma once

#include <string>

#include "shell/settings_store.h"

class CRegistrySettings final : public ISettingsStore {
  public:
    static constexpr const char* kRootKey = "Software\\Cradlecourier\\CCourier";

    // The program's settings root.
    CRegistrySettings();
    // Another key below HKEY_CURRENT_USER (tests).
    explicit CRegistrySettings(std::string rootKey);

    const std::string& RootKey() const { return m_strRoot; }
    // Removes the root key with everything below it (tests); whether it is gone.
    bool DeleteAll();

    int ReadInt(std::string_view section, std::string_view entry, int def) const override;
    std::string ReadText(std::string_view section, std::string_view entry,
                         std::string_view def) const override;
    bool Has(std::string_view section, std::string_view entry) const override;
    bool WriteInt(std::string_view section, std::string_view entry, int value) override;
    bool WriteText(std::string_view section, std::string_view entry,
                   std::string_view value) override;
    bool Delete(std::string_view section, std::string_view entry) override;
    bool Flush() override;

  private:
    std::string SectionKey(std::string_view section) const;

    std::string m_strRoot;
};
