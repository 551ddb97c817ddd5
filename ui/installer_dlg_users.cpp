// The main window's share of the desktop users: loading the user library at initialisation,
// the installation history command, the desktop users dialog, and the handheld's user name
// remembered after a run.
#include <QAction>

#include "engine/user_library.h"
#include "shell/desktop_users.h"
#include "shell/settings_store.h"
#include "ui/desktop_users_dlg.h"
#include "ui/history_dlg.h"
#include "ui/installer_dlg.h"
#include "ui/installer_layout.h"
#include "ui/restore_view.h"

using namespace installer;

namespace {

int Exec(const std::function<int(QDialog&)>& exec, QDialog& dialog) {
    return exec ? exec(dialog) : dialog.exec();
}

}  // namespace

void CInstallerDlg::LoadUserLibrary() {
    EnableUserCommands(m_hUserLib.Load(m_settings));
}

void CInstallerDlg::EnableUserCommands(bool present) {
    for (int id : {kCmdBackup, kCmdHistory, kCmdBackupAll, kCmdRestore}) {
        if (QAction* a = Action(id)) a->setEnabled(present);
    }
}

void CInstallerDlg::OnHistory() {
    if (m_strUserDir.empty()) return;
    CHistoryDlg dialog(m_hUserLib.Present() ? m_hUserLib.Store() : nullptr, m_strUserDir, this);
    Exec(m_execDialog, dialog);
}

void CInstallerDlg::OnDesktopUsers() {
    CDesktopUserStore* store = m_hUserLib.Store();
    if (!store) return;
    CDesktopUsersDlg dialog(
        *store, m_settings.ReadText(settings::kMain, CDesktopUserStore::kLastUserEntry, ""), this);
    Exec(m_execDialog, dialog);
    // The first user made the store: backups and the history have somewhere to go now.
    if (!m_hUserLib.Present() && m_hUserLib.LoadAgain()) EnableUserCommands(true);
}

void CInstallerDlg::OnRestore() {
    if (m_bTransferRunning || !m_hUserLib.Present()) return;
    CRestoreView dialog(m_hUserLib.Store(), m_strUserDir, this);
    if (Exec(m_execDialog, dialog) != QDialog::Accepted) return;
    m_listRestore = dialog.Dialog().ChosenFiles();
    RefreshView();
}

void CInstallerDlg::StoreHandheldUser(const std::string& name) {
    m_settings.WriteText(settings::kMain, CDesktopUserStore::kLastUserEntry, name);
}
