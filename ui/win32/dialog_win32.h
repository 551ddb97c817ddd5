// The Win32 side of the dialog tables (ui/dialog_template.h): a table becomes a DLGTEMPLATEEX
// in memory, so the dialog manager itself places the controls in its own dialog units, and a
// menu table becomes a menu. CWin32Dialog runs such a template modally or modeless and hands
// its messages to a virtual handler. UTF-8 inside, the wide calls at the edge.
#pragma once

#include <windows.h>
// resources::LoadString is ours.
#undef LoadString

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace win32ui {

// What a dialog window is apart from its controls.
struct DialogFrame {
    std::wstring caption;
    std::wstring windowClass;  // empty: the dialog manager's own
    bool minimizeBox = false;
    bool visible = true;  // false: made hidden (tests, the collapsed start)
};

// The template in memory: DLGTEMPLATEEX with the "MS Shell Dlg" 8 pt font, one item per
// control of the table with its text from the dialog's resource texts.
std::vector<uint8_t> BuildTemplate(const dlg::Template& tpl, const DialogFrame& frame);

// The menu of a table; command and check items by command id, popups by the item id of their
// text (for the File menu's recent files).
HMENU BuildMenu(int resourceId, std::span<const dlg::MenuItem> items, std::map<int, HMENU>& popups);

std::wstring W(const std::string& utf8);
std::string U(const std::wstring& wide);

// A control's text, and setting it (UTF-8).
std::string ItemText(HWND hDlg, int id);
void SetItemText(HWND hDlg, int id, const std::string& text);

// Line feeds as the edit control breaks lines: carriage return and line feed.
std::string WithCrLf(const std::string& text);

// The program's icon (resource 128) at a size, or the link icon's frames (resources 137 ...).
HICON LoadIconSized(int resourceId, int size);

// A message box as the window shows its notices: system-modal, brought to the foreground,
// the program's title as caption. The button pressed.
int MessageBoxTop(HWND hOwner, const std::string& text, UINT buttons);

class CWin32Dialog {
  public:
    virtual ~CWin32Dialog();

    // Runs the template modally over the owner; the result given to EndDialog.
    INT_PTR RunModal(HWND hOwner, const dlg::Template& tpl, const DialogFrame& frame);
    // Makes the dialog modeless (tests, screenshots); its window or null.
    HWND Create(HWND hOwner, const dlg::Template& tpl, const DialogFrame& frame);
    HWND Handle() const { return m_hWnd; }
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    // Ends a modal run, or destroys the modeless window.
    void End(int result);

  protected:
    // A message of the dialog; true when it was handled, with the dialog procedure's result.
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) = 0;
    HWND m_hWnd = nullptr;
    bool m_bModal = false;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    std::vector<uint8_t> m_template;
};

}  // namespace win32ui
