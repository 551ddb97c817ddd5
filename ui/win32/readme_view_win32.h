// The Win32 view of the read-me and licence window (dialog 143). The behaviour is
// CReadmeDlg's.
#pragma once

#include <string>

#include "ui/readme_dlg.h"
#include "ui/win32/dialog_win32.h"

namespace win32ui {

class CWin32ReadmeView final : public CWin32Dialog, private IReadmeView {
  public:
    CWin32ReadmeView() : m_dialog(*this) {}
    ~CWin32ReadmeView() override;
    CReadmeDlg& Dialog() { return m_dialog; }
    // Modal; 1 for OK or accepted, 2 for declined.
    int Run(HWND hOwner);
    HWND CreateModeless();

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void ShowButtons(bool licence) override;
    void SetText(const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void FocusItem(int id) override;
    void EndDialog(int result) override;

    HICON m_hIcon = nullptr;
    CReadmeDlg m_dialog;
};

}  // namespace win32ui
