// What a run must give back: the process's open descriptors and its heap.
#pragma once

#include <cstdint>

namespace soak {

// Descriptors the process holds open now.
int OpenDescriptors();
// Bytes the allocator has handed out and not had back (the sanitizer's count in a sanitizer
// build, where it replaces the allocator).
int64_t HeapInUse();

}  // namespace soak
