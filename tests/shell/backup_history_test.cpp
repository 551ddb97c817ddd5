// The installation history as the history window builds it from a user directory: the log's
// reading rules, the backup scan, hostile files in Backup/, deletion, and the user list.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/user_library.h"
#include "pdb/palm_db_file.h"
#include "shell/backup_history.h"
#include "tests/session/db_builder.h"

namespace {

namespace fs = std::filesystem;

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = testdb::ScratchDir(std::string("history-") +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir + "Backup");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Log(const std::string& text) {
        std::ofstream(m_dir + "CCourier.log", std::ios::binary) << text;
    }
    void Backup(const std::string& name, const std::string& bytes = "x") {
        std::ofstream(m_dir + "Backup/" + name, std::ios::binary) << bytes;
    }
    std::vector<HistoryRow> Rows(bool all = false) {
        std::vector<HistoryRow> rows = LoadHistoryLog(m_dir);
        ScanBackups(m_dir, rows, all);
        return rows;
    }
    static std::string Show(const std::vector<HistoryRow>& rows) {
        std::string text;
        for (const HistoryRow& r : rows) {
            text +=
                "[" + r.name + "|" + r.version + "|" + r.date + "|" + (r.exists ? "X" : "") + "]";
        }
        return text;
    }

    std::string m_dir;
};

TEST_F(History, LogRowsAndTheNewestCopyMarked) {
    Log("MEMOS.PDB, , Thu Jan 18 09:05:00 2001\r\n"  // a record database: empty version
        "GAME.PRC, 1.0, Fri Jan 19 10:00:00 2001\n"  // LF alone reads the same
        "\r\n"                                       // no field, no row
        "GAME.PRC, 1.1, Sat Jan 20 11:00:00 2001, extra\r\n"
        "   \r\n"  // blanks with a line end: a row named by them
        "  LEAD,x\r\n");
    Backup("GAME.PRC");
    Backup("MEMOS.PDB");
    Backup("LOOSE.PRC");
    EXPECT_EQ(Show(Rows()),
              "[MEMOS.PDB| | Thu Jan 18 09:05:00 2001|X]"
              "[GAME.PRC| 1.0| Fri Jan 19 10:00:00 2001|]"
              "[GAME.PRC| 1.1| Sat Jan 20 11:00:00 2001|X]"
              "[   |||]"
              "[  LEAD|x||]");
}

TEST_F(History, BlankLastLineEndsTheLogOnlyWithoutItsLineEnd) {
    Log("A.PRC, 1, d\r\n   ");
    EXPECT_EQ(Show(Rows()), "[A.PRC| 1| d|]");
    Log("A.PRC, 1, d\r\n   \r\n");
    EXPECT_EQ(Show(Rows()), "[A.PRC| 1| d|][   |||]");
    // A lone CR is no line end: its piece is not all blanks.
    Log("   \r");
    EXPECT_EQ(Show(Rows()), "[   |||]");
}

TEST_F(History, LongLinesComeInPiecesAndBadBytesDoNotStopTheLog) {
    const std::string longName(600, 'N');
    std::string nul = "NUL.PRC, 2";
    nul += '\0';
    nul += ", hidden\r\n";
    Log(longName + ", 9, d\r\n" + nul + "\xff\xfe.PRC, \xc3, d\r\n" + std::string(510, ' ') +
        "more\r\n");
    const std::vector<HistoryRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u) << Show(rows);
    EXPECT_EQ(rows[0].name, std::string(510, 'N'));  // 510 characters at most per piece
    EXPECT_EQ(rows[1].name, std::string(90, 'N'));   // the rest of the line
    EXPECT_EQ(rows[1].version, " 9");
    EXPECT_EQ(Show({rows[2]}), "[NUL.PRC| 2||]");  // the piece ends at the NUL
    EXPECT_EQ(rows[3].name, "\xff\xfe.PRC");
    // The 510 blanks that follow make a piece of blanks only: the reading ends there.
}

TEST_F(History, HugeLogIsReadInBoundedPieces) {
    {
        std::ofstream out(m_dir + "CCourier.log", std::ios::binary);
        const std::string chunk(1 << 16, 'a');
        for (int i = 0; i < 64; ++i) out << chunk;  // 4 MB without a line end
    }
    EXPECT_EQ(Rows().size(), (size_t(64) << 16) / 510 + 1);
}

TEST_F(History, UnloggedCopiesOnlyWithAllFilesAndTheirVersion) {
    Log("LOGGED.PRC, 1.0, d\r\n");
    Backup("LOGGED.PRC");
    ASSERT_TRUE(testdb::WriteResourceDb(m_dir + "Backup/APP.PRC",
                                        testdb::Info("App", true, "appl", "Appl"),
                                        {{"code", 1, testdb::Bytes(10, 1)},
                                         {"tver", 1, {'2', '.', '0', 0, 'x'}},
                                         {"tver", 2, {'9'}}}));
    std::vector<uint8_t> longVersion(300, 'v');
    ASSERT_TRUE(testdb::WriteResourceDb(m_dir + "Backup/LONG.PRC",
                                        testdb::Info("Long", true, "appl", "Long"),
                                        {{"tver", 1, longVersion}}));
    ASSERT_TRUE(testdb::WriteRecordDb(m_dir + "Backup/DATA.PDB",
                                      testdb::Info("Data", false, "DATA", "Appl"),
                                      {testdb::Rec(10, 1)}));
    fs::create_directories(m_dir + "Backup/folder");
    EXPECT_EQ(Show(Rows()), "[LOGGED.PRC| 1.0| d|X]");

    std::vector<HistoryRow> rows = Rows(true);
    ASSERT_EQ(rows.size(), 4u) << Show(rows);
    std::sort(rows.begin() + 1, rows.end(),
              [](const HistoryRow& a, const HistoryRow& b) { return a.name < b.name; });
    EXPECT_EQ(Show(rows), "[LOGGED.PRC| 1.0| d|X][APP.PRC|2.0||X][DATA.PDB|||X][LONG.PRC|" +
                              std::string(253, 'v') + "||X]");
}

