// The Win32 view of the default-installer question (dialog 135), and the file-type commands
// of the window on Windows: the question asked with it, the registry's file types, the
// Default apps page offered where Windows keeps another program. The behaviour is
// CDefaultTypesDlg's and RegisterFileTypes'.
#pragma once

#include <functional>

#include "ui/default_types_dlg.h"
#include "ui/win32/dialog_win32.h"

class ISettingsStore;

namespace win32ui {

class CWin32DefaultTypesView final : public CWin32Dialog, private IDefaultTypesView {
  public:
    explicit CWin32DefaultTypesView(std::function<void()> onHelp)
        : m_dialog(*this, std::move(onHelp)) {}
    ~CWin32DefaultTypesView() override;
    CDefaultTypesDlg& Dialog() { return m_dialog; }
    // Modal: 6 Yes, 7 No, 2 left unanswered.
    int Run(HWND hOwner);
    HWND CreateModeless();

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void SetDontAsk(bool checked) override;
    bool DontAsk() const override;
    void EndDialog(int result) override;

    HICON m_hIcon = nullptr;
    CDefaultTypesDlg m_dialog;
};

// The question over the owner; its Help button opens the user guide.
CDefaultTypesQuestion MakeDefaultTypesQuestion(HWND hOwner);

// RegisterFileTypes and UnregisterFileTypes on the registry of this user, asking over the
// owner.
void RegisterFileTypes(HWND hOwner, ISettingsStore& settings, bool askAlways);
void UnregisterFileTypes(ISettingsStore& settings);

}  // namespace win32ui
