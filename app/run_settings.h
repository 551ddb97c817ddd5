// Settings with values that hold for this run only, laid over the user's store: "--port
// PATH" makes the window's COM1 that device without writing it anywhere. The window echoes
// what it reads (it stores its port on every refresh); a write of the run's own value is not
// stored, and a write of another value (the user chose another port) ends that value's
// overlay and is stored as usual.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "shell/settings_store.h"

class CRunSettings final : public ISettingsStore {
  public:
    explicit CRunSettings(ISettingsStore& base) : m_base(base) {}

    void SetOverride(std::string_view section, std::string_view entry, std::string text);

    int ReadInt(std::string_view section, std::string_view entry, int def) const override;
    std::string ReadText(std::string_view section, std::string_view entry,
                         std::string_view def) const override;
    bool Has(std::string_view section, std::string_view entry) const override;
    bool WriteInt(std::string_view section, std::string_view entry, int value) override;
    bool WriteText(std::string_view section, std::string_view entry,
                   std::string_view value) override;
    bool Delete(std::string_view section, std::string_view entry) override;
    bool Flush() override { return m_base.Flush(); }

  private:
    using Key = std::pair<std::string, std::string>;  // folded names
    static Key Fold(std::string_view section, std::string_view entry);
    const std::string* Find(std::string_view section, std::string_view entry) const;
    // True when a write is the run's own value (nothing to store); otherwise the overlay of
    // that entry ends.
    bool Echoes(std::string_view section, std::string_view entry, std::string_view text);

    ISettingsStore& m_base;
    std::map<Key, std::string> m_overrides;
};
