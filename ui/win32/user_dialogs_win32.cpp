#include "ui/win32/user_dialogs_win32.h"

namespace win32ui {

void RunHistory(HWND, IUserLibrary*, const std::string&) {}
void RunDesktopUsers(HWND, CDesktopUserStore&, const std::string&) {}
bool RunRestore(HWND, IUserLibrary*, const std::string&, std::vector<std::string>&) {
    return false;
}
void RunConnectionCheck(HWND, IConnectionProbe&, const ISettingsStore&, const std::string&) {}

}  // namespace win32ui
