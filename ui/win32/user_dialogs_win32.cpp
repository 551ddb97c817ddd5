#include "ui/win32/user_dialogs_win32.h"

#include <commctrl.h>

#include <span>

#include "resources/strings/dialog_texts.h"
#include "ui/connection_check_dlg.h"
#include "ui/desktop_users_dlg.h"
#include "ui/history_dlg.h"
#include "ui/restore_dlg.h"
#include "ui/restore_layout.h"

namespace win32ui {

namespace {

DialogFrame FrameOf(int resourceId) {
    return {W(resources::LoadItemText(resourceId, resources::kItemCaption)), L"", false, true};
}

// A report list's columns: titles (string ids) and widths for the classic 8 pt font (6 pixels
// a character), grown with the dialog's.
void SetColumns(HWND hDlg, int listId, std::span<const int> titles, std::span<const int> widths,
                DWORD extraStyle = 0) {
    HWND list = ::GetDlgItem(hDlg, listId);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | extraStyle);
    RECT units{0, 0, 4, 8};
    ::MapDialogRect(hDlg, &units);
    for (size_t c = 0; c < titles.size(); ++c) {
        std::wstring title = W(resources::LoadString(titles[c]));
        LVCOLUMNW col{};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        col.fmt = LVCFMT_LEFT;
        col.cx = c < widths.size() ? widths[c] * units.right / 6 : 100;
        col.pszText = title.data();
        ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
    }
}

// The rows anew, each a list of cell texts.
void FillRows(HWND list, const std::vector<std::vector<std::string>>& rows) {
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list);
    for (size_t n = 0; n < rows.size(); ++n) {
        for (size_t c = 0; c < rows[n].size(); ++c) {
            std::wstring text = W(rows[n][c]);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(n);
            item.iSubItem = static_cast<int>(c);
            item.pszText = text.data();
            ::SendMessageW(list, c == 0 ? LVM_INSERTITEMW : LVM_SETITEMW, 0,
                           reinterpret_cast<LPARAM>(&item));
        }
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
}

void FillBox(HWND box, const std::vector<std::string>& names, int selected) {
    ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : names) {
        ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(name).c_str()));
    }
    ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

bool AskYesNoBox(HWND hOwner, const std::string& text) {
    return ::MessageBoxW(hOwner, W(text).c_str(), L"Cradlecourier",
                         MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
}

// The row that became current in a list's change notification; -2 for another change.
int CurrentRowChange(LPARAM lParam, int listId) {
    const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    if (hdr->idFrom != static_cast<UINT_PTR>(listId) || hdr->code != LVN_ITEMCHANGED) return -2;
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
    if (!(change->uChanged & LVIF_STATE)) return -2;
    if ((change->uNewState & LVIS_FOCUSED) && !(change->uOldState & LVIS_FOCUSED)) {
        return change->iItem;
    }
    return -2;
}

class CHistoryView final : public CWin32Dialog, private IHistoryView {
  public:
    CHistoryView(IUserLibrary* library, const std::string& userDir)
        : m_dialog(*this, library, userDir) {}

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
        switch (msg) {
            case WM_INITDIALOG:
                SetColumns(m_hWnd, history::kIdList, history::kColumnTexts, history::kColumnWidths,
                           LVS_EX_GRIDLINES);
                m_dialog.OnInitDialog();
                result = TRUE;
                return true;
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case history::kIdDelete:
                        m_dialog.OnDelete();
                        return true;
                    case history::kIdAllFiles:
                        m_dialog.OnAllFilesClicked(
                            ::IsDlgButtonChecked(m_hWnd, history::kIdAllFiles) == BST_CHECKED);
                        return true;
                    case history::kIdUsers:
                        if (HIWORD(wParam) != CBN_SELCHANGE) return false;
                        m_dialog.OnUserChange(static_cast<int>(
                            ::SendDlgItemMessageW(m_hWnd, history::kIdUsers, CB_GETCURSEL, 0, 0)));
                        return true;
                    default:
                        return false;
                }
            case WM_NOTIFY: {
                const int row = CurrentRowChange(lParam, history::kIdList);
                if (row == -2 || m_bFilling) return false;
                m_dialog.OnRowChange(row);
                return true;
            }
            default:
                return false;
        }
    }
    void ShowUsers(const std::vector<HistoryUser>& users, int selected) override {
        std::vector<std::string> names;
        for (const HistoryUser& user : users) names.push_back(user.name);
        FillBox(Item(history::kIdUsers), names, selected);
    }
    void ShowRows(const std::vector<HistoryRow>& rows) override {
        std::vector<std::vector<std::string>> cells;
        for (const HistoryRow& row : rows) {
            cells.push_back({row.name, row.version, row.date, row.exists ? "X" : ""});
        }
        m_bFilling = true;
        FillRows(Item(history::kIdList), cells);
        m_bFilling = false;
    }
    void ShowLastBackup(const std::string& text) override {
        SetItemText(m_hWnd, history::kIdLastBackup, text);
    }
    void EnableDelete(bool enable) override { ::EnableWindow(Item(history::kIdDelete), enable); }
    bool AskYesNo(const std::string& text) override { return AskYesNoBox(m_hWnd, text); }

    CHistoryDlg m_dialog;
    bool m_bFilling = false;
};

