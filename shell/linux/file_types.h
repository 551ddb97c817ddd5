// Which program the desktop opens archives and Palm files with. The program makes itself
// the opener of its own archives (.cca) at every start, and of the Palm types (.prc, .pdb,
// .pqa) only when the user says so; it can give the Palm types back.
//
// On this desktop "the opener of a type" is three things, each behind IFileTypeRegistry:
// the type table (a MIME package naming the types by their file names), the open command
// (the program's desktop entry, whose Exec line starts the program and whose MimeType list
// says which types it opens) and the choice of default (a line in mimeapps.list).
#pragma once

#include <optional>
#include <string>
#include <vector>

class ISettingsStore;

struct FileType {
    const char* extension;
    const char* mimeType;
    int nameId;  // the type's name in the string table
};

namespace file_types {

// The desktop entry's file name, which is also its id in mimeapps.list.
inline constexpr const char* kDesktopId = "cradlecourier.desktop";

inline constexpr FileType kArchive = {".cca", "application/x-cca", 141};
// In the order they are tested and claimed. All three are Palm databases, which the shared
// MIME database already knows by one name; our MIME package declares only the archive type.
inline constexpr FileType kPalmTypes[] = {
    {".pdb", "application/vnd.palm", 132},
    {".prc", "application/vnd.palm", 131},
    {".pqa", "application/vnd.palm", 130},
};

// Where a type's default before ours is kept: section and entry of the settings.
inline constexpr const char* kPriorSection = "filetypes";
std::string PriorEntry(const std::string& mimeType);

}  // namespace file_types

// The program's desktop entry as it is now.
struct DesktopEntryState {
    bool exists = false;
    std::string exec;                    // the Exec value, unescaped
    std::vector<std::string> mimeTypes;  // the MimeType list
};

class IFileTypeRegistry {
  public:
    virtual ~IFileTypeRegistry() = default;

    // The type table: our MIME package is in place and the MIME database has taken it in.
    virtual bool TypePackageCurrent() const = 0;
    virtual void InstallTypePackage() = 0;

    virtual DesktopEntryState ReadEntry() const = 0;
    // Writes the desktop entry (Exec starting programPath, MimeType the given types) and the
    // icons it and the types show.
    virtual void WriteEntry(const std::string& programPath,
                            const std::vector<std::string>& mimeTypes) = 0;

    // The user's default program list for a type (the value of its line); nullopt when
    // there is no line.
    virtual std::optional<std::string> DefaultFor(const std::string& mimeType) const = 0;
    // Sets the type's line, or removes it for nullopt.
    virtual void SetDefaultFor(const std::string& mimeType,
                               const std::optional<std::string>& value) = 0;
};

// The question whether to become the default installer for the Palm types.
class IDefaultTypesQuestion {
  public:
    enum Answer { kYes = 6, kNo = 7, kNoAnswer = 2 };
    virtual ~IDefaultTypesQuestion() = default;
    // Yes or No with the state of "Don't ask this question again" in dontAsk (which starts
    // unchecked), or kNoAnswer when the window was left with Escape or its close box.
    virtual Answer Ask(bool& dontAsk) = 0;
};

struct FileTypeContext {
    IFileTypeRegistry& registry;
    ISettingsStore& settings;
    IDefaultTypesQuestion& question;
    std::string programPath;  // the running program file
};

// Whether the type's default is this program: the first program of its line is our entry.
bool OwnsType(const IFileTypeRegistry& registry, const std::string& mimeType);
// Whether the entry opens the type with this program, at the path it has now.
bool CommandIsCurrent(const DesktopEntryState& entry, const std::string& programPath,
                      const std::string& mimeType);

// At every start with askAlways false; from the menu with askAlways true. The archive type
// is claimed and its command repaired; the user is asked about the Palm types unless one of
// them is ours already or main/"DontAskDefault" says not to (only at start); their
// commands are repaired when asking was allowed.
void RegisterFileTypes(FileTypeContext& context, bool askAlways);
// Gives the Palm types back: each that is ours gets the default it had before we took it,
// or none. The archive type stays ours.
void UnregisterFileTypes(FileTypeContext& context);
