// The Qt view of the restore dialog (310): the table's widgets, their signals turned into
// calls of CRestoreDlg, and what the dialog shows turned into widget contents.
#pragma once

#include <QDialog>
#include <map>
#include <string>
#include <vector>

#include "ui/restore_dlg.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

class CRestoreView : public QDialog, private IRestoreView {
    Q_OBJECT

  public:
    CRestoreView(IUserLibrary* library, std::string userDir, QWidget* parent = nullptr);

    CRestoreDlg& Dialog() { return m_dialog; }
    QWidget* Item(int id) const;
    QTreeWidget* List() const { return m_pList; }

  private:
    // IRestoreView
    void ShowUsers(const std::vector<std::string>& names, int selected) override;
    void ShowRows(const std::vector<restore::Row>& rows) override;
    void ShowNote(const std::string& text) override;
    void ShowAllChecked(bool checked) override;
    void EnableOk(bool enable) override;

    std::map<int, QWidget*> m_items;
    QComboBox* m_pUsers = nullptr;
    QTreeWidget* m_pList = nullptr;
    QCheckBox* m_pAll = nullptr;
    QLabel* m_pNote = nullptr;
    QPushButton* m_pOk = nullptr;
    bool m_bFilling = false;  // rows being shown: their check marks are not the user's
    CRestoreDlg m_dialog;
};
