#include "app/win32/window_host_win32.h"

#include "shell/hand_over_slots.h"

CWin32WindowHost::CWin32WindowHost(InstallerServices services, std::wstring windowClass,
                                   std::function<bool(UINT, WPARAM, LPARAM)> onHandOver)
    : m_view(std::move(services)) {
    m_view.m_strWindowClass = std::move(windowClass);
    m_view.m_onHandOver = std::move(onHandOver);
}

bool CWin32WindowHost::OnWindowMessage(int nWParam, int /*nLParam*/) {
    // Recognised by wParam alone; taken only while no transfer runs.
    return nWParam == handover::kMessageParam && Dialog().OnHandOverMessage();
}

void CWin32WindowHost::Raise() {
    HWND hWnd = m_view.Handle();
    if (!hWnd) return;
    if (::IsIconic(hWnd)) ::ShowWindow(hWnd, SW_RESTORE);
    ::BringWindowToTop(hWnd);
    ::SetForegroundWindow(hWnd);
}
