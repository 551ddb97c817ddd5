// The main installer window's behaviour: queue files, pick the port and the speed, wait for
// the HotSync button, show the run, close. It owns the device session between runs and
// starts one install worker per connection; during a run the engine's CTransferMonitor
// drives its status line, caption, progress bar, elapsed time and message boxes. No toolkit
// here: everything it shows goes through IInstallerView, whose Qt implementation is
// ui/qt/installer_view.h; its timer, menu commands and control notifications come back as
// calls of CInstallerDlg.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/transfer_monitor.h"
#include "engine/transfer_view.h"
#include "shell/desktop_users.h"

class CDeviceSession;
class ISettingsStore;
class IConnectionProbe;
class IHotSyncManagerHost;
class IPalmDesktopValues;
class IPortHolderFinder;

namespace installer {

// Menu item states as the system's menus report them.
inline constexpr unsigned kStateGrayed = 0x1;
inline constexpr unsigned kStateChecked = 0x8;

inline constexpr int kTimerMs = 180;
inline constexpr int kUsbIndex = 8;  // of the port box
inline constexpr int kNetIndex = 9;
inline constexpr int kSpeeds[] = {256000, 128000, 115200, 57600, 38400, 19200, 9600};
inline constexpr size_t kRecentMax = 16;
inline constexpr size_t kDroppedNameMax = 511;

// The file list's columns: name, size, where the file goes (ours, shown only when a card may
// take files), path; the widths for the classic 8 pt font (6 pixels a character).
enum Column { kColName, kColSize, kColWhere, kColPath };
inline constexpr int kColumnWidths[] = {140, 65, 126};

// One row of the file list, as shown.
struct FileRow {
    std::string name;  // file name with extension
    std::string size;  // "1024 Bytes", "1 KB"
    std::string where;
    std::string path;  // drive and directory, with the trailing separator
    std::string tip;   // the whole path
};

// The port box's entry as the settings and the command line name it.
std::string PortEntryName(int index);
// The speed box's index for a speed; 57600's for one it does not list.
int SpeedIndex(int speed);

}  // namespace installer

// What the window needs from its surroundings; everything left unset gets the real thing
// (the view fills the ones that need its toolkit).
struct InstallerServices {
    ISettingsStore* settings = nullptr;  // required
    IHotSyncManagerHost* hotSyncManager = nullptr;
    const IPalmDesktopValues* palmDesktop = nullptr;
    IPortHolderFinder* portHolders = nullptr;
    // What the port box and the connection check see of the system.
    IConnectionProbe* connectionProbe = nullptr;
    IPictureConverter* pictures = nullptr;  // none: pictures are reported as not installed
    // A session on a port name with a speed, listening deferred.
    std::function<std::unique_ptr<CDeviceSession>(const std::string& port, int speed)> makeSession;
    std::function<void(int ms)> sleep;
    // Ends the process at once (a close during a transfer).
    std::function<void(int code)> exitProcess;
    // Message boxes: OK and Cancel (true for OK), and a notice with OK.
    std::function<bool(const std::string& text)> askOkCancel;
    std::function<void(const std::string& text)> showMessage;
    // The open-file dialog; paths appended to the list, true for OK.
    std::function<bool(std::vector<std::string>& files)> chooseFiles;
    // Text file to DOC database; true with the database's path.
    std::function<bool(const std::string& text, std::string& db)> convertText;
    std::function<void(const std::string& url)> openUrl;
    std::function<void()> showAbout;
    // The desktop's commands: the user guide and the file types.
    std::function<void()> showHelp;
    std::function<void(bool askAlways)> registerFileTypes;
    std::function<void()> unregisterFileTypes;
};

// What CInstallerDlg needs from a window.
class IInstallerView {
  public:
    virtual ~IInstallerView() = default;

