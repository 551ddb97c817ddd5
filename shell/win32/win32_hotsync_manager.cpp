#include "shell/win32/win32_hotsync_manager.h"

#include <vector>

#include "platform/wide_text.h"

CWin32HotSyncManager::CWin32HotSyncManager(std::wstring windowClass)
    : m_strClass(std::move(windowClass)) {}

bool CWin32HotSyncManager::FindManager() {
    m_hWnd = ::FindWindowW(m_strClass.c_str(), nullptr);
    return m_hWnd != nullptr;
}

void CWin32HotSyncManager::PostClose() {
    if (m_hWnd) ::PostMessageW(m_hWnd, kCloseMessage, 1, 0);
}

void CWin32HotSyncManager::SetBusyCursor(bool busy) {
    // The system's cursors by number: IDC_WAIT and IDC_ARROW are narrow texts here.
    constexpr WORD kWait = 32514, kArrow = 32512;
    if (busy) {
        m_hSaved = ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(kWait)));
    } else {
        ::SetCursor(m_hSaved ? m_hSaved : ::LoadCursorW(nullptr, MAKEINTRESOURCEW(kArrow)));
        m_hSaved = nullptr;
    }
}

bool CWin32HotSyncManager::StartProgram(const std::string& path, const std::string& workDir,
                                        const std::string& commandLine) {
    const std::wstring program = platform::Widen(path);
    const std::wstring dir = platform::Widen(workDir);
    // The program's own name first, as every Windows program expects to find it.
    std::wstring line = L"\"" + program + L"\"";
    if (!commandLine.empty()) line += L" " + platform::Widen(commandLine);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, TRUE,
                          NORMAL_PRIORITY_CLASS, nullptr, dir.empty() ? nullptr : dir.c_str(),
                          &startup, &process)) {
        return false;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}
