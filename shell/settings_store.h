// The program's settings: sections of named entries, numbers and texts, read with a default.
//
// Entry and section names compare without regard to case: a value written as "Filelist"
// is read as "FileList", and a name someone else wrote as "device1" is found as "Device1".
// Windows, start-up code and their tests all go through this interface; CQtSettings keeps
// the values in the user's settings file, CMemorySettings in memory (tests, tools).
#pragma once

#include <string>
#include <string_view>

class ISettingsStore {
  public:
    // Texts longer than this read as missing: no path or name is this long, and a value
    // someone blew up must not reach a menu or a file dialog.
    static constexpr size_t kMaxTextLength = 4096;

    virtual ~ISettingsStore() = default;

    // The number, or def when the entry is missing or does not hold a number that fits.
    virtual int ReadInt(std::string_view section, std::string_view entry, int def) const = 0;
    // The text, or def when the entry is missing or its text is longer than kMaxTextLength.
    virtual std::string ReadText(std::string_view section, std::string_view entry,
                                 std::string_view def) const = 0;
    // Whether the entry exists (in any letter case).
    virtual bool Has(std::string_view section, std::string_view entry) const = 0;

    // Writes take the given spelling of the entry name; other spellings of it go. Failures
    // are silent (false only for callers that care).
    virtual bool WriteInt(std::string_view section, std::string_view entry, int value) = 0;
    virtual bool WriteText(std::string_view section, std::string_view entry,
                           std::string_view value) = 0;
    // "Writing a text without a value": the entry goes.
    virtual bool Delete(std::string_view section, std::string_view entry) = 0;
    // Everything written is on disk when this returns true.
    virtual bool Flush() = 0;
};

// Section and entry names as the program spells them.
namespace settings {
inline constexpr const char* kMain = "main";
inline constexpr const char* kCom = "com";
inline constexpr const char* kFileFormats = "fileformats";
inline constexpr const char* kRecent = "Recent";
inline constexpr const char* kRegister = "Register";
inline constexpr const char* kResult = "Result";

// Equal without regard to ASCII case.
bool SameName(std::string_view a, std::string_view b);
// The number in a text: optional blanks, an optional sign, decimal digits, nothing else;
// false when there is none or it does not fit an int.
bool ParseInt(std::string_view text, int& value);
}  // namespace settings
