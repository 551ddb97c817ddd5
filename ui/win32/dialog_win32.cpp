#include "ui/win32/dialog_win32.h"

#include <commctrl.h>

#include "platform/wide_text.h"
#include "resources/strings/dialog_texts.h"

namespace win32ui {

namespace {

// Appends to a template in the layout the dialog manager reads.
class CTemplateWriter {
  public:
    void Word(uint16_t v) { Raw(&v, sizeof v); }
    void Dword(uint32_t v) { Raw(&v, sizeof v); }
    void Short(int16_t v) { Raw(&v, sizeof v); }
    void Text(const std::wstring& text) {
        for (wchar_t c : text) Word(static_cast<uint16_t>(c));
        Word(0);
    }
    void Ordinal(uint16_t v) {
        Word(0xFFFF);
        Word(v);
    }
    void AlignDword() {
        while (m_bytes.size() % 4) m_bytes.push_back(0);
    }
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

  private:
    void Raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<uint8_t> m_bytes;
};

// The predefined classes by their ordinals, the common controls by name.
constexpr uint16_t kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082, kComboBox = 0x0085;

struct ItemClass {
    uint16_t ordinal;     // 0: by name
    const wchar_t* name;  // the common control's class
    DWORD style;
};

ItemClass ClassOf(const dlg::Control& c) {
    using dlg::Kind;
    const unsigned s = c.style;
    DWORD tab = (s & dlg::kTabStop) ? WS_TABSTOP : 0;
    switch (c.kind) {
        case Kind::kGroupBox:
            return {kButton, nullptr, BS_GROUPBOX};
        case Kind::kListView:
            return {0, WC_LISTVIEWW,
                    LVS_REPORT | LVS_SHOWSELALWAYS | ((s & dlg::kMultiSelect) ? 0 : LVS_SINGLESEL) |
                        ((s & dlg::kNoSortHeader) ? LVS_NOSORTHEADER : 0) |
                        ((s & dlg::kBorder) ? WS_BORDER : 0) | tab};
        case Kind::kPushButton:
            return {kButton, nullptr, BS_PUSHBUTTON | WS_TABSTOP};
        case Kind::kDefPushButton:
            return {kButton, nullptr, BS_DEFPUSHBUTTON | WS_TABSTOP};
        case Kind::kStatic:
            return {
                kStatic, nullptr,
                (s & dlg::kWordWrap) ? DWORD(SS_LEFT) : DWORD(SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS)};
        case Kind::kDropList:
            return {
                kComboBox, nullptr,
                DWORD((s & dlg::kEditable) ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST) |
                    WS_TABSTOP | ((s & dlg::kVScroll) ? WS_VSCROLL : 0)};
        case Kind::kProgress:
            return {0, PROGRESS_CLASSW, 0};
        case Kind::kCheckBox:
            return {kButton, nullptr, BS_AUTOCHECKBOX | WS_TABSTOP};
        case Kind::kIcon:
            return {kStatic, nullptr,
                    DWORD(SS_ICON | SS_CENTERIMAGE) | SS_REALSIZECONTROL |
                        ((s & dlg::kNotify) ? SS_NOTIFY : 0)};
        case Kind::kEdit:
            return {kEdit, nullptr,
                    DWORD(ES_MULTILINE | ES_AUTOVSCROLL | WS_BORDER | WS_TABSTOP) |
                        ((s & dlg::kReadOnly) ? ES_READONLY : 0) |
                        ((s & dlg::kVScroll) ? WS_VSCROLL : 0) |
                        ((s & dlg::kHScroll) ? (WS_HSCROLL | ES_AUTOHSCROLL) : 0)};
    }
    return {kStatic, nullptr, 0};
}

}  // namespace

std::wstring W(const std::string& utf8) {
    return platform::Widen(utf8);
}

std::string U(const std::wstring& wide) {
    return platform::Narrow(wide);
}

std::vector<uint8_t> BuildTemplate(const dlg::Template& tpl, const DialogFrame& frame) {
    CTemplateWriter w;
    DWORD style = DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    if (frame.minimizeBox) style |= WS_MINIMIZEBOX;
    if (frame.visible) style |= WS_VISIBLE;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature
    w.Dword(0);      // helpID
    w.Dword(0);      // exStyle
    w.Dword(style);
    w.Word(static_cast<uint16_t>(tpl.controls.size()));
    w.Short(0);  // at (0, 0): the window is centred once it exists
    w.Short(0);
    w.Short(static_cast<int16_t>(tpl.width));
    w.Short(static_cast<int16_t>(tpl.height));
    w.Word(0);  // no menu: the window sets its own
    if (frame.windowClass.empty()) {
        w.Word(0);
    } else {
        w.Text(frame.windowClass);
    }
    w.Text(frame.caption);
    w.Word(8);       // point size
    w.Word(400);     // weight
    w.Word(0x0100);  // not italic; DEFAULT_CHARSET
    w.Text(L"MS Shell Dlg");
    for (const dlg::Control& c : tpl.controls) {
        w.AlignDword();
        const ItemClass cls = ClassOf(c);
        w.Dword(0);  // helpID
        w.Dword(0);  // exStyle
        w.Dword(WS_CHILD | WS_VISIBLE | cls.style);
        w.Short(static_cast<int16_t>(c.rect.x));
        w.Short(static_cast<int16_t>(c.rect.y));
        w.Short(static_cast<int16_t>(c.rect.w));
        w.Short(static_cast<int16_t>(c.rect.h));
        w.Dword(static_cast<uint32_t>(c.id));
        if (cls.ordinal) {
            w.Ordinal(cls.ordinal);
        } else {
            w.Text(cls.name);
        }
        w.Text(c.textItem ? W(resources::LoadItemText(tpl.resourceId, c.textItem)) : L"");
        w.Word(0);  // no creation data
    }
    return w.Take();
}

HMENU BuildMenu(int resourceId, std::span<const dlg::MenuItem> items,
                std::map<int, HMENU>& popups) {
    HMENU bar = ::CreateMenu();
    std::vector<HMENU> open{bar};
    for (const dlg::MenuItem& item : items) {
        const std::wstring text = W(resources::LoadItemText(resourceId, item.textItem));
        switch (item.kind) {
            case dlg::MenuKind::kPopup: {
                HMENU popup = ::CreatePopupMenu();
                ::AppendMenuW(open.back(), MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup),
                              text.c_str());
                popups[item.textItem] = popup;
                open.push_back(popup);
                break;
            }
            case dlg::MenuKind::kEnd:
                if (open.size() > 1) open.pop_back();
                break;
            case dlg::MenuKind::kSeparator:
                ::AppendMenuW(open.back(), MF_SEPARATOR, 0, nullptr);
                break;
            case dlg::MenuKind::kCommand:
            case dlg::MenuKind::kCheck:
                ::AppendMenuW(open.back(), MF_STRING, static_cast<UINT_PTR>(item.id), text.c_str());
                break;
        }
    }
    return bar;
}

