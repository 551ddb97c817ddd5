// The desktop users dialog: the users whose installed files get backup copies, with Add and
// Remove. It offers the user name of the last handheld served, which is the name a new user
// needs (the look-up compares names exactly).
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>

class CDesktopUserStore;
class QComboBox;
class QPushButton;
class QTreeWidget;

namespace deskusers {

enum ControlId : int {
    kIdClose = 2,
    kIdList = 1100,
    kIdName = 1103,
    kIdAdd = 1104,
    kIdRemove = 1105,
};

// Texts of its messages (items of its resource).
enum MessageId : int {
    kMsgAskRemove = 1110,
    kMsgBadName = 1111,
    kMsgNameTaken = 1112,
    kMsgNotWritten = 1113,
};

}  // namespace deskusers

class CDesktopUsersDlg : public QDialog {
    Q_OBJECT

  public:
    // offered: the user name of the last handheld served (UTF-8), or empty.
    CDesktopUsersDlg(CDesktopUserStore& store, std::string offered, QWidget* parent = nullptr);

    // Questions (Yes and No, No the default; true for Yes) and notices. Tests replace them.
    std::function<bool(const std::string& text)> m_askYesNo;
    std::function<void(const std::string& text)> m_showMessage;

    void Refresh();
    void OnAdd();
    void OnRemove();
    // Whether something changed the users file.
    bool Changed() const { return m_bChanged; }

    QTreeWidget* List() const { return m_pList; }
    QComboBox* NameBox() const { return m_pName; }
    QPushButton* AddButton() const { return m_pAdd; }
    QPushButton* RemoveButton() const { return m_pRemove; }

  private:
    void BuildWindow();
    void UpdateButtons();

    CDesktopUserStore& m_store;
    std::string m_strOffered;
    bool m_bChanged = false;
    std::map<int, QWidget*> m_items;
    QTreeWidget* m_pList = nullptr;
    QComboBox* m_pName = nullptr;
    QPushButton* m_pAdd = nullptr;
    QPushButton* m_pRemove = nullptr;
};
