// CInstallerDlg as start-up sees it (IStartupWindow) on Windows: the Win32 view made of the
// first instance's window class, so that a second instance finds it, and the hand-over
// notification passed from the window's messages to start-up.
#pragma once

#include <functional>

#include "app/startup_window.h"
#include "ui/win32/installer_view_win32.h"

class CWin32WindowHost final : public IStartupWindow {
  public:
    CWin32WindowHost(InstallerServices services, std::wstring windowClass,
                     std::function<bool(UINT, WPARAM, LPARAM)> onHandOver);

    bool AddFile(const std::string& strPath) override { return Dialog().AddFile(strPath); }
    void SetCloseOnFinish() override { Dialog().m_bCloseOnFinish = true; }
    void SetIgnoreHotSync(bool bIgnore) override { Dialog().m_bIgnoreHotSync = bIgnore; }
    void SetTitle(const std::string& strTitle) override { Dialog().m_strTitle = strTitle; }
    void SetPortFromText(const std::string& strPort) override { Dialog().SetPortFromText(strPort); }
    int Exec() override { return m_view.Exec(); }
    bool OnWindowMessage(int nWParam, int nLParam) override;
    void Raise() override;

    CInstallerDlg& Dialog() { return m_view.Dialog(); }

  private:
    CWin32InstallerView m_view;
};
