#include "ui/history_dlg.h"

#include <algorithm>

#include "engine/backup_copy.h"
#include "engine/backup_folder.h"
#include "engine/user_library.h"
#include "resources/strings/dialog_texts.h"
#include "ui/utf8_text.h"

namespace history {
namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

constexpr int kIdUserLabel = resources::kItemText1;

// id, kind, text, x y w h, style. One layout serves both languages: the label and the check
// box have room for the German texts.
constexpr Control kControls[] = {
    {kIdUserLabel, Kind::kStatic, resources::kItemText1, {7, 9, 40, 8}, kNoStyle},
    {kIdUsers, Kind::kDropList, 0, {48, 7, 140, 120}, kVScroll | kTabStop},
    {kIdList, Kind::kListView, 0, {7, 25, 266, 128}, kNoSortHeader | kBorder | kTabStop},
    {kIdLastBackup, Kind::kStatic, 0, {7, 157, 266, 9}, kNoStyle},
    {kIdAllFiles, Kind::kCheckBox, kIdAllFiles, {7, 169, 130, 10}, kTabStop},
    {kIdDelete, Kind::kPushButton, kIdDelete, {166, 184, 50, 14}, kTabStop},
    {kIdOk, Kind::kDefPushButton, kIdOk, {223, 184, 50, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgHistory, 280, 204, kControls};

// Lower case for the letters names are written in: Latin, Greek and Cyrillic.
char32_t Folded(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17E && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
        // Pairs: even upper, odd lower, but shifted by one from 0x139 to 0x148 and 0x179 on.
        const bool shifted = (c >= 0x139 && c <= 0x148) || c >= 0x179;
        return shifted ? (c % 2 == 1 ? c + 1 : c) : (c % 2 == 0 ? c + 1 : c);
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    const std::u32string x = utf8::CodePoints(a), y = utf8::CodePoints(b);
    return std::lexicographical_compare(
        x.begin(), x.end(), y.begin(), y.end(),
        [](char32_t l, char32_t r) { return Folded(l) < Folded(r); });
}

}  // namespace

const dlg::Template& HistoryTemplate() {
    return kTemplate;
}

std::vector<size_t> SortedNameOrder(const std::vector<std::string>& names) {
    std::vector<size_t> order(names.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return LessIgnoringCase(names[a], names[b]); });
    return order;
}

}  // namespace history

CHistoryDlg::CHistoryDlg(IHistoryView& view, IUserLibrary* library, std::string userDir)
    : m_strUserDir(std::move(userDir)), m_view(view), m_pLibrary(library) {}

void CHistoryDlg::OnInitDialog() {
    // 1: the users, the window's own selected.
    int selected = -1;
    const std::vector<HistoryUser> users = HistoryUsers(m_pLibrary, m_strUserDir, selected);
    std::vector<std::string> names;
    for (const HistoryUser& user : users) names.push_back(user.name);
    std::vector<HistoryUser> shown;
    int shownSelected = -1;
    m_userIds.clear();
    for (size_t i : history::SortedNameOrder(names)) {
        if (static_cast<int>(i) == selected) shownSelected = static_cast<int>(shown.size());
        shown.push_back(users[i]);
        m_userIds.push_back(users[i].id);
    }
    m_view.ShowUsers(shown, shownSelected);
    // 2 ... 4.
    LoadLog();
    ScanBackups();
    m_view.EnableDelete(false);
}

void CHistoryDlg::LoadLog() {
    m_rows = LoadHistoryLog(m_strUserDir);
    ShowRows();
}

void CHistoryDlg::ScanBackups() {
    ::ScanBackups(m_strUserDir, m_rows, m_bAllFiles != 0);
    ShowRows();
    // When the whole handheld was last backed up here, below the installations.
    m_view.ShowLastBackup(LastBackupNote(m_strUserDir + kBackupFolder));
}

void CHistoryDlg::ShowRows() {
    m_view.ShowRows(m_rows);
    OnRowChange(-1);
}

void CHistoryDlg::OnUserChange(int index) {
    if (index < 0 || static_cast<size_t>(index) >= m_userIds.size()) return;
    m_strUserDir = GetUserDirectoryById(m_pLibrary, m_userIds[size_t(index)], m_strUserDir);
    LoadLog();
    ScanBackups();
}

void CHistoryDlg::OnAllFilesClicked(bool checked) {
    m_bAllFiles = checked ? 1 : 0;
    LoadLog();
    ScanBackups();
}

void CHistoryDlg::OnRowChange(int row) {
    m_nCurrentRow = row >= 0 && static_cast<size_t>(row) < m_rows.size() ? row : -1;
    m_view.EnableDelete(m_nCurrentRow >= 0 && m_rows[size_t(m_nCurrentRow)].exists);
}

void CHistoryDlg::OnDelete() {
    if (m_nCurrentRow < 0 || !m_rows[size_t(m_nCurrentRow)].exists) return;
    const std::string name = m_rows[size_t(m_nCurrentRow)].name;
    if (!m_view.AskYesNo(resources::FormatString(resources::kIdsDeleteBackup, name.c_str()))) {
        return;
    }
    DeleteBackup(m_strUserDir, name);  // a failure is not reported: the row keeps its "X"
    LoadLog();
    ScanBackups();
}
