#include "ui/win32/installer_view_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "resources/strings/dialog_texts.h"
#include "shell/win32/win32_help.h"
#include "ui/installer_layout.h"
#include "ui/win32/about_view_win32.h"
#include "ui/win32/default_types_view_win32.h"
#include "ui/win32/file_chooser_win32.h"
#include "ui/win32/user_dialogs_win32.h"

using namespace installer;
using resources::LoadString;
using win32ui::W;

namespace {

// The link icon's frames 0 ... 13 by icon resource.
constexpr int kFrameIcons[14] = {137, 140, 138, 141, 139, 143, 144,
                                 145, 146, 147, 148, 149, 150, 151};
constexpr UINT kTooltipDelayMs = 100;

// The window's resolution where the system can tell it per window (per-monitor awareness).
UINT WindowDpi(HWND hWnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto fn = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (fn && hWnd) {
        if (const UINT dpi = fn(hWnd)) return dpi;
    }
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

CWin32InstallerView::CWin32InstallerView(InstallerServices services)
    : m_dialog(*this, WithWin32Services(std::move(services))) {}

CWin32InstallerView::~CWin32InstallerView() {
    if (m_hWnd) ::KillTimer(m_hWnd, kTimerId);
    for (HICON& icon : m_hAnimIcons) {
        if (icon) ::DestroyIcon(icon);
    }
    if (m_hIcon) ::DestroyIcon(m_hIcon);
    if (m_hSmallIcon) ::DestroyIcon(m_hSmallIcon);
}

InstallerServices CWin32InstallerView::WithWin32Services(InstallerServices s) {
    if (!s.askOkCancel) {
        s.askOkCancel = [this](const std::string& text) {
            return win32ui::MessageBoxTop(m_hWnd, text, MB_OKCANCEL) == IDOK;
        };
    }
    if (!s.showMessage) {
        s.showMessage = [this](const std::string& text) {
            win32ui::MessageBoxTop(m_hWnd, text, MB_OK);
        };
    }
    if (!s.chooseFiles) {
        s.chooseFiles = [this](std::vector<std::string>& files) {
            return win32ui::ChooseFiles(m_hWnd, files);
        };
    }
    if (!s.openUrl) s.openUrl = win32ui::OpenAddress;
    if (!s.showAbout) {
        s.showAbout = [this] { win32ui::ShowAbout(m_hWnd, m_dialog.Services().openUrl); };
    }
    if (!s.showHelp) s.showHelp = [] { ShowHelp(); };
    ISettingsStore* settings = s.settings;
    if (!s.registerFileTypes) {
        s.registerFileTypes = [this, settings](bool askAlways) {
            win32ui::RegisterFileTypes(m_hWnd, *settings, askAlways);
        };
    }
    if (!s.unregisterFileTypes) {
        s.unregisterFileTypes = [settings] { win32ui::UnregisterFileTypes(*settings); };
    }
    return s;
}

win32ui::DialogFrame CWin32InstallerView::Frame(bool visible) const {
    win32ui::DialogFrame frame;
    frame.caption = W(resources::LoadItemText(resources::kDlgInstaller, resources::kItemCaption));
    frame.windowClass = m_strWindowClass;
    frame.minimizeBox = true;
    frame.visible = visible;
    return frame;
}

int CWin32InstallerView::Exec() {
    const INT_PTR result =
        RunModal(nullptr, InstallerTemplate(resources::CurrentLanguage()), Frame(true));
    return static_cast<int>(result);
}

HWND CWin32InstallerView::CreateModeless(bool visible) {
    return Create(nullptr, InstallerTemplate(resources::CurrentLanguage()), Frame(visible));
}

HMENU CWin32InstallerView::FileMenu() const {
    const auto it = m_popups.find(resources::kItemPopupFile);
    return it == m_popups.end() ? nullptr : it->second;
}

int CWin32InstallerView::Scaled(int pixels) const {
    return ::MulDiv(pixels, static_cast<int>(m_nDpi), 96);
}

bool CWin32InstallerView::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG:
            OnInitDialog();
            result = TRUE;  // the dialog manager sets the focus
            return true;
        case WM_TIMER:
            if (wParam != kTimerId) return false;
            m_dialog.OnTimer();
            return true;
        case WM_COMMAND:
            OnCommandMessage(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != kCmdAboutSys) return false;
            m_dialog.OnSysCommand(kCmdAboutSys);
            return true;
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return true;
        case WM_DPICHANGED:
            if (lParam) OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            result = 0;
            return true;
        case kInstallDoneMessage:
            m_dialog.OnInstallDone();
            return true;
        case WM_NOTIFY: {
            const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (hdr->idFrom == static_cast<UINT_PTR>(kIdList) && hdr->code == LVN_KEYDOWN &&
                reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == VK_DELETE) {
                if (!m_dialog.m_bTransferRunning) m_dialog.RemoveSelected();
                return true;
            }
            return false;
        }
        default:
            break;
    }
    if (msg >= WM_USER && m_onHandOver && m_onHandOver(msg, wParam, lParam)) {
        result = 0;
        return true;
    }
    return false;
}

