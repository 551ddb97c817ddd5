// The window's pictures, drawn from our SVG icons: the application icon and the link
// icon's 14 animation frames (frame 0 is also the idle picture).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace linkicons {
QIcon ApplicationIcon();
// Frame 0 ... 13 at size x size pixels; a null pixmap for another number.
QPixmap AnimationFrame(int frame, int size);
}  // namespace linkicons
