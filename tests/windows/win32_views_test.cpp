// The Win32 views of the windows under Wine with a display: the main window made from the
// tables (controls, texts, menu checks, columns), the collapse of the file list, the
// hand-over notification with good and bogus parameters, a drop of ten thousand names, the
// read-me window in licence mode, the about box's link colours, and the open-file dialog's
// answer taken apart. The test skips without a display.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>

#include "app/win32/desktop_services_win32.h"
#include "engine/file_paths.h"
#include "resources/strings/dialog_texts.h"
#include "shell/hand_over_slots.h"
#include "shell/win32/instance_win32.h"
#include "tests/ui_logic/recording_services.h"
#include "ui/installer_layout.h"
#include "ui/links.h"
#include "ui/win32/about_view_win32.h"
#include "ui/win32/default_types_view_win32.h"
#include "ui/win32/file_chooser_win32.h"
#include "ui/win32/installer_view_win32.h"
#include "ui/win32/readme_view_win32.h"
#include "ui/win32/user_dialogs_win32.h"

using namespace installer;

namespace {

std::wstring ClassOf(HWND h) {
    wchar_t name[64] = {};
    ::GetClassNameW(h, name, 64);
    return name;
}

bool MenuChecked(HMENU menu, int id) {
    return (::GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void Pump(int ms) {
    const DWORD end = ::GetTickCount() + static_cast<DWORD>(ms);
    while (::GetTickCount() < end) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(10);
    }
}

// A drop as the shell makes it: DROPFILES and the wide names, each ended by a zero and the
// whole by two.
HDROP MakeDrop(const std::vector<std::wstring>& names) {
    size_t chars = 1;
    for (const std::wstring& n : names) chars += n.size() + 1;
    HGLOBAL mem = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(mem));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* at = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const std::wstring& n : names) {
        std::copy(n.begin(), n.end(), at);
        at += n.size() + 1;
    }
    ::GlobalUnlock(mem);
    return static_cast<HDROP>(mem);
}

bool HaveDisplay() {
    HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                   nullptr, nullptr);
    if (!probe) return false;
    ::DestroyWindow(probe);
    return true;
}

class Win32Views : public uilogic::CWindowTestBase {
  protected:
    void SetUp() override {
        CWindowTestBase::SetUp();
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&icc);
        if (!HaveDisplay()) GTEST_SKIP() << "no display: run under xvfb-run";
    }
    void TearDown() override {
        m_view.reset();
        CWindowTestBase::TearDown();
    }

    CWin32InstallerView& Open() {
        InstallerServices s;
        Fill(s);
        // A session whose port opens nothing: the window idles with "port busy".
        s.makeSession = [](const std::string& port, int speed) {
            return std::make_unique<CDeviceSession>(
                port.c_str(), true, speed, CDeviceSession::TransportFactory([](const std::string&) {
                    return std::unique_ptr<hotsync::ITransport>();
                }));
        };
        m_view = std::make_unique<CWin32InstallerView>(std::move(s));
        m_hWnd = m_view->CreateModeless(false);
        return *m_view;
    }

    std::unique_ptr<CWin32InstallerView> m_view;
    HWND m_hWnd = nullptr;
};

