// The exclusive file lock on Windows: a byte range locked with LockFileEx, which the system
// releases when the holder's handle goes, also when the holder dies.
#include <windows.h>

#include "platform/path_rules.h"
#include "platform/wide_text.h"
#include "shell/file_lock.h"

bool CFileLock::TryLock(const std::string& strPath, bool* pbBusy) {
    Unlock();
    if (pbBusy) *pbBusy = false;
    if (platform::IsWindowsDevicePath(strPath)) return false;
    // Not inherited by programs we start (the handle is not inheritable).
    const HANDLE h =
        ::CreateFileW(platform::Widen(strPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED whole{};
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        if (pbBusy) *pbBusy = ::GetLastError() == ERROR_LOCK_VIOLATION;
        ::CloseHandle(h);
        return false;
    }
    m_lock = reinterpret_cast<intptr_t>(h);
    return true;
}

void CFileLock::Unlock() {
    if (m_lock == kNone) return;
    ::CloseHandle(reinterpret_cast<HANDLE>(m_lock));  // closing the handle releases the lock
    m_lock = kNone;
}
