// The window's file list: the install queue, its temporary files, the recent files, and
// the ways files come in (the open-file dialog, drops, the recent-file menu).
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/file_paths.h"
#include "engine/install_worker.h"
#include "resources/strings/string_table.h"
#include "shell/settings_store.h"
#include "ui/installer_dlg.h"
#include "ui/installer_layout.h"
#include "ui/utf8_text.h"

using namespace installer;
using resources::FormatString;
using resources::LoadString;

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// A menu item's text shows "&" as it is.
std::string MenuText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += '&';
        out += c;
    }
    return out;
}

}  // namespace

bool CInstallerDlg::AddFile(const std::string& path) {
    if (std::find(m_listInstall.begin(), m_listInstall.end(), path) != m_listInstall.end()) {
        return false;
    }
    // Never queued: a directory, a FIFO, a socket or a device (reading one may never end).
    const QueueCheck kind = CheckQueueable(path);
    if (kind == QueueCheck::kDirectory || kind == QueueCheck::kSpecial) return false;
    AddRecentFile(path);
    if (Upper(path).find(".TXT") != std::string::npos) {
        std::string database;
        if (!m_services.convertText(path, database)) return false;
        m_listInstall.push_back(database);
        AddTempFile(database);
        return true;
    }
    m_listInstall.push_back(path);
    return true;
}

void CInstallerDlg::AddTempFile(const std::string& path) {
    if (std::find(m_listTempFiles.begin(), m_listTempFiles.end(), path) == m_listTempFiles.end()) {
        m_listTempFiles.push_back(path);
    }
}

void CInstallerDlg::DeleteTempFiles() {
    for (const std::string& path : m_listTempFiles) std::remove(path.c_str());
}

void CInstallerDlg::AddRecentFile(const std::string& path) {
    // A name the settings file cannot hold as it is stays out of the menu.
    if (!utf8::IsValid(path)) return;
    if (std::find(m_listRecent.begin(), m_listRecent.end(), path) != m_listRecent.end()) return;
    m_listRecent.insert(m_listRecent.begin(), path);
    while (m_listRecent.size() > kRecentMax) m_listRecent.pop_back();
}

void CInstallerDlg::RebuildRecentMenu() {
    std::vector<std::string> texts;
    for (size_t i = 0; i < m_listRecent.size(); ++i) {
        texts.push_back(MenuText(utf8::ShownLine(m_listRecent[i])));
        m_settings.WriteText(settings::kRecent, "Recent" + std::to_string(i), m_listRecent[i]);
    }
    m_view.ShowRecentFiles(texts);
}

void CInstallerDlg::RefreshFileList() {
    static constexpr int kWhere[] = {resources::kIdsWhereRam, resources::kIdsWhereCard,
                                     resources::kIdsWhereAuto};
    std::vector<FileRow> rows;
    for (const std::string& entry : m_listInstall) {
        const int32_t length = GetFileLength(entry);
        char size[32];
        if (length <= 1024) {
            std::snprintf(size, sizeof size, "%d Bytes", length);
        } else {
            std::snprintf(size, sizeof size, "%d KB", length / 1024);
        }
        rows.push_back({utf8::ShownLine(SplitPathPart(entry, 5)), size,
                        LoadString(kWhere[PlannedDestination(entry, m_nDestination)]),
                        utf8::ShownLine(SplitPathPart(entry, 6)), utf8::ShownLine(entry)});
    }
    m_view.ShowFiles(rows);
}

bool CInstallerDlg::ChooseFiles(std::vector<std::string>& files) {
    std::vector<std::string> chosen;
    if (!m_services.chooseFiles(chosen)) return false;
    for (const std::string& path : chosen) {
        if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
    }
    return true;
}

bool CInstallerDlg::OpenRecentFile(int id) {
    if (m_bTransferRunning) return false;
    const size_t index = static_cast<size_t>(id - kCmdFirstRecent);
    if (index >= m_listRecent.size()) return true;
    const std::string path = m_listRecent[index];
    if (FileCanBeOpened(path)) {
        AddFile(path);
        m_listRecent.erase(std::find(m_listRecent.begin(), m_listRecent.end(), path));
        m_listRecent.insert(m_listRecent.begin(), path);
    } else {
        m_services.showMessage(FormatString(resources::kIdsCouldNotOpen, path.c_str()));
        m_listRecent.erase(m_listRecent.begin() + static_cast<std::ptrdiff_t>(index));
    }
    RefreshView();
    return true;
}

void CInstallerDlg::RemoveSelected() {
    // Row n shows entry n: rows are removed by their place, so names that do not show as
    // they are (not UTF-8, a newline) go too.
    std::vector<int> rows = m_view.SelectedRows();
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it >= 0 && static_cast<size_t>(*it) < m_listInstall.size()) {
            m_listInstall.erase(m_listInstall.begin() + *it);
        }
    }
    RefreshView();
}

void CInstallerDlg::DropFiles(const std::vector<std::string>& paths,
                              const std::vector<std::string>& remote) {
    if (m_bTransferRunning) return;
    std::string refusedLocal;
    for (const std::string& dropped : paths) {
        const std::string path = dropped.substr(0, kDroppedNameMax);
        if (CheckQueueable(path) != QueueCheck::kPlainFile) {
            refusedLocal += "\n" + utf8::ShownLine(path);
            continue;
        }
        AddFile(path);
    }
    RefreshView();
    if (!remote.empty()) {
        std::string refusedRemote;
        for (const std::string& address : remote) {
            refusedRemote += (refusedRemote.empty() ? "" : "\n") + address;
        }
        m_services.showMessage(FormatString(resources::kIdsRemoteDrop, refusedRemote.c_str()));
    }
    if (!refusedLocal.empty()) {
        m_services.showMessage(
            FormatString(resources::kIdsNotAFile, refusedLocal.substr(1).c_str()));
    }
}
