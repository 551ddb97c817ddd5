// The exclusive file lock on POSIX systems: flock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "shell/file_lock.h"

bool CFileLock::TryLock(const std::string& strPath, bool* pbBusy) {
    Unlock();
    if (pbBusy) *pbBusy = false;
    const int fd = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (pbBusy) *pbBusy = errno == EWOULDBLOCK;
        ::close(fd);
        return false;
    }
    m_lock = fd;
    return true;
}

void CFileLock::Unlock() {
    if (m_lock == kNone) return;
    ::close(static_cast<int>(m_lock));  // closing the only descriptor releases the lock
    m_lock = kNone;
}
