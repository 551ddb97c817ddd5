#include "ui/win32/readme_view_win32.h"

#include "resources/strings/dialog_texts.h"

namespace win32ui {

namespace {

DialogFrame ReadmeFrame(bool visible) {
    return {W(resources::LoadItemText(resources::kDlgReadme, resources::kItemCaption)), L"", false,
            visible};
}

}  // namespace

CWin32ReadmeView::~CWin32ReadmeView() {
    if (m_hIcon) ::DestroyIcon(m_hIcon);
}

int CWin32ReadmeView::Run(HWND hOwner) {
    return static_cast<int>(RunModal(hOwner, readme::ReadmeTemplate(), ReadmeFrame(true)));
}

HWND CWin32ReadmeView::CreateModeless() {
    return Create(nullptr, readme::ReadmeTemplate(), ReadmeFrame(false));
}

bool CWin32ReadmeView::OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG: {
            m_hIcon = LoadIconSized(128, ::GetSystemMetrics(SM_CXICON));
            ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
            HCURSOR old = ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // busy
            m_dialog.OnInitDialog();
            ::SetCursor(old);
            result = FALSE;  // the focus is set
            return true;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case CReadmeDlg::kIdOk:
                case CReadmeDlg::kIdAccept:
                    m_dialog.OnButton(LOWORD(wParam));
                    return true;
                case CReadmeDlg::kIdCancel:  // the button, Escape and the close box
                    m_dialog.OnCancel();
                    return true;
                default:
                    return false;
            }
        default:
            return false;
    }
}

void CWin32ReadmeView::ShowButtons(bool licence) {
    ::ShowWindow(Item(CReadmeDlg::kIdOk), licence ? SW_HIDE : SW_SHOW);
    ::ShowWindow(Item(CReadmeDlg::kIdAccept), licence ? SW_SHOW : SW_HIDE);
    ::ShowWindow(Item(CReadmeDlg::kIdCancel), licence ? SW_SHOW : SW_HIDE);
}

void CWin32ReadmeView::SetText(const std::string& text) {
    const std::string crlf = WithCrLf(text);
    HWND edit = Item(CReadmeDlg::kIdText);
    ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    ::SetWindowTextW(edit, W(crlf).c_str());
    ::SendMessageW(edit, EM_SETSEL, 0, 0);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void CWin32ReadmeView::SetCaption(const std::string& text) {
    ::SetWindowTextW(m_hWnd, W(text).c_str());
}

void CWin32ReadmeView::FocusItem(int id) {
    ::SetFocus(Item(id));
}

void CWin32ReadmeView::EndDialog(int result) {
    End(result);
}

}  // namespace win32ui
