// The desktop users dialog: the users whose installed files get backup copies, with Add and
// Remove. It offers the user name of the last handheld served, which is the name a new user
// needs (the look-up compares names exactly). The behaviour, without a toolkit, over a small
// view; ui/qt/desktop_users_view.h is the Qt view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

class CDesktopUserStore;

namespace deskusers {

enum ControlId : int {
    kIdClose = 2,
    kIdList = 1100,
    kIdName = 1103,
    kIdAdd = 1104,
    kIdRemove = 1105,
};

// Texts of its resource: the list's two column titles, then its messages.
enum TextId : int {
    kColumnName = 1101,
    kColumnFolder = 1102,
    kMsgAskRemove = 1110,
    kMsgBadName = 1111,
    kMsgNameTaken = 1112,
    kMsgNotWritten = 1113,
};
inline constexpr int kNameColumnWidth = 130;  // for the classic 8 pt font

const dlg::Template& DesktopUsersTemplate();

// One user as the list shows it.
struct Row {
    std::string name;    // UTF-8
    std::string folder;  // where the backup copies go
};

}  // namespace deskusers

class IDesktopUsersView {
  public:
    virtual ~IDesktopUsersView() = default;
    // The users anew; no row is current afterwards.
    virtual void ShowUsers(const std::vector<deskusers::Row>& rows) = 0;
    // The name box: the offered name as its one entry, or empty with no entry.
    virtual void ShowOffer(const std::string& offered) = 0;
    virtual void SelectRow(int row) = 0;
    virtual void EnableAdd(bool enable) = 0;
    virtual void EnableRemove(bool enable) = 0;
    // A question with Yes and No, No the default (true for Yes), and a notice with OK.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
};

class CDesktopUsersDlg {
  public:
    // offered: the user name of the last handheld served (UTF-8), or empty.
    CDesktopUsersDlg(IDesktopUsersView& view, CDesktopUserStore& store, std::string offered);

    // The list and the offer anew.
    void Refresh();
    // The name typed or chosen, and the current row (-1: none).
    void OnNameChange(const std::string& name);
    void OnRowChange(int row);
    void OnAdd();
    void OnRemove();
    // Whether something changed the users file.
    bool Changed() const { return m_bChanged; }

  private:
    void UpdateButtons();

    IDesktopUsersView& m_view;
    CDesktopUserStore& m_store;
    std::string m_strOffered;
    std::string m_strName;
    std::vector<deskusers::Row> m_rows;
    std::vector<uint32_t> m_userIds;  // by row
    int m_nCurrentRow = -1;
    bool m_bChanged = false;
};
