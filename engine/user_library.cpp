#include "engine/user_library.h"

#include "platform/path_rules.h"

namespace {

CEmptyUserLibrary g_emptyUserLibrary;

std::string WithSlash(std::string dir) {
    return platform::WithTrailingSeparator(std::move(dir));
}

std::string Cut(const std::string& text) {
    return text.substr(0, IUserLibrary::kBufferSize - 1);
}

}  // namespace

std::atomic<IUserLibrary*> g_pUserLibrary{&g_emptyUserLibrary};

std::string UserDirectoryOf(IUserLibrary& library, uint32_t userId) {
    std::string root, dir;
    // A library that cannot say both gives no directory: half of one would put backups
    // somewhere relative to wherever the program happens to run.
    if (library.UmGetRootDirectory(root) != 0 || library.UmGetUserDirectory(userId, dir) != 0 ||
        root.empty()) {
        return {};
    }
    return WithSlash(WithSlash(Cut(root)) + Cut(dir));
}

std::string FindUserDirectory(IUserLibrary* library, const std::string& userName) {
    if (!library) return {};
    // The count is asked again before each step, as the library may change meanwhile.
    for (int index = 0; index < library->UmGetUserCount(); ++index) {
        uint32_t id = 0;
        std::string name;
        if (library->UmGetUserID(index, id) != 0) continue;
        if (library->UmGetUserName(id, name) != 0) continue;
        if (Cut(name) == userName) return UserDirectoryOf(*library, id);
    }
    return {};
}

std::string GetUserDirectoryById(IUserLibrary* library, uint32_t userId,
                                 const std::string& current) {
    if (!library) return current;
    for (int index = 0; index < library->UmGetUserCount(); ++index) {
        uint32_t id = 0;
        if (library->UmGetUserID(index, id) == 0 && id == userId) {
            return UserDirectoryOf(*library, id);
        }
    }
    return current;
}
