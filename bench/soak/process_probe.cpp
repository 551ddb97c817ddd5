#include "bench/soak/process_probe.h"

#include <dirent.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CC_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CC_SOAK_ASAN 1
#endif
#ifdef CC_SOAK_ASAN
// The sanitizer runtime's count (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

std::atomic<int64_t> g_nLiveBytes{0};

}  // namespace

// The program's allocation functions: malloc and free, counted. The other forms (arrays,
// sizes, no-throw) reach these; aligned ones keep their own pair.
void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    g_nLiveBytes.fetch_add(int64_t(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}

void operator delete(void* p) noexcept {
    if (!p) return;
    g_nLiveBytes.fetch_sub(int64_t(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

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

int64_t LiveObjectBytes() {
    return g_nLiveBytes.load();
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
