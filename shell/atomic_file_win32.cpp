// Files replaced whole, on Windows: the new bytes go to a file beside the old one, which is
// then moved over it (MoveFileEx replaces in one step on the same volume).
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "platform/path_rules.h"
#include "shell/atomic_file.h"

namespace atomic_file {
namespace {

void Say(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string SystemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

bool SameBytes(const std::string& path, std::string_view bytes) {
    std::string old;
    return Read(path, bytes.size(), old) && old == bytes;
}

}  // namespace

Result Write(const std::string& path, std::string_view bytes, std::string* error, bool always) {
    const platform::EntryInfo entry = platform::Stat(path);
    if (entry.kind != platform::EntryKind::kMissing) {
        if (entry.kind != platform::EntryKind::kFile) {
            Say(error, path + ": not a plain file");
            return Result::kFailed;
        }
        // A file someone made read-only is meant to stay as it is.
        if (!entry.ownerWritable) return Result::kReadOnly;
        if (!always && SameBytes(path, bytes)) return Result::kUnchanged;
    }

    const size_t nameStart = platform::FileNameStart(path);
    const std::string dir = path.substr(0, nameStart);
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(platform::ToFsPath(dir), ec);
        if (ec) {
            Say(error, dir + ": " + ec.message());
            return Result::kFailed;
        }
    }
    const std::string temp = platform::CreateUniqueFile(dir + "." + path.substr(nameStart) + ".");
    if (temp.empty()) {
        Say(error, SystemError(dir.empty() ? "." : dir, errno));
        return Result::kFailed;
    }
    std::FILE* f = platform::OpenFile(temp, "wb");
    bool ok = f && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    ok = f && platform::SyncFile(f) && ok;
    int err = errno;
    if (f && std::fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && !platform::RenameFile(temp, path)) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        platform::RemoveFile(temp);
        Say(error, SystemError(path, err));
        return Result::kFailed;
    }
    return Result::kWritten;
}

bool Read(const std::string& path, size_t maxBytes, std::string& bytes, std::string* error) {
    bytes.clear();
    Say(error, "");
    const platform::EntryInfo entry = platform::Stat(path);
    if (entry.kind == platform::EntryKind::kMissing) return false;
    const platform::FilePtr f(platform::OpenPlainFile(path));
    if (!f) {
        Say(error, entry.kind == platform::EntryKind::kFile ? SystemError(path, errno)
                                                            : path + ": not a plain file");
        return false;
    }
    const int64_t size = platform::FileSize(f.get());
    if (size < 0 || static_cast<uint64_t>(size) > maxBytes) {
        Say(error, path + ": too large");
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), f.get());
    if (std::ferror(f.get())) {
        Say(error, SystemError(path, errno));
        bytes.clear();
        return false;
    }
    bytes.resize(got);  // it shrank while we read
    return true;
}

}  // namespace atomic_file
