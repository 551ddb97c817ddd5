// The settings in the registry, against the real registry (Wine's, in the tests' prefix),
// below a key of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "shell/hand_over_slots.h"
#include "shell/win32/registry_settings.h"

namespace {

class RegistrySettings : public ::testing::Test {
  protected:
    void SetUp() override { m_settings.DeleteAll(); }
    void TearDown() override { EXPECT_TRUE(m_settings.DeleteAll()); }

    // Writes a value of any type as another program (or a person with regedit) might.
    void Raw(const char* section, const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        const std::wstring path = platform::Widen(m_settings.RootKey() + "\\" + section);
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key, platform::Widen(name).c_str(), 0, type,
                                   static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    // The stored type of a value; REG_NONE when it is missing.
    DWORD TypeOf(const char* section, const char* name) {
        DWORD type = REG_NONE;
        const std::wstring path = platform::Widen(m_settings.RootKey() + "\\" + section);
        if (::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), platform::Widen(name).c_str(),
                           RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr) != ERROR_SUCCESS) {
            return REG_NONE;
        }
        return type;
    }

    CRegistrySettings m_settings{"Software\\Cradlecourier\\CCourierTest-" +
                                 std::to_string(::GetCurrentProcessId())};
};

TEST_F(RegistrySettings, MissingValuesReadAsTheDefaults) {
    EXPECT_EQ(m_settings.ReadInt("com", "Speed", 57600), 57600);
    EXPECT_EQ(m_settings.ReadText("main", "Userdir", "none"), "none");
    EXPECT_FALSE(m_settings.Has("main", "close"));
    EXPECT_TRUE(m_settings.Flush());
    EXPECT_FALSE(m_settings.Delete("main", "close"));
}

TEST_F(RegistrySettings, NumbersAreDwordsAndTextsStringsInSubKeysPerSection) {
    EXPECT_TRUE(m_settings.WriteInt("com", "Speed", 115200));
    EXPECT_TRUE(m_settings.WriteInt("com", "ComPort", 3));
    EXPECT_TRUE(m_settings.WriteInt("Result", "code", -2));
    EXPECT_TRUE(m_settings.WriteText("main", "Userdir", "C:\\Palm\\Jane\\"));
    EXPECT_EQ(TypeOf("com", "Speed"), DWORD(REG_DWORD));
    EXPECT_EQ(TypeOf("main", "Userdir"), DWORD(REG_SZ));
    EXPECT_EQ(m_settings.ReadInt("com", "Speed", 0), 115200);
    EXPECT_EQ(m_settings.ReadInt("com", "ComPort", 0), 3);
    // A DWORD holds -2 and -1 as 0xFFFFFFFE and 0xFFFFFFFF.
    EXPECT_EQ(m_settings.ReadInt("Result", "code", 0), -2);
    EXPECT_EQ(m_settings.ReadText("main", "Userdir", ""), "C:\\Palm\\Jane\\");
    EXPECT_TRUE(m_settings.Flush());
}

TEST_F(RegistrySettings, NamesCompareWithoutRegardToCase) {
    m_settings.WriteInt("main", "Filelist", 0);
    EXPECT_EQ(m_settings.ReadInt("main", "FileList", 1), 0);
    EXPECT_EQ(m_settings.ReadInt("MAIN", "FILELIST", 1), 0);
    EXPECT_TRUE(m_settings.Has("Main", "fileList"));
    m_settings.WriteInt("MAIN", "FileList", 1);
    EXPECT_EQ(m_settings.ReadInt("main", "filelist", 0), 1);
    EXPECT_TRUE(m_settings.Delete("main", "FILELIST"));
    EXPECT_FALSE(m_settings.Has("main", "Filelist"));
}

TEST_F(RegistrySettings, TextsKeepEveryScript) {
    const std::string path = "C:\\Users\\J\xC3\xBCrgen\\\xE6\x9C\xAC.pdb";
    m_settings.WriteText("Recent", "Recent0", path);
    EXPECT_EQ(m_settings.ReadText("Recent", "Recent0", ""), path);
    m_settings.WriteText("Recent", "Recent1", "");
    EXPECT_TRUE(m_settings.Has("Recent", "Recent1"));
    EXPECT_EQ(m_settings.ReadText("Recent", "Recent1", "def"), "");
}

