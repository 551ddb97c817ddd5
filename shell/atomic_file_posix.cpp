#include "shell/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace atomic_file {
namespace {

namespace fs = std::filesystem;

void Say(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string SystemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// The file a path finally names: links followed, also a link to a file not yet there.
fs::path FinalTarget(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
        const fs::path link = fs::read_symlink(current, ec);
        if (ec) return current;
        current = link.is_absolute() ? link : current.parent_path() / link;
    }
    return current;
}

bool SameBytes(const std::string& path, std::string_view bytes) {
    std::string old;
    return Read(path, bytes.size(), old) && old == bytes;
}

bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

Result Write(const std::string& path, std::string_view bytes, std::string* error, bool always) {
    const fs::path target = FinalTarget(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            Say(error, target.string() + ": not a plain file");
            return Result::kFailed;
        }
        // The owner's write bit, not access(): root may write anything, but a file someone
        // made read-only is meant to stay as it is.
        if ((st.st_mode & S_IWUSR) == 0) return Result::kReadOnly;
        if (!always && SameBytes(target.string(), bytes)) return Result::kUnchanged;
    }

    std::error_code ec;
    const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    fs::create_directories(dir, ec);
    if (ec) {
        Say(error, SystemError(dir.string(), ec.value()));
        return Result::kFailed;
    }
    std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        Say(error, SystemError(dir.string(), errno));
        return Result::kFailed;
    }
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0644 & ~mask;
    }
    bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(name.data());
        Say(error, SystemError(target.string(), err));
        return Result::kFailed;
    }
    return Result::kWritten;
}

bool Read(const std::string& path, size_t maxBytes, std::string& bytes, std::string* error) {
    bytes.clear();
    Say(error, "");
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) Say(error, SystemError(path, errno));
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        Say(error, path + ": not a plain file");
        ok = false;
    } else if (ok && static_cast<unsigned long long>(st.st_size) > maxBytes) {
        Say(error, path + ": too large");
        ok = false;
    }
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                Say(error, SystemError(path, errno));
                ok = false;
            } else if (n == 0) {
                bytes.resize(done);  // it shrank while we read
                break;
            } else {
                done += static_cast<size_t>(n);
            }
        }
    }
    ::close(fd);
    if (!ok) bytes.clear();
    return ok;
}

}  // namespace atomic_file
