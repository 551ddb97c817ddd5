// UserData.DLL as the desktop users, with stand-ins built beside this test: a good one,
// one without an export and one answering garbage; and the users handle that prefers the
// vendor's library to our own users file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/user_library.h"
#include "platform/wide_text.h"
#include "shell/desktop_users.h"
#include "shell/memory_settings.h"
#include "shell/win32/user_data_dll.h"

namespace {

// The folder of this test program, ending in "\".
std::string TestFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string text = platform::Narrow(std::wstring(path, n));
    return text.substr(0, text.find_last_of('\\') + 1);
}

std::string Folder(const char* variant) {
    return TestFolder() + "fake_user_data_" + variant + "\\";
}

void SetMode(CUserDataDll&, const std::string& folder, int mode) {
    // The stand-in is loaded once per process; its mode switch is found the same way.
    HMODULE module = ::GetModuleHandleW(platform::Widen(folder + "UserData.DLL").c_str());
    ASSERT_NE(module, nullptr);
    auto set = reinterpret_cast<void (*)(int)>(
        reinterpret_cast<void*>(::GetProcAddress(module, "FakeSetMode")));
    ASSERT_NE(set, nullptr);
    set(mode);
}

TEST(UserDataDll, TheUsersOfAGoodLibrary) {
    auto lib = CUserDataDll::Load(Folder("good"));
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->UmGetUserCount(), 3);
    EXPECT_EQ(FindUserDirectory(lib.get(), "Ann Lee"), "C:\\Palm\\AnnL\\");
    EXPECT_EQ(FindUserDirectory(lib.get(), "Zoe"), "C:\\Palm\\Zoe\\");
    EXPECT_EQ(FindUserDirectory(lib.get(), "zoe"), "");  // names compare exactly
    // The name stays in the handheld's character set; the folder becomes UTF-8.
    EXPECT_EQ(FindUserDirectory(lib.get(), "J\xFCrgen"), "C:\\Palm\\J\xC3\xBCrgen\\");
    EXPECT_EQ(GetUserDirectoryById(lib.get(), 0xFFFFFFF0u, "x"), "C:\\Palm\\J\xC3\xBCrgen\\");
    EXPECT_EQ(GetUserDirectoryById(lib.get(), 7u, "kept"), "kept");
}

TEST(UserDataDll, MissingLibraryOrExportIsNoLibrary) {
    EXPECT_EQ(CUserDataDll::Load(Folder("missing")), nullptr);
    EXPECT_EQ(CUserDataDll::Load(TestFolder() + "no-such-folder\\"), nullptr);
    EXPECT_EQ(CUserDataDll::Load(""), nullptr);  // none in the system's folders either
    EXPECT_EQ(CUserDataDll::LoadFile(TestFolder() + "shell_test.exe"), nullptr);
}

TEST(UserDataDll, GarbageIsSkippedNeverBelieved) {
    const std::string folder = Folder("garbage");
    auto lib = CUserDataDll::Load(folder);
    ASSERT_NE(lib, nullptr);
    SetMode(*lib, folder, 1);  // a negative count: no users
    EXPECT_EQ(lib->UmGetUserCount(), 0);
    EXPECT_EQ(FindUserDirectory(lib.get(), "Zoe"), "");

    // A name without its end, a folder that climbs out of the root, an index past the
    // users: each such user is skipped, the others still found.
    SetMode(*lib, folder, 2);
    std::string name;
    EXPECT_NE(lib->UmGetUserName(2718u, name), 0);
    EXPECT_EQ(FindUserDirectory(lib.get(), "Zoe"), "");
    EXPECT_EQ(FindUserDirectory(lib.get(), "Ann Lee"), "");
    EXPECT_EQ(GetUserDirectoryById(lib.get(), 42u, "kept"), "");
    EXPECT_EQ(FindUserDirectory(lib.get(), "J\xFCrgen"), "C:\\Palm\\J\xC3\xBCrgen\\");

    SetMode(*lib, folder, 3);  // a root that is no absolute folder: no directories at all
    EXPECT_EQ(FindUserDirectory(lib.get(), "J\xFCrgen"), "");
    SetMode(*lib, folder, 0);
}

TEST(UserDataDll, TheHandlePrefersTheVendorsUsersToOurOwnFile) {
    CMemorySettings settings;
    settings.WriteText("main", "UsersRoot", TestFolder() + "no-users-here\\");
    {
        CUserLibraryHandle handle;
        EXPECT_TRUE(handle.Load(settings, CUserDataDll::Load(Folder("good"))));
        EXPECT_EQ(handle.Store(), nullptr);
        ASSERT_NE(handle.Library(), nullptr);
        EXPECT_EQ(g_pUserLibrary.load(), handle.Library());
        EXPECT_EQ(FindUserDirectory(g_pUserLibrary, "Zoe"), "C:\\Palm\\Zoe\\");

        // Without the library, our own users file (missing here: no lookups).
        EXPECT_FALSE(handle.Load(settings, nullptr));
        EXPECT_NE(handle.Store(), nullptr);
        EXPECT_EQ(handle.Library(), nullptr);
        EXPECT_EQ(g_pUserLibrary.load(), nullptr);
    }
    EXPECT_NE(g_pUserLibrary.load(), nullptr);  // as it was before the handle
}

}  // namespace
