#include "ui/readme_dlg.h"

#include <fstream>
#include <vector>

#include "resources/strings/dialog_texts.h"
#include "ui/utf8_text.h"

namespace readme {
namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

// id, kind, text, x y w h, style. OK and "Don't accept" share a place: only one shows.
constexpr Control kEnglish[] = {
    {CReadmeDlg::kIdText, Kind::kEdit, 0, {7, 7, 286, 166}, kVScroll | kHScroll | kReadOnly},
    {CReadmeDlg::kIdAccept, Kind::kPushButton, CReadmeDlg::kIdAccept, {177, 180, 56, 14}, kTabStop},
    {CReadmeDlg::kIdCancel, Kind::kPushButton, CReadmeDlg::kIdCancel, {237, 180, 56, 14}, kTabStop},
    {CReadmeDlg::kIdOk, Kind::kDefPushButton, CReadmeDlg::kIdOk, {237, 180, 56, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgReadme, 300, 201, kEnglish};

}  // namespace

const dlg::Template& ReadmeTemplate() {
    return kTemplate;
}

}  // namespace readme

std::string CReadmeDlg::LoadText(const std::string& strPath, int64_t nMaxBytes) {
    std::ifstream file(strPath, std::ios::binary);
    if (!file || nMaxBytes <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(nMaxBytes));
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::string bytes(buffer.data(), static_cast<size_t>(file.gcount()));
    std::string text = utf8::IsValid(bytes) ? std::move(bytes) : utf8::FromLatin1(bytes);
    std::string uniform;
    uniform.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        uniform += text[i];
    }
    return uniform;
}

void CReadmeDlg::OnInitDialog() {
    m_view.ShowButtons(m_bLicence);
    m_view.SetText(LoadText(m_strPath));
    m_view.SetCaption(m_strCaption);
    // A licence is not accepted by a stray Enter.
    m_view.FocusItem(m_bLicence ? kIdCancel : kIdOk);
}

void CReadmeDlg::OnButton(int id) {
    m_view.EndDialog(id == kIdCancel ? kIdCancel : kIdOk);
}

void CReadmeDlg::OnCancel() {
    m_view.EndDialog(kIdCancel);
}