    // ---- what a run shows (driven by the engine's monitor) ----
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetProgress(int position, int rangeMax) = 0;
    virtual void SetElapsed(const std::string& text) = 0;
    // The link icon's frame 0 ... 13.
    virtual void SetAnimationFrame(int frame) = 0;
    virtual void SetCancelButtonToOk() = 0;

    // ---- the boxes ----
    // Selected index, -1 for none.
    virtual int PortIndex() const = 0;
    virtual void SetPortIndex(int index) = 0;
    // What the port box's opened list says of each entry; the entries keep their names.
    virtual void ShowPortLabels(const std::vector<std::string>& labels) = 0;
    virtual int SpeedIndex() const = 0;
    virtual void SetSpeedIndex(int index) = 0;
    virtual bool CloseOnFinish() const = 0;
    virtual void SetCloseOnFinish(bool checked) = 0;

    // ---- menu 131 ----
    virtual void SetMenuCheck(int id, bool on) = 0;
    virtual void EnableMenuItem(int id, bool enable) = 0;
    // The File menu's recent files, command ids from 32787 on, texts as given.
    virtual void ShowRecentFiles(const std::vector<std::string>& texts) = 0;

    // ---- the file list ----
    virtual bool IsFileListShown() const = 0;
    // The list area shown (the full layout) or hidden (the window 160 pixels lower, the
    // controls below the list moved up, the list's controls out of the tab order).
    virtual void SetFileListArea(bool show) = 0;
    virtual void ShowFiles(const std::vector<installer::FileRow>& rows) = 0;
    virtual std::vector<int> SelectedRows() const = 0;
    virtual void ShowWhereColumn(bool shown) = 0;

    // ---- the window ----
    // Port box, speed box, list, Add and Remove.
    virtual void EnableRunControls(bool enable) = 0;
    virtual void AcceptDrops(bool accept) = 0;
    virtual void StartTimer(int ms) = 0;
    virtual void StopTimer() = 0;
    virtual void EndDialog(int result) = 0;
    // From the worker's thread: OnInstallDone is to run on the window's thread.
    virtual void PostInstallDone() = 0;

    // ---- the windows opened from this one (modal) ----
    virtual void RunHistory(IUserLibrary* library, const std::string& userDir) = 0;
    virtual void RunDesktopUsers(CDesktopUserStore& store, const std::string& offered) = 0;
    // True with the files chosen for the next HotSync.
    virtual bool RunRestore(IUserLibrary* library, const std::string& userDir,
                            std::vector<std::string>& chosen) = 0;
    virtual void RunConnectionCheck(IConnectionProbe& probe, const ISettingsStore& settings,
                                    const std::string& port) = 0;
};

class CInstallerDlg : private ITransferView, private IInstallDoneSink {
  public:
    // Construction reads the settings; the view is used from OnInitDialog on.
    CInstallerDlg(IInstallerView& view, InstallerServices services);
    ~CInstallerDlg() override;

    // ---- set by start-up between construction and the run ----
    bool m_bCloseOnFinish = false;
    bool m_bIgnoreHotSync = false;
    std::string m_strTitle;
    // Keeps the digits of the text as the COM port number ("/COM3" gives 3).
    void SetPortFromText(const std::string& text);

    // Initialisation, once the view's window exists.
    void OnInitDialog();

    // ---- operations ----
    std::string GetPortName();
    int GetSpeed();
    void ReopenSession();
    void RefreshView();
    bool MenuStateIs(int id, unsigned state) const;
    void SetMenuCheck(int id, bool on);
    void EnableMenuItem(int id, bool enable);
    void ShowFileList(bool show);
    bool IsFileListShown() const;
    // The run's destination (RunDestination), its menu checks, and with store the setting
    // main/"Destination" and the file list's column.
    void SetDestination(int destination, bool store);
    // The files a second instance handed over; true when there were any.
    bool ReadHandedOverFiles();
    // The hand-over notification (wParam 1970): handled only while no transfer runs.
    bool OnHandOverMessage();

