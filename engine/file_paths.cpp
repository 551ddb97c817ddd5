#include "engine/file_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace {

// Opened for reading without waiting for a writer (FIFO) or a carrier (terminal); -1 when
// it does not open or is not a plain file.
int OpenPlain(const std::string& path, struct stat& st) {
    if (path.empty()) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string SplitPathPart(const std::string& path, int part) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = file.rfind('.');
    const std::string name = dot == std::string::npos ? file : file.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
    switch (part) {
        case 1:
            return {};
        case 2:
        case 6:
            return dir;
        case 3:
            return name;
        case 4:
            return ext;
        case 5:
            return file;
        default:
            return {};
    }
}

bool FileCanBeOpened(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = OpenPlain(path, st);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

int32_t GetFileLength(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    const int fd = OpenPlain(path, st);
    if (fd < 0) return 0;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (end < 0) return 0;
    return end > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : static_cast<int32_t>(end);
}

QueueCheck CheckQueueable(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return QueueCheck::kMissing;
    if (S_ISDIR(st.st_mode)) return QueueCheck::kDirectory;
    if (!S_ISREG(st.st_mode)) return QueueCheck::kSpecial;
    return QueueCheck::kPlainFile;
}

bool IsPlainFile(const std::string& path) {
    struct stat st {};
    // The name's own entry first: opening a device may have effects of its own.
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = OpenPlain(path, st);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
