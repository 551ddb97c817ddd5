#include "engine/temp_dir.h"

#include "platform/path_rules.h"
#include "platform/system.h"

std::string GetTempDir() {
    constexpr size_t kMaxLength = 512;
    std::string dir = platform::SystemTempDirectory().substr(0, kMaxLength);
    if (dir.empty() || !platform::IsPathSeparator(dir.back())) dir += platform::PathSeparator();
    return dir;
}