void CWin32InstallerView::OnCommandMessage(int id, int code, HWND hControl) {
    // The button, Escape, Enter (the default button) and the close box.
    if (id == kIdCancel) {
        m_dialog.OnCancel();
        return;
    }
    if (!hControl) {  // a menu command (or an accelerator)
        m_dialog.OnCommand(id);
        return;
    }
    switch (id) {
        case kIdPort:
            if (code == CBN_DROPDOWN) m_dialog.RefreshPortLabels();
            if (code == CBN_SELCHANGE) m_dialog.OnPortChange();
            break;
        case kIdSpeed:
            if (code == CBN_SELCHANGE) m_dialog.OnSpeedChange();
            break;
        case kIdCloseOnFinish:
            if (code == BN_CLICKED) m_dialog.OnCloseOnFinishClicked();
            break;
        case kIdLinkIcon:
            if (code == STN_CLICKED) m_dialog.OnLinkClicked();
            break;
        case kIdAdd:
        case kIdRemove:
            if (code == BN_CLICKED) m_dialog.OnCommand(id);
            break;
        default:
            break;
    }
}

void CWin32InstallerView::OnInitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;
    HWND hWnd = m_hWnd;
    m_nDpi = WindowDpi(hWnd);

    // The menu; the client keeps the template's size below it.
    RECT before{};
    ::GetClientRect(hWnd, &before);
    m_hMenu = win32ui::BuildMenu(resources::kMenuInstaller,
                                 InstallerMenu(resources::CurrentLanguage()), m_popups);
    ::SetMenu(hWnd, m_hMenu);
    RECT after{};
    ::GetClientRect(hWnd, &after);
    RECT window{};
    ::GetWindowRect(hWnd, &window);
    ::SetWindowPos(hWnd, nullptr, 0, 0, window.right - window.left,
                   window.bottom - window.top + (before.bottom - after.bottom),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // 1, 2: the icons.
    LoadIcons();

    // 3, 4: the link icon reports clicks (its style) and has its tooltip.
    m_hToolTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hWnd, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
    SetToolTip(kIdLinkIcon, LoadString(resources::kIdsWebTooltip));
    if (m_hToolTip) ::SendMessageW(m_hToolTip, TTM_SETDELAYTIME, TTDT_AUTOMATIC, kTooltipDelayMs);

    // The boxes' items, unsorted, in this order.
    for (int n = 0; n <= kNetIndex; ++n) {
        ::SendDlgItemMessageW(hWnd, kIdPort, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(W(PortEntryName(n)).c_str()));
    }
    for (int speed : kSpeeds) {
        ::SendDlgItemMessageW(hWnd, kIdSpeed, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(std::to_wstring(speed).c_str()));
    }
    ::SendDlgItemMessageW(hWnd, kIdProgress, PBM_SETSTEP, 1, 0);

    // 9: the system menu's about entry.
    const std::string about = LoadString(resources::kIdsAboutMenu);
    if (!about.empty()) {
        HMENU sys = ::GetSystemMenu(hWnd, FALSE);
        ::AppendMenuW(sys, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(sys, MF_STRING, kCmdAboutSys, W(about).c_str());
    }

    // 11: the full layout, before the stored list state may collapse it; 12: the columns.
    ::GetWindowRect(hWnd, &window);
    m_rcFullWindow = {window.right - window.left, window.bottom - window.top};
    SetUpColumns();
    m_dialog.OnInitDialog();

    // Centred on its screen once it has its size.
    ::GetWindowRect(hWnd, &window);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (::GetMonitorInfoW(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &mi)) {
        const RECT& work = mi.rcWork;
        const int w = window.right - window.left;
        const int h = window.bottom - window.top;
        ::SetWindowPos(hWnd, nullptr, work.left + std::max(0L, (work.right - work.left - w) / 2),
                       work.top + std::max(0L, (work.bottom - work.top - h) / 2), 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CWin32InstallerView::LoadIcons() {
    // The window and the control show the new pictures before the old ones go.
    const HICON oldIcons[2] = {m_hIcon, m_hSmallIcon};
    HICON oldFrames[14];
    std::copy(std::begin(m_hAnimIcons), std::end(m_hAnimIcons), oldFrames);
    const int big = ::MulDiv(::GetSystemMetrics(SM_CXICON), static_cast<int>(m_nDpi),
                             static_cast<int>(WindowDpi(nullptr)));
    const int small = ::MulDiv(::GetSystemMetrics(SM_CXSMICON), static_cast<int>(m_nDpi),
                               static_cast<int>(WindowDpi(nullptr)));
    m_hIcon = win32ui::LoadIconSized(128, big);
    m_hSmallIcon = win32ui::LoadIconSized(128, small);
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    RECT link{};
    ::GetClientRect(Item(kIdLinkIcon), &link);
    const int iconSize = std::max<int>(16, std::min(link.right, link.bottom));
    for (int i = 0; i < 14; ++i) m_hAnimIcons[i] = win32ui::LoadIconSized(kFrameIcons[i], iconSize);
    SetAnimationFrame(m_nFrame);
    for (HICON icon : oldIcons) {
        if (icon) ::DestroyIcon(icon);
    }
    for (HICON icon : oldFrames) {
        if (icon) ::DestroyIcon(icon);
    }
}

void CWin32InstallerView::OnDpiChanged(UINT dpi, const RECT& suggested) {
    const UINT before = m_nDpi;
    if (dpi == 0 || dpi == before) return;
    m_nDpi = dpi;
    ::SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // The full size is the window's now, or, collapsed, that and the list's part at the new
    // resolution: comparing heights of the old resolution would take a shown list for hidden.
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    const int height = window.bottom - window.top;
    m_rcFullWindow = {window.right - window.left,
                      m_bListShown ? height : height + Scaled(kFileListOffset)};
    HWND list = Item(kIdList);
    for (int c = 0; c < 4; ++c) {
        const int width = ListView_GetColumnWidth(list, c);
        if (width > 0) {
            ListView_SetColumnWidth(list, c, ::MulDiv(width, static_cast<int>(dpi),
                                                      static_cast<int>(before)));
        }
    }
    m_nWhereWidth = ::MulDiv(m_nWhereWidth, static_cast<int>(dpi), static_cast<int>(before));
    LoadIcons();
}

void CWin32InstallerView::SetUpColumns() {
    HWND list = Item(kIdList);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    // The widths were set for the classic 8 pt font (6 pixels a character); they grow with
    // the dialog's.
    RECT units{0, 0, 4, 8};
    ::MapDialogRect(m_hWnd, &units);
    const int baseX = std::max<int>(1, units.right);
    HDC dc = ::GetDC(list);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(list, WM_GETFONT, 0, 0)));
    const auto textWidth = [dc](const std::string& text) {
        const std::wstring w = W(text);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
        return static_cast<int>(size.cx);
    };
    const int padding = textWidth("MM");
    const int titles[] = {resources::kIdsColumnName, resources::kIdsColumnSize,
                          resources::kIdsColumnWhere, resources::kIdsColumnPath};
    int widths[4] = {kColumnWidths[0] * baseX / 6,
                     std::max({kColumnWidths[1] * baseX / 6, textWidth("1024 Bytes") + padding,
                               textWidth(LoadString(resources::kIdsColumnSize)) + padding}),
                     0, kColumnWidths[2] * baseX / 6};
    m_nWhereWidth = textWidth(LoadString(resources::kIdsColumnWhere));
    for (int id : {resources::kIdsWhereRam, resources::kIdsWhereCard, resources::kIdsWhereAuto}) {
        m_nWhereWidth = std::max(m_nWhereWidth, textWidth(LoadString(id)));
    }
    m_nWhereWidth += padding;
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    // The path takes what is left of the list's width.
    RECT client{};
    ::GetClientRect(list, &client);
    widths[kColPath] = std::max(padding, static_cast<int>(client.right) - widths[kColName] -
                                             widths[kColSize] - ::GetSystemMetrics(SM_CXVSCROLL));
    for (int c = 0; c < 4; ++c) {
        std::wstring title = W(LoadString(titles[c]));
        LVCOLUMNW col{};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        col.fmt = LVCFMT_LEFT;
        col.cx = widths[c];
        col.pszText = title.data();
        col.iSubItem = c;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c),
                       reinterpret_cast<LPARAM>(&col));
    }
}

