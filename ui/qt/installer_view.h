// The Qt view of the main installer window (dialog 130 with menu 131): the widgets built
// from the tables, their signals, the timer, drops and the keys turned into calls of
// CInstallerDlg, and what it shows turned into widget contents. The behaviour is
// CInstallerDlg's.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/installer_dlg.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class CInstallerView : public QDialog, private IInstallerView {
    Q_OBJECT

  public:
    // Services left unset that need a window get the Qt ones (message boxes, the open-file
    // dialog, the about box, the desktop's commands).
    explicit CInstallerView(InstallerServices services, QWidget* parent = nullptr);
    ~CInstallerView() override;

    CInstallerDlg& Dialog() { return m_dialog; }

    // Initialisation (also done by the first show); then the modal loop.
    void InitDialog();
    int exec() override;
    // Cancel, Escape, Enter and the close box.
    void reject() override;

    // A text/uri-list drop: local files and remote addresses for CInstallerDlg::DropFiles.
    void DropUriList(const std::string& uriList);

    // Runs a dialog of the window modally; tests replace it to look at the dialog instead.
    std::function<int(QDialog& dialog)> m_execDialog;

    // ---- for tests ----
    QWidget* Item(int id) const;
    QAction* Action(int id) const;
    QMenu* FileMenu() const { return m_pFileMenu; }
    QPixmap Frame(int n) const { return m_frames[n]; }
    QSize FullSize() const { return m_rcFullWindow; }
    // The text the port box's list shows for an entry.
    QString PortLabel(int index) const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
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

    InstallerServices WithQtServices(InstallerServices services);
    void BuildWindow();
    void SetUpColumns();
    void MoveControlBy(int id, int dy);
    int Exec(QDialog& dialog);

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
    QTimer m_timer;

    QPixmap m_frames[14];
    QSize m_rcFullWindow;
    bool m_bInitialised = false;

    // Last: it goes first, ending a run while the widgets it shows are still there.
    CInstallerDlg m_dialog;
};
