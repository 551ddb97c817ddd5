// The user's choice of default programs, $XDG_CONFIG_HOME/mimeapps.list: groups of
// "type=desktop-id;..." lines, of which [Default Applications] says which program opens a
// type. We change single lines of that group and keep every other line, comment and group
// exactly as the user or the desktop left it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CMimeAppsList {
  public:
    // Takes the file's text. False when it is not one we may write back: not UTF-8, holding
    // a NUL byte, or with a line that is neither a group, an entry, a comment nor blank
    // (*problem then says which line). The entries that could be read are still readable.
    bool Parse(std::string_view text, std::string* problem = nullptr);

    // The value of the type's line in [Default Applications], unescaped; empty when there is
    // none. The first line counts when the type is listed twice.
    std::string Default(std::string_view mimeType) const;
    bool HasDefault(std::string_view mimeType) const;
    // Replaces the type's line (and drops later repeats of it), or adds one at the end of the
    // group; adds the group at the end of the file when there is none.
    void SetDefault(std::string_view mimeType, std::string_view value);
    // Drops every line of the type from the group.
    void RemoveDefault(std::string_view mimeType);

    std::string Text() const;

  private:
    struct Line {
        std::string text;   // as in the file, without its line end
        std::string group;  // the group it stands in ("" before the first)
        std::string key;    // trimmed key of an entry, empty otherwise
    };
    // Index of the type's first line in the group, or -1.
    int Find(std::string_view mimeType) const;

    std::vector<Line> m_lines;
    bool m_bFinalNewline = true;
};
