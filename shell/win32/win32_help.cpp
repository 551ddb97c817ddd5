#include "shell/win32/win32_help.h"

#include <windows.h>
// windows.h before shellapi.h.
#include <shellapi.h>

#include "platform/wide_text.h"
#include "shell/carried_files.h"

bool OpenWithShell(const std::string& target) {
    if (target.empty()) return false;
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", platform::Widen(target).c_str(),
                                             nullptr, nullptr, SW_SHOWNORMAL);
    // Above 32 is success, as the call has always said.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool ShowHelp() {
    return OpenWithShell(PrepareHelpFile());
}
