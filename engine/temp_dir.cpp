#include "engine/temp_dir.h"

#include <cstdlib>

std::string GetTempDir() {
    constexpr size_t kMaxLength = 512;
    const char* value = nullptr;
    for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
        // An empty value would make the root directory the temporary one.
        value = std::getenv(name);
        if (value && *value) break;
        value = nullptr;
    }
    // Without any of them the system's usual place stands in for the empty text.
    std::string dir = value ? std::string(value).substr(0, kMaxLength) : std::string("/tmp");
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}
