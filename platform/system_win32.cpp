// The system's services on Windows: wide-character calls, UTF-8 results.
#include <windows.h>

#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/path_rules.h"
#include "platform/system.h"
#include "platform/wide_text.h"

namespace platform {

PathStyle NativePathStyle() {
    return PathStyle::kWindows;
}

int64_t ProcessId() {
    return ::GetCurrentProcessId();
}

std::optional<std::string> GetEnv(const char* name) {
    const std::wstring wideName = Widen(name);
    const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        // An empty value is set but has nothing to tell; a missing one is not set.
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring value(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    if (n == 0 || n >= size) return std::string();
    value.resize(n);
    return Narrow(value);
}

void SetEnv(const char* name, const char* value) {
    const std::wstring wideName = Widen(name);
    // Both the system's copy (GetTempPath and child programs read it) and the C library's.
    ::SetEnvironmentVariableW(wideName.c_str(), value ? Widen(value).c_str() : nullptr);
    ::_wputenv_s(wideName.c_str(), value ? Widen(value).c_str() : L"");
}

bool LocalTime(std::time_t moment, std::tm& out) {
    return ::localtime_s(&out, &moment) == 0;
}

std::string ErrorText(int err) {
    if (err < kSystemErrorBase) return std::strerror(err);
    const DWORD code = static_cast<DWORD>(err - kSystemErrorBase);
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (n > 0 && text) result = Narrow(std::wstring_view(text, n));
    if (text) ::LocalFree(text);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
        result.pop_back();
    }
    if (result.empty()) result = "system error " + std::to_string(code);
    return result;
}

std::string SystemTempDirectory() {
    wchar_t dir[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH) return {};
    return Narrow(std::wstring_view(dir, n));
}

namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    std::string result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) result = Narrow(path);
    ::CoTaskMemFree(path);
    return result;
}

}  // namespace

std::string HomeDirectory() {
    return KnownFolder(FOLDERID_Profile);
}

std::string UserDataDirectory() {
    return KnownFolder(FOLDERID_RoamingAppData);
}

std::string UserLocaleName() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) <= 0) return {};
    return Narrow(name);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

namespace {

void (*g_interruptHandler)() = nullptr;
volatile LONG g_nInterrupts = 0;

BOOL WINAPI OnConsoleEvent(DWORD) {
    // The first request is the program's to handle; the next ends it as the system does.
    if (::InterlockedIncrement(&g_nInterrupts) > 1) return FALSE;
    if (g_interruptHandler) g_interruptHandler();
    return TRUE;
}

}  // namespace

void OnInterrupt(void (*handler)()) {
    g_interruptHandler = handler;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool WaitReadable(int, int timeoutMs) {
    ::Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    return false;
}

bool OutputIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

bool PrepareConsoleOutput() {
    ::SetConsoleOutputCP(CP_UTF8);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return false;
    return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace platform
