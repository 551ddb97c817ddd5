// The restore dialog (310): a desktop user's backup, file by file with its size and the
// time it was written, everything checked at first; OK queues the checked files for the
// next HotSync. The behaviour, without a toolkit, over a small view; ui/restore_view.h is
// the Qt view, whose controls ui/restore_layout.h declares.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class IUserLibrary;

namespace restore {

// Control ids of dialog 310.
enum ControlId : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdUsers = 3101,
    kIdList = 3102,
    kIdNote = 3103,
    kIdAll = 3104,
};

// One file of the backup as the list shows it.
struct Row {
    std::string fileName;  // UTF-8
    std::string size;      // "12 KB"
    std::string date;      // "2026-12-09 10:11"
    bool checked = true;
};

// "1023 Bytes", "1 KB" ... as the install list shows sizes.
std::string SizeText(int64_t bytes);
// Local time as "YYYY-MM-DD HH:MM"; empty for 0.
std::string DateText(time_t when);

}  // namespace restore

class IRestoreView {
  public:
    virtual ~IRestoreView() = default;
    // The desktop users by name, and which is shown (-1: none).
    virtual void ShowUsers(const std::vector<std::string>& names, int selected) = 0;
    virtual void ShowRows(const std::vector<restore::Row>& rows) = 0;
    // The line below the list: when the whole handheld was last backed up, or why there is
    // nothing to restore.
    virtual void ShowNote(const std::string& text) = 0;
    // The "all" box's state, and whether OK can be pressed.
    virtual void ShowAllChecked(bool checked) = 0;
    virtual void EnableOk(bool enable) = 0;
};

class CRestoreDlg {
  public:
    // library: the desktop users (null when missing); userDir: the window's user directory.
    CRestoreDlg(IRestoreView& view, IUserLibrary* library, std::string userDir);

    // Fills the view: the users, the window's user selected, and that user's backup.
    void Init();
    // The user at this place of the list given to ShowUsers was chosen.
    void OnUserChange(int index);
    void OnRowChecked(int row, bool checked);
    void OnAllClicked(bool checked);

    // The checked files as full paths, in list order; what OK queues.
    std::vector<std::string> ChosenFiles() const;
    const std::string& UserDir() const { return m_strUserDir; }
    const std::vector<restore::Row>& Rows() const { return m_rows; }

  private:
    void Load();
    void Refresh();

    IRestoreView& m_view;
    IUserLibrary* m_pLibrary;
    std::string m_strUserDir;
    std::vector<uint32_t> m_userIds;  // in the order given to ShowUsers
    std::vector<restore::Row> m_rows;
};