TEST_F(RegistrySettings, ValuesOfTheWrongTypeOrAbsurdSizeReadAsTheDefaults) {
    const wchar_t number[] = L"57600";
    Raw("com", "Speed", REG_SZ, number, sizeof number);
    EXPECT_EQ(m_settings.ReadInt("com", "Speed", 9600), 9600);
    const DWORD dword = 5;
    Raw("main", "Userdir", REG_DWORD, &dword, sizeof dword);
    EXPECT_EQ(m_settings.ReadText("main", "Userdir", "d"), "d");
    const uint64_t qword = 3;
    Raw("com", "ComPort", REG_QWORD, &qword, sizeof qword);
    EXPECT_EQ(m_settings.ReadInt("com", "ComPort", 1), 1);
    // A DWORD value with the wrong size.
    Raw("com", "USB", REG_DWORD, &qword, sizeof qword);
    EXPECT_EQ(m_settings.ReadInt("com", "USB", 0), 0);
    const uint8_t binary[3] = {1, 2, 3};
    Raw("main", "close", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ(m_settings.ReadInt("main", "close", 0), 0);
    const wchar_t expand[] = L"%TEMP%";
    Raw("main", "Expand", REG_EXPAND_SZ, expand, sizeof expand);
    EXPECT_EQ(m_settings.ReadText("main", "Expand", "d"), "d");
    const wchar_t multi[] = L"a\0b\0";
    Raw("main", "Multi", REG_MULTI_SZ, multi, sizeof multi);
    EXPECT_EQ(m_settings.ReadText("main", "Multi", "d"), "d");
    // A blown-up text is not taken in.
    const std::wstring huge(ISettingsStore::kMaxTextLength + 1, L'x');
    Raw("Recent", "Recent0", REG_SZ, huge.c_str(), DWORD((huge.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(m_settings.ReadText("Recent", "Recent0", "d"), "d");
    // The longest text that is taken.
    const std::wstring longest(ISettingsStore::kMaxTextLength, L'y');
    Raw("Recent", "Recent1", REG_SZ, longest.c_str(),
        DWORD((longest.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(m_settings.ReadText("Recent", "Recent1", "d").size(), ISettingsStore::kMaxTextLength);
    // A text stored without its terminator, or with junk after an inner one.
    const wchar_t bare[] = {L'a', L'b'};
    Raw("main", "Bare", REG_SZ, bare, sizeof bare);
    EXPECT_EQ(m_settings.ReadText("main", "Bare", "d"), "ab");
    const wchar_t inner[] = L"ab\0cd";
    Raw("main", "Inner", REG_SZ, inner, sizeof inner);
    EXPECT_EQ(m_settings.ReadText("main", "Inner", "d"), "ab");
    // An odd byte count: the whole characters are read, the lone byte is dropped.
    Raw("main", "Odd", REG_SZ, "abc", 3);
    EXPECT_EQ(m_settings.ReadText("main", "Odd", "d"),
              platform::Narrow(std::wstring(1, wchar_t(0x6261))));
}

TEST_F(RegistrySettings, HandOverSlotsTakeFreeSlotsInOrder) {
    m_settings.WriteText("Register", "Name0", "C:\\a.prc");
    m_settings.WriteText("Register", "Name1", "");
    const size_t written = handover::WriteSlots(m_settings,
                                                {"C:\\b.pdb",
                                                 "C:\\B\xC3\xBC"
                                                 "cher.txt"},
                                                "");
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(m_settings.ReadText("Register", "Name0", ""), "C:\\a.prc");
    EXPECT_EQ(m_settings.ReadText("Register", "Name1", ""), "C:\\b.pdb");
    EXPECT_EQ(m_settings.ReadText("Register", "Name2", ""),
              "C:\\B\xC3\xBC"
              "cher.txt");
    handover::DeleteSlots(m_settings);
    EXPECT_FALSE(m_settings.Has("Register", "Name2"));
}

}  // namespace
