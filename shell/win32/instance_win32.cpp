#include "shell/win32/instance_win32.h"

#include <windows.h>

#include <cstdio>

#include "platform/system.h"
#include "platform/wide_text.h"
#include "shell/hand_over_slots.h"

using platform::Widen;

namespace instance {

// "%s:%x:%x:%x:%x" with the program name, the volume serial number of the program file, 8, its
// file index and 0 (lower-case hexadecimal), so every start of one program file has the same
// key and a copy or another program has another; "%s:%x:%x" with the name, 0 and 8 when the
// program file can't be looked at. (The module handle moves with address space layout
// randomisation and is no good for this.)
std::string MakeInstanceKey(const std::string& strProgramName, const std::string& strProgramPath) {
    HANDLE h = ::CreateFileW(Widen(strProgramPath).c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = h != INVALID_HANDLE_VALUE && !strProgramPath.empty() &&
                       ::GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    char buf[96];
    if (!known) {
        std::snprintf(buf, sizeof buf, ":%x:%x", 0u, 8u);
    } else {
        const unsigned long long index =
            (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        std::snprintf(buf, sizeof buf, ":%lx:%x:%llx:%x", info.dwVolumeSerialNumber, 8u, index, 0u);
    }
    // A mutex's name can't hold a backslash.
    std::string key = strProgramName + buf;
    for (char& c : key) {
        if (c == '\\') c = '_';
    }
    return key;
}

}  // namespace instance

CWin32InstanceChannel::CWin32InstanceChannel(std::string strKey) : m_strKey(std::move(strKey)) {}

CWin32InstanceChannel::~CWin32InstanceChannel() {
    if (m_bClassRegistered) {
        ::UnregisterClassW(Widen(m_strKey).c_str(), ::GetModuleHandleW(nullptr));
    }
    if (m_hMutex) ::CloseHandle(m_hMutex);
}

IInstanceChannel::Role CWin32InstanceChannel::Open() {
    const std::wstring key = Widen(m_strKey);
    HANDLE hMutex = ::CreateMutexW(nullptr, FALSE, key.c_str());
    const DWORD err = ::GetLastError();
    if (hMutex && err == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(hMutex);
        return Role::kSecond;
    }
    // A mutex of that name made by another security context.
    if (!hMutex && err == ERROR_ACCESS_DENIED) return Role::kSecond;
    if (!hMutex) {
        m_strProblem = "the instance mutex: " +
                       platform::ErrorText(platform::kSystemErrorBase + static_cast<int>(err));
        return Role::kNoServer;
    }
    m_hMutex = hMutex;

    // The dialog manager's own window procedure: the main window is a dialog of this class.
    HINSTANCE hInstance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ::DefDlgProcW;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = hInstance;
    wc.hIcon = ::LoadIconW(hInstance, MAKEINTRESOURCEW(128));
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = key.c_str();
    if (!::RegisterClassExW(&wc)) {
        m_strProblem =
            "the window class: " +
            platform::ErrorText(platform::kSystemErrorBase + static_cast<int>(::GetLastError()));
        return Role::kNoServer;
    }
    m_bClassRegistered = true;
    return Role::kFirst;
}

std::wstring CWin32InstanceChannel::WindowClass() const {
    return m_bClassRegistered ? Widen(m_strKey) : std::wstring();
}

bool CWin32InstanceChannel::Send(const InstanceMessage& message, int nTimeoutMs,
                                 int32_t* pnResult) {
    if (message.strName == handover::kMessageName) {
        const UINT msg = ::RegisterWindowMessageW(Widen(message.strName).c_str());
        if (msg == 0) return false;
        DWORD_PTR result = 0;
        const LRESULT sent = ::SendMessageTimeoutW(
            HWND_BROADCAST, msg, static_cast<WPARAM>(message.nWParam),
            static_cast<LPARAM>(message.nLParam), SMTO_ABORTIFHUNG | SMTO_NORMAL,
            static_cast<UINT>(nTimeoutMs > 0 ? nTimeoutMs : 0), &result);
        if (pnResult) *pnResult = static_cast<int32_t>(result);
        return sent != 0;
    }
    // Anything else asks for the first instance's window to come to the front.
    HWND hWnd = ::FindWindowW(Widen(m_strKey).c_str(), nullptr);
    if (!hWnd) return false;
    if (::IsIconic(hWnd)) ::ShowWindow(hWnd, SW_RESTORE);
    ::BringWindowToTop(hWnd);
    ::SetForegroundWindow(hWnd);
    if (pnResult) *pnResult = 0;
    return true;
}

bool CWin32InstanceChannel::Deliver(unsigned nMsg, uintptr_t wParam, intptr_t lParam) {
    // The message's number is not compared (every sender registers the name anew), but a
    // system message whose wParam happens to be 1970 is not a notification.
    if (nMsg < WM_USER || wParam != static_cast<uintptr_t>(handover::kMessageParam)) return false;
    if (lParam < 0 || lParam > kMaxHandOverFiles) return false;
    if (!m_handler) return false;
    m_handler({handover::kMessageName, handover::kMessageParam, static_cast<int32_t>(lParam)});
    return true;
}
