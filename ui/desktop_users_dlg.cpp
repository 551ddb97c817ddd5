#include "ui/desktop_users_dlg.h"

#include <cstdio>

#include "resources/strings/dialog_texts.h"
#include "shell/desktop_users.h"

using namespace deskusers;

namespace deskusers {
namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

constexpr int kResource = resources::kDlgDesktopUsers;

// id, kind, text, x y w h, style; one layout for both languages.
constexpr Control kControls[] = {
    {resources::kItemText1, Kind::kStatic, resources::kItemText1, {7, 6, 246, 26}, kWordWrap},
    {kIdList, Kind::kListView, 0, {7, 34, 246, 86}, kNoSortHeader | kBorder | kTabStop},
    {resources::kItemText2, Kind::kStatic, resources::kItemText2, {7, 128, 60, 8}, kNoStyle},
    {kIdName, Kind::kDropList, 0, {68, 126, 118, 60}, kTabStop | kEditable},
    {kIdAdd, Kind::kPushButton, kIdAdd, {193, 125, 60, 14}, kTabStop},
    {kIdRemove, Kind::kPushButton, kIdRemove, {7, 150, 60, 14}, kTabStop},
    {kIdClose, Kind::kDefPushButton, kIdClose, {193, 150, 60, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{kResource, 260, 171, kControls};

std::string Format(int item, const std::string& value) {
    const char* pattern = resources::LoadItemText(kResource, item);
    const int n = std::snprintf(nullptr, 0, pattern, value.c_str());
    std::vector<char> text(static_cast<size_t>(n > 0 ? n : 0) + 1);
    std::snprintf(text.data(), text.size(), pattern, value.c_str());
    return text.data();
}

}  // namespace

const dlg::Template& DesktopUsersTemplate() {
    return kTemplate;
}

}  // namespace deskusers

CDesktopUsersDlg::CDesktopUsersDlg(IDesktopUsersView& view, CDesktopUserStore& store,
                                   std::string offered)
    : m_view(view), m_store(store), m_strOffered(std::move(offered)) {}

void CDesktopUsersDlg::Refresh() {
    std::vector<Row>& rows = m_rows;
    rows.clear();
    m_userIds.clear();
    bool offeredIsUser = false;
    for (const DesktopUser& user : m_store.Users()) {
        rows.push_back({user.name, m_store.Root() + user.folder + "/Backup/"});
        m_userIds.push_back(user.id);
        offeredIsUser = offeredIsUser || user.name == m_strOffered;
    }
    m_view.ShowUsers(rows);
    m_nCurrentRow = -1;
    // A name that is a user already is offered no more.
    m_strName = offeredIsUser ? std::string() : m_strOffered;
    m_view.ShowOffer(m_strName);
    UpdateButtons();
}

void CDesktopUsersDlg::OnNameChange(const std::string& name) {
    m_strName = name;
    UpdateButtons();
}

void CDesktopUsersDlg::OnRowChange(int row) {
    m_nCurrentRow = row >= 0 && static_cast<size_t>(row) < m_userIds.size() ? row : -1;
    UpdateButtons();
}

void CDesktopUsersDlg::UpdateButtons() {
    m_view.EnableAdd(!m_strName.empty());
    m_view.EnableRemove(m_nCurrentRow >= 0);
}

void CDesktopUsersDlg::OnAdd() {
    const std::string name = m_strName;
    if (name.empty()) return;
    DesktopUser added;
    switch (m_store.AddUser(name, &added)) {
        case CDesktopUserStore::AddResult::kAdded:
            m_bChanged = true;
            Refresh();
            for (size_t i = 0; i < m_userIds.size(); ++i) {
                if (m_userIds[i] != added.id) continue;
                m_view.SelectRow(static_cast<int>(i));
                OnRowChange(static_cast<int>(i));
            }
            return;
        case CDesktopUserStore::AddResult::kBadName:
            m_view.ShowMessage(Format(kMsgBadName, name));
            return;
        case CDesktopUserStore::AddResult::kNameTaken:
            m_view.ShowMessage(Format(kMsgNameTaken, name));
            return;
        case CDesktopUserStore::AddResult::kNotWritten:
            m_view.ShowMessage(Format(kMsgNotWritten, m_store.UsersFilePath()));
            return;
    }
}

void CDesktopUsersDlg::OnRemove() {
    if (m_nCurrentRow < 0) return;
    const uint32_t id = m_userIds[size_t(m_nCurrentRow)];
    if (!m_view.AskYesNo(Format(kMsgAskRemove, m_rows[size_t(m_nCurrentRow)].name))) return;
    if (m_store.RemoveUser(id)) {
        m_bChanged = true;
    } else {
        m_view.ShowMessage(Format(kMsgNotWritten, m_store.UsersFilePath()));
    }
    Refresh();
}