TEST_F(History, HostileFilesInBackupAreListedNotTrusted) {
    // A FIFO and a link to a file outside: listed, never opened.
    ASSERT_EQ(::mkfifo((m_dir + "Backup/PIPE.PRC").c_str(), 0600), 0);
    const std::string outside = m_dir + "outside.prc";
    ASSERT_TRUE(testdb::WriteResourceDb(outside, testdb::Info("Out", true, "appl", "Out1"),
                                        {{"tver", 1, {'6', 0}}}));
    fs::create_symlink(outside, m_dir + "Backup/LINK.PRC");
    // A header claiming a resource list bigger than the file, and one whose 'tver' claims
    // to run over the whole of a large file.
    std::string header(78, '\0');
    header[32 + 1] = 1;  // resource database
    header[76] = '\xff';
    header[77] = '\xff';
    Backup("LIST.PRC", header);
    ASSERT_TRUE(testdb::WriteResourceDb(m_dir + "Backup/BIG.PRC",
                                        testdb::Info("Big", true, "appl", "Big1"),
                                        {{"tver", 1, std::vector<uint8_t>(8 << 20, '7')}}));
    Backup("EMPTY.PRC", "");

    std::vector<HistoryRow> rows = Rows(true);
    std::sort(rows.begin(), rows.end(),
              [](const HistoryRow& a, const HistoryRow& b) { return a.name < b.name; });
    EXPECT_EQ(Show(rows), "[BIG.PRC|" + std::string(253, '7') +
                              "||X][EMPTY.PRC|||X][LINK.PRC|||X][LIST.PRC|||X][PIPE.PRC|||X]");
}

TEST_F(History, DeletingACopyLeavesItsRowWithoutX) {
    Log("A.PRC, 1, d\r\nB.PRC, 1, d\r\n");
    Backup("A.PRC");
    Backup("B.PRC");
    EXPECT_TRUE(DeleteBackup(m_dir, "A.PRC"));
    EXPECT_EQ(Show(Rows()), "[A.PRC| 1| d|][B.PRC| 1| d|X]");
    EXPECT_EQ(LoadHistoryLog(m_dir).size(), 2u);  // the log is not changed
    EXPECT_FALSE(DeleteBackup(m_dir, "A.PRC"));
    EXPECT_FALSE(DeleteBackup(m_dir, "../CCourier.log"));
    EXPECT_FALSE(DeleteBackup(m_dir, ".."));
    EXPECT_TRUE(fs::exists(m_dir + "CCourier.log"));
}

TEST_F(History, MissingLogAndBackupGiveNothing) {
    fs::remove_all(m_dir + "Backup");
    EXPECT_TRUE(Rows(true).empty());
    Log("A.PRC, 1, d\r\n");
    EXPECT_EQ(Show(Rows(true)), "[A.PRC| 1| d|]");
    // A log that is a link is not read, as it is not written.
    fs::rename(m_dir + "CCourier.log", m_dir + "real.log");
    fs::create_symlink(m_dir + "real.log", m_dir + "CCourier.log");
    EXPECT_TRUE(Rows().empty());
}

// Users out of alphabetical order; the one whose directory is the window's is selected.
class CListLibrary final : public IUserLibrary {
  public:
    int UmGetUserCount() override { return 4; }
    int UmGetUserID(int index, uint32_t& id) override {
        id = 100 + static_cast<uint32_t>(index);
        return 0;
    }
    int UmGetUserName(uint32_t id, std::string& name) override {
        static const char* const kNames[] = {"Zoe", "", "Anna", "J\xfcrgen"};
        name = kNames[id - 100];
        return 0;
    }
    int UmGetRootDirectory(std::string& dir) override {
        dir = "/root";
        return 0;
    }
    int UmGetUserDirectory(uint32_t id, std::string& dir) override {
        dir = "u" + std::to_string(id);
        return 0;
    }
};

TEST(HistoryUserList, NamedUsersWithIdsAndTheWindowsUserSelected) {
    CListLibrary library;
    int selected = 0;
    std::vector<HistoryUser> users = HistoryUsers(&library, "/root/u103/", selected);
    ASSERT_EQ(users.size(), 3u);  // the user without a name is left out
    EXPECT_EQ(users[0].name, "Zoe");
    EXPECT_EQ(users[2].name, "J\u00fcrgen");
    EXPECT_EQ(users[2].id, 103u);
    EXPECT_EQ(selected, 2);
    HistoryUsers(&library, "/root/u103", selected);  // exactly, with its "/"
    EXPECT_EQ(selected, -1);
    EXPECT_TRUE(HistoryUsers(nullptr, "/root/u103/", selected).empty());
}

}  // namespace
