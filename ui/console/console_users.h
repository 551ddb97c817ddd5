// The console front end's share of the desktop users: adding one, the user library for a
// run with backups, and what a run leaves for the installation history, as the window
// keeps it (the same settings).
#pragma once

#include <string>

#include "shell/desktop_users.h"

namespace console {

// ccourier-cli --add-user NAME. Returns the exit status.
int AddDesktopUser(const std::string& name);

// The desktop user library of one run, installed for the worker while it lives. Without
// backups, or when the store is missing (then said), the worker finds no user.
class CRunUserLibrary {
  public:
    explicit CRunUserLibrary(bool backup);

  private:
    CUserLibraryHandle m_handle;
};

// The Backup folder a whole restore takes its files from when none is named: that of the
// desktop user of the last run ("main"/"Userdir"), else that of the only desktop user;
// empty when there is neither.
std::string RestoreFolder();

// The end of a run: the user directory for the history window ("main"/"Userdir") and the
// handheld's user name to offer for a new desktop user.
void RememberUserDir(const std::string& dir);
void RememberHandheldUser(const std::string& name);

}  // namespace console
