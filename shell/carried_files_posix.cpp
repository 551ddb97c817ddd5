// Where the carried files go on Linux, and how old a written guide is.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "shell/carried_files.h"

namespace carried {
namespace {

// $XDG_DATA_HOME when it holds an absolute path, else ~/.local/share.
std::string DataHome() {
    const char* value = std::getenv("XDG_DATA_HOME");
    if (value && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : "/";
    }
    return std::string(home) + "/.local/share";
}

}  // namespace

std::string OutputDirectory(const std::string& programDir) {
    if (!programDir.empty() && ::access(programDir.c_str(), W_OK | X_OK) == 0) {
        return programDir;
    }
    const std::string dir = DataHome() + "/Cradlecourier";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

bool HelpFileOutdated(const std::string& helpFile) {
    struct stat st {};
    if (::stat(helpFile.c_str(), &st) != 0) return true;
    std::tm day{};
    day.tm_year = 2001 - 1900;
    day.tm_mon = 0;
    day.tm_mday = 18;
    day.tm_isdst = -1;  // local time, summer or not
    return st.st_mtime < std::mktime(&day);
}

}  // namespace carried
