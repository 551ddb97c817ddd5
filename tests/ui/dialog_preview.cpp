// Shows the installation history, the desktop users or the restore dialog over sample user
// folders made in DIR, or the installer window with its Options menu open over them, for
// screenshots (scripts/screenshot.sh runs it under a virtual X server).
//
//   cc-dialog-preview history|users|restore|menu DIR
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/backup_copy.h"
#include "engine/backup_folder.h"
#include "pdb/palm_db_file.h"
#include "shell/desktop_users.h"
#include "shell/memory_settings.h"
#include "ui/desktop_users_dlg.h"
#include "ui/history_dlg.h"
#include "ui/installer_dlg.h"
#include "ui/restore_view.h"

namespace {

// A database installed at `when`, as the worker leaves its copy and log line.
void Installed(const std::string& userDir, const std::string& dir, const std::string& name,
               bool resource, const std::string& version, time_t when) {
    pdb::DbInfo info;
    info.name = name;
    info.attributes = resource ? pdb::kAttrResDb : 0;
    info.type = pdb::FourCCFromText(resource ? "appl" : "DATA");
    info.creator = pdb::FourCCFromText("Smpl");
    const std::string path = dir + "/source";
    {
        auto file = pdb::CPalmDbFile::Create(path, info);
        if (!file) return;
        const std::vector<uint8_t> data(200, 7);
        if (resource) {
            file->AppendResource(data.data(), data.size(), pdb::FourCCFromText("code"), 1);
            std::vector<uint8_t> text(version.begin(), version.end());
            text.push_back(0);
            file->AppendResource(text.data(), text.size(), pdb::FourCCFromText("tver"), 1);
        } else {
            file->AppendRecord(data.data(), data.size(), 0, 0, 1);
        }
        file->Close();
    }
    if (auto file = pdb::CPalmDbFile::Open(path)) WriteBackupAndLog(userDir, *file, when);
    std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s history|users|restore|menu DIR\n", argv[0]);
        return 64;
    }
    const std::string what = argv[1];
    const std::string dir = argv[2];
    CDesktopUserStore store(dir + "/Users/");
    DesktopUser user;
    for (const char* name : {"Jane Doe", "anna", "Palm Traveller"}) store.AddUser(name, &user);
    const std::string userDir = store.Root() + user.folder + "/";
    const time_t start = 979808700;  // January 2001
    Installed(userDir, dir, "Memos", false, "", start);
    Installed(userDir, dir, "Sky Game", true, "1.0", start + 86400);
    Installed(userDir, dir, "Field Guide", true, "2.3b", start + 3 * 86400);
    Installed(userDir, dir, "Sky Game", true, "1.1", start + 9 * 86400);
    // A copy the log does not name: only "All backup files" lists it.
    std::filesystem::create_directories(dir + "/Backup");
    Installed(dir + "/", dir, "Old Notes", true, "0.9", start);
    std::filesystem::rename(dir + "/Backup/OLD NOTES.PRC", userDir + "Backup/OLD NOTES.PRC");
    // The whole handheld was backed up too.
    HandheldRecord record;
    record.userName = user.name;
    record.backupTime = start + 10 * 86400;
    record.databases = 4;
    WriteHandheldRecord(userDir + kBackupFolder, record);

    if (what == "history") {
        auto* dialog = new CHistoryDlg(&store, userDir);
        dialog->AllFiles()->click();
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(3));
        dialog->show();
    } else if (what == "restore") {
        auto* dialog = new CRestoreView(&store, userDir);
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
        dialog->show();
    } else if (what == "menu") {
        static CMemorySettings settings;
        settings.WriteText("main", "UsersRoot", store.Root());
        settings.WriteText("com", "Device1", dir + "/no-port");  // no line to poll
        InstallerServices services;
        services.settings = &settings;
        auto* window = new CInstallerDlg(services);
        window->InitDialog();
        window->show();
        QTimer::singleShot(1000, window, [window] {
            window->activateWindow();
            if (QMenuBar* bar = window->findChild<QMenuBar*>()) {
                bar->setActiveAction(bar->actions().value(1));  // Options
            }
        });
    } else {
        auto* dialog = new CDesktopUsersDlg(store, "Virtual User");
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
        dialog->show();
    }
    return app.exec();
}
