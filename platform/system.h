// The system's services that every folder needs, with one implementation per system
// (system_posix.cpp, system_win32.cpp): environment, local time, error texts, the folders
// the system names, the user's locale, and the rules of its paths.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// This process's id.
int64_t ProcessId();

// An environment variable as UTF-8; nothing when it is not set.
std::optional<std::string> GetEnv(const char* name);
// Sets or (value null) removes an environment variable of this process.
void SetEnv(const char* name, const char* value);

// The local time of a moment; false when the system cannot tell it.
bool LocalTime(std::time_t moment, std::tm& out);

// Errors travel as errno values. A system error with no errno of its own (the reasons the
// Windows communication services give) travels as kSystemErrorBase + its code, so that
// ErrorText gives the system's own words for it.
inline constexpr int kSystemErrorBase = 0x10000;
// The words for an errno value, or the system's text for kSystemErrorBase + code.
std::string ErrorText(int err);

// The folder the system keeps for temporary files, as the system reports it (the caller
// adds its own rules).
std::string SystemTempDirectory();
// The user's home folder; empty when the system cannot tell.
std::string HomeDirectory();
// The folder for the user's own data files ($XDG_DATA_HOME or ~/.local/share; the roaming
// application data folder on Windows); empty when the system cannot tell.
std::string UserDataDirectory();
// The user's locale ("de_DE.UTF-8", "de-DE", ...); empty when none is set.
std::string UserLocaleName();

// The program's arguments as UTF-8 (on Windows from the wide-character command line).
std::vector<std::string> ProgramArguments(int argc, char** argv);
// Calls handler (it may only set a flag) at the first Ctrl-C or request to end; a second one
// ends the program at once.
void OnInterrupt(void (*handler)());

// Waits at most timeoutMs until a descriptor the C library can poll (a terminal device, a
// socket) has something to read; whether it ended early. Where there is no such descriptor
// (Windows) it only waits.
bool WaitReadable(int descriptor, int timeoutMs);

// Whether the console (or terminal) receives standard output.
bool OutputIsTerminal();
// Makes standard output and error take UTF-8 and the terminal's control sequences where
// the system needs to be told; whether those sequences work there.
bool PrepareConsoleOutput();

}  // namespace platform
