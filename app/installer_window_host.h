// CInstallerDlg as start-up sees it (IStartupWindow): the inputs of a run, the modal run
// with Ctrl-C and kill closing it as its close box does, and the hand-over notification.
#pragma once

#include "app/startup_window.h"
#include "ui/qt/installer_view.h"

class CInstallerWindowHost final : public IStartupWindow {
  public:
    explicit CInstallerWindowHost(InstallerServices services) : m_dlg(std::move(services)) {}

    bool AddFile(const std::string& strPath) override { return Dialog().AddFile(strPath); }
    void SetCloseOnFinish() override { Dialog().m_bCloseOnFinish = true; }
    void SetIgnoreHotSync(bool bIgnore) override { Dialog().m_bIgnoreHotSync = bIgnore; }
    void SetTitle(const std::string& strTitle) override { Dialog().m_strTitle = strTitle; }
    void SetPortFromText(const std::string& strPort) override { Dialog().SetPortFromText(strPort); }
    int Exec() override;
    bool OnWindowMessage(int nWParam, int nLParam) override;
    void Raise() override;

    CInstallerDlg& Dialog() { return m_dlg.Dialog(); }
    CInstallerView& View() { return m_dlg; }

  private:
    CInstallerView m_dlg;
};
