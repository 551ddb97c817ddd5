// Dialogs and menus declared as data, the way their resources read: each control once with
// its id, kind, text, rectangle in dialog units and style, each menu item once with its
// command id and text. CDialogBuilder makes the Qt widgets from such a table and places
// them; the dialog classes hold behaviour only.
#pragma once

#include <QFont>
#include <QRect>
#include <map>
#include <span>

class QAction;
class QDialog;
class QMenu;
class QMenuBar;
class QWidget;

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
BaseUnits BaseUnitsOf(const QFont& font);
// Dialog units to pixels, rounded as MulDiv rounds.
int DuToPxX(int du, const BaseUnits& units);
int DuToPxY(int du, const BaseUnits& units);
QRect DuToPx(const DuRect& rect, const BaseUnits& units);

// Builds the controls of a template into a client widget and a menu into a menu bar.
class CDialogBuilder {
  public:
    CDialogBuilder(QWidget* client, const QFont& font);

    // Makes every control of the table, placed and with its text; the widgets by id.
    std::map<int, QWidget*> Build(const Template& tpl);
    // Makes the menu; the actions of commands and check items by id, the popups by the
    // item id of their text.
    void BuildMenu(QMenuBar* bar, int resourceId, std::span<const MenuItem> items,
                   std::map<int, QAction*>& actions, std::map<int, QMenu*>& popups);

    const BaseUnits& Units() const { return m_units; }
    QSize ClientSize(const Template& tpl) const;

  private:
    QWidget* Make(const Control& c, int resourceId);

    QWidget* m_client;
    QFont m_font;
    BaseUnits m_units;
};

// A fixed-size dialog made from its table: the caption (the template's caption item), the
// flags of a dialog with a close box, the program's icon, and the controls on a client of
// the template's size. The widgets by id.
std::map<int, QWidget*> BuildFixedDialog(QDialog& dialog, const Template& tpl);

}  // namespace dlg
