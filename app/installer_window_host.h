// CInstallerDlg as start-up sees it (IStartupWindow): the inputs of a run, the modal run
// with Ctrl-C and kill closing it as its close box does, and the hand-over notification.
#pragma once

#include "app/startup_window.h"
#include "ui/installer_dlg.h"

class CInstallerWindowHost final : public IStartupWindow {
  public:
    explicit CInstallerWindowHost(InstallerServices services) : m_dlg(std::move(services)) {}

    bool AddFile(const std::string& strPath) override { return m_dlg.AddFile(strPath); }
    void SetCloseOnFinish() override { m_dlg.m_bCloseOnFinish = true; }
    void SetIgnoreHotSync(bool bIgnore) override { m_dlg.m_bIgnoreHotSync = bIgnore; }
    void SetTitle(const std::string& strTitle) override { m_dlg.m_strTitle = strTitle; }
    void SetPortFromText(const std::string& strPort) override { m_dlg.SetPortFromText(strPort); }
    int Exec() override;
    bool OnWindowMessage(int nWParam, int nLParam) override;
    void Raise() override;

    CInstallerDlg& Dialog() { return m_dlg; }

  private:
    CInstallerDlg m_dlg;
};
