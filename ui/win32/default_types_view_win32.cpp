#include "ui/win32/default_types_view_win32.h"

#include "resources/strings/dialog_texts.h"
#include "shell/program_file.h"
#include "shell/system_services.h"
#include "shell/win32/win32_help.h"

namespace win32ui {

namespace {

DialogFrame QuestionFrame(bool visible) {
    return {W(resources::LoadItemText(resources::kDlgDefaultTypes, resources::kItemCaption)),
            L"", false, visible};
}

}  // namespace

CWin32DefaultTypesView::~CWin32DefaultTypesView() {
    if (m_hIcon) ::DestroyIcon(m_hIcon);
}

int CWin32DefaultTypesView::Run(HWND hOwner) {
    return static_cast<int>(
        RunModal(hOwner, defaulttypes::DefaultTypesTemplate(), QuestionFrame(true)));
}

HWND CWin32DefaultTypesView::CreateModeless() {
    return Create(nullptr, defaulttypes::DefaultTypesTemplate(), QuestionFrame(false));
}

bool CWin32DefaultTypesView::OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR& result) {
    switch (msg) {
        case WM_INITDIALOG: {
            RECT r{};
            ::GetClientRect(Item(defaulttypes::kIdIcon), &r);
            const int size = r.right > 16 ? std::min(r.right, r.bottom) : 32;
            m_hIcon = LoadIconSized(128, size);
            ::SendDlgItemMessageW(m_hWnd, defaulttypes::kIdIcon, STM_SETICON,
                                  reinterpret_cast<WPARAM>(m_hIcon), 0);
            ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
            m_dialog.OnInitDialog();
            result = TRUE;  // the focus on the default button, Yes
            return true;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case defaulttypes::kIdYes:
                case defaulttypes::kIdNo:
                    m_dialog.OnAnswer(LOWORD(wParam));
                    return true;
                case defaulttypes::kIdHelp:
                    m_dialog.OnHelp();
                    return true;
                case IDCANCEL:  // Escape and the close box
                    m_dialog.OnCancel();
                    return true;
                default:
                    return false;
            }
        default:
            return false;
    }
}

void CWin32DefaultTypesView::SetDontAsk(bool checked) {
    ::CheckDlgButton(m_hWnd, defaulttypes::kIdDontAsk, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CWin32DefaultTypesView::DontAsk() const {
    return ::IsDlgButtonChecked(m_hWnd, defaulttypes::kIdDontAsk) == BST_CHECKED;
}

void CWin32DefaultTypesView::EndDialog(int result) {
    End(result);
}

CDefaultTypesQuestion MakeDefaultTypesQuestion(HWND hOwner) {
    auto run = [hOwner](int& dontAsk) {
        CWin32DefaultTypesView view([] { ShowHelp(); });
        view.Dialog().m_nDontAsk = dontAsk;
        const int result = view.Run(hOwner);
        dontAsk = view.Dialog().m_nDontAsk;
        return result;
    };
    auto confirm = [hOwner](const std::string& text) {
        return MessageBoxTop(hOwner, text, MB_YESNO | MB_ICONQUESTION) == IDYES;
    };
    return CDefaultTypesQuestion(run, confirm);
}

void RegisterFileTypes(HWND hOwner, ISettingsStore& settings, bool askAlways) {
    const std::unique_ptr<IFileTypeRegistry> registry = CreateFileTypeRegistry();
    CDefaultTypesQuestion question = MakeDefaultTypesQuestion(hOwner);
    FileTypeContext context{*registry, settings, question, program::ProgramFilePath()};
    ::RegisterFileTypes(context, askAlways);
}

void UnregisterFileTypes(ISettingsStore& settings) {
    ::UnregisterFileTypes(*CreateFileTypeRegistry(), settings);
}

}  // namespace win32ui
