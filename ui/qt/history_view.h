// The Qt view of the installation history (dialog 147), built from its table; CHistoryDlg
// decides what it shows.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/history_dlg.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTreeWidget;

class CHistoryView : public QDialog, private IHistoryView {
    Q_OBJECT

  public:
    CHistoryView(IUserLibrary* library, std::string userDir, QWidget* parent = nullptr);

    // Asks a question with Yes and No, No the default; true for Yes. Tests replace it.
    std::function<bool(const std::string& text)> m_askYesNo;

    CHistoryDlg& Dialog() { return m_dialog; }
    QTreeWidget* List() const { return m_pList; }
    QComboBox* Users() const { return m_pUsers; }
    QCheckBox* AllFiles() const { return m_pAllFiles; }
    QPushButton* DeleteButton() const { return m_pDelete; }

  private:
    // IHistoryView
    void ShowUsers(const std::vector<HistoryUser>& users, int selected) override;
    void ShowRows(const std::vector<HistoryRow>& rows) override;
    void ShowLastBackup(const std::string& text) override;
    void EnableDelete(bool enable) override;
    bool AskYesNo(const std::string& text) override;

    void BuildWindow();

    std::map<int, QWidget*> m_items;
    QTreeWidget* m_pList = nullptr;
    QComboBox* m_pUsers = nullptr;
    QCheckBox* m_pAllFiles = nullptr;
    QPushButton* m_pDelete = nullptr;
    bool m_bFilling = false;  // rows being shown: the current row is not the user's
    CHistoryDlg m_dialog;
};