std::string ItemText(HWND hDlg, int id) {
    HWND h = ::GetDlgItem(hDlg, id);
    if (!h) return {};
    const int n = ::GetWindowTextLengthW(h);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(h, text.data(), n + 1)));
    return U(text);
}

void SetItemText(HWND hDlg, int id, const std::string& text) {
    ::SetDlgItemTextW(hDlg, id, W(text).c_str());
}

std::string WithCrLf(const std::string& text) {
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

HICON LoadIconSized(int resourceId, int size) {
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(resourceId), IMAGE_ICON, size, size,
                                           LR_DEFAULTCOLOR));
}

int MessageBoxTop(HWND hOwner, const std::string& text, UINT buttons) {
    if (hOwner) ::SetForegroundWindow(hOwner);
    return ::MessageBoxW(hOwner, W(text).c_str(),
                         W(resources::LoadString(resources::kIdsAppTitle)).c_str(),
                         buttons | MB_SYSTEMMODAL | MB_SETFOREGROUND);
}

CWin32Dialog::~CWin32Dialog() {
    if (m_hWnd && !m_bModal) {
        // The dialog's own part is gone by now: the window's last messages must not reach it.
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

INT_PTR CWin32Dialog::RunModal(HWND hOwner, const dlg::Template& tpl, const DialogFrame& frame) {
    m_template = BuildTemplate(tpl, frame);
    m_bModal = true;
    const INT_PTR result = ::DialogBoxIndirectParamW(
        ::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(m_template.data()), hOwner,
        DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

HWND CWin32Dialog::Create(HWND hOwner, const dlg::Template& tpl, const DialogFrame& frame) {
    m_template = BuildTemplate(tpl, frame);
    m_bModal = false;
    return ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                        reinterpret_cast<LPCDLGTEMPLATEW>(m_template.data()),
                                        hOwner, DialogProc, reinterpret_cast<LPARAM>(this));
}

void CWin32Dialog::End(int result) {
    if (!m_hWnd) return;
    if (m_bModal) {
        ::EndDialog(m_hWnd, result);
    } else {
        HWND h = m_hWnd;
        m_hWnd = nullptr;
        ::DestroyWindow(h);
    }
}

INT_PTR CALLBACK CWin32Dialog::DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWin32Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CWin32Dialog*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        self->m_hWnd = hWnd;
    } else {
        self = reinterpret_cast<CWin32Dialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR result = FALSE;
    if (!self->OnMessage(msg, wParam, lParam, result)) {
        // OK, Cancel, Escape and the close box end a dialog that does not say otherwise.
        if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            self->End(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    // Messages whose result is not the procedure's own go through DWLP_MSGRESULT.
    switch (msg) {
        case WM_INITDIALOG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            return result;
        default:
            ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
            return TRUE;
    }
}

}  // namespace win32ui
