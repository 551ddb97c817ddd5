// Texts as the windows show them: names and file contents are bytes, the windows show
// UTF-8. No toolkit here, so every front end shows the same characters.
#pragma once

#include <string>

namespace utf8 {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool IsValid(const std::string& text);
// Latin-1 bytes as UTF-8.
std::string FromLatin1(const std::string& text);
// The code points of a UTF-8 text; a byte that starts no well-formed sequence gives U+FFFD.
std::u32string CodePoints(const std::string& text);
// A name as one line of text: bytes that are not UTF-8 and control characters (a newline
// in a name) show as replacement marks.
std::string ShownLine(const std::string& text);

}  // namespace utf8
