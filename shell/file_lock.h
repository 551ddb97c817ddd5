// An exclusive lock on a file (flock on Linux, LockFileEx on Windows). The system releases it
// when the holder dies, so a crashed first instance leaves nothing that stops the next start
// from being first. Programs we start do not inherit it.
#pragma once

#include <cstdint>
#include <string>

class CFileLock {
  public:
    CFileLock() = default;
    ~CFileLock() { Unlock(); }
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Takes the lock without waiting; false when another holds it or the file can't be
    // opened (bBusy tells the two apart).
    bool TryLock(const std::string& strPath, bool* pbBusy = nullptr);
    // Takes the lock, waiting at most nTimeoutMs for another holder to let go.
    bool Lock(const std::string& strPath, int nTimeoutMs);
    void Unlock();
    bool IsHeld() const { return m_lock != kNone; }

  private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_lock = kNone;  // the descriptor (Linux) or handle (Windows) holding it
};
