// Files on POSIX systems: the names are passed on as they are.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/files.h"

namespace platform {
namespace {

constexpr size_t kCopyBufferSize = 256 * 1024;

EntryInfo InfoOf(const struct stat& st) {
    EntryInfo info;
    if (S_ISREG(st.st_mode)) {
        info.kind = EntryKind::kFile;
    } else if (S_ISDIR(st.st_mode)) {
        info.kind = EntryKind::kDirectory;
    } else if (S_ISLNK(st.st_mode)) {
        info.kind = EntryKind::kLink;
    } else {
        info.kind = EntryKind::kOther;
    }
    info.size = uint64_t(st.st_size);
    info.volume = uint64_t(st.st_dev);
    info.fileId = uint64_t(st.st_ino);
    info.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    info.ownerWritable = (st.st_mode & S_IWUSR) != 0;
    return info;
}

std::FILE* StreamOf(int fd, const char* mode) {
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, mode);
    if (!f) {
        const int err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
}

}  // namespace

EntryInfo Stat(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return InfoOf(st);
}

EntryInfo StatEntry(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return InfoOf(st);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::FILE* OpenPlainFile(const std::string& path, bool noFollow) {
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // Without waiting for a writer (FIFO) or a carrier (terminal).
    const int fd = ::open(
        path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    return StreamOf(fd, "rb");
}

std::FILE* CreateNewFile(const std::string& path) {
    return StreamOf(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666), "wb");
}

std::FILE* CreateOrTruncate(const std::string& path) {
    return StreamOf(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666), "wb");
}

std::FILE* OpenForAppend(const std::string& path) {
    return StreamOf(
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644), "ab");
}

std::string CreateUniqueFile(const std::string& prefix) {
    std::vector<char> name(prefix.begin(), prefix.end());
    for (int i = 0; i < 6; ++i) name.push_back('X');
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return {};
    ::close(fd);
    return name.data();
}

std::FILE* OpenTempSpool() {
    return std::tmpfile();
}

std::FILE* OpenMemory(const void* data, size_t size) {
    return ::fmemopen(const_cast<void*>(data), size, "rb");
}

bool SeekTo(std::FILE* f, uint64_t offset) {
    return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t TellPosition(std::FILE* f) {
    return int64_t(::ftello(f));
}

int64_t FileSize(std::FILE* f) {
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0) return -1;
    return int64_t(st.st_size);
}

bool WriteAt(std::FILE* f, const void* data, size_t size, uint64_t offset) {
    const int fd = ::fileno(f);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

bool CopyBytes(std::FILE* fromFile, uint64_t size, std::FILE* toFile) {
    if (std::fflush(toFile) != 0) return false;
    const int from = ::fileno(fromFile);
    const int to = ::fileno(toFile);
    // In the kernel where it can.
    off_t offset = 0;
    while (uint64_t(offset) < size) {
        const ssize_t n = ::sendfile(to, from, &offset, size_t(size - uint64_t(offset)));
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    if (uint64_t(offset) == size) return true;
    // sendfile refused (or stopped): finish with plain reads and writes.
    std::vector<uint8_t> buf(kCopyBufferSize);
    while (uint64_t(offset) < size) {
        const size_t want = size_t(std::min<uint64_t>(buf.size(), size - uint64_t(offset)));
        const ssize_t got = ::pread(from, buf.data(), want, offset);
        if (got <= 0) return false;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buf.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
        offset += got;
    }
    return true;
}

bool SyncFile(std::FILE* f) {
    return std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MakeDirectory(const std::string& path, unsigned mode) {
    return ::mkdir(path.c_str(), mode_t(mode)) == 0;
}

}  // namespace platform
