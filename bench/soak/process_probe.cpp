#include "bench/soak/process_probe.h"

#include <dirent.h>
#include <malloc.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CC_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CC_SOAK_ASAN 1
#endif
#ifdef CC_SOAK_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace soak {

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the listing's own descriptor
}

int64_t HeapInUse() {
#ifdef CC_SOAK_ASAN
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

}  // namespace soak
