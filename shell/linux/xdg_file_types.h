// File types on the freedesktop.org desktop, for the user alone:
//   the type table    $XDG_DATA_HOME/mime/packages/cradlecourier.xml, taken in by
//                     update-mime-database;
//   the open command  $XDG_DATA_HOME/applications/cradlecourier.desktop, with the icons in
//                     $XDG_DATA_HOME/icons/hicolor/scalable/;
//   the defaults      [Default Applications] of $XDG_CONFIG_HOME/mimeapps.list.
// Every file is replaced whole, never left half-written. What cannot be done (a read-only or
// unreadable mimeapps.list, a missing update-mime-database) is skipped with a line on the
// error output, as the registry's failed writes were skipped.
#pragma once

#include <string>
#include <vector>

#include "shell/linux/file_types.h"

struct XdgDirs {
    std::string dataHome;    // $XDG_DATA_HOME, else ~/.local/share
    std::string configHome;  // $XDG_CONFIG_HOME, else ~/.config
    // Read now from the environment.
    static XdgDirs FromEnvironment();
};

class CXdgFileTypes final : public IFileTypeRegistry {
  public:
    explicit CXdgFileTypes(XdgDirs dirs = XdgDirs::FromEnvironment());

    // The programs that bring the desktop's caches up to date, looked for on PATH (or
    // given as paths); one that is not there is skipped.
    void SetUpdateTools(std::string mimeDatabaseTool, std::string desktopDatabaseTool);

    std::string PackagePath() const;
    std::string EntryPath() const;
    std::string MimeAppsPath() const;
    // Where an icon of the theme goes: context "apps" or "mimetypes".
    std::string IconPath(const std::string& context, const std::string& name) const;

    // The type table: our MIME package is in place and the MIME database has taken it in.
    bool TypePackageCurrent() const;
    void InstallTypePackage();
    DesktopEntryState ReadEntry() const;
    // Writes the desktop entry (Exec starting programPath, MimeType the given types) and the
    // icons it and the types show.
    void WriteEntry(const std::string& programPath, const std::vector<std::string>& mimeTypes);
    // The user's default program list for a type (the value of its line); nullopt when
    // there is no line.
    std::optional<std::string> DefaultFor(const std::string& mimeType) const;
    // Sets the type's line, or removes it for nullopt.
    void SetDefaultFor(const std::string& mimeType, const std::optional<std::string>& value);

    // The shared rules' view: a type's default is ours when our entry comes first in its
    // line; taking it puts us first and keeps the programs before us after us, so the
    // desktop still finds them should our entry go.
    std::string Key(const FileType& type) const override { return type.mimeType; }
    bool TypeTableCurrent() const override { return TypePackageCurrent(); }
    void InstallTypeTable() override { InstallTypePackage(); }
    bool OwnsDefault(const FileType& type) const override;
    std::optional<std::string> CurrentDefault(const FileType& type) const override;
    void TakeDefault(const FileType& type) override;
    void RestoreDefault(const FileType& type, const std::optional<std::string>& value) override;
    // Takes only our entry off the type's line.
    void DropDefault(const FileType& type) override;
    bool CommandIsCurrent(const FileType& type, const std::string& programPath) const override;
    // Adds the type to the entry's list and rewrites the entry for the program's path.
    void WriteCommand(const FileType& type, const std::string& programPath) override;

    // What was skipped, in the words written to the error output (tests).
    const std::vector<std::string>& Warnings() const { return m_warnings; }

  private:
    void Warn(const std::string& text) const;
    bool WriteFile(const std::string& path, std::string_view bytes) const;
    // Runs a cache tool on a folder; false when it is missing or fails.
    bool RunTool(const std::string& tool, const std::string& folder) const;

    XdgDirs m_dirs;
    std::string m_mimeTool = "update-mime-database";
    std::string m_desktopTool = "update-desktop-database";
    mutable std::vector<std::string> m_warnings;
};
