// The program's own file on Linux: what /proc/self/exe points to.
#include "shell/program_file.h"

#include <limits.h>
#include <unistd.h>

#include <string_view>

namespace program {

namespace {
constexpr size_t kMaxPath = 512;
}

std::string ProgramFilePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(kSelfExe, buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
    std::string path(buffer, static_cast<size_t>(n));
    // A program file replaced while it runs (an update) reads as "PATH (deleted)".
    static constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted) &&
        ::access(path.c_str(), F_OK) != 0) {
        path.resize(path.size() - kDeleted.size());
    }
    return path.size() > kMaxPath ? path.substr(0, kMaxPath) : path;
}

}  // namespace program
