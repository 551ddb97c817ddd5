#include "ui/connection_check_dlg.h"

#include <utility>

#include "shell/connection_probe.h"

CConnectionCheckDlg::CConnectionCheckDlg(IConnectionProbe& probe, const ISettingsStore& settings,
                                         std::string port, IConnectionCheckView& view)
    : m_probe(probe), m_settings(settings), m_strPort(std::move(port)), m_view(view) {}

void CConnectionCheckDlg::Check() {
    std::string address;
    uint16_t netPort = 0;
    NetListenAddress(m_settings, m_strPort, address, netPort);
    m_report = BuildConnectionReport(m_probe.Probe(true, address, netPort), m_settings, m_strPort);
    m_view.ShowReport(RenderConnectionReport(m_report), m_report.reachable);
}
