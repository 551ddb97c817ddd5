// The rules of freedesktop.org desktop entries that the program's own entry needs: how a
// program path goes into an Exec line, and how such a line is read back.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace desktop_entry {

// The text without blanks and tabs around it (and without a CR from a DOS line end).
std::string_view Trim(std::string_view text);

// Whether a text is well-formed UTF-8, as every desktop file must be.
bool IsUtf8(std::string_view text);

// One Exec argument: the text as it stands when it holds none of the reserved characters
// (blank, tab, newline, " ' \ > < ~ | & ; $ * ? # ( ) `), otherwise enclosed in double quotes
// with " ` $ and \ escaped by a backslash. A "%" is doubled either way, since a single one
// starts a field code.
std::string QuoteArgument(std::string_view arg);

// A string value as the file stores it (\s for a leading blank, \n \t \r \\), and back.
std::string EscapeValue(std::string_view value);
std::string UnescapeValue(std::string_view value);

// The Exec value (unescaped) that opens files with the program: its quoted path, then %F.
std::string ExecLine(std::string_view programPath);

// Whether an Exec value (unescaped) starts the program whose quoted path is programPart:
// that part followed by a blank or by nothing. A longer name that merely begins the same
// way (".../ccourier-cli" for ".../ccourier") is another program.
bool ExecRunsProgram(std::string_view exec, std::string_view programPart);

// The keys of the [Desktop Entry] group with their values unescaped (localised keys keep
// their "[xx]"); empty when the text has no such group.
std::map<std::string, std::string> ReadMainGroup(std::string_view text);

// A ";"-separated list value split into its items, blanks around them and empty items
// dropped; and items joined into such a value, each followed by ";".
std::vector<std::string> SplitList(std::string_view value);
std::string JoinList(const std::vector<std::string>& items);

}  // namespace desktop_entry
