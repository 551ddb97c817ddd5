// The windows the main window opens over itself for the desktop users and the handheld's
// backups, and the connection check: Win32 views of CHistoryDlg, CDesktopUsersDlg,
// CRestoreDlg and CConnectionCheckDlg, each run modally over the owner.
#pragma once

#include <string>
#include <vector>

#include "ui/win32/dialog_win32.h"

class CDesktopUserStore;
class IConnectionProbe;
class ISettingsStore;
class IUserLibrary;

namespace win32ui {

void RunHistory(HWND hOwner, IUserLibrary* library, const std::string& userDir);
void RunDesktopUsers(HWND hOwner, CDesktopUserStore& store, const std::string& offered);
// True with the files chosen for the next HotSync.
bool RunRestore(HWND hOwner, IUserLibrary* library, const std::string& userDir,
                std::vector<std::string>& chosen);
void RunConnectionCheck(HWND hOwner, IConnectionProbe& probe, const ISettingsStore& settings,
                        const std::string& port);

}  // namespace win32ui