TEST_F(Win32Views, MainWindowHasTheTablesControlsTextsAndMenuChecks) {
    settings.WriteInt("main", "SyncDate", 1);
    CWin32InstallerView& view = Open();
    ASSERT_NE(m_hWnd, nullptr);
    const dlg::Template& tpl = InstallerTemplate(resources::Language::kEnglish);
    for (const dlg::Control& c : tpl.controls) {
        HWND h = ::GetDlgItem(m_hWnd, c.id);
        ASSERT_NE(h, nullptr) << c.id;
        if (c.textItem && c.id != kIdStatus) {
            EXPECT_EQ(win32ui::ItemText(m_hWnd, c.id),
                      resources::LoadItemText(resources::kDlgInstaller, c.textItem))
                << c.id;
        }
    }
    EXPECT_EQ(ClassOf(::GetDlgItem(m_hWnd, kIdList)), L"SysListView32");
    EXPECT_EQ(ClassOf(::GetDlgItem(m_hWnd, kIdProgress)), L"msctls_progress32");
    EXPECT_EQ(::SendDlgItemMessageW(m_hWnd, kIdPort, CB_GETCOUNT, 0, 0), kNetIndex + 1);
    EXPECT_EQ(::SendDlgItemMessageW(m_hWnd, kIdSpeed, CB_GETCOUNT, 0, 0), 7);
    EXPECT_EQ(::SendDlgItemMessageW(m_hWnd, kIdSpeed, CB_GETCURSEL, 0, 0), 3);  // 57600
    HWND header = ListView_GetHeader(::GetDlgItem(m_hWnd, kIdList));
    EXPECT_EQ(Header_GetItemCount(header), 4);
    // The columns fit the list: no horizontal scrolling with the where column hidden.
    RECT list{};
    ::GetClientRect(::GetDlgItem(m_hWnd, kIdList), &list);
    EXPECT_EQ(view.ListColumnWidth(kColWhere), 0);
    EXPECT_LE(view.ListColumnWidth(kColName) + view.ListColumnWidth(kColSize) +
                  view.ListColumnWidth(kColPath),
              list.right);

    // Menu 131 with its checks from the settings, the system menu with the about entry.
    HMENU menu = ::GetMenu(m_hWnd);
    ASSERT_EQ(menu, view.Menu());
    EXPECT_TRUE(MenuChecked(menu, kCmdSetTime));
    EXPECT_FALSE(MenuChecked(menu, kCmdBackup));
    EXPECT_TRUE(MenuChecked(menu, kCmdOpenDialog));  // 1 when nothing is stored
    EXPECT_TRUE(MenuChecked(menu, kCmdFileList));
    EXPECT_NE(::GetMenuState(::GetSystemMenu(m_hWnd, FALSE), kCmdAboutSys, MF_BYCOMMAND),
              0xFFFFFFFFu);
    ::SendMessageW(m_hWnd, WM_COMMAND, kCmdSetTime, 0);
    EXPECT_FALSE(MenuChecked(menu, kCmdSetTime));
    EXPECT_EQ(settings.ReadInt("main", "SyncDate", 1), 0);

    // The link icon shows frame 0; its tooltip has its one tool.
    EXPECT_NE(view.Frame(0), nullptr);
    EXPECT_EQ(::SendDlgItemMessageW(m_hWnd, kIdLinkIcon, STM_GETICON, 0, 0),
              reinterpret_cast<LRESULT>(view.Frame(0)));
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(m_hWnd, kIdLinkIcon));
    EXPECT_TRUE(
        ::SendMessageW(view.ToolTip(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));

    // The timer polls the session: its port opened nothing.
    Pump(600);
    EXPECT_NE(win32ui::ItemText(m_hWnd, kIdStatus).find("COM1"), std::string::npos)
        << win32ui::ItemText(m_hWnd, kIdStatus);

    // The close box ends the window as Cancel does: no transfer started, code -1.
    ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
    Pump(200);
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), -1);
}

TEST_F(Win32Views, FileListCollapsesByTheOffsetAndComesBack) {
    CWin32InstallerView& view = Open();
    RECT full{}, small{}, status{}, statusUp{};
    ::GetWindowRect(m_hWnd, &full);
    ::GetWindowRect(::GetDlgItem(m_hWnd, kIdStatus), &status);
    ::SendMessageW(m_hWnd, WM_COMMAND, kCmdFileList, 0);
    ::GetWindowRect(m_hWnd, &small);
    ::GetWindowRect(::GetDlgItem(m_hWnd, kIdStatus), &statusUp);
    const int offset = (full.bottom - full.top) - (small.bottom - small.top);
    EXPECT_GE(offset, kFileListOffset);
    EXPECT_EQ((status.top - full.top) - (statusUp.top - small.top), offset);
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(m_hWnd, kIdList)));
    EXPECT_FALSE(::GetWindowLongPtrW(::GetDlgItem(m_hWnd, kIdAdd), GWL_STYLE) & WS_TABSTOP);
    EXPECT_FALSE(MenuChecked(view.Menu(), kCmdFileList));
    EXPECT_EQ(settings.ReadInt("main", "FileList", 1), 0);
    ::SendMessageW(m_hWnd, WM_COMMAND, kCmdFileList, 0);
    ::GetWindowRect(m_hWnd, &small);
    EXPECT_EQ(small.bottom - small.top, view.FullSize().cy);
    EXPECT_TRUE(::GetWindowLongPtrW(::GetDlgItem(m_hWnd, kIdAdd), GWL_STYLE) & WS_TABSTOP);
}

