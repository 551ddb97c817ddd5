#include "app/win32/desktop_services_win32.h"

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "app/win32/window_host_win32.h"
#include "engine/file_paths.h"
#include "engine/picture_converter.h"
#include "engine/temp_dir.h"
#include "platform/wide_text.h"
#include "shell/carried_files.h"
#include "shell/program_file.h"
#include "shell/settings_store.h"
#include "shell/system_services.h"
#include "shell/win32/instance_win32.h"
#include "ui/win32/default_types_view_win32.h"
#include "ui/win32/file_chooser_win32.h"
#include "ui/win32/readme_view_win32.h"
#ifdef CC_HAVE_VIEWER
#include "resources/viewer/viewer_prc.h"
#endif

namespace {

// How long a path may take to answer whether it opens.
constexpr int kOpenTimeoutMs = 3000;

bool IsNetworkPath(const std::string& strPath) {
    return strPath.size() > 2 && (strPath[0] == '\\' || strPath[0] == '/') &&
           (strPath[1] == '\\' || strPath[1] == '/');
}

// Text for the error output, where the program was started from a console.
void WriteToConsole(const std::string& strText, DWORD nHandle) {
    static const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    HANDLE h = ::GetStdHandle(nHandle);
    if (!attached && (h == nullptr || h == INVALID_HANDLE_VALUE)) {
        ::OutputDebugStringW(platform::Widen(strText).c_str());
        return;
    }
    DWORD written = 0;
    const std::wstring wide = platform::Widen(strText);
    if (!::WriteConsoleW(h, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
        ::WriteFile(h, strText.data(), static_cast<DWORD>(strText.size()), &written, nullptr);
    }
}

}  // namespace

bool FileCanBeOpenedWithin(const std::string& strPath, int nTimeoutMs) {
    if (!IsNetworkPath(strPath)) return FileCanBeOpened(strPath);
    // A server that does not answer keeps the open waiting for a long time: asked on a
    // thread of its own, which is left to finish by itself when it is too slow.
    auto pResult = std::make_shared<std::promise<bool>>();
    std::future<bool> answer = pResult->get_future();
    std::thread([pResult, strPath] { pResult->set_value(FileCanBeOpened(strPath)); }).detach();
    if (answer.wait_for(std::chrono::milliseconds(nTimeoutMs)) != std::future_status::ready) {
        return false;
    }
    return answer.get();
}

StartupServices MakeWin32Services() {
    StartupServices s;
    s.strProgramPath = program::ProgramFilePath();
    s.strSelfFile = s.strProgramPath;
    s.strTempDir = GetTempDir();
    s.strSlotLockPath = s.strTempDir + "Cradlecourier-Register.lock";

    s.startUserInterface = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                                 ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                 ICC_WIN95_CLASSES};
        ::InitCommonControlsEx(&icc);
    };
    // The first instance's channel: its window class names the main window, and the window
    // passes the hand-over notification to it.
    auto pChannel = std::make_shared<CWin32InstanceChannel*>(nullptr);
    s.openChannel = [pChannel](const std::string& strKey) {
        auto channel = std::make_unique<CWin32InstanceChannel>(strKey);
        *pChannel = channel.get();
        return std::unique_ptr<IInstanceChannel>(std::move(channel));
    };
    s.openSettings = [] { return OpenUserSettings(); };
    s.registerFileTypes = [](ISettingsStore& settings, bool bAskAlways) {
        win32ui::RegisterFileTypes(nullptr, settings, bAskAlways);
    };
    s.unregisterFileTypes = [](ISettingsStore& settings) {
        win32ui::UnregisterFileTypes(settings);
    };
    s.fileCanBeOpened = [](const std::string& strPath) {
        return FileCanBeOpenedWithin(strPath, kOpenTimeoutMs);
    };
    s.chooseFiles = [](std::vector<std::string>& files) {
        return win32ui::ChooseFiles(nullptr, files);
    };
    s.showReadme = [](const std::string& strPath, const std::string& strCaption, bool bLicence) {
        win32ui::CWin32ReadmeView view;
        view.Dialog().m_strPath = strPath;
        view.Dialog().m_strCaption = strCaption;
        view.Dialog().m_bLicence = bLicence;
        return view.Run(nullptr);
    };
    s.showStopMessage = [](const std::string& strText) {
        ::MessageBoxW(nullptr, platform::Widen(strText).c_str(), L"Cradlecourier",
                      MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
    };
#ifdef CC_HAVE_VIEWER
    auto pPictures = std::make_shared<CPictureConverter>(
        []() -> const std::vector<uint8_t>& { return resources::ViewerPrcBytes(); });
    pPictures->SetViewerWriter(WriteViewerFile);  // beside the program, or the user's data folder
#endif
    s.makeWindow = [=](ISettingsStore& settings) {
        InstallerServices services;
        services.settings = &settings;
#ifdef CC_HAVE_VIEWER
        services.pictures = pPictures.get();
#endif
        CWin32InstanceChannel* channel = *pChannel;
        std::wstring windowClass = channel ? channel->WindowClass() : std::wstring();
        auto onHandOver = [channel](UINT msg, WPARAM wParam, LPARAM lParam) {
            return channel && channel->Deliver(msg, wParam, lParam);
        };
        return std::make_unique<CWin32WindowHost>(std::move(services), std::move(windowClass),
                                                  onHandOver);
    };
    s.sleep = [](int nMs) { ::Sleep(static_cast<DWORD>(nMs)); };
    s.printOut = [](const std::string& strText) { WriteToConsole(strText, STD_OUTPUT_HANDLE); };
    s.printError = [](const std::string& strText) { WriteToConsole(strText, STD_ERROR_HANDLE); };
    return s;
}
