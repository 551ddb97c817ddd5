#include "hotsync/timeline.h"

#include <chrono>
#include <cstdio>

#include "platform/files.h"
#include "platform/system.h"

namespace timeline {
namespace {

std::FILE* OpenFromEnvironment() {
    const auto path = platform::GetEnv("CC_TIMELINE");
    if (!path || path->empty()) return nullptr;
    std::FILE* f = platform::OpenForAppend(*path);
    // One write per line (the buffer holds a whole line and is flushed after each): appends
    // from several processes never interleave within a line.
    if (f) std::setvbuf(f, nullptr, _IOFBF, 256);
    return f;
}

std::FILE* File() {
    static std::FILE* const file = OpenFromEnvironment();
    return file;
}

}  // namespace

bool Enabled() {
    return File() != nullptr;
}

void Mark(const char* name) {
    std::FILE* f = File();
    if (!f) return;
    // The monotonic clock (CLOCK_MONOTONIC on Linux), the same in every process.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    char line[128];
    const int n = std::snprintf(
        line, sizeof line, "%s %lld\n", name,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
    if (n > 0 && n < static_cast<int>(sizeof line)) {
        std::fwrite(line, 1, static_cast<size_t>(n), f);
        std::fflush(f);
    }
}

}  // namespace timeline
