// The Win32 view of the about box (dialog 100): its links drawn in the highlight colour
// (WM_CTLCOLORSTATIC), the pointing hand over them and the address opened on the button's
// release. The behaviour is CAboutDlg's. Also the shell's "open" of an address.
#pragma once

#include <functional>
#include <string>

#include "ui/about_dlg.h"
#include "ui/win32/dialog_win32.h"

namespace win32ui {

// The shell's "open" action on a web or "mailto:" address; its result is ignored.
void OpenAddress(const std::string& address);

class CWin32AboutView final : public CWin32Dialog, private IAboutView {
  public:
    explicit CWin32AboutView(CAboutDlg::Opener openAddress)
        : m_dialog(*this, std::move(openAddress)) {}
    ~CWin32AboutView() override;
    CAboutDlg& Dialog() { return m_dialog; }
    static const DialogFrame& Frame();

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    bool ControlRect(int id, dlg::PxRect& rect) const override;
    void SetItemText(int id, const std::string& text) override;
    void SetLinkCursor(bool hand) override;

    HICON m_hIcons[2] = {};
    CAboutDlg m_dialog;
};

// The about box, modal over the owner.
void ShowAbout(HWND hOwner, const CAboutDlg::Opener& openAddress);

}  // namespace win32ui
