// The single-instance rule on Linux: a lock file held for the life of the first instance
// stands for the instance mutex. Both it and the first instance's local socket live in a
// directory only the user can enter.
#pragma once

#include <string>

namespace instance {

// The instance key: "%s:%x:%x:%x:%x" with the program name, the device number of the
// program file, 8, its inode number and 0 (lower-case hexadecimal without leading zeros), so
// every start of one program file has the same key and a copy or another program has
// another. When the program file can't be looked at, "%s:%x:%x" with the name, 0 and 8.
std::string MakeInstanceKey(const std::string& strProgramName, const std::string& strProgramPath);

// The key as a file name short enough for a socket address: the key itself, or for a long
// program name its first characters and a hash of the whole key.
std::string KeyFileName(const std::string& strKey);

// $XDG_RUNTIME_DIR/Cradlecourier, or without a usable runtime directory the temporary
// directory's "Cradlecourier-UID" (/tmp's when the other is too deep for a socket's
// address); created with permissions 0700 when missing. Empty when it can't be made, is a
// link, belongs to someone else or others may enter it.
std::string PrivateRuntimeDir();

}  // namespace instance

// An exclusive lock (flock) on a file. The kernel releases it when the holder dies, so a
// crashed first instance leaves nothing that stops the next start from being first. The
// descriptor is not inherited by programs we start.
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
    bool IsHeld() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};
