// A hostile users file over a root with hostile folders and links in it: the entries the
// store takes must keep every promise of the file's description (valid names, unique ids,
// names and folders, folders inside the root and free of links), the user library must
// answer within its texts, and adding and removing a user must leave the other entries as
// they were. Nothing may be made outside the root.
//
// Input: a chunk with the users file, a count and that many chunks of folder paths to make
// in the root (a leading '@' makes the last component a link leading out of the root), a
// chunk with a name to add.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/user_library.h"
#include "fuzz/fuzz_target.h"
#include "shell/desktop_users.h"

namespace {

namespace fs = std::filesystem;

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A relative path of plain components, from the input's bytes.
std::string Relative(const std::vector<uint8_t>& bytes) {
    std::string path;
    for (uint8_t b : bytes) {
        if (path.size() < 120 && b != 0) path += static_cast<char>(b);
    }
    std::string clean;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..")
            clean += (clean.empty() ? "" : "/") + part;
        start = end + 1;
    }
    return clean;
}

bool Same(const DesktopUser& a, const DesktopUser& b) {
    return a.id == b.id && a.name == b.name && a.folder == b.folder;
}

void CheckUsers(CDesktopUserStore& store) {
    const std::vector<DesktopUser> users = store.Users();
    std::set<uint32_t> ids;
    std::set<std::string> folders, names;
    for (const DesktopUser& user : users) {
        if (!CDesktopUserStore::IsValidName(user.name)) fuzz::Fail("a user with a bad name");
        if (!ids.insert(user.id).second || !folders.insert(user.folder).second ||
            !names.insert(user.name).second) {
            fuzz::Fail("a repeated id, folder or name");
        }
        if (user.folder.empty() || user.folder[0] == '/') fuzz::Fail("a folder outside the root");
        std::string path = store.Root();
        size_t start = 0;
        while (start <= user.folder.size()) {
            const size_t end = std::min(user.folder.find('/', start), user.folder.size());
            const std::string part = user.folder.substr(start, end - start);
            if (part.empty() || part == "." || part == "..")
                fuzz::Fail("a folder leaving its path");
            path += part;
            if (IsLink(path)) fuzz::Fail("a folder through a link");
            path += '/';
            start = end + 1;
        }
        if (IsLink(path + "Backup")) fuzz::Fail("a Backup that is a link");
    }
    if (store.UmGetUserCount() != static_cast<int>(users.size())) fuzz::Fail("a user count");
    for (size_t i = 0; i < users.size(); ++i) {
        uint32_t id = 0;
        std::string name, dir;
        if (store.UmGetUserID(static_cast<int>(i), id) != 0 || id != users[i].id ||
            store.UmGetUserName(id, name) != 0 || name.empty() ||
            name.size() >= IUserLibrary::kBufferSize || store.UmGetUserDirectory(id, dir) != 0 ||
            dir != users[i].folder + "/" || dir.size() >= IUserLibrary::kBufferSize) {
            fuzz::Fail("the user library's answer for a user");
        }
        // Root and folder each fit the library's texts; the path the worker joins from them
        // must be the user's folder, whole, and fit the session's 512-byte directory field.
        const std::string whole = UserDirectoryOf(store, id);
        if (whole != store.Root() + users[i].folder + "/" || whole.size() >= 512) {
            fuzz::Fail("the user's directory as the worker joins it");
        }
    }
}

// Every user of before is in after, the same.
void CheckKept(const std::vector<DesktopUser>& before, const std::vector<DesktopUser>& after,
               int64_t except) {
    for (const DesktopUser& user : before) {
        if (user.id == except) continue;
        if (std::none_of(after.begin(), after.end(),
                         [&](const DesktopUser& u) { return Same(u, user); })) {
            fuzz::Fail("an edit lost or changed another user");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const std::string base = fuzz::FreshOutDir();
    const std::string root = base + "Users/";
    const std::string outside = base + "outside";
    fs::create_directories(root);
    fs::create_directories(outside);
    const std::vector<uint8_t> file = in.Chunk();
    std::ofstream(root + CDesktopUserStore::kUsersFileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    const int count = in.U8() % 6;
    for (int i = 0; i < count; ++i) {
        const std::vector<uint8_t> bytes = in.Chunk();
        const bool link = !bytes.empty() && bytes[0] == '@';
        const std::string path = Relative(bytes);
        if (path.empty() || path == CDesktopUserStore::kUsersFileName) continue;
        std::error_code ec;
        if (link) {
            fs::create_directories(fs::path(root + path).parent_path(), ec);
            fs::create_directory_symlink(outside, root + path, ec);
        } else {
            fs::create_directories(root + path, ec);
        }
    }
    const std::vector<uint8_t> nameBytes = in.Chunk();
    const std::string newName(nameBytes.begin(), nameBytes.end());

    CDesktopUserStore store(root);
    if (!store.Load()) fuzz::Fail("a users file that does not load");
    CheckUsers(store);
    store.Problems();
    std::vector<DesktopUser> before = store.Users();

    DesktopUser added;
    const auto result = store.AddUser(newName, &added);
    CheckUsers(store);
    std::vector<DesktopUser> after = store.Users();
    CheckKept(before, after, -1);
    CheckKept(after, before,
              result == CDesktopUserStore::AddResult::kAdded ? int64_t(added.id) : -1);
    if (result == CDesktopUserStore::AddResult::kAdded) {
        if (added.name != newName || !fs::is_directory(root + added.folder + "/Backup") ||
            std::none_of(after.begin(), after.end(),
                         [&](const DesktopUser& u) { return Same(u, added); })) {
            fuzz::Fail("an added user that is not there");
        }
    }

    if (!after.empty()) {
        const uint32_t id = after[size % after.size()].id;
        if (!store.RemoveUser(id)) fuzz::Fail("a user that cannot be removed");
        CheckUsers(store);
        const std::vector<DesktopUser> left = store.Users();
        CheckKept(after, left, id);
    }
    if (!fs::is_empty(outside)) fuzz::Fail("something made outside the root");
    return 0;
}
