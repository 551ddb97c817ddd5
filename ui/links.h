// The project's addresses, opened from the window's link icon and the about box.
#pragma once

namespace links {
inline constexpr const char* kWebSite = "https://cradlecourier.org/";
// The support address; the about box opens it as "mailto:" followed by it.
inline constexpr const char* kSupportMail = "support@cradlecourier.org";
}  // namespace links
