// The texts of the dialog and menu resources, by resource id and item id, in English and
// German: what the window tables (ui/) put on their controls and menu items.
#pragma once

#include "resources/strings/string_table.h"

namespace resources {

// Resource ids.
enum ResourceId : int {
    kDlgAbout = 100,
    kDlgInstaller = 130,
    kMenuInstaller = 131,
    kDlgDefaultTypes = 135,
    kDlgReadme = 143,
    kDlgHistory = 147,
    kDlgDesktopUsers = 300,     // ours: the desktop users (no resource of that number before)
    kDlgRestore = 310,          // ours: restoring the handheld from its backup
    kDlgConnectionCheck = 320,  // ours: the connection check
};

// Item ids of texts that have no control or command id of their own.
enum ItemId : int {
    kItemCaption = -1,  // a dialog's caption
    kItemText1 = -2,    // statics without an id, in template order
    kItemText2 = -3,
    kItemText3 = -4,
    kItemPopupFile = -11,  // menu popups, which have no command id
    kItemPopupOptions = -12,
    kItemPopupExtended = -13,
    kItemPopupHelp = -14,  // the German menu's "&? "
};

// The text of an item in the language; the English text where the language has none;
// empty for an unknown item.
const char* LoadItemText(int resourceId, int itemId, Language language);
const char* LoadItemText(int resourceId, int itemId);

}  // namespace resources
