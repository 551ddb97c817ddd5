// Dialogs and menus declared as data, the way their resources read: each control once with
// its id, kind, text, rectangle in dialog units and style, each menu item once with its
// command id and text. No toolkit here: each front end builds its windows from these
// tables (ui/qt/dialog_builder.h for Qt), and the dialog classes hold behaviour only.
#pragma once

#include <span>

namespace dlg {

enum class Kind {
    kGroupBox,
    kListView,  // a report view
    kPushButton,
    kDefPushButton,
    kStatic,    // a text
    kDropList,  // a drop-down list; the rectangle's height is the opened list's
    kProgress,
    kCheckBox,  // an automatic check box
    kIcon,      // an icon static
    kEdit,      // a multi-line text box
};

enum Style : unsigned {
    kNoStyle = 0,
    kVScroll = 1u << 0,
    kTabStop = 1u << 1,
    kMultiSelect = 1u << 2,
    kNoSortHeader = 1u << 3,
    kBorder = 1u << 4,
    kNotify = 1u << 5,    // an icon that reports clicks
    kWordWrap = 1u << 6,  // a text that breaks into a second line rather than being cut
    kHScroll = 1u << 7,
    kReadOnly = 1u << 8,
    kEditable = 1u << 9,  // a drop-down list whose text can be typed
};

struct DuRect {
    int x, y, w, h;
};

struct Control {
    int id;
    Kind kind;
    int textItem;  // item id of its text in the dialog's resource texts; 0 for none
    DuRect rect;   // dialog units
    unsigned style;
};

enum class MenuKind { kPopup, kEnd, kCommand, kCheck, kSeparator };

// A menu as a flat list: kPopup opens a level, kEnd closes it.
struct MenuItem {
    MenuKind kind;
    int id;        // command id (item id of the text for popups)
    int textItem;  // item id of its text
};

struct Template {
    int resourceId;     // for the texts
    int width, height;  // dialog units
    std::span<const Control> controls;
};

// Windows's dialog base units for a font: the average width of the 52 letters (rounded
// as Windows rounds it) and the font's height.
struct BaseUnits {
    int x = 4;
    int y = 8;
};
// A control's place in pixels, in its dialog's client coordinates.
struct PxRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// Dialog units to pixels, rounded as MulDiv rounds.
int DuToPxX(int du, const BaseUnits& units);
int DuToPxY(int du, const BaseUnits& units);

}  // namespace dlg
