#include "ui/console/console_users.h"

#include <cstdio>

#include "engine/backup_copy.h"
#include "engine/user_library.h"
#include "shell/desktop_users.h"
#include "shell/qt_settings.h"

namespace console {

int AddDesktopUser(const std::string& name) {
    CQtSettings settings;
    CDesktopUserStore store(CDesktopUserStore::RootFromSettings(settings));
    store.Load();
    DesktopUser user;
    const CDesktopUserStore::AddResult result = store.AddUser(name, &user);
    // Entries a person got wrong are skipped; say which, so they can be mended.
    for (const std::string& problem : store.Problems()) {
        std::fprintf(stderr, "ccourier-cli: %s, %s: entry ignored\n", store.UsersFilePath().c_str(),
                     problem.c_str());
    }
    switch (result) {
        case CDesktopUserStore::AddResult::kAdded:
            std::printf("added desktop user \"%s\" (id %u)\nbackup folder: %s%s/Backup/\n",
                        user.name.c_str(), user.id, store.Root().c_str(), user.folder.c_str());
            return 0;
        case CDesktopUserStore::AddResult::kBadName:
            std::fprintf(stderr,
                         "ccourier-cli: \"%s\" cannot be a handheld's user name (1 to 127 "
                         "characters of the handheld's Latin set, no control characters, no "
                         "blanks at either end)\n",
                         name.c_str());
            return 1;
        case CDesktopUserStore::AddResult::kNameTaken:
            std::fprintf(stderr, "ccourier-cli: there is already a desktop user \"%s\"\n",
                         name.c_str());
            return 1;
        case CDesktopUserStore::AddResult::kNotWritten:
            break;
    }
    std::fprintf(stderr, "ccourier-cli: cannot write the desktop users file %s\n",
                 store.UsersFilePath().c_str());
    return 1;
}

CRunUserLibrary::CRunUserLibrary(bool backup) {
    if (!backup) return;
    CQtSettings settings;
    if (!m_handle.Load(settings)) {
        std::printf("no desktop users yet, so no backup copies (add one with --add-user NAME)\n");
    }
}

std::string RestoreFolder() {
    CQtSettings settings;
    const std::string last = settings.ReadText("main", "Userdir", "");
    if (!last.empty()) return last + kBackupFolder;
    CDesktopUserStore store(CDesktopUserStore::RootFromSettings(settings));
    if (!store.Load() || store.UmGetUserCount() != 1) return {};
    uint32_t id = 0;
    if (store.UmGetUserID(0, id) != 0) return {};
    return UserDirectoryOf(store, id) + kBackupFolder;
}

void RememberUserDir(const std::string& dir) {
    CQtSettings settings;
    settings.WriteText("main", "Userdir", dir);
}

void RememberHandheldUser(const std::string& name) {
    CQtSettings settings;
    settings.WriteText("main", CDesktopUserStore::kLastUserEntry, name);
}

}  // namespace console
