// The about box (dialog 100): the program's name and version, the maker's notice, a usage
// note and two links, the web site and the support address. The links are plain texts that
// the dialog makes clickable itself: the pointing hand over them (and over the hidden icon
// left of the web address, whose area belongs to that link), the highlight colour on them,
// and the address opened when the left button is released over them.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>

#include "resources/strings/string_table.h"

namespace about {

// Control ids of dialog 100.
enum ControlId : int {
    kIdOk = 1,
    kIdName = 1021,  // the program's name and version
    kIdNote = 1022,
    kIdMail = 1026,
    kIdAppIcon = 1028,
    kIdHiddenIcon = 1029,
    kIdWeb = 1030,
};

}  // namespace about

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    // openAddress opens a web or "mailto:" address with the desktop; its result is ignored.
    using Opener = std::function<void(const std::string& address)>;
    explicit CAboutDlg(QWidget* parent = nullptr, Opener openAddress = {});

    // Exchanged with static 1022 at initialisation: string 134.
    std::string m_strText;

    // Whether a point in the dialog's client coordinates lies in the control's rectangle;
    // false for an id the dialog has not. Visibility does not count.
    bool HitTest(int id, const QPoint& point) const;
    QWidget* Item(int id) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void OnMouseMove(const QPoint& point);
    bool OnLButtonUp(const QPoint& point);
    // The colour request: statics showing exactly one of the addresses get the highlight.
    void ColourLinks();

    Opener m_open;
    QWidget* m_pClient = nullptr;
    std::map<int, QWidget*> m_items;
};
