// File types in the registry (Wine's, in the tests' prefix), below a classes key and a
// choices key of the test's own: what a start, the question and the menu commands write,
// the user's protected choice left untouched and reported, what is given back, and values
// of the wrong type or size.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "shell/memory_settings.h"
#include "shell/program_file.h"
#include "shell/win32/registry_key.h"
#include "shell/win32/win32_file_types.h"
#include "tests/shell/recording_question.h"

namespace {

class Win32FileTypes : public ::testing::Test {
  protected:
    Win32FileTypes()
        : m_root("Software\\CcTypesTest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name()),
          m_types(Win32ClassKeys{m_root + "\\Classes", m_root + "\\FileExts", false}) {
        m_types.SetSettingsOpener([this] { ++m_nSettingsOpened; });
    }
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, platform::Widen(m_root).c_str()); }
    void TearDown() override {
        EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, platform::Widen(m_root).c_str()),
                  ERROR_SUCCESS);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, platform::Widen(m_root).c_str());
    }

    void Register(bool askAlways, const std::string& program = kProgram) {
        FileTypeContext c{m_types, m_settings, m_question, program};
        RegisterFileTypes(c, askAlways);
    }
    void Unregister() {
        FileTypeContext c{m_types, m_settings, m_question, kProgram};
        UnregisterFileTypes(c);
    }
    // A class value as Explorer would read it; "<none>" when it is missing or not a text.
    std::string Get(const std::string& path, const std::string& name = "") {
        return registry::ReadText(HKEY_CURRENT_USER, m_root + "\\Classes\\" + path, name, 1000)
            .value_or("<none>");
    }
    void Set(const std::string& path, const std::string& name, const std::string& value) {
        ASSERT_TRUE(registry::WriteText(HKEY_CURRENT_USER, m_root + "\\" + path, name, value));
    }
    void Raw(const std::string& path, const std::string& name, DWORD type, const void* data,
             DWORD size) {
        registry::CKey key;
        ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, m_root + "\\" + path));
        ASSERT_EQ(::RegSetValueExW(key.Get(), platform::Widen(name).c_str(), 0, type,
                                   static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    static constexpr const char* kProgram = "C:\\Program Files\\Cc\\ccourier.exe";
    std::string m_root;
    CWin32FileTypes m_types;
    CMemorySettings m_settings;
    CRecordingQuestion m_question;
    int m_nSettingsOpened = 0;
};

TEST_F(Win32FileTypes, FirstStartWritesTheClassesAndASecondWritesNothing) {
    Register(false);
    EXPECT_EQ(m_question.asked, 1);
    EXPECT_EQ(Get(".cca", "Content Type"), "application/x-cca");
    EXPECT_EQ(Get(".cca"), "CCOURIER.cca");
    // A path with a blank is quoted.
    const std::string command = "\"C:\\Program Files\\Cc\\ccourier.exe\" \"%1\"";
    EXPECT_EQ(Get("CCOURIER.cca\\Shell\\open\\command"), command);
    EXPECT_EQ(Get("CCOURIER.cca\\DefaultIcon"), std::string(kProgram) + ",7");
    EXPECT_EQ(Get("CCOURIER.cca"), "CCA Archiv");
    for (const char* ext : {"pdb", "prc", "pqa"}) {
        const std::string cls = std::string("CCOURIER.") + ext;
        EXPECT_EQ(Get(std::string(".") + ext), cls);
        EXPECT_EQ(Get(cls + "\\Shell\\open\\command"), command);
        EXPECT_EQ(Get(cls + "\\DefaultIcon"), std::string(kProgram) + ",0");
    }
    EXPECT_NE(Get("CCOURIER.prc"), "<none>");
    EXPECT_EQ(m_types.Announcements(), 1);
    EXPECT_TRUE(m_question.offers.empty());

    Register(true);
    EXPECT_EQ(m_question.asked, 1);  // ours already
    EXPECT_EQ(m_types.Announcements(), 1);

    // Moved to a path without a blank: unquoted, and every command follows.
    Register(true, "C:\\Cc\\ccourier.exe");
    EXPECT_EQ(Get("CCOURIER.prc\\Shell\\open\\command"), "C:\\Cc\\ccourier.exe \"%1\"");
    EXPECT_EQ(Get("CCOURIER.cca\\Shell\\open\\command"), "C:\\Cc\\ccourier.exe \"%1\"");
    EXPECT_EQ(m_types.Announcements(), 2);
    // A program whose name only begins like ours is another program.
    Register(true, "C:\\Cc\\ccourier.ex");
    EXPECT_EQ(Get("CCOURIER.cca\\Shell\\open\\command"), "C:\\Cc\\ccourier.ex \"%1\"");
}

TEST_F(Win32FileTypes, NoKeepsTheOtherProgramsAndUnregisterGivesBack) {
    Set("Classes\\.prc", "", "prcFile");
    Set("Classes\\prcFile", "", "Palm Application");
    m_question.answer = IDefaultTypesQuestion::kNo;
    Register(false);
    EXPECT_EQ(Get(".prc"), "prcFile");
    EXPECT_EQ(Get(".pdb"), "<none>");
    EXPECT_NE(Get("CCOURIER.pdb\\Shell\\open\\command"), "<none>");

    m_question.answer = IDefaultTypesQuestion::kYes;
    Register(true);
    EXPECT_EQ(Get(".prc"), "CCOURIER.prc");
    Unregister();
    EXPECT_EQ(Get(".prc"), "prcFile");
    EXPECT_EQ(Get(".pdb"), "<none>");  // had none of the user's own: none again
    registry::CKey emptied;
    EXPECT_FALSE(emptied.Open(HKEY_CURRENT_USER, m_root + "\\Classes\\.pdb"));  // nor its key
    EXPECT_EQ(Get(".cca"), "CCOURIER.cca");
    EXPECT_NE(Get("CCOURIER.prc\\Shell\\open\\command"), "<none>");

    // Taken by a copy whose settings are gone: the Palm Desktop's class where there is one.
    Set("Classes\\.prc", "", "ccourier.PRC");  // compared without regard to case
    Set("Classes\\.pqa", "", "CCOURIER.pqa");
    Unregister();
    EXPECT_EQ(Get(".prc"), "prcFile");
    EXPECT_EQ(Get(".pqa"), "<none>");  // no pqaFile class: no dangling type
}

TEST_F(Win32FileTypes, TheUsersProtectedChoiceIsReadNeverWrittenAndOffered) {
    const std::string choice = "FileExts\\.prc\\UserChoice";
    Set(choice, "ProgId", "OtherApp.prc");
    Set(choice, "Hash", "abcdef==");
    for (const char* ext : {".pdb", ".prc", ".pqa"}) {
        Set(std::string("Classes\\") + ext, "", std::string("CCOURIER") + ext);
    }
    // .pdb and .pqa open with us: nothing to ask.
    Register(true);
    EXPECT_EQ(m_question.asked, 0);

    for (const char* ext : {".pdb", ".pqa"}) {
        Set(std::string("FileExts\\") + ext + "\\UserChoice", "ProgId", "Elsewhere");
    }
    m_question.openSettings = true;
    Register(true);
    EXPECT_EQ(m_question.asked, 1);
    ASSERT_EQ(m_question.offers.size(), 1u);
    EXPECT_EQ(m_question.offers[0], (std::vector<std::string>{".pdb", ".prc", ".pqa"}));
    EXPECT_EQ(m_nSettingsOpened, 1);
    EXPECT_EQ(registry::ReadText(HKEY_CURRENT_USER, m_root + "\\" + choice, "ProgId", 100),
              "OtherApp.prc");
    EXPECT_EQ(registry::ReadText(HKEY_CURRENT_USER, m_root + "\\" + choice, "Hash", 100),
              "abcdef==");

    // A choice of our class, or of this program file by "Open with", is ours.
    Set(choice, "ProgId", "ccourier.prc");
    EXPECT_FALSE(m_types.OtherProgramChosen(file_types::kPalmTypes[1]));
    const std::string self = program::ProgramFilePath();
    Set(choice, "ProgId", "Applications\\" + self.substr(self.find_last_of('\\') + 1));
    EXPECT_FALSE(m_types.OtherProgramChosen(file_types::kPalmTypes[1]));
    Set(choice, "ProgId", "");
    EXPECT_FALSE(m_types.OtherProgramChosen(file_types::kPalmTypes[1]));
}

TEST_F(Win32FileTypes, ValuesOfTheWrongTypeOrAbsurdSizeAreRewritten) {
    const DWORD number = 1;
    Raw("Classes\\.cca", "", REG_DWORD, &number, sizeof number);
    Raw("Classes\\.cca", "Content Type", REG_BINARY, "xy", 2);
    const std::wstring huge(100000, L'C');
    Raw("Classes\\CCOURIER.cca\\Shell\\open\\command", "", REG_SZ, huge.c_str(),
        DWORD((huge.size() + 1) * sizeof(wchar_t)));
    // A protected choice blown up or of another type counts as none.
    Raw("FileExts\\.prc\\UserChoice", "ProgId", REG_SZ, huge.c_str(),
        DWORD((huge.size() + 1) * sizeof(wchar_t)));
    Raw("FileExts\\.pdb\\UserChoice", "ProgId", REG_DWORD, &number, sizeof number);
    EXPECT_FALSE(m_types.OtherProgramChosen(file_types::kPalmTypes[0]));
    EXPECT_FALSE(m_types.OtherProgramChosen(file_types::kPalmTypes[1]));

    Register(false);
    EXPECT_EQ(Get(".cca"), "CCOURIER.cca");
    EXPECT_EQ(Get(".cca", "Content Type"), "application/x-cca");
    EXPECT_EQ(Get("CCOURIER.cca\\Shell\\open\\command"),
              "\"C:\\Program Files\\Cc\\ccourier.exe\" \"%1\"");
    EXPECT_TRUE(m_question.offers.empty());
}

// The real keys, with an extension of the test's own: what we write goes to the user's
// classes key and is read back from there; the machine's classes show where the user's
// have nothing.
TEST(Win32FileTypesReal, TheUsersClassesOverTheMachines) {
    const std::string ext = ".cctest" + std::to_string(::GetCurrentProcessId());
    const FileType type{ext.c_str(), "application/x-cctest", 141, 7};
    const std::string cls = CWin32FileTypes::ClassName(type);
    CWin32FileTypes types;
    EXPECT_FALSE(types.OwnsDefault(type));
    types.TakeDefault(type);
    types.WriteCommand(type, "C:\\Cc\\ccourier.exe");
    EXPECT_EQ(registry::ReadText(HKEY_CURRENT_USER, "Software\\Classes\\" + ext, "", 100), cls);
    EXPECT_TRUE(types.OwnsDefault(type));
    EXPECT_TRUE(types.CommandIsCurrent(type, "C:\\Cc\\ccourier.exe"));
    types.AnnounceChanges();
    EXPECT_EQ(types.Announcements(), 1);
    for (const std::string& key : {ext, cls}) {
        EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER,
                                   platform::Widen("Software\\Classes\\" + key).c_str()),
                  ERROR_SUCCESS);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, platform::Widen("Software\\Classes\\" + key).c_str());
    }
    EXPECT_FALSE(types.OwnsDefault(type));

    // Only the machine has it (an installation for all users).
    const std::string machineKey = "Software\\Classes\\" + ext;
    if (registry::WriteText(HKEY_LOCAL_MACHINE, machineKey, "", cls)) {
        EXPECT_TRUE(types.OwnsDefault(type));
        EXPECT_EQ(types.CurrentDefault(type), std::nullopt);  // the user's own: none
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, platform::Widen(machineKey).c_str());
    }
}

TEST(Win32FileTypeNames, ClassesAndCommands) {
    EXPECT_EQ(CWin32FileTypes::ClassName(file_types::kArchive), "CCOURIER.cca");
    EXPECT_EQ(CWin32FileTypes::PalmDesktopClass(file_types::kPalmTypes[2]), "pqaFile");
    EXPECT_EQ(CWin32FileTypes::OpenCommand("C:\\a\\b.exe"), "C:\\a\\b.exe \"%1\"");
    EXPECT_EQ(CWin32FileTypes::ProgramPart("C:\\a b\\c.exe"), "\"C:\\a b\\c.exe\"");
}

}  // namespace
