#include "ui/default_types_dlg.h"

#include "resources/strings/dialog_texts.h"
#include "resources/strings/string_table.h"

namespace defaulttypes {
namespace {

using dlg::Control;
using dlg::Kind;

constexpr int kNoId = -1;

// id, kind, text, x y w h, style. One layout serves both languages; the German lines are
// the longer ones.
constexpr Control kControls[] = {
    {kIdIcon, Kind::kIcon, 0, {8, 8, 21, 20}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, resources::kItemText1, {38, 8, 200, 9}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, resources::kItemText2, {38, 18, 200, 9}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, resources::kItemText3, {38, 33, 200, 9}, dlg::kNoStyle},
    {kIdDontAsk, Kind::kCheckBox, kIdDontAsk, {38, 49, 200, 10}, dlg::kTabStop},
    {kIdYes, Kind::kDefPushButton, kIdYes, {38, 67, 56, 14}, dlg::kTabStop},
    {kIdNo, Kind::kPushButton, kIdNo, {100, 67, 56, 14}, dlg::kTabStop},
    {kIdHelp, Kind::kPushButton, kIdHelp, {182, 67, 56, 14}, dlg::kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgDefaultTypes, 246, 89, kControls};

}  // namespace

const dlg::Template& DefaultTypesTemplate() {
    return kTemplate;
}

}  // namespace defaulttypes

void CDefaultTypesDlg::OnInitDialog() {
    m_view.SetDontAsk(m_nDontAsk != 0);
}

void CDefaultTypesDlg::OnAnswer(int id) {
    m_nDontAsk = m_view.DontAsk() ? 1 : 0;
    m_view.EndDialog(id);
}

void CDefaultTypesDlg::OnHelp() {
    if (m_onHelp) m_onHelp();
}

void CDefaultTypesDlg::OnCancel() {
    m_view.EndDialog(IDefaultTypesQuestion::kNoAnswer);
}

IDefaultTypesQuestion::Answer CDefaultTypesQuestion::Ask(bool& dontAsk) {
    int number = dontAsk ? 1 : 0;
    const int result = m_run ? m_run(number) : kNoAnswer;
    if (result == kYes || result == kNo) {
        dontAsk = number != 0;
        return static_cast<Answer>(result);
    }
    return kNoAnswer;
}

std::string CDefaultTypesQuestion::SystemSettingsText(const std::vector<std::string>& extensions) {
    std::string list;
    for (const std::string& e : extensions) list += (list.empty() ? "" : ", ") + e;
    return resources::FormatString(resources::kIdsOtherProgramKept, list.c_str());
}

bool CDefaultTypesQuestion::OfferSystemSettings(const std::vector<std::string>& extensions) {
    if (!m_confirm || extensions.empty()) return false;
    return m_confirm(SystemSettingsText(extensions));
}
