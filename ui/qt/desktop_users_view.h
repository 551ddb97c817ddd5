// The Qt view of the desktop users dialog, built from its table; CDesktopUsersDlg decides
// what it shows and what Add and Remove do.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/desktop_users_dlg.h"

class QComboBox;
class QPushButton;
class QTreeWidget;

class CDesktopUsersView : public QDialog, private IDesktopUsersView {
    Q_OBJECT

  public:
    // offered: the user name of the last handheld served (UTF-8), or empty.
    CDesktopUsersView(CDesktopUserStore& store, std::string offered, QWidget* parent = nullptr);

    // Questions (Yes and No, No the default; true for Yes) and notices. Tests replace them.
    std::function<bool(const std::string& text)> m_askYesNo;
    std::function<void(const std::string& text)> m_showMessage;

    CDesktopUsersDlg& Dialog() { return m_dialog; }
    QTreeWidget* List() const { return m_pList; }
    QComboBox* NameBox() const { return m_pName; }
    QPushButton* AddButton() const { return m_pAdd; }
    QPushButton* RemoveButton() const { return m_pRemove; }

  private:
    // IDesktopUsersView
    void ShowUsers(const std::vector<deskusers::Row>& rows) override;
    void ShowOffer(const std::string& offered) override;
    void SelectRow(int row) override;
    void EnableAdd(bool enable) override;
    void EnableRemove(bool enable) override;
    bool AskYesNo(const std::string& text) override;
    void ShowMessage(const std::string& text) override;

    void BuildWindow();

    std::map<int, QWidget*> m_items;
    QTreeWidget* m_pList = nullptr;
    QComboBox* m_pName = nullptr;
    QPushButton* m_pAdd = nullptr;
    QPushButton* m_pRemove = nullptr;
    bool m_bFilling = false;  // contents being shown: their changes are not the user's
    CDesktopUsersDlg m_dialog;
};
