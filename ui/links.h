// The project's addresses, opened from the window's link icon and the about box.
#pragma once

namespace links {
inline constexpr const char* kWebSite = "https://cradlecourier.org/";
}  // namespace links
