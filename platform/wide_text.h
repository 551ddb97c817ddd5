// UTF-8 inside, UTF-16 at the Windows calls (Windows only).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Invalid UTF-8 becomes U+FFFD; so do unpaired surrogates the other way.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

}  // namespace platform
