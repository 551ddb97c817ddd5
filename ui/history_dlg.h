// The installation history (dialog 147): what was installed for a desktop user, which
// backup copies still exist, and deleting them. Everything shown is rebuilt from the user's
// log and Backup folder after every change. The behaviour, without a toolkit, over a small
// view; ui/qt/history_view.h is the Qt view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/strings/string_table.h"
#include "shell/backup_history.h"
#include "ui/dialog_template.h"

class IUserLibrary;

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

// The list's columns: their texts (string ids) and widths for the classic 8 pt font
// (6 pixels a character).
enum Column { kColName, kColVersion, kColDate, kColExist };
inline constexpr int kColumnTexts[] = {resources::kIdsHistoryName, resources::kIdsHistoryVersion,
                                       resources::kIdsHistoryDate, resources::kIdsHistoryExists};
inline constexpr int kColumnWidths[] = {130, 53, 150, 48};

const dlg::Template& HistoryTemplate();

// Names in the order a sorted drop-down list shows them: without regard to case, equal
// names in the order they came. The places in names, in that order.
std::vector<size_t> SortedNameOrder(const std::vector<std::string>& names);

}  // namespace history

class IHistoryView {
  public:
    virtual ~IHistoryView() = default;
    // The users in the order the box lists them, and which is selected (-1: none).
    virtual void ShowUsers(const std::vector<HistoryUser>& users, int selected) = 0;
    // The rows anew; no row is current afterwards.
    virtual void ShowRows(const std::vector<HistoryRow>& rows) = 0;
    virtual void ShowLastBackup(const std::string& text) = 0;
    virtual void EnableDelete(bool enable) = 0;
    // A question with Yes and No, No the default; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
};

class CHistoryDlg {
  public:
    // library: the desktop user library, or null when it is missing (the user list then
    // stays empty). userDir: the window's user directory.
    CHistoryDlg(IHistoryView& view, IUserLibrary* library, std::string userDir);

    // The users (the window's own selected), the log, the backups; Delete disabled.
    void OnInitDialog();
    void LoadLog();
    void ScanBackups();
    // The user at this place of the box was chosen.
    void OnUserChange(int index);
    void OnAllFilesClicked(bool checked);
    // The current row changed (-1: none).
    void OnRowChange(int row);
    void OnDelete();

    std::string m_strUserDir;
    int m_bAllFiles = 0;
    const std::vector<HistoryRow>& Rows() const { return m_rows; }

  private:
    void ShowRows();

    IHistoryView& m_view;
    IUserLibrary* m_pLibrary;
    std::vector<uint32_t> m_userIds;  // in the box's order
    std::vector<HistoryRow> m_rows;
    int m_nCurrentRow = -1;
};
