// The desktop's user library: its users, their names and directories.
// The worker maps the handheld's user name to a desktop user's directory with it, and the
// installation history lists its users.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Names are in the handheld's character set, as the handheld reports its user; directories
// are file system paths.
class IUserLibrary {
  public:
    // Every text the library hands out is cut to this many characters less one.
    static constexpr size_t kBufferSize = 255;

    virtual ~IUserLibrary() = default;
    // The number of users; 0 or less means none. Indexes run from 0 to the count - 1.
    virtual int UmGetUserCount() = 0;
    // 0 on success.
    virtual int UmGetUserID(int index, uint32_t& userId) = 0;
    virtual int UmGetUserName(uint32_t userId, std::string& name) = 0;
    virtual int UmGetRootDirectory(std::string& dir) = 0;
    // Relative to the root.
    virtual int UmGetUserDirectory(uint32_t userId, std::string& dir) = 0;
};

// A library that knows no users: no user directory, so no backups.
class CEmptyUserLibrary final : public IUserLibrary {
  public:
    int UmGetUserCount() override { return 0; }
    int UmGetUserID(int, uint32_t&) override { return -1; }
    int UmGetUserName(uint32_t, std::string&) override { return -1; }
    int UmGetRootDirectory(std::string&) override { return -1; }
    int UmGetUserDirectory(uint32_t, std::string&) override { return -1; }
};

// The library the worker uses; null when it is missing (then no lookup at all). Set on the
// window's thread; a store that appears while a run is under way may be set meanwhile.
extern std::atomic<IUserLibrary*> g_pUserLibrary;

// The user directory of a user: the root and then the user's directory, each ending in
// "/" when not empty; empty when the library fails to give either or has no root.
std::string UserDirectoryOf(IUserLibrary& library, uint32_t userId);

// The directory of the first user (by index) whose name equals the handheld's user name
// exactly, or empty when the library has no such user or is missing.
std::string FindUserDirectory(IUserLibrary* library, const std::string& userName);

// The directory of the user with that id; current unchanged when there is none or the
// library is missing.
std::string GetUserDirectoryById(IUserLibrary* library, uint32_t userId,
                                 const std::string& current);
