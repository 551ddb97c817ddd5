// The system's services on POSIX systems.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/path_rules.h"
#include "platform/system.h"

namespace platform {

PathStyle NativePathStyle() {
    return PathStyle::kPosix;
}

int64_t ProcessId() {
    return ::getpid();
}

std::optional<std::string> GetEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

void SetEnv(const char* name, const char* value) {
    if (value) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

bool LocalTime(std::time_t moment, std::tm& out) {
    return ::localtime_r(&moment, &out) != nullptr;
}

std::string ErrorText(int err) {
    return std::strerror(err);
}

std::string SystemTempDirectory() {
    for (const char* name : {"TMP", "TEMP", "TMPDIR"}) {
        // An empty value would make the root directory the temporary one.
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "/tmp";
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

std::string UserDataDirectory() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return data;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.local/share";
}

std::string UserLocaleName() {
    // As the C library ranks them.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

namespace {
void (*g_interruptHandler)() = nullptr;
void OnSignal(int) {
    if (g_interruptHandler) g_interruptHandler();
}
}  // namespace

void OnInterrupt(void (*handler)()) {
    g_interruptHandler = handler;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool WaitReadable(int descriptor, int timeoutMs) {
    pollfd port{descriptor, POLLIN, 0};
    return ::poll(&port, 1, timeoutMs) != 0;
}

bool OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

bool PrepareConsoleOutput() {
    return true;
}

}  // namespace platform
