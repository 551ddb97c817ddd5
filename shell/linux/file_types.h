// File types on the freedesktop.org desktop: what the shared rules of shell/file_types.h
// meet here. "The opener of a type" is three things: the type table (a MIME package naming
// the types by their file names), the open command (the program's desktop entry, whose Exec
// line starts the program and whose MimeType list says which types it opens) and the choice
// of default (a line in mimeapps.list). A type is known by its MIME type, so the three Palm
// types are one.
#pragma once

#include <string>
#include <vector>

#include "shell/file_types.h"

namespace file_types {

// The desktop entry's file name, which is also its id in mimeapps.list.
inline constexpr const char* kDesktopId = "cradlecourier.desktop";

}  // namespace file_types

// The program's desktop entry as it is now.
struct DesktopEntryState {
    bool exists = false;
    std::string exec;                    // the Exec value, unescaped
    std::vector<std::string> mimeTypes;  // the MimeType list
};