TEST_F(Win32Views, MoveToAMonitorOfAnotherResolutionKeepsTheCollapseRight) {
    CWin32InstallerView& view = Open();
    RECT full{};
    ::GetWindowRect(m_hWnd, &full);
    const int nameColumn = view.ListColumnWidth(kColName);
    ::SendMessageW(m_hWnd, WM_COMMAND, kCmdFileList, 0);  // collapsed
    RECT small{};
    ::GetWindowRect(m_hWnd, &small);
    // 150 %: the system suggests the window half as large again.
    RECT suggested{small.left, small.top, small.left + (small.right - small.left) * 3 / 2,
                   small.top + (small.bottom - small.top) * 3 / 2};
    ::SendMessageW(m_hWnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT now{};
    ::GetWindowRect(m_hWnd, &now);
    EXPECT_EQ(now.bottom - now.top, suggested.bottom - suggested.top);
    EXPECT_FALSE(MenuChecked(view.Menu(), kCmdFileList));
    EXPECT_EQ(view.ListColumnWidth(kColName), ::MulDiv(nameColumn, 3, 2));
    // Shown again: larger by the list's part at the new resolution, and known as shown.
    ::SendMessageW(m_hWnd, WM_COMMAND, kCmdFileList, 0);
    ::GetWindowRect(m_hWnd, &now);
    EXPECT_EQ(now.bottom - now.top, suggested.bottom - suggested.top + kFileListOffset * 3 / 2);
    EXPECT_EQ(view.FullSize().cy, now.bottom - now.top);
    EXPECT_TRUE(MenuChecked(view.Menu(), kCmdFileList));
    EXPECT_TRUE(view.Frame(0) != nullptr);
}

TEST_F(Win32Views, HandOverTakesSlotsOnlyForAPlausibleNotification) {
    std::ofstream(Path("given.prc")) << "x";
    CWin32InstallerView& view = Open();
    CWin32InstanceChannel channel("win32-views-test");
    channel.SetHandler([&](const InstanceMessage&) {
        handover::DropSlots(settings, [](const std::string& p) { return FileCanBeOpened(p); });
        view.Dialog().OnHandOverMessage();
        return 0;
    });
    view.m_onHandOver = [&](UINT msg, WPARAM wParam, LPARAM lParam) {
        return channel.Deliver(msg, wParam, lParam);
    };
    settings.WriteText("Register", "Name0", Path("given.prc"));
    settings.WriteText("Register", "Name1", "\\\\.\\PhysicalDrive0");
    settings.WriteText("Register", "Name2", "CON");
    const UINT msg = ::RegisterWindowMessageW(L"CCourier new");
    // Bogus file counts, another wParam, and a system message that carries 1970: ignored.
    ::SendMessageW(m_hWnd, msg, handover::kMessageParam, -1);
    ::SendMessageW(m_hWnd, msg, handover::kMessageParam, 0x7FFFFFFF);
    ::SendMessageW(m_hWnd, msg, 1971, 1);
    ::SendMessageW(m_hWnd, WM_NULL, handover::kMessageParam, 1);
    EXPECT_TRUE(view.Dialog().m_listInstall.empty());
    EXPECT_EQ(settings.ReadText("Register", "Name0", ""), Path("given.prc"));
    // The real one: the file joins the list, the devices never do, every slot is gone.
    ::SendMessageW(m_hWnd, msg, handover::kMessageParam, 3);
    EXPECT_EQ(view.Dialog().m_listInstall, std::vector<std::string>{Path("given.prc")});
    for (const char* slot : {"Name0", "Name1", "Name2"}) {
        EXPECT_FALSE(settings.Has("Register", slot)) << slot;
    }
    EXPECT_EQ(ListView_GetItemCount(::GetDlgItem(m_hWnd, kIdList)), 1);
}

TEST_F(Win32Views, DropOfTenThousandNamesQueuesTheFilesAndNamesTheRestOnce) {
    CWin32InstallerView& view = Open();
    std::vector<std::wstring> names;
    size_t real = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string path = Path("drop" + std::to_string(i) + ".prc");
        if (i % 200 == 0) {
            std::ofstream(path) << "x";
            ++real;
        }
        names.push_back(win32ui::W(path));
    }
    ::SendMessageW(m_hWnd, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(names)), 0);
    EXPECT_EQ(view.Dialog().m_listInstall.size(), real);
    EXPECT_EQ(static_cast<size_t>(ListView_GetItemCount(::GetDlgItem(m_hWnd, kIdList))), real);
    ASSERT_EQ(shown.size(), 1u);  // one message for all that could not be queued
    // A drop during a transfer is released untouched.
    view.Dialog().m_bTransferRunning = true;
    ::SendMessageW(m_hWnd, WM_DROPFILES,
                   reinterpret_cast<WPARAM>(MakeDrop({win32ui::W(Path("late.prc"))})), 0);
    view.Dialog().m_bTransferRunning = false;
    EXPECT_EQ(view.Dialog().m_listInstall.size(), real);
}

