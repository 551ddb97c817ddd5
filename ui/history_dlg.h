// The installation history (dialog 147): what was installed for a desktop user, which
// backup copies still exist, and deleting them. Everything shown is rebuilt from the user's
// log and Backup folder after every change.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell/backup_history.h"

class IUserLibrary;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTreeWidget;

namespace history {

// Control ids of dialog 147.
enum ControlId : int {
    kIdOk = 1,
    kIdList = 1046,
    kIdDelete = 1047,
    kIdAllFiles = 1048,
    kIdUsers = 1049,
    kIdLastBackup = 3110,  // ours: when the whole handheld was last backed up
};

}  // namespace history

class CHistoryDlg : public QDialog {
    Q_OBJECT

  public:
    // library: the desktop user library, or null when it is missing (the user list then
    // stays empty). userDir: the window's user directory.
    CHistoryDlg(IUserLibrary* library, std::string userDir, QWidget* parent = nullptr);

    // Asks a question with Yes and No, No the default; true for Yes. Tests replace it.
    std::function<bool(const std::string& text)> m_askYesNo;

    // ---- behaviour ----
    void LoadLog();
    void ScanBackups();
    void OnUserChange();
    void OnAllFilesClicked();
    void OnRowChange();
    void OnDelete();

    // ---- state ----
    std::string m_strUserDir;
    int m_bAllFiles = 0;
    QTreeWidget* List() const { return m_pList; }
    QComboBox* Users() const { return m_pUsers; }
    QCheckBox* AllFiles() const { return m_pAllFiles; }
    QPushButton* DeleteButton() const { return m_pDelete; }
    const std::vector<HistoryRow>& Rows() const { return m_rows; }

  private:
    void BuildWindow();
    void FillUsers();
    void ShowRows();

    IUserLibrary* m_pLibrary;
    std::map<int, QWidget*> m_items;
    QTreeWidget* m_pList = nullptr;
    QComboBox* m_pUsers = nullptr;
    QCheckBox* m_pAllFiles = nullptr;
    QPushButton* m_pDelete = nullptr;
    std::vector<HistoryRow> m_rows;
};