class CDesktopUsersView final : public CWin32Dialog, private IDesktopUsersView {
  public:
    CDesktopUsersView(CDesktopUserStore& store, const std::string& offered)
        : m_dialog(*this, store, offered) {}

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
        switch (msg) {
            case WM_INITDIALOG: {
                const int titles[] = {deskusers::kColumnName, deskusers::kColumnFolder};
                HWND list = Item(deskusers::kIdList);
                ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
                RECT units{0, 0, 4, 8};
                ::MapDialogRect(m_hWnd, &units);
                RECT client{};
                ::GetClientRect(list, &client);
                const int nameWidth = deskusers::kNameColumnWidth * units.right / 6;
                for (int c = 0; c < 2; ++c) {
                    std::wstring title =
                        W(resources::LoadItemText(resources::kDlgDesktopUsers, titles[c]));
                    LVCOLUMNW col{};
                    col.mask = LVCF_WIDTH | LVCF_TEXT;
                    col.cx = c == 0 ? nameWidth : std::max(60, int(client.right) - nameWidth);
                    col.pszText = title.data();
                    ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
                }
                m_dialog.Refresh();
                result = TRUE;
                return true;
            }
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case deskusers::kIdAdd:
                        m_dialog.OnAdd();
                        return true;
                    case deskusers::kIdRemove:
                        m_dialog.OnRemove();
                        return true;
                    case deskusers::kIdName:
                        if (m_bFilling) return true;
                        if (HIWORD(wParam) == CBN_EDITCHANGE) {
                            m_dialog.OnNameChange(ItemText(m_hWnd, deskusers::kIdName));
                        } else if (HIWORD(wParam) == CBN_SELCHANGE) {
                            m_dialog.OnNameChange(m_strOffer);
                        }
                        return true;
                    default:
                        return false;
                }
            case WM_NOTIFY: {
                const int row = CurrentRowChange(lParam, deskusers::kIdList);
                if (row == -2 || m_bFilling) return false;
                m_dialog.OnRowChange(row);
                return true;
            }
            default:
                return false;
        }
    }
    void ShowUsers(const std::vector<deskusers::Row>& rows) override {
        std::vector<std::vector<std::string>> cells;
        for (const deskusers::Row& row : rows) cells.push_back({row.name, row.folder});
        m_bFilling = true;
        FillRows(Item(deskusers::kIdList), cells);
        m_bFilling = false;
    }
    void ShowOffer(const std::string& offered) override {
        m_bFilling = true;
        m_strOffer = offered;
        HWND box = Item(deskusers::kIdName);
        ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
        if (!offered.empty()) {
            ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(offered).c_str()));
        }
        ::SetWindowTextW(box, W(offered).c_str());
        m_bFilling = false;
    }
    void SelectRow(int row) override {
        HWND list = Item(deskusers::kIdList);
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, row, FALSE);
    }
    void EnableAdd(bool enable) override { ::EnableWindow(Item(deskusers::kIdAdd), enable); }
    void EnableRemove(bool enable) override { ::EnableWindow(Item(deskusers::kIdRemove), enable); }
    bool AskYesNo(const std::string& text) override { return AskYesNoBox(m_hWnd, text); }
    void ShowMessage(const std::string& text) override {
        ::MessageBoxW(m_hWnd, W(text).c_str(), L"Cradlecourier", MB_OK);
    }

    CDesktopUsersDlg m_dialog;
    std::string m_strOffer;
    bool m_bFilling = false;
};

class CRestoreView final : public CWin32Dialog, private IRestoreView {
  public:
    CRestoreView(IUserLibrary* library, const std::string& userDir)
        : m_dialog(*this, library, userDir) {}
    CRestoreDlg& Dialog() { return m_dialog; }

