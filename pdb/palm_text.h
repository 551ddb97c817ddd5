// Texts as the handheld keeps them (user names, database names, version texts) and as the
// desktop shows and stores them. Western handhelds use their own Latin character set: the
// Windows Latin-1 set with card suits in four of its unused places. Every byte has exactly
// one character here, so a text survives the round trip unchanged.
#pragma once

#include <string>
#include <string_view>

namespace pdb {

// The handheld's bytes as UTF-8. Never fails.
std::string PalmTextToUtf8(std::string_view palm);
// UTF-8 as the handheld's bytes; false when the text is not valid UTF-8 or holds a
// character the handheld's set lacks (out is then unspecified).
bool Utf8ToPalmText(std::string_view utf8, std::string& out);

}  // namespace pdb
