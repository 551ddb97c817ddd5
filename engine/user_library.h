// The desktop software's user library: its users, their names and directories.
// The worker maps the handheld's user name to a desktop user's directory with it.
#pragma once

#include <cstdint>
#include <string>

class IUserLibrary {
  public:
    // Every text the library hands out is cut to this many characters less one.
    static constexpr size_t kBufferSize = 255;

    virtual ~IUserLibrary() = default;
    virtual int UmGetUserCount() = 0;
    // 0 on success.
    virtual int UmGetUserID(int index, uint32_t& userId) = 0;
    virtual int UmGetUserName(uint32_t userId, std::string& name) = 0;
    virtual int UmGetRootDirectory(std::string& dir) = 0;
    virtual int UmGetUserDirectory(uint32_t userId, std::string& dir) = 0;
};

// A library that knows no users: no user directory, so no backups. Stands in until the
// desktop's own user list is read.
class CEmptyUserLibrary final : public IUserLibrary {
  public:
    int UmGetUserCount() override { return 0; }
    int UmGetUserID(int, uint32_t&) override { return -1; }
    int UmGetUserName(uint32_t, std::string&) override { return -1; }
    int UmGetRootDirectory(std::string&) override { return -1; }
    int UmGetUserDirectory(uint32_t, std::string&) override { return -1; }
};

// The library the worker uses; null when it is missing (then no lookup at all).
extern IUserLibrary* g_pUserLibrary;
