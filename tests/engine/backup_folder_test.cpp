// The Backup folder of a whole-handheld backup: the handheld's record beside the copies,
// the copies found by the database they hold, names that never land on another database's
// file, and which files a restore takes in which order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/backup_folder.h"
#include "engine/handheld_backup.h"
#include "resources/strings/string_table.h"
#include "tests/session/db_builder.h"

namespace {

namespace fs = std::filesystem;

class BackupFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        resources::SetLanguage(resources::Language::kEnglish);
        m_dir = testdb::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string m_dir;
};

TEST(HandheldRecordText, RoundTripAndHostileLines) {
    HandheldRecord r;
    r.userName = "J\xFCrgen";  // the handheld's Latin set
    r.userId = 4294967295u;
    r.viewerId = 7;
    r.lastSyncPc = 99;
    r.backupTime = 1714035112;
    r.databases = 57;
    const std::string text = FormatHandheldRecord(r);
    EXPECT_NE(text.find("UserName=J\xC3\xBCrgen\n"), std::string::npos);  // UTF-8 on disk
    const HandheldRecord back = ParseHandheldRecord(text);
    EXPECT_EQ(back.userName, r.userName);
    EXPECT_EQ(back.userId, r.userId);
    EXPECT_EQ(back.viewerId, 7u);
    EXPECT_EQ(back.lastSyncPc, 99u);
    EXPECT_EQ(back.backupTime, r.backupTime);
    EXPECT_EQ(back.databases, 57);

    // Numbers too large, signs, junk, a name the handheld cannot hold, CR LF line ends,
    // lines without "=": each field stays as it was, nothing else happens.
    const HandheldRecord hostile = ParseHandheldRecord(
        "UserId=4294967296\r\nViewerId=-1\nLastSyncPc=12x\nDatabases=70000\n"
        "UserName=" +
        std::string(200, 'a') + "\nBackupTime=\n= \n#UserId=5\nnoise\n");
    EXPECT_EQ(hostile.userId, 0u);
    EXPECT_EQ(hostile.viewerId, 0u);
    EXPECT_EQ(hostile.lastSyncPc, 0u);
    EXPECT_EQ(hostile.databases, 0);
    EXPECT_TRUE(hostile.userName.empty());
    EXPECT_EQ(ParseHandheldRecord("UserName=\xE2\x82\xAC\n").userName, "\x80");  // the euro
    EXPECT_TRUE(ParseHandheldRecord("UserName=\xE4\xB8\x80\n").userName.empty());
    EXPECT_EQ(ParseHandheldRecord("UserId= 12 \r\n").userId, 12u);
}

TEST_F(BackupFolder, RecordIsWrittenWholeAndNeverReadThroughALink) {
    HandheldRecord r;
    r.userName = "Jane";
    r.userId = 3;
    ASSERT_TRUE(WriteHandheldRecord(m_dir, r));
    HandheldRecord back;
    ASSERT_TRUE(ReadHandheldRecord(m_dir, back));
    EXPECT_EQ(back.userName, "Jane");
    for (const auto& e : fs::directory_iterator(m_dir)) {
        EXPECT_EQ(e.path().filename(), kHandheldRecordName);  // no temporary file left
    }
    // A link in its place is not followed; a huge file is not read.
    fs::remove(m_dir + kHandheldRecordName);
    std::ofstream(m_dir + "elsewhere") << "UserName=Mallory\n";
    fs::create_symlink(m_dir + "elsewhere", m_dir + kHandheldRecordName);
    EXPECT_FALSE(ReadHandheldRecord(m_dir, back));
    fs::remove(m_dir + kHandheldRecordName);
    std::ofstream(m_dir + kHandheldRecordName) << std::string(kMaxHandheldRecordSize + 1, '#');
    EXPECT_FALSE(ReadHandheldRecord(m_dir, back));
    EXPECT_FALSE(WriteHandheldRecord(m_dir + "missing/", r));
}

