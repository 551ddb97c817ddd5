// The record size the install benchmarks take as their first argument (default 4096).
#pragma once

#include <cstdio>
#include <cstdlib>

#include "hotsync/hotsync.h"

// False, with a message, when the argument is no size a record can have.
inline bool RecordSizeArg(int argc, char** argv, size_t& recordSize) {
    recordSize = argc > 1 ? size_t(std::strtoul(argv[1], nullptr, 10)) : 4096;
    if (recordSize != 0 && recordSize <= hotsync::kMaxRecordData) return true;
    std::fprintf(stderr, "record size must be 1 to %zu\n", hotsync::kMaxRecordData);
    return false;
}
