// The settings file: an INI file in the user's configuration folder,
// $XDG_CONFIG_HOME/Cradlecourier/CCourier.conf (default ~/.config/...), one group per
// section, one key per entry, numbers written as integers. Qt's settings are case-sensitive
// here, so names are folded on the way in and out. The file is replaced as a whole on each
// write (a new file renamed over the old), never left half-written; an unreadable or
// malformed file reads as defaults.
#pragma once

#include <QStringList>
#include <memory>
#include <string>

#include "shell/settings_store.h"

class QSettings;
class QString;

class CQtSettings final : public ISettingsStore {
  public:
    // The user's settings file.
    CQtSettings();
    // A settings file at a path of the caller's (tests, tools).
    explicit CQtSettings(const std::string& filePath);
    ~CQtSettings() override;
    CQtSettings(const CQtSettings&) = delete;
    CQtSettings& operator=(const CQtSettings&) = delete;

    // The user's settings file as the default constructor uses it.
    static std::string DefaultFilePath();
    std::string FilePath() const;

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
    // The stored spelling of a section or of an entry in it; empty when missing. An exact
    // spelling wins over another one.
    QString FindGroup(std::string_view section) const;
    // Every stored spelling of a section, the exact one first.
    QStringList Groups(std::string_view section) const;
    QString FindKey(const QString& group, std::string_view entry) const;
    // The stored value as text; false when missing.
    bool RawText(std::string_view section, std::string_view entry, std::string& text) const;
    bool Write(std::string_view section, std::string_view entry, const std::string& text,
               bool asInt, int number);

    std::unique_ptr<QSettings> m_settings;
};
