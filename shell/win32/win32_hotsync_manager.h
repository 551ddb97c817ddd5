// The vendor's HotSync Manager on Windows: its top-level window of class "KittyHawk" is
// asked to close with the message 0xBEC5 (wParam 1, lParam 0), and the manager program is
// started again as a process of its own.
#pragma once

#include <windows.h>

#include <string>

#include "shell/hotsync_manager.h"

class CWin32HotSyncManager final : public IHotSyncManagerHost {
  public:
    static constexpr const wchar_t* kWindowClass = L"KittyHawk";
    static constexpr UINT kCloseMessage = 0xBEC5;

    // Another window class (tests).
    explicit CWin32HotSyncManager(std::wstring windowClass = kWindowClass);

    bool FindManager() override;
    void PostClose() override;
    void SetBusyCursor(bool busy) override;
    bool StartProgram(const std::string& path, const std::string& workDir,
                      const std::string& commandLine) override;

  private:
    std::wstring m_strClass;
    HWND m_hWnd = nullptr;  // the window last found
    HCURSOR m_hSaved = nullptr;
};
