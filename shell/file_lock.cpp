#include "shell/file_lock.h"

#include <chrono>
#include <thread>

bool CFileLock::Lock(const std::string& strPath, int nTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        bool bBusy = false;
        if (TryLock(strPath, &bBusy)) return true;
        if (!bBusy || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
