// File types in the Windows registry, for the user alone: a user without administrator
// rights cannot write HKEY_CLASSES_ROOT, whose writes land in the user's classes key
// (HKEY_CURRENT_USER\Software\Classes) anyway, so that is where we write. Reads see what
// Explorer sees, the user's classes over the machine's (HKEY_LOCAL_MACHINE's), looked up one
// after the other: Wine's HKEY_CLASSES_ROOT shows only the machine's.
//
//   .cca  "Content Type" application/x-cca, (default) CCOURIER.cca
//   .pdb .prc .pqa  (default) CCOURIER.pdb ...
//   CCOURIER.<ext>  (default) the type's name; DefaultIcon  program,index;
//                   Shell\open\command  program "%1"
//
// Windows 8 and later keep the user's own choice of program for an extension
// (Explorer\FileExts\<ext>\UserChoice), signed so that only their settings can make it;
// we read it and never write it. Explorer hears of changes through SHChangeNotify.
#pragma once

#include <functional>
#include <string>

#include "shell/file_types.h"

struct Win32ClassKeys {
    // Below HKEY_CURRENT_USER: where classes are written, and the user's protected choices.
    std::string classes = "Software\\Classes";
    std::string choices = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
    // Whether a value the user's classes lack is looked for in the machine's; false reads
    // the classes key above alone (tests).
    bool readMachineClasses = true;
};

class CWin32FileTypes final : public IFileTypeRegistry {
  public:
    // Registry texts are read up to this many characters.
    static constexpr size_t kMaxValueChars = 255;

    explicit CWin32FileTypes(Win32ClassKeys keys = {});

    // The class name we register a type under: "CCOURIER" + extension.
    static std::string ClassName(const FileType& type);
    // The Palm Desktop's own class for a Palm type: "prcFile" for .prc.
    static std::string PalmDesktopClass(const FileType& type);
    // The program as a command starts it (quoted when it holds a blank), and the command.
    static std::string ProgramPart(const std::string& programPath);
    static std::string OpenCommand(const std::string& programPath);

    // What opens the settings page (ShellExecute of "ms-settings:defaultapps"); tests
    // replace it.
    void SetSettingsOpener(std::function<void()> open) { m_openSettings = std::move(open); }
    // How often Explorer was told of changes.
    int Announcements() const { return m_nAnnouncements; }

    std::string Key(const FileType& type) const override { return type.extension; }
    bool TypeTableCurrent() const override;
    void InstallTypeTable() override;
    bool OwnsDefault(const FileType& type) const override;
    // What the user's classes key holds for the extension (the machine's stays as it is).
    std::optional<std::string> CurrentDefault(const FileType& type) const override;
    void TakeDefault(const FileType& type) override;
    void RestoreDefault(const FileType& type, const std::optional<std::string>& value) override;
    // The Palm Desktop's class when that is registered, else no default of ours at all.
    void DropDefault(const FileType& type) override;
    bool OtherProgramChosen(const FileType& type) const override;
    bool CommandIsCurrent(const FileType& type, const std::string& programPath) const override;
    void WriteCommand(const FileType& type, const std::string& programPath) override;
    void AnnounceChanges() override;
    void OpenDefaultProgramSettings() override;

  private:
    std::optional<std::string> Read(const std::string& path, const std::string& name) const;
    void Write(const std::string& path, const std::string& name, const std::string& value);
    bool ClassExists(const std::string& name) const;

    Win32ClassKeys m_keys;
    std::function<void()> m_openSettings;
    bool m_bChanged = false;
    int m_nAnnouncements = 0;
};