  private:
    static constexpr int kColumnTexts[] = {resources::kIdsRestoreColumnFile,
                                           resources::kIdsRestoreColumnSize,
                                           resources::kIdsRestoreColumnDate};
    static constexpr int kColumnWidths[] = {190, 70, 110};

    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
        switch (msg) {
            case WM_INITDIALOG:
                SetColumns(m_hWnd, restore::kIdList, kColumnTexts, kColumnWidths,
                           LVS_EX_CHECKBOXES);
                m_dialog.Init();
                result = TRUE;
                return true;
            case WM_COMMAND:
                switch (LOWORD(wParam)) {
                    case restore::kIdAll:
                        m_dialog.OnAllClicked(::IsDlgButtonChecked(m_hWnd, restore::kIdAll) ==
                                              BST_CHECKED);
                        return true;
                    case restore::kIdUsers:
                        if (HIWORD(wParam) != CBN_SELCHANGE) return false;
                        m_dialog.OnUserChange(static_cast<int>(
                            ::SendDlgItemMessageW(m_hWnd, restore::kIdUsers, CB_GETCURSEL, 0, 0)));
                        return true;
                    default:
                        return false;
                }
            case WM_NOTIFY: {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                if (m_bFilling || change->hdr.idFrom != static_cast<UINT_PTR>(restore::kIdList) ||
                    change->hdr.code != LVN_ITEMCHANGED || !(change->uChanged & LVIF_STATE)) {
                    return false;
                }
                const UINT oldCheck = change->uOldState & LVIS_STATEIMAGEMASK;
                const UINT newCheck = change->uNewState & LVIS_STATEIMAGEMASK;
                if (oldCheck == newCheck || oldCheck == 0) return false;
                m_dialog.OnRowChecked(change->iItem, newCheck == INDEXTOSTATEIMAGEMASK(2));
                return true;
            }
            default:
                return false;
        }
    }
    void ShowUsers(const std::vector<std::string>& names, int selected) override {
        FillBox(Item(restore::kIdUsers), names, selected);
    }
    void ShowRows(const std::vector<restore::Row>& rows) override {
        std::vector<std::vector<std::string>> cells;
        for (const restore::Row& row : rows) cells.push_back({row.fileName, row.size, row.date});
        m_bFilling = true;
        HWND list = Item(restore::kIdList);
        FillRows(list, cells);
        for (size_t n = 0; n < rows.size(); ++n) {
            ListView_SetCheckState(list, static_cast<UINT>(n), rows[n].checked);
        }
        m_bFilling = false;
    }
    void ShowNote(const std::string& text) override { SetItemText(m_hWnd, restore::kIdNote, text); }
    void ShowAllChecked(bool checked) override {
        ::CheckDlgButton(m_hWnd, restore::kIdAll, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void EnableOk(bool enable) override { ::EnableWindow(Item(restore::kIdOk), enable); }

    CRestoreDlg m_dialog;
    bool m_bFilling = false;
};

class CConnectionCheckView final : public CWin32Dialog, private IConnectionCheckView {
  public:
    CConnectionCheckView(IConnectionProbe& probe, const ISettingsStore& settings,
                         const std::string& port)
        : m_dialog(probe, settings, port, *this) {}

  private:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR& result) override {
        switch (msg) {
            case WM_INITDIALOG:
                m_dialog.OnInitDialog();
                ::SetFocus(Item(conncheck::kIdClose));
                result = FALSE;
                return true;
            case WM_COMMAND:
                if (LOWORD(wParam) == conncheck::kIdAgain) {
                    m_dialog.OnCheckAgain();
                    return true;
                }
                return false;
            default:
                return false;
        }
    }
    void ShowReport(const std::string& text, bool) override {
        SetItemText(m_hWnd, conncheck::kIdReport, WithCrLf(text));
    }

    CConnectionCheckDlg m_dialog;
};

}  // namespace

void RunHistory(HWND hOwner, IUserLibrary* library, const std::string& userDir) {
    CHistoryView view(library, userDir);
    view.RunModal(hOwner, history::HistoryTemplate(), FrameOf(resources::kDlgHistory));
}

void RunDesktopUsers(HWND hOwner, CDesktopUserStore& store, const std::string& offered) {
    CDesktopUsersView view(store, offered);
    view.RunModal(hOwner, deskusers::DesktopUsersTemplate(), FrameOf(resources::kDlgDesktopUsers));
}

bool RunRestore(HWND hOwner, IUserLibrary* library, const std::string& userDir,
                std::vector<std::string>& chosen) {
    CRestoreView view(library, userDir);
    if (view.RunModal(hOwner, restore::RestoreTemplate(), FrameOf(resources::kDlgRestore)) !=
        IDOK) {
        return false;
    }
    chosen = view.Dialog().ChosenFiles();
    return true;
}

void RunConnectionCheck(HWND hOwner, IConnectionProbe& probe, const ISettingsStore& settings,
                        const std::string& port) {
    CConnectionCheckView view(probe, settings, port);
    view.RunModal(hOwner, conncheck::ConnectionCheckTemplate(),
                  FrameOf(resources::kDlgConnectionCheck));
}

}  // namespace win32ui
