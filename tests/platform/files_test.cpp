// Files by UTF-8 name, on the system the tests run on.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/file_paths.h"
#include "engine/temp_dir.h"
#include "platform/files.h"
#include "platform/path_rules.h"
#include "platform/system.h"
#include "tests/support/temp_folder.h"

namespace {

using platform::EntryKind;
using testsupport::CTempFolder;

bool WriteText(const std::string& path, const std::string& text) {
    const platform::FilePtr f(platform::CreateOrTruncate(path));
    return f && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
}

std::string ReadText(const std::string& path) {
    const platform::FilePtr f(platform::OpenPlainFile(path));
    if (!f) return "<none>";
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f.get()));
    return text;
}

TEST(Files, NamesInAnyScriptWriteReadRenameAndRemove) {
    CTempFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    // German and Japanese names, as a user's files are called.
    const std::string german = dir.File(
        "B\xC3\xBC"
        "cher.txt");
    const std::string japanese = dir.File("\xE6\x9C\xAC.pdb");
    ASSERT_TRUE(WriteText(german, "Kapitel"));
    EXPECT_EQ(ReadText(german), "Kapitel");
    const platform::EntryInfo info = platform::Stat(german);
    EXPECT_EQ(info.kind, EntryKind::kFile);
    EXPECT_EQ(info.size, 7u);
    EXPECT_EQ(GetFileLength(german), 7);
    EXPECT_TRUE(FileCanBeOpened(german));
    EXPECT_EQ(CheckQueueable(german), QueueCheck::kPlainFile);
    ASSERT_TRUE(platform::RenameFile(german, japanese));
    EXPECT_EQ(platform::Stat(german).kind, EntryKind::kMissing);
    EXPECT_EQ(ReadText(japanese), "Kapitel");
    EXPECT_EQ(SplitPathPart(japanese, 5), "\xE6\x9C\xAC.pdb");
    ASSERT_TRUE(platform::RemoveFile(japanese));
    EXPECT_EQ(platform::Stat(japanese).kind, EntryKind::kMissing);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Files, RenameReplacesAndNewFilesNeverOverwrite) {
    CTempFolder dir;
    const std::string a = dir.File("a"), b = dir.File("b");
    ASSERT_TRUE(WriteText(a, "new"));
    ASSERT_TRUE(WriteText(b, "old"));
    EXPECT_EQ(platform::CreateNewFile(b), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadText(b), "old");
    ASSERT_TRUE(platform::RenameFile(a, b));
    EXPECT_EQ(ReadText(b), "new");
    const std::string unique = platform::CreateUniqueFile(dir.File(".part-"));
    ASSERT_FALSE(unique.empty());
    EXPECT_EQ(platform::Stat(unique).kind, EntryKind::kFile);
    EXPECT_NE(platform::CreateUniqueFile(dir.File(".part-")), unique);
}

TEST(Files, AppendingAddsAtTheEnd) {
    CTempFolder dir;
    const std::string log = dir.File("CCourier.log");
    for (const char* line : {"one\r\n", "two\r\n"}) {
        const platform::FilePtr f(platform::OpenForAppend(log));
        ASSERT_TRUE(f);
        std::fputs(line, f.get());
    }
    EXPECT_EQ(ReadText(log), "one\r\ntwo\r\n");
}

TEST(Files, FoldersAreNoPlainFiles) {
    CTempFolder dir;
    const std::string sub = dir.File("sub");
    ASSERT_TRUE(platform::MakeDirectory(sub, 0700));
    EXPECT_FALSE(platform::MakeDirectory(sub, 0700));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(platform::Stat(sub).kind, EntryKind::kDirectory);
    EXPECT_EQ(platform::OpenPlainFile(sub), nullptr);
    EXPECT_EQ(CheckQueueable(sub), QueueCheck::kDirectory);
    EXPECT_FALSE(FileCanBeOpened(sub));
    EXPECT_EQ(GetFileLength(sub), 0);
    EXPECT_EQ(CheckQueueable(dir.File("missing")), QueueCheck::kMissing);
}

TEST(Files, SpoolWritesAtOffsetsAndCopiesOut) {
    CTempFolder dir;
    const platform::FilePtr spool(platform::OpenTempSpool());
    ASSERT_TRUE(spool);
    ASSERT_TRUE(platform::WriteAt(spool.get(), "world", 5, 6));
    ASSERT_TRUE(platform::WriteAt(spool.get(), "hello ", 6, 0));
    const std::string out = dir.File("out");
    {
        const platform::FilePtr f(platform::CreateOrTruncate(out));
        ASSERT_TRUE(f);
        std::fputs(">", f.get());
        ASSERT_TRUE(platform::CopyBytes(spool.get(), 11, f.get()));
    }
    EXPECT_EQ(ReadText(out), ">hello world");
    const char bytes[] = "memory";
    const platform::FilePtr memory(platform::OpenMemory(bytes, 6));
    ASSERT_TRUE(memory);
    char got[8] = {};
    EXPECT_EQ(std::fread(got, 1, sizeof got, memory.get()), 6u);
    EXPECT_STREQ(got, "memory");
}

TEST(Files, DeviceNamesAreNeverOpenedOnWindows) {
    if (platform::NativePathStyle() != platform::PathStyle::kWindows) {
        GTEST_SKIP() << "Windows names only";
    }
    CTempFolder dir;
    for (const std::string name : {"CON", "NUL", "COM1", "nul.prc", "LPT1.pdb"}) {
        const std::string path = dir.File(name);
        EXPECT_EQ(platform::Stat(path).kind, EntryKind::kOther) << name;
        EXPECT_EQ(CheckQueueable(path), QueueCheck::kSpecial) << name;
        EXPECT_EQ(CheckQueueable(name), QueueCheck::kSpecial) << name;
        EXPECT_EQ(platform::OpenPlainFile(path), nullptr) << name;
        EXPECT_EQ(platform::OpenFile(path, "rb"), nullptr) << name;
        EXPECT_EQ(platform::CreateOrTruncate(path), nullptr) << name;
        EXPECT_FALSE(FileCanBeOpened(path)) << name;
        EXPECT_FALSE(IsPlainFile(name)) << name;
    }
    EXPECT_EQ(platform::Stat("\\\\.\\COM1").kind, EntryKind::kOther);
    EXPECT_EQ(platform::OpenFile("\\\\.\\COM1", "rb"), nullptr);
}

TEST(System, TemporaryFolderEndsInTheSeparator) {
    const std::string dir = GetTempDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(platform::IsPathSeparator(dir.back()));
    EXPECT_EQ(platform::Stat(dir.substr(0, dir.size() - 1)).kind, EntryKind::kDirectory);
}

TEST(System, EnvironmentInUtf8) {
    platform::SetEnv("CC_TEST_VALUE",
                     "Gr\xC3\xBC\xC3\x9F"
                     "e");
    EXPECT_EQ(platform::GetEnv("CC_TEST_VALUE").value_or("<unset>"),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    platform::SetEnv("CC_TEST_VALUE", nullptr);
    EXPECT_FALSE(platform::GetEnv("CC_TEST_VALUE").has_value());
}

TEST(System, ErrorTexts) {
    EXPECT_EQ(platform::ErrorText(ENOENT), std::strerror(ENOENT));
    if (platform::NativePathStyle() == platform::PathStyle::kWindows) {
        // The system's own words for its codes (2: the file was not found).
        const std::string text = platform::ErrorText(platform::kSystemErrorBase + 2);
        EXPECT_FALSE(text.empty());
        EXPECT_NE(text.back(), '\n');
    }
}

}  // namespace
