#include "ui/connection_check_dlg.h"

#include <utility>

#include "resources/strings/dialog_texts.h"
#include "shell/connection_probe.h"

namespace conncheck {
namespace {

using dlg::Control;
using dlg::Kind;

// id, kind, text, x y w h, style. One layout for both languages: long lines of the report
// wrap, and it scrolls down.
constexpr Control kControls[] = {
    {kIdReport,
     Kind::kEdit,
     0,
     {7, 7, 386, 200},
     dlg::kReadOnly | dlg::kVScroll | dlg::kBorder | dlg::kTabStop},
    {kIdAgain, Kind::kPushButton, kIdAgain, {7, 213, 70, 14}, dlg::kTabStop},
    {kIdClose, Kind::kDefPushButton, kIdClose, {323, 213, 70, 14}, dlg::kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgConnectionCheck, 400, 234, kControls};

}  // namespace

const dlg::Template& ConnectionCheckTemplate() {
    return kTemplate;
}

}  // namespace conncheck

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
