// The Win32 view of the main installer window (dialog 130 with menu 131), built in memory
// from the tables: the dialog manager's controls and common controls, their notifications,
// the 180 ms timer, dropped files and the worker's "install done" turned into calls of
// CInstallerDlg, and what it shows turned into control contents. The behaviour is
// CInstallerDlg's.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/installer_dlg.h"
#include "ui/win32/dialog_win32.h"

#include <shellapi.h>

class CWin32InstallerView final : public win32ui::CWin32Dialog, private IInstallerView {
  public:
    // The worker's message that the run is over.
    static constexpr UINT kInstallDoneMessage = WM_USER + 5;
    static constexpr UINT_PTR kTimerId = 1234;

    // Services left unset that need a window get the Win32 ones (message boxes, the open-file
    // dialog, the about box, opening an address).
    explicit CWin32InstallerView(InstallerServices services);
    ~CWin32InstallerView() override;

    CInstallerDlg& Dialog() { return m_dialog; }

    // The window class of the main window (the first instance's); empty: the dialog
    // manager's own.
    std::wstring m_strWindowClass;
    // A message from outside (wParam 1970, the hand-over notification); true when handled.
    std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam)> m_onHandOver;

    // The modal run; its result.
    int Exec();
    // The window made modeless and initialised, shown or not (tests, screenshots).
    HWND CreateModeless(bool visible);

    // Dropped files as WM_DROPFILES brings them; the drop is released.
    void OnDropFiles(HDROP hDrop);
    // The window moved to a monitor of another resolution (WM_DPICHANGED): the system scales
    // the dialog's controls and fonts; the window takes the suggested rectangle, and what this
    // view keeps in pixels (the full size, the columns, the icons) follows.
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    // ---- for tests ----
    HMENU Menu() const { return m_hMenu; }
    HMENU FileMenu() const;
    HICON Frame(int n) const { return m_hAnimIcons[n]; }
    HWND ToolTip() const { return m_hToolTip; }
    SIZE FullSize() const { return m_rcFullWindow; }
    int ListColumnWidth(int column) const;

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnInitDialog();
    void OnCommandMessage(int id, int code, HWND hControl);
    InstallerServices WithWin32Services(InstallerServices services);
    win32ui::DialogFrame Frame(bool visible) const;
    void SetUpColumns();
    void LoadIcons();
    void MoveControlBy(int id, int dy);
    // The control's tooltip text, replacing what it had.
    void SetToolTip(int id, const std::string& text);
    int Scaled(int pixels) const;

    // IInstallerView
    void SetStatus(const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void SetProgress(int position, int rangeMax) override;
    void SetElapsed(const std::string& text) override;
    void SetAnimationFrame(int frame) override;
    void SetCancelButtonToOk() override;
    int PortIndex() const override;
    void SetPortIndex(int index) override;
    void ShowPortLabels(const std::vector<std::string>& labels) override;
    int SpeedIndex() const override;
    void SetSpeedIndex(int index) override;
    bool CloseOnFinish() const override;
    void SetCloseOnFinish(bool checked) override;
    void SetMenuCheck(int id, bool on) override;
    void EnableMenuItem(int id, bool enable) override;
    void ShowRecentFiles(const std::vector<std::string>& texts) override;
    bool IsFileListShown() const override;
    void SetFileListArea(bool show) override;
    void ShowFiles(const std::vector<installer::FileRow>& rows) override;
    std::vector<int> SelectedRows() const override;
    void ShowWhereColumn(bool shown) override;
    void EnableRunControls(bool enable) override;
    void AcceptDrops(bool accept) override;
    void StartTimer(int ms) override;
    void StopTimer() override;
    void EndDialog(int result) override;
    void PostInstallDone() override;
    void RunHistory(IUserLibrary* library, const std::string& userDir) override;
    void RunDesktopUsers(CDesktopUserStore& store, const std::string& offered) override;
    bool RunRestore(IUserLibrary* library, const std::string& userDir,
                    std::vector<std::string>& chosen) override;
    void RunConnectionCheck(IConnectionProbe& probe, const ISettingsStore& settings,
                            const std::string& port) override;

    HMENU m_hMenu = nullptr;
    std::map<int, HMENU> m_popups;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    HICON m_hAnimIcons[14] = {};
    HWND m_hToolTip = nullptr;
    SIZE m_rcFullWindow{};
    UINT m_nDpi = 96;
    int m_nFrame = 0;
    bool m_bListShown = true;  // the template's full layout
    int m_nWhereWidth = 0;
    bool m_bWhereShown = false;
    bool m_bInitialised = false;

    // Last: it goes first, ending a run while the controls it shows are still there.
    CInstallerDlg m_dialog;
};
