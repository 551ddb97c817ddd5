// The vendor's HotSync Manager and desktop values on Windows (Wine's windows and registry):
// a stand-in manager window of a class of the test's own that closes on the close message
// (or ignores it), starting a program, and the vendor's registry values as written by its
// software or garbled.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/wide_text.h"
#include "shell/hotsync_manager.h"
#include "shell/palm_desktop.h"
#include "shell/win32/palm_desktop_registry.h"
#include "shell/win32/registry_key.h"
#include "shell/win32/win32_hotsync_manager.h"

namespace {

std::atomic<int> g_closeMessages{0};
std::atomic<bool> g_closes{true};

LRESULT CALLBACK StandInProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == CWin32HotSyncManager::kCloseMessage) {
        if (wp == 1 && lp == 0) ++g_closeMessages;
        if (wp == 1 && lp == 0 && g_closes) ::DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// A hidden top-level window of the class, with its own thread and message loop.
class CStandInManager {
  public:
    explicit CStandInManager(const std::wstring& cls) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = StandInProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = cls.c_str();
        ::RegisterClassW(&wc);
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([cls, ready, this] {
            m_hWnd = ::CreateWindowExW(0, cls.c_str(), L"stand-in", WS_OVERLAPPED, 0, 0, 10, 10,
                                       nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
            m_dwError = m_hWnd ? 0 : ::GetLastError();
            ::SetEvent(ready);
            if (!m_hWnd) return;
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
        });
        ::WaitForSingleObject(ready, 5000);
        ::CloseHandle(ready);
    }
    ~CStandInManager() {
        if (::IsWindow(m_hWnd)) ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        m_thread.join();
    }
    HWND Window() const { return m_hWnd; }
    DWORD Error() const { return m_dwError; }

  private:
    std::thread m_thread;
    HWND m_hWnd = nullptr;
    DWORD m_dwError = 0;
};

// Sleeps for real, briefly, so the stand-in's thread gets its turn; counts the waits.
struct CShortSleeper {
    int waits = 0;
    Sleeper Get() {
        return [this](int) {
            ++waits;
            ::Sleep(20);
        };
    }
};

std::wstring TestClass(const char* what) {
    return L"CcStandIn-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + platform::Widen(what);
}

TEST(Win32HotSyncManager, FoundByItsClassClosedByTheMessageElseLeftRunning) {
    CShortSleeper sleeper;
    CWin32HotSyncManager none(TestClass("none"));
    EXPECT_EQ(StopHotSyncManager(none, sleeper.Get()), -2);
    EXPECT_EQ(sleeper.waits, 0);

    {
        g_closes = true;
        g_closeMessages = 0;
        CStandInManager manager(TestClass("closes"));
        if (!manager.Window()) {
            // Wine makes no windows without a display; the suite runs this test again
            // under Xvfb.
            GTEST_SKIP() << "no window could be made here (error " << manager.Error() << ")";
        }
        CWin32HotSyncManager host(TestClass("closes"));
        EXPECT_EQ(StopHotSyncManager(host, sleeper.Get()), 0);
        EXPECT_EQ(g_closeMessages, 1);
        EXPECT_FALSE(::IsWindow(manager.Window()));
    }
    {
        g_closes = false;
        g_closeMessages = 0;
        sleeper.waits = 0;
        CStandInManager manager(TestClass("stays"));
        CWin32HotSyncManager host(TestClass("stays"));
        EXPECT_EQ(StopHotSyncManager(host, sleeper.Get()), -1);
        EXPECT_EQ(sleeper.waits, 15);
        EXPECT_TRUE(::IsWindow(manager.Window()));
        g_closes = true;
    }
}

TEST(Win32HotSyncManager, StartsAProgramInItsFolderWithoutWaiting) {
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::string dir = platform::Narrow(system) + "\\";
    CWin32HotSyncManager host;
    EXPECT_TRUE(host.StartProgram(dir + "cmd.exe", dir, "/c exit 0"));
    EXPECT_FALSE(host.StartProgram(dir + "cc-no-such-manager.exe", dir, ""));
    EXPECT_FALSE(host.StartProgram("", "", ""));
}

class VendorValues : public ::testing::Test {
  protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() { ::RegDeleteTreeW(HKEY_CURRENT_USER, platform::Widen(m_root).c_str()); }
    void Raw(const char* sub, const char* name, DWORD type, const void* data, DWORD size) {
        registry::CKey key;
        ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, m_root + "\\" + sub));
        ASSERT_EQ(::RegSetValueExW(key.Get(), platform::Widen(name).c_str(), 0, type,
                                   static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    void Text(const char* sub, const char* name, const std::wstring& text) {
        Raw(sub, name, REG_SZ, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)));
    }

    std::string m_root =
        "Software\\CcVendorTest-" + std::to_string(::GetCurrentProcessId()) + "\\Pilot Desktop";
    CRegistryPalmDesktop m_values{m_root};
};

