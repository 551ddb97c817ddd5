// The Qt side of the dialog tables (ui/dialog_template.h): CDialogBuilder makes the widgets
// of a table and places them, dialog units converted through the dialog font's average
// character size.
#pragma once

#include <QFont>
#include <QRect>
#include <map>
#include <span>
#include <string>

#include "ui/dialog_template.h"

class QAction;
class QDialog;
class QMenu;
class QMenuBar;
class QTreeWidget;
class QWidget;

namespace dlg {

// The base units of a font.
BaseUnits BaseUnitsOf(const QFont& font);
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

// A list's column titles (string ids) and widths, the widths given for the classic 8 pt
// font (6 pixels a character) and grown with the list's own.
void SetColumns(QTreeWidget* list, std::span<const int> titles, std::span<const int> widths);
// A question with Yes and No over parent, No the default; true for Yes.
bool AskYesNo(QWidget* parent, const QString& title, const std::string& text);
// The list's selection keeps its colours when the list loses the focus.
void KeepSelectionShown(QTreeWidget* list);

}  // namespace dlg
