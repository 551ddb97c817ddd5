// The window's file list: the install queue, its temporary files, the recent files, and
// the ways files come in (the open-file dialog, drops, the recent-file menu).
#include <unistd.h>

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/file_paths.h"
#include "engine/install_worker.h"
#include "resources/strings/string_table.h"
#include "shell/settings_store.h"
#include "ui/file_chooser.h"
#include "ui/installer_dlg.h"
#include "ui/installer_layout.h"
#include "ui/uri_list.h"

using namespace installer;
using resources::FormatString;
using resources::LoadString;

namespace {

constexpr size_t kRecentMax = 16;
constexpr size_t kDroppedNameMax = 511;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// A path as a line of text: bytes that are not UTF-8 and control characters (a newline in
// a name) show as replacement marks; the path itself is kept as it is.
QString Shown(const std::string& path) {
    QString text = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QChar(0xFFFD);
    }
    return text;
}

bool IsUtf8(const std::string& text) {
    const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return decoded.toUtf8() == QByteArray(text.data(), static_cast<qsizetype>(text.size()));
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
    if (!IsUtf8(path)) return;
    if (std::find(m_listRecent.begin(), m_listRecent.end(), path) != m_listRecent.end()) return;
    m_listRecent.insert(m_listRecent.begin(), path);
    while (m_listRecent.size() > kRecentMax) m_listRecent.pop_back();
}

void CInstallerDlg::RebuildRecentMenu() {
    if (!m_pFileMenu) return;
    for (QAction* action : m_pFileMenu->actions()) {
        const int id = action->data().toInt();
        if (id >= kCmdFirstRecent && id <= kCmdLastRecent) {
            m_pFileMenu->removeAction(action);
            delete action;
        }
    }
    for (size_t i = 0; i < m_listRecent.size(); ++i) {
        QString text = Shown(m_listRecent[i]);
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action = m_pFileMenu->addAction(text);
        action->setData(kCmdFirstRecent + static_cast<int>(i));
        m_settings.WriteText(settings::kRecent, "Recent" + std::to_string(i), m_listRecent[i]);
    }
}

void CInstallerDlg::RefreshFileList() {
    QTreeWidget* view = static_cast<QTreeWidget*>(Item(kIdList));
    view->clear();
    for (const std::string& entry : m_listInstall) {
        const int32_t length = GetFileLength(entry);
        char size[32];
        if (length <= 1024) {
            std::snprintf(size, sizeof size, "%d Bytes", length);
        } else {
            std::snprintf(size, sizeof size, "%d KB", length / 1024);
        }
        auto* row = new QTreeWidgetItem(view);
        row->setText(0, Shown(SplitPathPart(entry, 5)));
        row->setText(1, QString::fromLatin1(size));
        static constexpr int kWhere[] = {resources::kIdsWhereRam, resources::kIdsWhereCard,
                                         resources::kIdsWhereAuto};
        row->setText(
            2, QString::fromUtf8(LoadString(kWhere[PlannedDestination(entry, m_nDestination)])));
        row->setText(3, Shown(SplitPathPart(entry, 6)));
        for (int column = 0; column < 4; ++column) row->setToolTip(column, Shown(entry));
    }
}

bool CInstallerDlg::ChooseFiles(std::vector<std::string>& files) {
    std::vector<std::string> chosen;
    if (m_services.chooseFiles) {
        if (!m_services.chooseFiles(chosen)) return false;
    } else if (!ChooseFilesDialog(this, chosen)) {
        return false;
    }
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
    QTreeWidget* view = static_cast<QTreeWidget*>(Item(kIdList));
    // Row n shows entry n: rows are removed by their place, so names that do not show as
    // they are (not UTF-8, a newline) go too.
    std::vector<int> rows;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        if (view->topLevelItem(i)->isSelected()) rows.push_back(i);
    }
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (static_cast<size_t>(*it) < m_listInstall.size()) {
            m_listInstall.erase(m_listInstall.begin() + *it);
        }
    }
    RefreshView();
}

void CInstallerDlg::DropUriList(const std::string& uriList) {
    if (m_bTransferRunning) return;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string refusedRemote, refusedLocal;
    for (const DroppedUri& item : ParseUriList(uriList, host)) {
        if (!item.local) {
            refusedRemote += "\n" + item.address;
            continue;
        }
        const std::string path = item.path.substr(0, kDroppedNameMax);
        if (CheckQueueable(path) != QueueCheck::kPlainFile) {
            refusedLocal += "\n" + Shown(path).toStdString();
            continue;
        }
        AddFile(path);
    }
    RefreshView();
    if (!refusedRemote.empty()) {
        m_services.showMessage(
            FormatString(resources::kIdsRemoteDrop, refusedRemote.substr(1).c_str()));
    }
    if (!refusedLocal.empty()) {
        m_services.showMessage(
            FormatString(resources::kIdsNotAFile, refusedLocal.substr(1).c_str()));
    }
}

void CInstallerDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_bTransferRunning && event->mimeData()->hasFormat(QStringLiteral("text/uri-list"))) {
        event->acceptProposedAction();
    }
}

void CInstallerDlg::dropEvent(QDropEvent* event) {
    if (m_bTransferRunning) return;
    const QByteArray list = event->mimeData()->data(QStringLiteral("text/uri-list"));
    event->acceptProposedAction();
    DropUriList(list.toStdString());
}
