#include "engine/file_paths.h"

#include <limits>

#include "platform/files.h"

namespace {

bool IsPlainEntry(const std::string& path) {
    return !path.empty() && platform::Stat(path).kind == platform::EntryKind::kFile;
}

}  // namespace

std::string SplitPathPart(const std::string& path, int part) {
    return SplitPathPart(path, part, platform::NativePathStyle());
}

std::string SplitPathPart(const std::string& path, int part, platform::PathStyle style) {
    const std::string drive = platform::DrivePart(path, style);
    const size_t nameStart = platform::FileNameStart(path, style);
    const std::string dir = path.substr(drive.size(), nameStart - drive.size());
    const std::string file = path.substr(nameStart);
    const size_t dot = file.rfind('.');
    const std::string name = dot == std::string::npos ? file : file.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
    switch (part) {
        case 1:
            return drive;
        case 2:
            return dir;
        case 6:
            return drive + dir;
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
    return IsPlainFile(path);
}

int32_t GetFileLength(const std::string& path) {
    if (!IsPlainEntry(path)) return 0;
    const platform::FilePtr f(platform::OpenPlainFile(path));
    const int64_t end = f ? platform::FileSize(f.get()) : -1;
    if (end < 0) return 0;
    return end > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                     : static_cast<int32_t>(end);
}

QueueCheck CheckQueueable(const std::string& path) {
    if (path.empty()) return QueueCheck::kMissing;
    switch (platform::Stat(path).kind) {
        case platform::EntryKind::kMissing:
            return QueueCheck::kMissing;
        case platform::EntryKind::kDirectory:
            return QueueCheck::kDirectory;
        case platform::EntryKind::kFile:
            return QueueCheck::kPlainFile;
        default:
            return QueueCheck::kSpecial;
    }
}

bool IsPlainFile(const std::string& path) {
    // The name's own entry first: opening a device may have effects of its own.
    if (!IsPlainEntry(path)) return false;
    return platform::FilePtr(platform::OpenPlainFile(path)) != nullptr;
}
