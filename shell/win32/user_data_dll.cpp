#include "shell/win32/user_data_dll.h"

#include <algorithm>
#include <vector>

#include "platform/path_rules.h"
#include "platform/wide_text.h"

namespace {

// What we tell the library a buffer holds, and what the buffer really holds.
constexpr short kToldSize = short(IUserLibrary::kBufferSize);
constexpr size_t kBufferBytes = 4096;

// Calls fill with a zeroed buffer and the told size; the text when it ends within that size.
template <typename Fill>
bool TakeText(Fill fill, std::string& out) {
    std::vector<char> buffer(kBufferBytes, '\0');
    short size = kToldSize;
    fill(buffer.data(), &size);
    const auto end = std::find(buffer.begin(), buffer.begin() + kToldSize, '\0');
    if (end == buffer.begin() + kToldSize) return false;  // not ended where it had to be
    out.assign(buffer.begin(), end);
    return true;
}

// A path in the system's ANSI code page, as the library's texts are, in UTF-8.
std::string FromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(size_t(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
    return platform::Narrow(wide);
}

// A user directory that stays below the root: relative, and every part a plain name.
bool StaysBelowRoot(const std::string& dir) {
    if (dir.empty() || platform::IsAbsolutePath(dir) || !platform::DrivePart(dir).empty()) {
        return false;
    }
    size_t start = 0;
    while (start < dir.size()) {
        size_t end = start;
        while (end < dir.size() && !platform::IsPathSeparator(dir[end])) ++end;
        if (end > start && !platform::IsSafePathComponent(dir.substr(start, end - start))) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

HMODULE LoadQuietly(const std::wstring& name, DWORD flags) {
    // No "cannot load" box from the system for a broken or foreign library.
    DWORD old = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old);
    HMODULE module = ::LoadLibraryExW(name.c_str(), nullptr, flags);
    ::SetThreadErrorMode(old, nullptr);
    return module;
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<CUserDataDll> CUserDataDll::Bind(HMODULE module) {
    if (!module) return nullptr;
    std::unique_ptr<CUserDataDll> lib(new CUserDataDll(module));
    lib->m_pCount = Export<CountFn>(module, "UmGetUserCount");
    lib->m_pId = Export<IdFn>(module, "UmGetUserID");
    lib->m_pName = Export<UserTextFn>(module, "UmGetUserName");
    lib->m_pDirectory = Export<UserTextFn>(module, "UmGetUserDirectory");
    lib->m_pRoot = Export<RootFn>(module, "UmGetRootDirectory");
    if (!lib->m_pCount || !lib->m_pId || !lib->m_pName || !lib->m_pDirectory || !lib->m_pRoot) {
        return nullptr;  // unloaded by the destructor
    }
    return lib;
}

std::unique_ptr<CUserDataDll> CUserDataDll::LoadFile(const std::string& path) {
    // Its own folder first for the libraries it needs in turn.
    return Bind(LoadQuietly(platform::Widen(path), LOAD_WITH_ALTERED_SEARCH_PATH));
}

std::unique_ptr<CUserDataDll> CUserDataDll::Load(const std::string& desktopFolder) {
    if (!desktopFolder.empty()) {
        if (HMODULE module = LoadQuietly(platform::Widen(desktopFolder + kFileName),
                                         LOAD_WITH_ALTERED_SEARCH_PATH)) {
            return Bind(module);
        }
    }
    return Bind(LoadQuietly(platform::Widen(kFileName), LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
}

CUserDataDll::~CUserDataDll() {
    if (m_hUserLib) ::FreeLibrary(m_hUserLib);
}

int CUserDataDll::UmGetUserCount() {
    const std::lock_guard<std::mutex> guard(m_lock);
    const short count = m_pCount();
    return count > 0 ? count : 0;
}

int CUserDataDll::UmGetUserID(int index, uint32_t& userId) {
    if (index < 0 || index > 0x7FFF) return -1;
    const std::lock_guard<std::mutex> guard(m_lock);
    DWORD id = 0;
    m_pId(short(index), &id);  // its result is not looked at
    userId = id;
    return 0;
}

int CUserDataDll::UmGetUserName(uint32_t userId, std::string& name) {
    const std::lock_guard<std::mutex> guard(m_lock);
    // Names stay in the handheld's character set, which the library's texts are in.
    return TakeText([&](char* b, short* n) { m_pName(userId, b, n); }, name) ? 0 : -1;
}

int CUserDataDll::UmGetRootDirectory(std::string& dir) {
    std::string raw;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!TakeText([&](char* b, short* n) { m_pRoot(b, n); }, raw)) return -1;
    }
    dir = FromAnsi(raw);
    return platform::IsAbsolutePath(dir) ? 0 : -1;
}

int CUserDataDll::UmGetUserDirectory(uint32_t userId, std::string& dir) {
    std::string raw;
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!TakeText([&](char* b, short* n) { m_pDirectory(userId, b, n); }, raw)) return -1;
    }
    dir = FromAnsi(raw);
    return StaysBelowRoot(dir) ? 0 : -1;
}
