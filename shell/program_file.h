// The program's own file: where it lives and what it is called.
#pragma once

#include <string>

namespace program {

// The resolved path of the running program file (the target of /proc/self/exe on Linux, the
// module's file name on Windows), at most 512 characters; empty when it can't be read.
std::string ProgramFilePath();
// The program file's path up to, not including, its last separator.
std::string GetProgramDirectory();
// A path's base name without its extension ("ccourier" for /usr/bin/ccourier).
std::string ProgramName(const std::string& strProgramPath);

// The name the Linux kernel opens the running program file by, also after it was replaced
// or deleted: the self-extracting check reads it.
inline constexpr const char* kSelfExe = "/proc/self/exe";

}  // namespace program
