#include "ui/win32/about_view_win32.h"

#include <shellapi.h>

#include "resources/strings/dialog_texts.h"

namespace win32ui {

void OpenAddress(const std::string& address) {
    ::ShellExecuteW(nullptr, L"open", W(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

CWin32AboutView::~CWin32AboutView() {
    for (HICON icon : m_hIcons) {
        if (icon) ::DestroyIcon(icon);
    }
}

const DialogFrame& CWin32AboutView::Frame() {
    static const DialogFrame frame{
        W(resources::LoadItemText(resources::kDlgAbout, resources::kItemCaption)), L"", false,
        true};
    return frame;
}

void ShowAbout(HWND hOwner, const CAboutDlg::Opener& openAddress) {
    CWin32AboutView view(openAddress);
    view.RunModal(hOwner, about::AboutTemplate(), CWin32AboutView::Frame());
}

bool CWin32AboutView::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG: {
            // The program's icon, and the link icon's idle picture on the hidden icon.
            RECT r{};
            ::GetClientRect(Item(about::kIdAppIcon), &r);
            const int size = r.right > 16 ? std::min(r.right, r.bottom) : 32;
            m_hIcons[0] = LoadIconSized(128, size);
            m_hIcons[1] = LoadIconSized(137, size);
            ::SendDlgItemMessageW(m_hWnd, about::kIdAppIcon, STM_SETICON,
                                  reinterpret_cast<WPARAM>(m_hIcons[0]), 0);
            ::SendDlgItemMessageW(m_hWnd, about::kIdHiddenIcon, STM_SETICON,
                                  reinterpret_cast<WPARAM>(m_hIcons[1]), 0);
            ::ShowWindow(Item(about::kIdHiddenIcon), SW_HIDE);
            ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcons[0]));
            m_dialog.OnInitDialog();
            result = TRUE;
            return true;
        }
        case WM_SETCURSOR: {
            if (reinterpret_cast<HWND>(wParam) != m_hWnd &&
                ::GetParent(reinterpret_cast<HWND>(wParam)) != m_hWnd) {
                return false;
            }
            POINT pt{};
            ::GetCursorPos(&pt);
            ::ScreenToClient(m_hWnd, &pt);
            m_dialog.OnMouseMove(pt.x, pt.y);
            result = TRUE;
            return true;
        }
        case WM_LBUTTONUP:
            return m_dialog.OnLButtonUp(static_cast<short>(LOWORD(lParam)),
                                        static_cast<short>(HIWORD(lParam)));
        case WM_CTLCOLORSTATIC: {
            HWND control = reinterpret_cast<HWND>(lParam);
            const int n = ::GetWindowTextLengthW(control);
            std::wstring text(static_cast<size_t>(n) + 1, L'\0');
            text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), n + 1)));
            if (!CAboutDlg::IsLinkText(U(text))) return false;
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHT));
            ::SetBkMode(dc, TRANSPARENT);
            result = reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
            return true;
        }
        default:
            return false;
    }
}

bool CWin32AboutView::ControlRect(int id, dlg::PxRect& rect) const {
    HWND h = Item(id);
    if (!h) return false;
    RECT r{};
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    rect = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    return true;
}

void CWin32AboutView::SetItemText(int id, const std::string& text) {
    win32ui::SetItemText(m_hWnd, id, text);
}

void CWin32AboutView::SetLinkCursor(bool hand) {
    ::SetCursor(::LoadCursorW(nullptr, hand ? MAKEINTRESOURCEW(32649) : MAKEINTRESOURCEW(32512)));
}

}  // namespace win32ui