int CWin32InstallerView::ListColumnWidth(int column) const {
    return ListView_GetColumnWidth(Item(kIdList), column);
}

void CWin32InstallerView::OnDropFiles(HDROP hDrop) {
    if (m_dialog.m_bTransferRunning) {
        ::DragFinish(hDrop);
        return;
    }
    std::vector<std::string> paths;
    const UINT count = ::DragQueryFileW(hDrop, 0xFFFFFFFF, nullptr, 0);
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = ::DragQueryFileW(hDrop, i, nullptr, 0);
        if (length == 0) continue;
        std::wstring name(length + 1, L'\0');
        name.resize(::DragQueryFileW(hDrop, i, name.data(), length + 1));
        paths.push_back(win32ui::U(name));
    }
    ::DragFinish(hDrop);
    m_dialog.DropFiles(paths, {});
}

// ---- what a run shows ----

void CWin32InstallerView::SetStatus(const std::string& text) {
    win32ui::SetItemText(m_hWnd, kIdStatus, text);
}

void CWin32InstallerView::SetCaption(const std::string& text) {
    ::SetWindowTextW(m_hWnd, W(text).c_str());
}

void CWin32InstallerView::SetProgress(int position, int rangeMax) {
    HWND bar = Item(kIdProgress);
    const int top = std::max(rangeMax, 1);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, top);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, 0, top)), 0);
}

