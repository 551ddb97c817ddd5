#include "ui/restore_dlg.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/backup_copy.h"
#include "engine/backup_folder.h"
#include "engine/user_library.h"
#include "platform/system.h"
#include "resources/strings/string_table.h"
#include "shell/backup_history.h"

namespace restore {

std::string SizeText(int64_t bytes) {
    if (bytes > 1024) return std::to_string(bytes / 1024) + " KB";
    return std::to_string(std::max<int64_t>(0, bytes)) + " Bytes";
}

std::string DateText(time_t when) {
    if (when == 0) return {};
    std::tm local{};
    if (!platform::LocalTime(when, local)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    return text;
}

}  // namespace restore

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

CRestoreDlg::CRestoreDlg(IRestoreView& view, IUserLibrary* library, std::string userDir)
    : m_view(view), m_pLibrary(library), m_strUserDir(std::move(userDir)) {}

void CRestoreDlg::Init() {
    int selected = -1;
    std::vector<HistoryUser> users = HistoryUsers(m_pLibrary, m_strUserDir, selected);
    // By name, as a sorted drop-down list shows them; equal names in the order they came.
    std::vector<size_t> order(users.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&users](size_t a, size_t b) {
        return Lower(users[a].name) < Lower(users[b].name);
    });
    std::vector<std::string> names;
    int shown = -1;
    m_userIds.clear();
    for (size_t i : order) {
        if (static_cast<int>(i) == selected) shown = static_cast<int>(names.size());
        names.push_back(users[i].name);
        m_userIds.push_back(users[i].id);
    }
    m_view.ShowUsers(names, shown);
    Load();
}

void CRestoreDlg::OnUserChange(int index) {
    if (index < 0 || static_cast<size_t>(index) >= m_userIds.size()) return;
    m_strUserDir = GetUserDirectoryById(m_pLibrary, m_userIds[size_t(index)], m_strUserDir);
    Load();
}

void CRestoreDlg::Load() {
    m_rows.clear();
    const std::string dir = m_strUserDir.empty() ? std::string() : m_strUserDir + kBackupFolder;
    if (!dir.empty()) {
        for (const BackupCopy& copy : ScanBackupCopies(dir)) {
            restore::Row row;
            row.fileName = copy.fileName;
            row.size = restore::SizeText(copy.fileSize);
            row.date = restore::DateText(copy.fileTime);
            m_rows.push_back(std::move(row));
        }
    }
    if (m_rows.empty()) {
        m_view.ShowNote(resources::FormatString(resources::kIdsRestoreEmpty, dir.c_str()));
    } else {
        m_view.ShowNote(LastBackupNote(dir));
    }
    m_view.ShowRows(m_rows);
    Refresh();
}

void CRestoreDlg::Refresh() {
    const bool any =
        std::any_of(m_rows.begin(), m_rows.end(), [](const auto& r) { return r.checked; });
    const bool all = !m_rows.empty() && std::all_of(m_rows.begin(), m_rows.end(),
                                                    [](const auto& r) { return r.checked; });
    m_view.ShowAllChecked(all);
    m_view.EnableOk(any);
}

void CRestoreDlg::OnRowChecked(int row, bool checked) {
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return;
    m_rows[size_t(row)].checked = checked;
    Refresh();
}

void CRestoreDlg::OnAllClicked(bool checked) {
    for (restore::Row& row : m_rows) row.checked = checked;
    m_view.ShowRows(m_rows);
    Refresh();
}

std::vector<std::string> CRestoreDlg::ChosenFiles() const {
    std::vector<std::string> files;
    for (const restore::Row& row : m_rows) {
        if (row.checked) files.push_back(m_strUserDir + kBackupFolder + row.fileName);
    }
    return files;
}
