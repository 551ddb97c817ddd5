// The about box (dialog 100): the program's name and version, the maker's notice, a usage
// note and two links, the web site and the support address. The links are plain texts that
// the dialog makes clickable itself: the pointing hand over them (and over the hidden icon
// left of the web address, whose area belongs to that link), the highlight colour on them,
// and the address opened when the left button is released over them. The behaviour, without
// a toolkit, over a small view; ui/qt/about_view.h is the Qt view.
#pragma once

#include <functional>
#include <string>

#include "ui/dialog_template.h"

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

const dlg::Template& AboutTemplate();

}  // namespace about

class IAboutView {
  public:
    virtual ~IAboutView() = default;
    // The control's rectangle in the dialog's client coordinates, visible or not; false when
    // the dialog has no control with that id.
    virtual bool ControlRect(int id, dlg::PxRect& rect) const = 0;
    virtual void SetItemText(int id, const std::string& text) = 0;
    // The pointing hand (true) or the arrow.
    virtual void SetLinkCursor(bool hand) = 0;
};

class CAboutDlg {
  public:
    // Opens a web or "mailto:" address with the desktop; its result is ignored.
    using Opener = std::function<void(const std::string& address)>;
    CAboutDlg(IAboutView& view, Opener openAddress);

    // Exchanged with static 1022 at initialisation: string 134.
    std::string m_strText;

    // The texts: the name with the build's version, the usage note, the two addresses.
    void OnInitDialog();
    // Whether a point in the dialog's client coordinates lies in the control's rectangle.
    bool HitTest(int id, int x, int y) const;
    void OnMouseMove(int x, int y);
    // True when the release was over a link (and its address was opened).
    bool OnLButtonUp(int x, int y);
    // The colour request: a static whose text is exactly one of the addresses is a link.
    static bool IsLinkText(const std::string& text);

  private:
    IAboutView& m_view;
    Opener m_open;
};
