// The user guide as the program carries it, by path below the guide's folder:
// "en/index.html", "de/index.html", "guide.css", "images/NAME.png" (the screenshots) and
// "images/cradlecourier.svg".
#pragma once

#include "resources/embedded_file.h"

namespace resources {

std::span<const EmbeddedFile> GuideFiles();

}  // namespace resources
