// What a run must give back: the process's open descriptors and its memory.
#pragma once

#include <cstdint>

namespace soak {

// Descriptors the process holds open now.
int OpenDescriptors();
// Bytes of C++ objects alive now (counted by this program's operator new and delete), so a
// run that keeps even one small object shows.
int64_t LiveObjectBytes();
// Bytes the allocator has handed out and not had back, C allocations included (the
// sanitizer's count in a sanitizer build, where it replaces the allocator). Its caches and
// arenas make this move by some hundred kilobytes on its own.
int64_t HeapInUse();

}  // namespace soak
