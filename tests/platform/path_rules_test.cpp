// The path rules of both systems' styles, checked on either system.
#include <gtest/gtest.h>

#include "engine/file_paths.h"
#include "formats/cca/cca_archive.h"
#include "platform/path_rules.h"

namespace {

using platform::PathStyle;
constexpr PathStyle kPosix = PathStyle::kPosix;
constexpr PathStyle kWindows = PathStyle::kWindows;

TEST(SplitPathPart, WindowsPathsHaveDriveDirectoryNameAndExtension) {
    const std::string path = "C:\\Palm\\Jane\\Backup\\MEMO.DB.PDB";
    EXPECT_EQ(SplitPathPart(path, 1, kWindows), "C:");
    EXPECT_EQ(SplitPathPart(path, 2, kWindows), "\\Palm\\Jane\\Backup\\");
    EXPECT_EQ(SplitPathPart(path, 3, kWindows), "MEMO.DB");
    EXPECT_EQ(SplitPathPart(path, 4, kWindows), ".PDB");
    EXPECT_EQ(SplitPathPart(path, 5, kWindows), "MEMO.DB.PDB");
    EXPECT_EQ(SplitPathPart(path, 6, kWindows), "C:\\Palm\\Jane\\Backup\\");
    EXPECT_EQ(SplitPathPart(path, 7, kWindows), "");
    // "/" is a separator on Windows too; a drive-relative name has no directory.
    EXPECT_EQ(SplitPathPart("d:/x/y.prc", 2, kWindows), "/x/");
    EXPECT_EQ(SplitPathPart("d:y.prc", 1, kWindows), "d:");
    EXPECT_EQ(SplitPathPart("d:y.prc", 5, kWindows), "y.prc");
    EXPECT_EQ(SplitPathPart("d:y.prc", 6, kWindows), "d:");
    // A network path has no drive letter: its server and share are directory.
    EXPECT_EQ(SplitPathPart("\\\\server\\share\\a.cca", 1, kWindows), "");
    EXPECT_EQ(SplitPathPart("\\\\server\\share\\a.cca", 2, kWindows), "\\\\server\\share\\");
}

TEST(SplitPathPart, PosixPathsKeepBackslashesInNames) {
    EXPECT_EQ(SplitPathPart("/home/j/a\\b.txt", 5, kPosix), "a\\b.txt");
    EXPECT_EQ(SplitPathPart("/home/j/a\\b.txt", 1, kPosix), "");
    EXPECT_EQ(SplitPathPart("/home/j/a\\b.txt", 6, kPosix), "/home/j/");
    EXPECT_EQ(SplitPathPart("C:x.txt", 1, kPosix), "");
    EXPECT_EQ(SplitPathPart("C:x.txt", 3, kPosix), "C:x");
}

TEST(PathRules, SeparatorsAndAbsolutePaths) {
    EXPECT_EQ(platform::WithTrailingSeparator("C:\\Temp", kWindows), "C:\\Temp\\");
    EXPECT_EQ(platform::WithTrailingSeparator("C:/Temp/", kWindows), "C:/Temp/");
    EXPECT_EQ(platform::WithTrailingSeparator("/tmp", kPosix), "/tmp/");
    EXPECT_EQ(platform::WithTrailingSeparator("", kPosix), "");
    EXPECT_TRUE(platform::IsAbsolutePath("C:\\x", kWindows));
    EXPECT_TRUE(platform::IsAbsolutePath("\\\\server\\share", kWindows));
    EXPECT_FALSE(platform::IsAbsolutePath("C:x", kWindows));
    EXPECT_FALSE(platform::IsAbsolutePath("\\x", kWindows));
    EXPECT_FALSE(platform::IsAbsolutePath("/x", kWindows));
    EXPECT_TRUE(platform::IsAbsolutePath("/x", kPosix));
    EXPECT_FALSE(platform::IsAbsolutePath("C:\\x", kPosix));
}

TEST(PathRules, DeviceNamesAnyCaseWithExtensionsAndBlanks) {
    for (const char* name : {"CON", "con", "NUL", "nul.txt", "COM1", "com9.prc", "LPT1", "AUX ",
                             "PRN .pdb", "CONIN$", "conout$", "COM\xC2\xB9"}) {
        EXPECT_TRUE(platform::IsWindowsDeviceName(name)) << name;
    }
    for (const char* name : {"COM10", "CONSOLE", "NULL", "COM", "xCON", "com1x", "a.con", ""}) {
        EXPECT_FALSE(platform::IsWindowsDeviceName(name)) << name;
    }
    EXPECT_TRUE(platform::IsWindowsDevicePath("C:\\Users\\j\\NUL"));
    EXPECT_TRUE(platform::IsWindowsDevicePath("C:\\Users\\CON\\x.prc"));
    EXPECT_TRUE(platform::IsWindowsDevicePath("\\\\.\\COM1"));
    EXPECT_TRUE(platform::IsWindowsDevicePath("//./pipe/x"));
    EXPECT_TRUE(platform::IsWindowsDevicePath("\\\\?\\GLOBALROOT\\Device\\Null"));
    EXPECT_TRUE(platform::IsWindowsDevicePath("C:com1"));
    EXPECT_FALSE(platform::IsWindowsDevicePath("\\\\?\\C:\\x\\a.prc"));
    EXPECT_FALSE(platform::IsWindowsDevicePath("\\\\?\\UNC\\server\\share\\a.prc"));
    EXPECT_FALSE(platform::IsWindowsDevicePath("C:\\Users\\Nul Stuff\\console.prc"));
}

TEST(PathRules, SafeFileNamesStayInTheirFolder) {
    for (PathStyle style : {kPosix, kWindows}) {
        for (const char* name : {"", ".", "..", "a/b", "..\\x", "\\\\server\\share", "/etc"}) {
            EXPECT_FALSE(platform::IsSafeFileName(name, style)) << name;
        }
        EXPECT_TRUE(platform::IsSafeFileName("Bücher.PDB", style));
        EXPECT_TRUE(platform::IsSafeFileName("..x", style));
    }
    // Only Windows reads a drive, its refused characters, a device or a name of dots.
    for (const char* name : {"C:x.prc", "a:b", "a<b", "a|b", "a?b", "a*b", "a\"b", "CON",
                             "com1.prc", "...", ". .", "a\tb"}) {
        EXPECT_FALSE(platform::IsSafeFileName(name, kWindows)) << name;
        EXPECT_TRUE(platform::IsSafeFileName(name, kPosix)) << name;
    }
    EXPECT_FALSE(platform::IsSafePathComponent("..", kPosix));
    EXPECT_TRUE(platform::IsSafePathComponent("a\\b", kPosix));
    EXPECT_FALSE(platform::IsSafePathComponent("NUL", kWindows));
}

TEST(PathRules, ArchiveMembersFollowTheSystemsRules) {
    EXPECT_FALSE(CCcaArchive::IsSafeFileName("..\\x"));
    EXPECT_FALSE(CCcaArchive::IsSafeFileName("\\\\server\\share"));
    EXPECT_TRUE(CCcaArchive::IsSafeFileName("GAME.PRC"));
    const bool windows = platform::NativePathStyle() == kWindows;
    EXPECT_EQ(CCcaArchive::IsSafeFileName("C:GAME.PRC"), !windows);
    EXPECT_EQ(CCcaArchive::IsSafeFileName("CON"), !windows);
}

}  // namespace
