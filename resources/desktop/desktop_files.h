// What the program writes to register itself with the desktop, by name:
// "desktop/cradlecourier.desktop.in" (the desktop entry, with @EXEC@ and @MIMETYPES@ to
// fill in), "desktop/cradlecourier.xml" (the MIME package) and "icons/NAME.svg" (the
// program's icon and those of its file types, named as the icon theme names them).
#pragma once

#include "resources/embedded_file.h"

namespace resources {

std::span<const EmbeddedFile> DesktopFiles();

}  // namespace resources