void CWin32InstallerView::SetElapsed(const std::string& text) {
    win32ui::SetItemText(m_hWnd, kIdElapsed, text);
}

void CWin32InstallerView::SetAnimationFrame(int frame) {
    if (frame < 0 || frame >= 14 || !m_hAnimIcons[frame]) return;
    m_nFrame = frame;
    ::SendDlgItemMessageW(m_hWnd, kIdLinkIcon, STM_SETICON,
                          reinterpret_cast<WPARAM>(m_hAnimIcons[frame]), 0);
}

void CWin32InstallerView::SetCancelButtonToOk() {
    win32ui::SetItemText(m_hWnd, kIdCancel, LoadString(resources::kIdsOkButton));
}

// ---- the boxes ----

int CWin32InstallerView::PortIndex() const {
    const LRESULT i = ::SendDlgItemMessageW(m_hWnd, kIdPort, CB_GETCURSEL, 0, 0);
    return i == CB_ERR ? -1 : static_cast<int>(i);
}

void CWin32InstallerView::SetPortIndex(int index) {
    ::SendDlgItemMessageW(m_hWnd, kIdPort, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CWin32InstallerView::ShowPortLabels(const std::vector<std::string>& labels) {
    // The entries keep their names (a drop-down list shows its entry's own text when
    // closed); what a port leads to shows in the box's tooltip.
    const int index = PortIndex();
    if (index < 0 || static_cast<size_t>(index) >= labels.size()) return;
    SetToolTip(kIdPort, labels[static_cast<size_t>(index)]);
}

void CWin32InstallerView::SetToolTip(int id, const std::string& text) {
    if (!m_hToolTip) return;
    std::wstring wide = W(text);
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = m_hWnd;
    ti.uId = reinterpret_cast<UINT_PTR>(Item(id));
    ti.lpszText = wide.data();
    ::SendMessageW(m_hToolTip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    ::SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

int CWin32InstallerView::SpeedIndex() const {
    const LRESULT i = ::SendDlgItemMessageW(m_hWnd, kIdSpeed, CB_GETCURSEL, 0, 0);
    return i == CB_ERR ? -1 : static_cast<int>(i);
}

void CWin32InstallerView::SetSpeedIndex(int index) {
    ::SendDlgItemMessageW(m_hWnd, kIdSpeed, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool CWin32InstallerView::CloseOnFinish() const {
    return ::IsDlgButtonChecked(m_hWnd, kIdCloseOnFinish) == BST_CHECKED;
}

void CWin32InstallerView::SetCloseOnFinish(bool checked) {
    ::CheckDlgButton(m_hWnd, kIdCloseOnFinish, checked ? BST_CHECKED : BST_UNCHECKED);
}

// ---- menu 131 ----

void CWin32InstallerView::SetMenuCheck(int id, bool on) {
    ::CheckMenuItem(m_hMenu, static_cast<UINT>(id),
                    MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void CWin32InstallerView::EnableMenuItem(int id, bool enable) {
    ::EnableMenuItem(m_hMenu, static_cast<UINT>(id),
                     MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

void CWin32InstallerView::ShowRecentFiles(const std::vector<std::string>& texts) {
    HMENU file = FileMenu();
    if (!file) return;
    for (int id = kCmdFirstRecent; id <= kCmdLastRecent; ++id) {
        ::DeleteMenu(file, static_cast<UINT>(id), MF_BYCOMMAND);
    }
    for (size_t i = 0; i < texts.size() && i <= size_t(kCmdLastRecent - kCmdFirstRecent); ++i) {
        // An ampersand in a path is a letter, not a mnemonic.
        std::wstring text;
        for (wchar_t c : W(texts[i])) {
            if (c == L'&') text += L'&';
            text += c;
        }
        ::AppendMenuW(file, MF_STRING, static_cast<UINT_PTR>(kCmdFirstRecent + int(i)),
                      text.c_str());
    }
    ::DrawMenuBar(m_hWnd);
}

// ---- the file list ----

bool CWin32InstallerView::IsFileListShown() const {
    return m_bListShown;
}

void CWin32InstallerView::MoveControlBy(int id, int dy) {
    HWND h = Item(id);
    if (!h) return;
    RECT r{};
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    ::SetWindowPos(h, nullptr, r.left, r.top + dy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWin32InstallerView::SetFileListArea(bool show) {
    m_bListShown = show;
    const int offset = Scaled(kFileListOffset) * (show ? 1 : -1);
    const int height = show ? m_rcFullWindow.cy : m_rcFullWindow.cy - Scaled(kFileListOffset);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_rcFullWindow.cx, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int id : {kIdGroup, kIdList, kIdAdd, kIdRemove}) {
        HWND h = Item(id);
        ::ShowWindow(h, show ? SW_SHOW : SW_HIDE);
        if (id == kIdGroup) continue;
        LONG_PTR style = ::GetWindowLongPtrW(h, GWL_STYLE);
        style = show ? (style | WS_TABSTOP) : (style & ~LONG_PTR(WS_TABSTOP));
        ::SetWindowLongPtrW(h, GWL_STYLE, style);
    }
    for (int id : kMovedControls) MoveControlBy(id, offset);
    ::SendMessageW(m_hWnd, DM_REPOSITION, 0, 0);
}

void CWin32InstallerView::ShowFiles(const std::vector<FileRow>& rows) {
    HWND list = Item(kIdList);
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list);
    for (size_t n = 0; n < rows.size(); ++n) {
        const FileRow& row = rows[n];
        const std::wstring texts[4] = {W(row.name), W(row.size), W(row.where), W(row.path)};
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(n);
        item.pszText = const_cast<wchar_t*>(texts[0].c_str());
        const int at = static_cast<int>(
            ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (at < 0) continue;
        for (int c = 1; c < 4; ++c) {
            LVITEMW sub{};
            sub.iSubItem = c;
            sub.pszText = const_cast<wchar_t*>(texts[c].c_str());
            ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(at),
                           reinterpret_cast<LPARAM>(&sub));
        }
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

std::vector<int> CWin32InstallerView::SelectedRows() const {
    std::vector<int> rows;
    HWND list = Item(kIdList);
    int i = -1;
    while ((i = ListView_GetNextItem(list, i, LVNI_SELECTED)) >= 0) rows.push_back(i);
    return rows;
}

void CWin32InstallerView::ShowWhereColumn(bool shown) {
    // When it shows, the name and the path each give up half its room.
    HWND list = Item(kIdList);
    if (shown == m_bWhereShown) return;
    m_bWhereShown = shown;
    const int half = m_nWhereWidth / 2;
    const int delta = shown ? -half : half;
    ListView_SetColumnWidth(list, kColWhere, shown ? m_nWhereWidth : 0);
    ListView_SetColumnWidth(list, kColName, ListView_GetColumnWidth(list, kColName) + delta);
    ListView_SetColumnWidth(list, kColPath, ListView_GetColumnWidth(list, kColPath) + delta);
}

// ---- the window ----

void CWin32InstallerView::EnableRunControls(bool enable) {
    for (int id : {kIdSpeed, kIdPort, kIdList, kIdAdd, kIdRemove}) ::EnableWindow(Item(id), enable);
    // The tooltip rests while a transfer runs.
    if (m_hToolTip) ::SendMessageW(m_hToolTip, TTM_ACTIVATE, enable, 0);
}

void CWin32InstallerView::AcceptDrops(bool accept) {
    ::DragAcceptFiles(m_hWnd, accept);
}

void CWin32InstallerView::StartTimer(int ms) {
    ::SetTimer(m_hWnd, kTimerId, static_cast<UINT>(ms), nullptr);
}

void CWin32InstallerView::StopTimer() {
    if (m_hWnd) ::KillTimer(m_hWnd, kTimerId);
}

void CWin32InstallerView::EndDialog(int result) {
    if (m_bModal) {
        ::EndDialog(m_hWnd, result);
    } else if (m_hWnd) {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

void CWin32InstallerView::PostInstallDone() {
    // From the worker's thread: handled in the window's message loop.
    ::PostMessageW(m_hWnd, kInstallDoneMessage, 0, 0);
}

// ---- the windows opened from this one ----

void CWin32InstallerView::RunHistory(IUserLibrary* library, const std::string& userDir) {
    win32ui::RunHistory(m_hWnd, library, userDir);
}

void CWin32InstallerView::RunDesktopUsers(CDesktopUserStore& store, const std::string& offered) {
    win32ui::RunDesktopUsers(m_hWnd, store, offered);
}

bool CWin32InstallerView::RunRestore(IUserLibrary* library, const std::string& userDir,
                                     std::vector<std::string>& chosen) {
    return win32ui::RunRestore(m_hWnd, library, userDir, chosen);
}

void CWin32InstallerView::RunConnectionCheck(IConnectionProbe& probe,
                                             const ISettingsStore& settings,
                                             const std::string& port) {
    win32ui::RunConnectionCheck(m_hWnd, probe, settings, port);
}
