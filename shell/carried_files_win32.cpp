// Where the carried files go on Windows, and how old a written guide is.
#include <windows.h>
// windows.h before shlobj.h.
#include <shlobj.h>

#include <filesystem>

#include "platform/wide_text.h"
#include "shell/carried_files.h"

namespace carried {
namespace {

// Whether we may make files in the folder: tried, as its access rules are too many to read.
bool CanWriteIn(const std::string& dir) {
    const std::wstring probe =
        platform::Widen(dir) + L"\\.cc-write-test-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

// %LOCALAPPDATA%: the user's own data on this computer.
std::string LocalAppData() {
    PWSTR path = nullptr;
    std::string dir;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &path) == S_OK) {
        dir = platform::Narrow(path);
    }
    ::CoTaskMemFree(path);
    return dir;
}

}  // namespace

std::string OutputDirectory(const std::string& programDir) {
    if (!programDir.empty() && CanWriteIn(programDir)) return programDir;
    const std::string base = LocalAppData();
    if (base.empty()) return programDir;
    const std::string dir = base + "\\Cradlecourier";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(platform::Widen(dir)), ec);
    return dir;
}

bool HelpFileOutdated(const std::string& helpFile) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(platform::Widen(helpFile).c_str(), GetFileExInfoStandard, &data)) {
        return true;
    }
    // 18 January 2001, 00:00 local time, as a file time.
    SYSTEMTIME local{};
    local.wYear = 2001;
    local.wMonth = 1;
    local.wDay = 18;
    SYSTEMTIME utc{};
    FILETIME limit{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !::SystemTimeToFileTime(&utc, &limit)) {
        return true;
    }
    return ::CompareFileTime(&data.ftLastWriteTime, &limit) < 0;
}

}  // namespace carried