    // ---- messages and commands ----
    void OnCommand(int id);
    void OnSysCommand(int id);
    void OnLinkClicked();
    void OnPortChange();
    void OnSpeedChange();
    void OnCloseOnFinishClicked();
    // The timer step.
    void OnTimer();
    // The worker's "install done", on the window's thread.
    void OnInstallDone();
    // The closing work; during a transfer the process ends in it.
    void StopTransfer();
    // Cancel, Escape, Enter and the close box: the closing work, then the dialog ends.
    void OnCancel();

    // ---- the file list ----
    bool AddFile(const std::string& path);
    void AddTempFile(const std::string& path) override;
    void DeleteTempFiles();
    void AddRecentFile(const std::string& path);
    void RebuildRecentMenu();
    void RefreshFileList();
    bool ChooseFiles(std::vector<std::string>& files);
    bool OpenRecentFile(int id);
    void RemoveSelected();
    // Dropped files: local paths queued when they are plain files, the rest (and remote
    // addresses) refused with a message each.
    void DropFiles(const std::vector<std::string>& paths, const std::vector<std::string>& remote);

    // ---- the desktop users, backups and history ----
    // Initialisation's step for the user library: backup and history greyed without it.
    void LoadUserLibrary();
    void OnHistory();
    void OnDesktopUsers();
    void OnRestore();
    void EnableUserCommands(bool present);
    CUserLibraryHandle m_hUserLib;

    // ---- ports ----
    // The port box's opened list tells where each port goes.
    void RefreshPortLabels();
    void OnCheckConnection();

    // ---- state, for start-up, the view and tests ----
    std::vector<std::string> m_listInstall;
    std::vector<std::string> m_listTempFiles;
    std::vector<std::string> m_listRecent;
    // Backup copies to put back at the next HotSync (the restore dialog's choice).
    std::vector<std::string> m_listRestore;
    int m_nPort = 1;
    bool m_bUsb = false;
    bool m_bNet = false;
    int m_nSpeed = 57600;
    int m_nDestination = 0;  // RunDestination
    int m_nHotSyncStop = -2;
    int m_nResultCode = -1;
    std::string m_strUserDir;
    bool m_bTransferRunning = false;
    CDeviceSession* Session() const { return m_pSession.get(); }
    CTransferMonitor& Monitor() { return m_monitor; }
    InstallerServices& Services() { return m_services; }

  private:
    // ITransferView: the view's share passed on, the rest is the window's state.
    void SetStatus(const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void SetProgress(int position, int rangeMax) override;
    void SetElapsed(const std::string& text) override;
    void SetAnimationFrame(int frame) override;
    bool AskOkCancel(const std::string& text) override;
    void SetCancelButtonToOk() override;
    void StoreUserDir(const std::string& dir) override;
    void StoreHandheldUser(const std::string& name) override;
    void ShowReport(const std::vector<std::string>& lines) override;
    // IInstallDoneSink
    void PostInstallDone() override;

    void FillDefaults();
    void CreateSession(const std::string& port, int speed);
    void CloseSession();
    void PollConnection();
    void StartTransfer();
    void ToggleOption(int id);
    std::string IdlePortName() const;
    void RestartHotSync();

    IInstallerView& m_view;
    InstallerServices m_services;
    ISettingsStore& m_settings;
    std::unique_ptr<IHotSyncManagerHost> m_pOwnHotSync;
    std::unique_ptr<IPalmDesktopValues> m_pOwnDesktop;
    std::unique_ptr<IPortHolderFinder> m_pOwnHolders;
    std::unique_ptr<IConnectionProbe> m_pOwnProbe;

    // Menu 131's check and grey marks by command id: the live store of the options.
    std::map<int, unsigned> m_menuState;
    bool m_bInitialised = false;

    std::unique_ptr<CDeviceSession> m_pSession;
    std::string m_strPortDetail;  // why the session's port did not open
    CInstallRun m_run;
    CTransferMonitor m_monitor;
};