TEST_F(Win32Views, ReadmeInLicenceModeAndAboutLinks) {
    std::ofstream(Path("licence.txt"), std::ios::binary) << "line one\nline two\n";
    win32ui::CWin32ReadmeView readme;
    readme.Dialog().m_strPath = Path("licence.txt");
    readme.Dialog().m_strCaption = "Licence - Game";
    readme.Dialog().m_bLicence = true;
    HWND r = readme.CreateModeless();
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(r, CReadmeDlg::kIdOk)));
    EXPECT_TRUE(::GetWindowLongPtrW(::GetDlgItem(r, CReadmeDlg::kIdAccept), GWL_STYLE) &
                WS_VISIBLE);
    EXPECT_EQ(win32ui::ItemText(r, CReadmeDlg::kIdText), "line one\r\nline two\r\n");
    wchar_t caption[64] = {};
    ::GetWindowTextW(r, caption, 64);
    EXPECT_STREQ(caption, L"Licence - Game");

    win32ui::CWin32AboutView about([](const std::string&) {});
    HWND a = about.Create(nullptr, about::AboutTemplate(), win32ui::CWin32AboutView::Frame());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(win32ui::ItemText(a, about::kIdWeb), links::kWebSite);
    HDC dc = ::GetDC(a);
    EXPECT_NE(::SendMessageW(a, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(::GetDlgItem(a, about::kIdWeb))),
              0);
    EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_HIGHLIGHT));
    // The usage note keeps the dialog's own text colour.
    ::SendMessageW(a, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(::GetDlgItem(a, about::kIdNote)));
    EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT));
    ::ReleaseDC(a, dc);
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(a, about::kIdHiddenIcon)));
}

TEST_F(Win32Views, DefaultTypesQuestionTakesTheCheckBoxWithYesOrNoButNotWithEscape) {
    int helpCalls = 0;
    // Yes with the box checked: 6, and the box's number.
    {
        win32ui::CWin32DefaultTypesView view([&] { ++helpCalls; });
        view.Dialog().m_nDontAsk = 0;
        HWND q = view.CreateModeless();
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(ClassOf(::GetDlgItem(q, defaulttypes::kIdDontAsk)), L"Button");
        EXPECT_EQ(::IsDlgButtonChecked(q, defaulttypes::kIdDontAsk), BST_UNCHECKED);
        ::CheckDlgButton(q, defaulttypes::kIdDontAsk, BST_CHECKED);
        ::SendMessageW(q, WM_COMMAND, MAKEWPARAM(defaulttypes::kIdHelp, BN_CLICKED), 0);
        EXPECT_EQ(helpCalls, 1);
        EXPECT_TRUE(::IsWindow(q));  // help keeps the question open
        ::SendMessageW(q, WM_COMMAND, MAKEWPARAM(defaulttypes::kIdYes, BN_CLICKED), 0);
        EXPECT_EQ(view.Dialog().m_nDontAsk, 1);
        EXPECT_FALSE(::IsWindow(q));
    }
    // Escape leaves the number as it was, even with the box changed.
    {
        win32ui::CWin32DefaultTypesView view({});
        view.Dialog().m_nDontAsk = 1;
        HWND q = view.CreateModeless();
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(::IsDlgButtonChecked(q, defaulttypes::kIdDontAsk), BST_CHECKED);
        ::CheckDlgButton(q, defaulttypes::kIdDontAsk, BST_UNCHECKED);
        ::SendMessageW(q, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        EXPECT_EQ(view.Dialog().m_nDontAsk, 1);
    }
}

}  // namespace

