// The main installer window: queue files, pick the port and the speed, wait for the HotSync
// button, show the run. It owns the device session between runs and starts one install
// worker per connection; during a run it is the engine's second view (CTransferMonitor
// drives its status line, caption, progress bar, elapsed time and message boxes).
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>
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
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// What the window needs from its surroundings; everything left unset gets the real thing.
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
    // The desktop's commands (ui/desktop_commands.h): the user guide and the file types.
    std::function<void()> showHelp;
    std::function<void(bool askAlways)> registerFileTypes;
    std::function<void()> unregisterFileTypes;
};

class CInstallerDlg : public QDialog, private ITransferView, private IInstallDoneSink {
    Q_OBJECT

  public:
    explicit CInstallerDlg(InstallerServices services, QWidget* parent = nullptr);
    ~CInstallerDlg() override;

    // ---- set by start-up between construction and the run ----
    bool m_bCloseOnFinish = false;
    bool m_bIgnoreHotSync = false;
    std::string m_strTitle;
    // Keeps the digits of the text as the COM port number ("/COM3" gives 3).
    void SetPortFromText(const std::string& text);

    // Initialisation (also done by the first show); then the modal loop.
    void InitDialog();
    int exec() override;

    // ---- operations ----
    std::string GetPortName();
    int GetSpeed();
    void ReopenSession();
    void RefreshView();
    bool MenuStateIs(int id, unsigned state) const;
    void SetMenuCheck(int id, bool on);
    void ShowFileList(bool show);
    bool IsFileListShown() const;
    // The run's destination (RunDestination), its menu checks, and with store the setting
    // main/"Destination" and the file list's column.
    void SetDestination(int destination, bool store);
    // The file list's destination column, hidden while everything goes to the memory.
    void ShowWhereColumn();
  public slots:
    // The files a second instance handed over; true when there were any.
    bool ReadHandedOverFiles();
    // The hand-over notification (wParam 1970): handled only while no transfer runs.
    bool OnHandOverMessage();

  public:
    void OnCommand(int id);
    void OnSysCommand(int id);
    void OnLinkClicked();
    // The timer step (public so that tests can step without waiting).
    void OnTimer();
    // The worker's "install done", on the window's thread.
    void OnInstallDone();
    // The closing work; during a transfer the process ends in it.
    void StopTransfer();
    // Cancel, Escape, Enter and the close box: the closing work, then the dialog ends.
    void reject() override;

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
    // Local files from a text/uri-list drop; remote addresses and non-files refused with a
    // message.
    void DropUriList(const std::string& uriList);

    // ---- the desktop users, backups and history (installer_dlg_users.cpp) ----
    // Initialisation's step for the user library: backup and history greyed without it.
    void LoadUserLibrary();
    // The installation history for m_strUserDir; nothing while that is empty.
    void OnHistory();
    // The desktop users dialog; a store made by it enables backup and history.
    void OnDesktopUsers();
    // The restore dialog for m_strUserDir's backup; the files chosen wait in m_listRestore
    // for the next HotSync.
    void OnRestore();
    // The menu items that need desktop users, enabled when the library is there.
    void EnableUserCommands(bool present);
    // Runs a dialog of the window modally; tests replace it to look at the dialog instead.
    std::function<int(QDialog& dialog)> m_execDialog;

    // ---- ports and the connection check (installer_dlg_ports.cpp) ----
    // The port box's list shows where each port goes; the names stay as they are.
    void RefreshPortLabels();
    // "Check connection...": the report for the port chosen.
    void OnCheckConnection();
    // The text the port box's list shows for an entry.
    QString PortLabel(int index) const;
    CUserLibraryHandle m_hUserLib;

    // ---- state, for start-up and tests ----
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
    QWidget* Item(int id) const;
    QAction* Action(int id) const;
    QMenu* FileMenu() const { return m_pFileMenu; }
    QPixmap Frame(int n) const { return m_frames[n]; }
    QSize FullSize() const { return m_rcFullWindow; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // ITransferView
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

    void BuildWindow();
    void FillDefaults();
    void CreateSession(const std::string& port, int speed);
    void CloseSession();
    void PollConnection();
    void StartTransfer();
    void OnPortChange();
    void OnSpeedChange();
    void OnCloseOnFinishClicked();
    void ToggleOption(int id);
    void EnableRunControls(bool enable);
    void MoveControlBy(int id, int dy);
    void UpdateCloseOnFinish();
    std::string IdlePortName() const;

    InstallerServices m_services;
    ISettingsStore& m_settings;
    std::unique_ptr<IHotSyncManagerHost> m_pOwnHotSync;
    std::unique_ptr<IPalmDesktopValues> m_pOwnDesktop;
    std::unique_ptr<IPortHolderFinder> m_pOwnHolders;
    std::unique_ptr<IConnectionProbe> m_pOwnProbe;

    std::map<int, QWidget*> m_items;
    std::map<int, QAction*> m_actions;
    std::map<int, QMenu*> m_popups;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QWidget* m_pClient = nullptr;
    QTreeWidget* m_pListView = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pLinkIcon = nullptr;
    QComboBox* m_pPortBox = nullptr;
    QComboBox* m_pSpeedBox = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QCheckBox* m_pCloseBox = nullptr;
    QPushButton* m_pCancel = nullptr;
    QTimer m_tipTimer;

    QPixmap m_frames[14];
    QSize m_rcFullWindow;
    QTimer m_timer;
    bool m_bInitialised = false;

    std::unique_ptr<CDeviceSession> m_pSession;
    std::string m_strPortDetail;  // why the session's port did not open
    CInstallRun m_run;
    CTransferMonitor m_monitor;
};
