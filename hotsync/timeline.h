// Time marks at the phase boundaries of a run, for the run timeline benchmark.
//
// Off unless the environment variable CC_TIMELINE names a file when the first mark is
// made; each mark then appends one line "<name> <monotonic clock in nanoseconds>" to it.
// The clock is the same in every process of the machine and the file is opened for
// appending, so the desktop program and the virtual handheld can mark into one file.
// When off, a mark costs one test of a flag.
#pragma once

namespace timeline {

bool Enabled();
void Mark(const char* name);

}  // namespace timeline
