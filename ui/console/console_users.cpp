#include "ui/console/console_users.h"

#include <cstdio>

#include "engine/backup_copy.h"
#include "engine/user_library.h"
#include "platform/path_rules.h"
#include "shell/desktop_users.h"
#include "shell/settings_store.h"
#include "shell/system_services.h"

namespace console {

int AddDesktopUser(const std::string& name) {
    const std::unique_ptr<ISettingsStore> settings = OpenUserSettings();
    CDesktopUserStore store(CDesktopUserStore::RootFromSettings(*settings));
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
            std::printf("added desktop user \"%s\" (id %u)\nbackup folder: %s\n", user.name.c_str(),
                        user.id,
                        platform::WithTrailingSeparator(
                            platform::WithTrailingSeparator(store.Root() + user.folder) + "Backup")
                            .c_str());
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
    const std::unique_ptr<ISettingsStore> settings = OpenUserSettings();
    if (!m_handle.Load(*settings)) {
        std::printf("no desktop users yet, so no backup copies (add one with --add-user NAME)\n");
    }
}

std::string RestoreFolder() {
    const std::unique_ptr<ISettingsStore> settings = OpenUserSettings();
    const std::string last = settings->ReadText("main", "Userdir", "");
    if (!last.empty()) return last + kBackupFolder;
    CDesktopUserStore store(CDesktopUserStore::RootFromSettings(*settings));
    if (!store.Load() || store.UmGetUserCount() != 1) return {};
    uint32_t id = 0;
    if (store.UmGetUserID(0, id) != 0) return {};
    return UserDirectoryOf(store, id) + kBackupFolder;
}

void RememberUserDir(const std::string& dir) {
    OpenUserSettings()->WriteText("main", "Userdir", dir);
}

void RememberHandheldUser(const std::string& name) {
    OpenUserSettings()->WriteText("main", CDesktopUserStore::kLastUserEntry, name);
}

}  // namespace console
