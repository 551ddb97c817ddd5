// The Palm Desktop's user library, UserData.DLL, as the desktop users: the five exports
// UmGetUserCount, UmGetUserID, UmGetUserName, UmGetRootDirectory and UmGetUserDirectory,
// looked up by name and used only when all five are there.
//
// The library is another vendor's code in our process, so what it hands back is checked
// before it is believed: a count of 0 or less is no users; a text is taken only when it
// ends within the size we told (the buffer behind it is larger, for a library that writes
// past the end); a user directory that is absolute or climbs out of the root, and a root
// that is not absolute, are no answer. A user whose answers fail is skipped by the lookups.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "engine/user_library.h"

class CUserDataDll final : public IUserLibrary {
  public:
    static constexpr const char* kFileName = "UserData.DLL";

    // Loads desktopFolder + "UserData.DLL" (desktopFolder ends in a separator, or is empty),
    // else "UserData.DLL" from the system's folders (not the current directory, where
    // anyone could have put one). Null when neither loads or an export is missing.
    static std::unique_ptr<CUserDataDll> Load(const std::string& desktopFolder);
    // Exactly this file (tests).
    static std::unique_ptr<CUserDataDll> LoadFile(const std::string& path);
    ~CUserDataDll() override;
    CUserDataDll(const CUserDataDll&) = delete;
    CUserDataDll& operator=(const CUserDataDll&) = delete;

    int UmGetUserCount() override;
    int UmGetUserID(int index, uint32_t& userId) override;
    int UmGetUserName(uint32_t userId, std::string& name) override;
    int UmGetRootDirectory(std::string& dir) override;
    int UmGetUserDirectory(uint32_t userId, std::string& dir) override;

  private:
    using CountFn = short(WINAPI*)();
    using IdFn = long(WINAPI*)(short index, DWORD* id);
    using UserTextFn = long(WINAPI*)(DWORD id, char* buffer, short* size);
    using RootFn = long(WINAPI*)(char* buffer, short* size);

    explicit CUserDataDll(HMODULE module) : m_hUserLib(module) {}
    static std::unique_ptr<CUserDataDll> Bind(HMODULE module);

    HMODULE m_hUserLib;
    CountFn m_pCount = nullptr;
    IdFn m_pId = nullptr;
    UserTextFn m_pName = nullptr;
    UserTextFn m_pDirectory = nullptr;
    RootFn m_pRoot = nullptr;
    // The window and the install worker may ask at the same time; the library may not
    // expect that.
    std::mutex m_lock;
};
