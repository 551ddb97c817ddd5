// The user lookup, and the backup copy with its log line as the installation history
// later reads them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/backup_copy.h"
#include "engine/user_library.h"
#include "pdb/palm_db_file.h"
#include "tests/session/db_builder.h"

namespace {

namespace fs = std::filesystem;

// A user library with a fixed set of users.
class CFakeUserLibrary final : public IUserLibrary {
  public:
    struct User {
        uint32_t id;
        std::string name, dir;
    };
    std::string root = "/home/desk/Palm";
    std::vector<User> users;

    int UmGetUserCount() override { return static_cast<int>(users.size()); }
    int UmGetUserID(int index, uint32_t& id) override {
        if (index < 0 || index >= static_cast<int>(users.size())) return -1;
        id = users[static_cast<size_t>(index)].id;
        return 0;
    }
    int UmGetUserName(uint32_t id, std::string& name) override {
        const User* u = Find(id);
        if (u) name = u->name;
        return u ? 0 : -1;
    }
    int UmGetRootDirectory(std::string& dir) override {
        dir = root;
        return 0;
    }
    int UmGetUserDirectory(uint32_t id, std::string& dir) override {
        const User* u = Find(id);
        if (u) dir = u->dir;
        return u ? 0 : -1;
    }

  private:
    const User* Find(uint32_t id) const {
        for (const User& u : users) {
            if (u.id == id) return &u;
        }
        return nullptr;
    }
};

TEST(UserDirectory, FirstExactNameWinsAndIdsFindTheirOwn) {
    CFakeUserLibrary lib;
    lib.users = {{7, "virtual user", "lower"},
                 {8, "Virtual User", "VirtualU"},
                 {9, "Virtual User", "Second"}};
    EXPECT_EQ(FindUserDirectory(&lib, "Virtual User"), "/home/desk/Palm/VirtualU/");
    EXPECT_EQ(FindUserDirectory(&lib, "Nobody"), "");
    EXPECT_EQ(FindUserDirectory(nullptr, "Virtual User"), "");
    CEmptyUserLibrary empty;
    EXPECT_EQ(FindUserDirectory(&empty, "Virtual User"), "");

    EXPECT_EQ(GetUserDirectoryById(&lib, 9, "/keep/"), "/home/desk/Palm/Second/");
    EXPECT_EQ(GetUserDirectoryById(&lib, 10, "/keep/"), "/keep/");
    EXPECT_EQ(GetUserDirectoryById(nullptr, 9, "/keep/"), "/keep/");
}

TEST(UserDirectory, SlashesAreNotDoubled) {
    CFakeUserLibrary lib;
    lib.root = "/r/";
    lib.users = {{1, "A", "u/"}};
    EXPECT_EQ(FindUserDirectory(&lib, "A"), "/r/u/");
    // Without a root, or when the library cannot say the root or the user's folder, there is
    // no user directory: a folder relative to wherever the program runs is none.
    lib.root = "";
    EXPECT_EQ(FindUserDirectory(&lib, "A"), "");
}

TEST(UserDirectory, ALibraryThatFailsToNameAFolderGivesNone) {
    struct CFailing final : IUserLibrary {
        int rootResult = 0, dirResult = -1;
        int UmGetUserCount() override { return 1; }
        int UmGetUserID(int, uint32_t& id) override {
            id = 5;
            return 0;
        }
        int UmGetUserName(uint32_t, std::string& name) override {
            name = "A";
            return 0;
        }
        int UmGetRootDirectory(std::string& dir) override {
            dir = "/r/";
            return rootResult;
        }
        int UmGetUserDirectory(uint32_t, std::string& dir) override {
            dir = "u";
            return dirResult;
        }
    } lib;
    EXPECT_EQ(FindUserDirectory(&lib, "A"), "");
    EXPECT_EQ(GetUserDirectoryById(&lib, 5, "/keep/"), "");
    lib.dirResult = 0;
    lib.rootResult = -1;
    EXPECT_EQ(FindUserDirectory(&lib, "A"), "");
    lib.rootResult = 0;
    EXPECT_EQ(FindUserDirectory(&lib, "A"), "/r/u/");
}

TEST(LogTime, EnglishNamesAndTwoDigitDay) {
    std::tm t{};
    t.tm_year = 101;
    t.tm_mon = 0;
    t.tm_mday = 4;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 0;
    t.tm_wday = 4;
    EXPECT_EQ(FormatLogTime(t), "Thu Jan 04 09:05:00 2001\n");
    EXPECT_EQ(LogLine("A.PRC", "1.0", t), "A.PRC, 1.0, Thu Jan 04 09:05:00 2001\r\n");
}

class BackupLog : public ::testing::Test {
  protected:
    void SetUp() override {
        m_userDir = testdb::ScratchDir("backuplog");
        fs::create_directories(m_userDir + "Backup");
        m_src = m_userDir + "src.prc";
        WriteSource("Hello World App With Long Name!!", {'3', '.', '5', 0});
    }
    void TearDown() override { fs::remove_all(m_userDir); }
    void WriteSource(const std::string& name, const std::vector<uint8_t>& version) {
        pdb::DbInfo info = testdb::Info(name, true, "appl", "Helo");
        ASSERT_TRUE(testdb::WriteResourceDb(
            m_src, info, {{"code", 1, testdb::Bytes(64, 1)}, {"tver", 1, version}}));
    }
    std::string ReadLog() {
        std::ifstream in(m_userDir + "CCourier.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Dir(const std::string& sub) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_userDir + sub)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }
    std::string m_userDir, m_src;
    const time_t m_now = 978599100;  // a fixed moment
};

TEST_F(BackupLog, CopyCarriesTheBackupDateAndTheLogGainsOneCrLfLine) {
    auto file = pdb::CPalmDbFile::Open(m_src);
    ASSERT_TRUE(file);
    const int64_t created = file->Info().createDate;
    const int64_t backup = file->Info().backupDate;
    ASSERT_TRUE(WriteBackupAndLog(m_userDir, *file, m_now));

    const std::string name = "HELLO WORLD APP WITH LONG NAME!.PRC";  // 31 characters
    auto copy = pdb::CPalmDbFile::Open(m_userDir + "Backup/" + name);
    ASSERT_TRUE(copy);
    // Stored from 1970, so read back (as from 1904) they are one offset lower.
    EXPECT_EQ(copy->Info().createDate, created - pdb::kEpochOffset);
    EXPECT_EQ(copy->Info().modifyDate, backup - pdb::kEpochOffset);
    EXPECT_EQ(copy->Info().backupDate, backup - pdb::kEpochOffset);

    std::tm local{};
    localtime_r(&m_now, &local);
    std::string time = FormatLogTime(local);
    const std::string line = name + ", 3.5, " + time.insert(24, "\r");
    EXPECT_EQ(ReadLog(), line);
    ASSERT_TRUE(WriteBackupAndLog(m_userDir, *pdb::CPalmDbFile::Open(m_src), m_now));
    EXPECT_EQ(ReadLog(), line + line);  // appended, never rewritten
    // Nothing is left beside the copies.
    EXPECT_EQ(Dir("Backup"), std::vector<std::string>{name});
    EXPECT_EQ(Dir("").size(), 3u);  // Backup, CCourier.log, src.prc
}

TEST_F(BackupLog, NoBackupFolderNoCopyNoLine) {
    fs::remove_all(m_userDir + "Backup");
    auto file = pdb::CPalmDbFile::Open(m_src);
    ASSERT_TRUE(file);
    EXPECT_FALSE(WriteBackupAndLog(m_userDir, *file, m_now));
    EXPECT_FALSE(fs::exists(m_userDir + "CCourier.log"));
    EXPECT_FALSE(fs::exists(m_userDir + "Backup"));  // never created here
}

TEST_F(BackupLog, NamesWithSlashesAndLineBreaksStayOneFileAndOneLine) {
    WriteSource("../x/a\nb", {'1', '\r', '\n', '2', 0});
    ASSERT_TRUE(WriteBackupAndLog(m_userDir, *pdb::CPalmDbFile::Open(m_src), m_now));
    // The leading dot goes too, so the copy is not a hidden file.
    EXPECT_EQ(Dir("Backup"), std::vector<std::string>{"_._X_A_B.PRC"});
    const std::string log = ReadLog();
    EXPECT_EQ(log.rfind("_._X_A_B.PRC, 1  2, ", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

TEST_F(BackupLog, HandheldCharactersBecomeUtf8) {
    WriteSource("J\xfcrgens M\xe4rz", {'1', 0x80, 0});
    ASSERT_TRUE(WriteBackupAndLog(m_userDir, *pdb::CPalmDbFile::Open(m_src), m_now));
    EXPECT_EQ(Dir("Backup"), std::vector<std::string>{"J\u00fcRGENS M\u00e4RZ.PRC"});
    EXPECT_EQ(ReadLog().rfind("J\u00fcRGENS M\u00e4RZ.PRC, 1\u20ac, ", 0), 0u);
}

TEST_F(BackupLog, LinksAreNotWrittenThrough) {
    const std::string outside = testdb::ScratchDir("backuplog-outside");
    std::ofstream(outside + "log") << "theirs";
    fs::create_symlink(outside + "log", m_userDir + "CCourier.log");
    ASSERT_TRUE(WriteBackupAndLog(m_userDir, *pdb::CPalmDbFile::Open(m_src), m_now));
    std::ifstream in(outside + "log");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "theirs");

    // A Backup that is a link to elsewhere gets no copy.
    fs::remove_all(m_userDir + "Backup");
    fs::create_symlink(outside, m_userDir + "Backup");
    EXPECT_FALSE(WriteBackupAndLog(m_userDir, *pdb::CPalmDbFile::Open(m_src), m_now));
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    fs::remove_all(outside);
}

}  // namespace