TEST_F(BackupFolder, CopiesAreFoundByTheirDatabase) {
    ASSERT_TRUE(testdb::WriteRecordDb(m_dir + "whatever.pdb",
                                      testdb::Info("MemoDB", false, "DATA", "memo"),
                                      {testdb::Rec(10, 1), testdb::Rec(20, 2)}));
    ASSERT_TRUE(testdb::WriteResourceDb(m_dir + "APP.PRC",
                                        testdb::Info("App", true, "appl", "Appp"),
                                        {{"code", 1, testdb::Bytes(100, 1)}}));
    ASSERT_TRUE(testdb::WriteRecordDb(m_dir + "CUT.PDB", testdb::Info("Cut", false, "DATA", "cut1"),
                                      {testdb::Rec(500, 1), testdb::Rec(500, 2)}));
    fs::resize_file(m_dir + "CUT.PDB", fs::file_size(m_dir + "CUT.PDB") - 700);
    std::ofstream(m_dir + "notes.txt") << "not a database";
    std::ofstream(m_dir + ".partial-abc") << "being written";
    fs::create_symlink(m_dir + "APP.PRC", m_dir + "LINK.PRC");
    fs::create_directory(m_dir + "Sub.pdb");

    EXPECT_EQ(BackupFileNames(m_dir),
              (std::vector<std::string>{"APP.PRC", "CUT.PDB", "notes.txt", "whatever.pdb"}));
    const std::vector<BackupCopy> copies = ScanBackupCopies(m_dir);
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(copies[0].dbName, "App");
    EXPECT_TRUE(copies[0].resourceDb);
    EXPECT_TRUE(copies[0].whole);
    EXPECT_EQ(copies[1].dbName, "Cut");
    EXPECT_FALSE(copies[1].whole);
    EXPECT_EQ(copies[2].dbName, "MemoDB");
    EXPECT_EQ(copies[2].modificationNumber, 3u);
    EXPECT_EQ(copies[2].modificationDate, 1000000100);
    EXPECT_EQ(copies[2].fileSize, int64_t(fs::file_size(m_dir + "whatever.pdb")));
}

TEST(CopyFileNames, NamedAsInstalledCopiesAndNeverOnAnotherDatabasesFile) {
    EXPECT_EQ(CopyFileNameFor("MemoDB", false, {}), "MEMODB.PDB");
    EXPECT_EQ(CopyFileNameFor("a/b", true, {}), "A_B.PRC");
    EXPECT_EQ(CopyFileNameFor(".hidden", false, {}), "_HIDDEN.PDB");
    EXPECT_EQ(CopyFileNameFor("MemoDB", false, {"memodb.pdb"}), "MEMODB (2).PDB");
    EXPECT_EQ(CopyFileNameFor("MemoDB", false, {"MEMODB.PDB", "MEMODB (2).PDB"}), "MEMODB (3).PDB");
}

TEST_F(BackupFolder, RestoreOrderAndRefusals) {
    const auto info = [](const char* name, bool res, const char(&type)[5],
                         const char(&creator)[5]) {
        return testdb::Info(name, res, type, creator);
    };
    ASSERT_TRUE(testdb::WriteResourceDb(m_dir + "ZAPP.PRC", info("Zapp", true, "appl", "Zapp"),
                                        {{"code", 1, testdb::Bytes(10, 1)}}));
    ASSERT_TRUE(testdb::WriteResourceDb(m_dir + "PREFS.PRC",
                                        info("Saved Preferences", true, "sprf", "psys"),
                                        {{"psys", 1, testdb::Bytes(10, 1)}}));
    ASSERT_TRUE(testdb::WriteRecordDb(m_dir + "ADDR.PDB", info("AddressDB", false, "DATA", "addr"),
                                      {testdb::Rec(10, 1)}));
    ASSERT_TRUE(testdb::WriteRecordDb(m_dir + "ADDR2.PDB", info("AddressDB", false, "DATA", "addr"),
                                      {testdb::Rec(10, 1)}));
    ASSERT_TRUE(testdb::WriteRecordDb(m_dir + "MIDI.PDB",
                                      info("System MIDI Sounds", false, "smfr", "psys"),
                                      {testdb::Rec(10, 1)}));
    std::ofstream(m_dir + "junk.PDB") << std::string(100, 'x');
    ::mkfifo((m_dir + "FIFO.PDB").c_str(), 0600);

    std::vector<std::string> refused;
    const auto items = PlanRestore(
        {m_dir + "ZAPP.PRC", m_dir + "ADDR.PDB", m_dir + "junk.PDB", m_dir + "PREFS.PRC",
         m_dir + "ADDR2.PDB", m_dir + "MIDI.PDB", m_dir + "FIFO.PDB", m_dir + "missing.pdb"},
        refused);
    std::vector<std::string> names;
    for (const auto& item : items) names.push_back(item.dbName);
    EXPECT_EQ(names, (std::vector<std::string>{"Saved Preferences", "System MIDI Sounds",
                                               "AddressDB", "Zapp"}));
    EXPECT_EQ(refused,
              (std::vector<std::string>{"not restored: junk.PDB (not a Palm database)",
                                        "not restored: ADDR2.PDB (the same database as ADDR.PDB)",
                                        "not restored: FIFO.PDB (not a Palm database)",
                                        "not restored: missing.pdb (not a Palm database)"}));
}

TEST_F(BackupFolder, LastBackupNote) {
    EXPECT_EQ(LastBackupNote(m_dir), "No backup of the whole handheld yet.");
    HandheldRecord r;
    r.backupTime = 978307200;  // 2001-01-01 UTC
    r.databases = 12;
    ASSERT_TRUE(WriteHandheldRecord(m_dir, r));
    const std::string note = LastBackupNote(m_dir);
    EXPECT_EQ(note.rfind("Last backup of the handheld: ", 0), 0u) << note;
    EXPECT_NE(note.find(" 2001 (12 databases)"), std::string::npos) << note;
}

}  // namespace
