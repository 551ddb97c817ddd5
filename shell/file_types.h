// Which program the desktop opens archives and Palm files with. The program makes itself
// the opener of its own archives (.cca) at every start, and of the Palm types (.prc, .pdb,
// .pqa) only when the user says so; it can give the Palm types back.
//
// The rules are the same on every system; what "the opener of a type" is differs and sits
// behind IFileTypeRegistry: on Linux a MIME package, a desktop entry and mimeapps.list
// (shell/linux/xdg_file_types.h), on Windows the classes key of the registry
// (shell/win32/win32_file_types.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

class ISettingsStore;

struct FileType {
    const char* extension;
    const char* mimeType;
    int nameId;     // the type's name in the string table
    int iconIndex;  // the icon inside the program file that Windows shows for the type
};

namespace file_types {

inline constexpr FileType kArchive = {".cca", "application/x-cca", 141, 7};
// In the order they are tested and claimed. All three are Palm databases, which the shared
// MIME database knows by one name.
inline constexpr FileType kPalmTypes[] = {
    {".pdb", "application/vnd.palm", 132, 0},
    {".prc", "application/vnd.palm", 131, 0},
    {".pqa", "application/vnd.palm", 130, 0},
};

// Where a type's default before ours is kept: section and entry of the settings, the entry
// made from the registry's key for the type.
inline constexpr const char* kPriorSection = "filetypes";
std::string PriorEntry(const std::string& key);

}  // namespace file_types

class IFileTypeRegistry {
  public:
    virtual ~IFileTypeRegistry() = default;

    // What names a type's default here; types with the same key share one default (Linux
    // keys by MIME type, so the three Palm types are one).
    virtual std::string Key(const FileType& type) const = 0;

    // The table that makes the system know the archive type.
    virtual bool TypeTableCurrent() const = 0;
    virtual void InstallTypeTable() = 0;

    // Whether the type's default is this program.
    virtual bool OwnsDefault(const FileType& type) const = 0;
    // The default as it is now, to be given back later; nullopt when there is none.
    virtual std::optional<std::string> CurrentDefault(const FileType& type) const = 0;
    // Makes this program the default.
    virtual void TakeDefault(const FileType& type) = 0;
    // Puts back a default read by CurrentDefault, or none for nullopt.
    virtual void RestoreDefault(const FileType& type, const std::optional<std::string>& value) = 0;
    // Gives the type away when what it had before is not known.
    virtual void DropDefault(const FileType& type) = 0;
    // Whether the system keeps the user's own choice of another program for the type, a
    // choice it lets no program but its own settings change.
    virtual bool OtherProgramChosen(const FileType& /*type*/) const { return false; }

    // Whether the type opens with this program at the path it has now; writes that.
    virtual bool CommandIsCurrent(const FileType& type, const std::string& programPath) const = 0;
    virtual void WriteCommand(const FileType& type, const std::string& programPath) = 0;

    // Tells the desktop that what it shows for files may have changed.
    virtual void AnnounceChanges() {}
    // Opens the system's own page for choosing default programs.
    virtual void OpenDefaultProgramSettings() {}
};

// The question whether to become the default installer for the Palm types.
class IDefaultTypesQuestion {
  public:
    enum Answer { kYes = 6, kNo = 7, kNoAnswer = 2 };
    virtual ~IDefaultTypesQuestion() = default;
    // Yes or No with the state of "Don't ask this question again" in dontAsk (which starts
    // unchecked), or kNoAnswer when the window was left with Escape or its close box.
    virtual Answer Ask(bool& dontAsk) = 0;
    // After Yes, when the system kept the user's choice of another program for some types
    // (their extensions): says so and asks whether to open the system's page for default
    // programs. True to open it.
    virtual bool OfferSystemSettings(const std::vector<std::string>& /*extensions*/) {
        return false;
    }
};

struct FileTypeContext {
    IFileTypeRegistry& registry;
    ISettingsStore& settings;
    IDefaultTypesQuestion& question;
    std::string programPath;  // the running program file
};

// At every start with askAlways false; from the menu with askAlways true. The archive type
// is claimed and its command repaired; the user is asked about the Palm types unless one of
// them is ours already or main/"DontAskDefault" says not to (only at start); their
// commands are repaired when asking was allowed.
void RegisterFileTypes(FileTypeContext& context, bool askAlways);
// Gives the Palm types back: each that is ours gets the default it had before we took it,
// or none. The archive type stays ours.
void UnregisterFileTypes(FileTypeContext& context);
// The same without a window (the uninstaller's --unregister-types): nothing is asked.
void UnregisterFileTypes(IFileTypeRegistry& registry, ISettingsStore& settings);