TEST_F(VendorValues, AsTheVendorsSoftwareWritesThem) {
    EXPECT_EQ(DefaultComPort(m_values), 1);
    EXPECT_EQ(DefaultUsb(m_values), 0);
    EXPECT_FALSE(m_values.HasCore());
    EXPECT_EQ(GetPalmDesktopPath(m_values), "");

    Text("HotSync Manager", "DirectComPort", L"COM5 or 3");
    const DWORD one = 1;
    Raw("HotSync Manager", "USB", REG_DWORD, &one, sizeof one);
    Text("Core", "Path", L"C:\\Palm");
    EXPECT_EQ(DefaultComPort(m_values), 3);
    EXPECT_EQ(DefaultUsb(m_values), 1);
    EXPECT_TRUE(m_values.HasCore());
    EXPECT_EQ(GetPalmDesktopPath(m_values), "C:\\Palm\\");

    // The manager restarted from the desktop's folder, and from its own path when given.
    CShortSleeper sleeper;
    struct CRecorder final : IHotSyncManagerHost {
        std::string started;
        bool FindManager() override { return false; }
        void PostClose() override {}
        void SetBusyCursor(bool) override {}
        bool StartProgram(const std::string& p, const std::string& d, const std::string&) override {
            started = p + "|" + d;
            return true;
        }
    } host;
    EXPECT_EQ(RestartHotSyncManager(host, m_values, true, "", sleeper.Get()), 1);
    EXPECT_EQ(host.started, "C:\\Palm\\HotSync.exe|C:\\Palm\\");
    Text("Core", "HotSyncPath", L"D:\\Sync\\HotSync.exe");
    RestartHotSyncManager(host, m_values, true, "", sleeper.Get());
    EXPECT_EQ(host.started, "D:\\Sync\\HotSync.exe|D:\\Sync\\");
}

TEST_F(VendorValues, WrongTypesAndAbsurdSizesReadAsMissing) {
    const DWORD two = 2;
    Raw("HotSync Manager", "DirectComPort", REG_DWORD, &two, sizeof two);
    Text("HotSync Manager", "USB", L"1");
    EXPECT_EQ(DefaultComPort(m_values), 1);
    EXPECT_EQ(DefaultUsb(m_values), 0);
    const uint64_t wide = 1;
    Raw("HotSync Manager", "USB", REG_DWORD, &wide, sizeof wide);  // a DWORD of 8 bytes
    EXPECT_EQ(DefaultUsb(m_values), 0);

    const std::wstring huge(1 << 20, L'7');
    Text("HotSync Manager", "DirectComPort", huge);
    EXPECT_FALSE(m_values.DirectComPort().has_value());
    Text("HotSync Manager", "DirectComPort", std::wstring(255, L'x'));
    EXPECT_TRUE(m_values.DirectComPort().has_value());

    Text("Core", "Path", std::wstring(261, L'p'));
    Raw("Core", "HotSyncPath", REG_BINARY, "C:\\x", 4);
    EXPECT_TRUE(m_values.HasCore());
    EXPECT_EQ(GetPalmDesktopPath(m_values), "");
    EXPECT_FALSE(m_values.HotSyncPath().has_value());
    Text("Core", "Path", std::wstring(L"C:\\Pa\0lm\\", 9));  // text ends at its first NUL
    EXPECT_EQ(GetPalmDesktopPath(m_values), "C:\\Pa\\");
}

}  // namespace
