#include "shell/linux/instance_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/temp_dir.h"

namespace instance {

namespace {

constexpr size_t kMaxKeyName = 40;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

// A directory of ours that nobody else can enter or replace: made when missing, checked
// when present (a shared temporary directory may hold one someone else planted).
bool MakePrivateDir(const std::string& strDir) {
    if (::mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(strDir.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// A local socket's whole path must fit its address (107 bytes here): a deeper directory
// could hold the lock but never serve the window.
bool LeavesRoomForSocket(const std::string& strDir) {
    return strDir.size() + 1 + kMaxKeyName + sizeof ".sock" <= sizeof(sockaddr_un{}.sun_path);
}

}  // namespace

// "%s:%x:%x:%x:%x" with the program name, the device number of the program file, 8, its
// inode number and 0 (lower-case hexadecimal without leading zeros), so every start of one
// program file has the same key and a copy or another program has another. When the program
// file can't be looked at, "%s:%x:%x" with the name, 0 and 8.
std::string MakeInstanceKey(const std::string& strProgramName, const std::string& strProgramPath) {
    struct stat st {};
    if (strProgramPath.empty() || ::stat(strProgramPath.c_str(), &st) != 0) {
        return strProgramName + ":0:8";
    }
    return strProgramName + ":" + Hex(st.st_dev) + ":8:" + Hex(st.st_ino) + ":0";
}

std::string KeyFileName(const std::string& strKey) {
    if (strKey.size() <= kMaxKeyName) return strKey;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : strKey) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return strKey.substr(0, kMaxKeyName - 17) + "-" + Hex(hash);
}

std::string PrivateRuntimeDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        const std::string dir = std::string(runtime) + "/Cradlecourier";
        if (LeavesRoomForSocket(dir) && MakePrivateDir(dir)) return dir;
    }
    const std::string user = "Cradlecourier-" + std::to_string(::geteuid());
    std::string dir = GetTempDir() + user;
    if (!LeavesRoomForSocket(dir)) dir = "/tmp/" + user;
    return MakePrivateDir(dir) ? dir : std::string();
}

}  // namespace instance