TEST(Win32FileChooser, AnswerOfOneOrSeveralFiles) {
    const wchar_t one[] = L"C:\\games\\a.prc\0\0";
    EXPECT_EQ(win32ui::SplitChosenNames(one, std::size(one)),
              std::vector<std::wstring>{L"C:\\games\\a.prc"});
    const wchar_t several[] = L"C:\\games\0a.prc\0b c.pdb\0\0";
    EXPECT_EQ(win32ui::SplitChosenNames(several, std::size(several)),
              (std::vector<std::wstring>{L"C:\\games\\a.prc", L"C:\\games\\b c.pdb"}));
    const wchar_t root[] = L"C:\\\0a.prc\0b.prc\0\0";
    EXPECT_EQ(win32ui::SplitChosenNames(root, std::size(root)),
              (std::vector<std::wstring>{L"C:\\a.prc", L"C:\\b.prc"}));
    const wchar_t none[] = L"\0";
    EXPECT_TRUE(win32ui::SplitChosenNames(none, std::size(none)).empty());
}

namespace {

// What the modal dialog under test showed, looked at from a timer of its own message loop,
// which then closes it.
struct SeenDialog {
    int columns = -1;
    std::wstring caption;
};
SeenDialog g_seen;
int g_listId = 0;

void CALLBACK LookAndClose(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dlg = ::GetActiveWindow();
    if (!dlg) return;
    ::KillTimer(nullptr, id);
    wchar_t caption[128] = {};
    ::GetWindowTextW(dlg, caption, 128);
    g_seen.caption = caption;
    g_seen.columns = Header_GetItemCount(ListView_GetHeader(::GetDlgItem(dlg, g_listId)));
    ::PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

TEST_F(Win32Views, HistoryAndRestoreRunModallyWithTheirColumns) {
    g_seen = {};
    g_listId = 1046;  // the history's list
    ::SetTimer(nullptr, 0, 300, LookAndClose);
    win32ui::RunHistory(nullptr, nullptr, m_dir);
    EXPECT_EQ(g_seen.columns, 4);
    EXPECT_EQ(win32ui::U(g_seen.caption),
              resources::LoadItemText(resources::kDlgHistory, resources::kItemCaption));

    g_seen = {};
    g_listId = 3102;  // the restore dialog's list
    ::SetTimer(nullptr, 0, 300, LookAndClose);
    std::vector<std::string> picked{"untouched"};
    EXPECT_FALSE(win32ui::RunRestore(nullptr, nullptr, m_dir, picked));
    EXPECT_EQ(g_seen.columns, 3);
    EXPECT_EQ(picked, std::vector<std::string>{"untouched"});
}

// Start-up's path check: a network path is asked on a thread of its own and given up on after
// the time allowed; device names are refused without being opened.
TEST(Win32StartupPaths, NetworkAndDevicePathsNeverHang) {
    const std::string dir = testdb::ScratchDir("startup-paths");
    const std::string file = dir + "game.prc";
    std::ofstream(file) << "x";
    std::string local = file;
    std::replace(local.begin(), local.end(), '/', '\\');
    EXPECT_TRUE(FileCanBeOpenedWithin(file, 3000));
    EXPECT_TRUE(FileCanBeOpenedWithin("\\\\?\\" + local, 3000));  // by the thread, answered
    EXPECT_FALSE(FileCanBeOpenedWithin("\\\\192.0.2.1\\share\\game.prc", 500));
    EXPECT_FALSE(FileCanBeOpenedWithin("\\\\.\\PhysicalDrive0", 500));
    EXPECT_FALSE(FileCanBeOpenedWithin("CON", 500));
    EXPECT_FALSE(FileCanBeOpenedWithin("", 500));
    std::filesystem::remove_all(dir);
}
