#include "ui/about_dlg.h"

#include "cc_version.h"
#include "resources/strings/dialog_texts.h"
#include "ui/links.h"

namespace about {
namespace {

using dlg::Control;
using dlg::Kind;
using resources::kItemText1;
using resources::kItemText2;

constexpr int kNoId = -1;  // statics without an id of their own

// id, kind, text, x y w h, style. The texts are wider than in the classic template, as our
// dialog font needs, and the links' areas grow with them; the usage note may take two lines.
constexpr Control kControls[] = {
    {kIdName, Kind::kStatic, kItemText1, {43, 10, 124, 9}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, kItemText2, {43, 23, 135, 9}, dlg::kNoStyle},
    {kIdNote, Kind::kStatic, 0, {43, 37, 135, 18}, dlg::kWordWrap},
    {kIdWeb, Kind::kStatic, 0, {43, 58, 120, 9}, dlg::kNoStyle},
    {kIdHiddenIcon, Kind::kIcon, 0, {10, 58, 21, 20}, dlg::kNoStyle},
    {kIdMail, Kind::kStatic, 0, {43, 71, 120, 9}, dlg::kNoStyle},
    {kIdAppIcon, Kind::kIcon, 0, {10, 10, 21, 20}, dlg::kNoStyle},
    {kIdOk, Kind::kDefPushButton, kIdOk, {71, 97, 40, 14}, dlg::kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgAbout, 183, 119, kControls};

}  // namespace

const dlg::Template& AboutTemplate() {
    return kTemplate;
}

}  // namespace about

using namespace about;

CAboutDlg::CAboutDlg(IAboutView& view, Opener openAddress)
    : m_view(view), m_open(std::move(openAddress)) {}

void CAboutDlg::OnInitDialog() {
    // The name with the version the build gave the whole program.
    std::string name = resources::LoadItemText(resources::kDlgAbout, resources::kItemText1);
    const size_t at = name.find("%s");
    if (at != std::string::npos) name.replace(at, 2, CC_VERSION);
    m_view.SetItemText(kIdName, name);
    m_view.SetItemText(kIdWeb, links::kWebSite);
    m_view.SetItemText(kIdMail, links::kSupportMail);
    m_strText = resources::LoadString(resources::kIdsAboutNote);
    m_view.SetItemText(kIdNote, m_strText);
}

bool CAboutDlg::HitTest(int id, int x, int y) const {
    dlg::PxRect rect;
    return m_view.ControlRect(id, rect) && rect.Contains(x, y);
}

void CAboutDlg::OnMouseMove(int x, int y) {
    m_view.SetLinkCursor(HitTest(kIdMail, x, y) || HitTest(kIdHiddenIcon, x, y) ||
                         HitTest(kIdWeb, x, y));
}

bool CAboutDlg::OnLButtonUp(int x, int y) {
    if (HitTest(kIdMail, x, y)) {
        if (m_open) m_open(std::string("mailto:") + links::kSupportMail);
    } else if (HitTest(kIdWeb, x, y) || HitTest(kIdHiddenIcon, x, y)) {
        if (m_open) m_open(links::kWebSite);
    } else {
        return false;
    }
    return true;
}

bool CAboutDlg::IsLinkText(const std::string& text) {
    return text == links::kWebSite || text == links::kSupportMail;
}
