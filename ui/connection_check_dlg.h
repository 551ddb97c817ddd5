// The connection check's window (dialog 320): the report of what a connection to a handheld
// needs (shell/connection_report.h), with "Check again" and "Close". Its behaviour lives
// here without a toolkit, over a small view; the Qt view (ui/connection_check_view.h) only
// shows what it is told and passes the buttons on.
#pragma once

#include "ui/dialog_template.h"

#include <string>

#include "shell/connection_report.h"

class IConnectionProbe;
class ISettingsStore;

namespace conncheck {

// Control ids of dialog 320.
enum ControlId : int {
    kIdClose = 2,
    kIdReport = 1170,
    kIdAgain = 1171,
};

const dlg::Template& ConnectionCheckTemplate();

}  // namespace conncheck

class IConnectionCheckView {
  public:
    virtual ~IConnectionCheckView() = default;
    // The report's text, and whether a handheld can be reached now.
    virtual void ShowReport(const std::string& text, bool reachable) = 0;
};

class CConnectionCheckDlg {
  public:
    // port: the port chosen in the window, as the settings name it.
    CConnectionCheckDlg(IConnectionProbe& probe, const ISettingsStore& settings, std::string port,
                        IConnectionCheckView& view);

    // Opening, and "Check again": the system is looked at anew each time.
    void OnInitDialog() { Check(); }
    void OnCheckAgain() { Check(); }

    const ConnectionReport& Report() const { return m_report; }

  private:
    void Check();

    IConnectionProbe& m_probe;
    const ISettingsStore& m_settings;
    std::string m_strPort;
    IConnectionCheckView& m_view;
    ConnectionReport m_report;
};
