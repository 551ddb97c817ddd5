// The carried files on Windows: beside a program whose folder we may write in, else in the
// user's local data folder; the guide's age against 18 January 2001, local time.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/wide_text.h"
#include "shell/carried_files.h"

namespace {

namespace fs = std::filesystem;

fs::path Scratch() {
    return fs::temp_directory_path() / ("cc-carried-" + std::to_string(::GetCurrentProcessId()));
}

void SetWriteTime(const std::string& path, WORD year, WORD month, WORD day) {
    SYSTEMTIME local{};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    SYSTEMTIME utc{};
    FILETIME time{};
    ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &time));
    const HANDLE h = ::CreateFileW(platform::Widen(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(::SetFileTime(h, nullptr, nullptr, &time));
    ::CloseHandle(h);
}

TEST(CarriedFilesWin32, BesideTheProgramElseInTheLocalDataFolder) {
    const fs::path dir = Scratch();
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string own = platform::Narrow(dir.wstring());
    EXPECT_EQ(carried::OutputDirectory(own), own);
    EXPECT_TRUE(fs::is_empty(dir));  // the write test leaves nothing behind

    const std::string fallback = carried::OutputDirectory(own + "\\missing");
    EXPECT_NE(fallback, own + "\\missing");
    EXPECT_EQ(fallback.substr(fallback.size() - 14), "\\Cradlecourier");
    EXPECT_TRUE(fs::is_directory(fs::path(platform::Widen(fallback))));

    EXPECT_EQ(carried::HelpFilePath(own, resources::Language::kGerman),
              own + "\\guide\\de\\index.html");
    EXPECT_EQ(carried::ViewerPath(own + "\\"), own + "\\VIEWER.PRC");
    fs::remove_all(dir);
}

TEST(CarriedFilesWin32, TheGuideIsWrittenOutAndReplacedWhenOlderThanItsDay) {
    const fs::path dir = Scratch() / "guide-age";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string own = platform::Narrow(dir.wstring());
    const std::string page = PrepareHelpFile(own, resources::Language::kEnglish);
    ASSERT_TRUE(fs::exists(fs::path(platform::Widen(page))));
    EXPECT_FALSE(carried::HelpFileOutdated(page));

    SetWriteTime(page, 2001, 1, 17);
    EXPECT_TRUE(carried::HelpFileOutdated(page));
    PrepareHelpFile(own, resources::Language::kEnglish);
    EXPECT_FALSE(carried::HelpFileOutdated(page));  // written anew
    SetWriteTime(page, 2001, 1, 19);
    EXPECT_FALSE(carried::HelpFileOutdated(page));
    EXPECT_TRUE(carried::HelpFileOutdated(own + "\\nothing.html"));

    EXPECT_EQ(ExtractViewer(own), 1);
    EXPECT_TRUE(fs::exists(fs::path(platform::Widen(carried::ViewerPath(own)))));
    fs::remove_all(Scratch());
}

}  // namespace
