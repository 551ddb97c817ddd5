// Settings held in memory, with the same name folding and typing as the settings file:
// the store for tests of windows and start-up steps, and for tools that keep nothing.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "shell/settings_store.h"

class CMemorySettings final : public ISettingsStore {
  public:
    int ReadInt(std::string_view section, std::string_view entry, int def) const override;
    std::string ReadText(std::string_view section, std::string_view entry,
                         std::string_view def) const override;
    bool Has(std::string_view section, std::string_view entry) const override;
    bool WriteInt(std::string_view section, std::string_view entry, int value) override;
    bool WriteText(std::string_view section, std::string_view entry,
                   std::string_view value) override;
    bool Delete(std::string_view section, std::string_view entry) override;
    bool Flush() override {
        ++m_nFlushes;
        return true;
    }

    // The spelling an entry was last written with, empty when it is missing (tests).
    std::string StoredName(std::string_view section, std::string_view entry) const;
    int Flushes() const { return m_nFlushes; }
    int Writes() const { return m_nWrites; }

  private:
    struct Value {
        std::string name;  // as written
        std::string text;  // numbers as their decimal text, as in the file
    };
    using Key = std::pair<std::string, std::string>;  // folded section and entry
    static Key Fold(std::string_view section, std::string_view entry);
    const Value* Find(std::string_view section, std::string_view entry) const;

    std::map<Key, Value> m_values;
    int m_nFlushes = 0;
    int m_nWrites = 0;
};
