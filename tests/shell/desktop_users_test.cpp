// The desktop user store as people and programs may leave its users file: the five library
// operations over it, entries that must be skipped, and adding and removing users without
// losing what else the file holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/user_library.h"
#include "shell/desktop_users.h"
#include "shell/memory_settings.h"

namespace {

namespace fs = std::filesystem;

class UserStore : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = (fs::temp_directory_path() /
                  ("cc-users-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                     .string() +
                 "/";
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    void WriteUsers(const std::string& text) {
        std::ofstream(m_root + "users.txt", std::ios::binary) << text;
    }
    std::string ReadUsers() {
        std::ifstream in(m_root + "users.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Names(CDesktopUserStore& store) {
        std::vector<std::string> names;
        for (const DesktopUser& u : store.Users()) names.push_back(u.name);
        return names;
    }

    std::string m_root;
};

TEST_F(UserStore, LibraryOperationsOverTheUsersFile) {
    fs::create_directories(m_root + "Jane/Backup");
    WriteUsers(
        "# people\r\n"
        "[User]\r\n"
        "Name=Jane Doe\r\n"
        "Id = 4294967295\r\n"
        "Folder= Jane/ \r\n"
        "Colour=blue\r\n"
        "\n"
        "[user]\n"
        "  name =J\xc3\xbcrgen\n"
        "ID=0\n"
        "folder=Desk/J\n");
    CDesktopUserStore store(m_root.substr(0, m_root.size() - 1));  // "/" is added
    ASSERT_TRUE(store.Load());
    EXPECT_TRUE(store.Problems().empty()) << store.Problems()[0];
    ASSERT_EQ(store.UmGetUserCount(), 2);

    uint32_t id = 1;
    ASSERT_EQ(store.UmGetUserID(0, id), 0);
    EXPECT_EQ(id, 4294967295u);
    std::string text;
    ASSERT_EQ(store.UmGetUserName(id, text), 0);
    EXPECT_EQ(text, "Jane Doe");
    ASSERT_EQ(store.UmGetUserDirectory(id, text), 0);
    EXPECT_EQ(text, "Jane/");  // keeps its separator
    ASSERT_EQ(store.UmGetRootDirectory(text), 0);
    EXPECT_EQ(text, m_root);
    EXPECT_EQ(store.UmGetUserID(2, id), -1);

    // Names reach the library in the handheld's character set.
    ASSERT_EQ(store.UmGetUserID(1, id), 0);
    EXPECT_EQ(id, 0u);
    ASSERT_EQ(store.UmGetUserName(0, text), 0);
    EXPECT_EQ(text, "J\xfcrgen");
    EXPECT_EQ(FindUserDirectory(&store, "J\xfcrgen"), m_root + "Desk/J/");
    EXPECT_EQ(FindUserDirectory(&store, "jane doe"), "");  // letter case counts
}

TEST_F(UserStore, MissingOrUnreadableStoreIsNoLibrary) {
    CDesktopUserStore none(m_root);
    EXPECT_FALSE(none.Load());  // no users file
    EXPECT_FALSE(CDesktopUserStore("relative/root").Load());
    EXPECT_FALSE(CDesktopUserStore("/" + std::string(300, 'r')).Load());

    // A FIFO in the file's place neither blocks nor counts; nor does a huge file.
    ASSERT_EQ(::mkfifo((m_root + "users.txt").c_str(), 0600), 0);
    EXPECT_FALSE(none.Load());
    fs::remove(m_root + "users.txt");
    WriteUsers(std::string(CDesktopUserStore::kMaxFileSize + 1, '#'));
    EXPECT_FALSE(none.Load());
    // ... and is not written over by an added user.
    EXPECT_EQ(none.AddUser("Jane"), CDesktopUserStore::AddResult::kNotWritten);
    EXPECT_EQ(fs::file_size(m_root + "users.txt"), CDesktopUserStore::kMaxFileSize + 1);

    // A file an added user would grow past that size is left as it is, its users with it.
    const std::string anna = "[User]\nName=Anna\nId=7\nFolder=Anna\n";
    WriteUsers(anna + std::string(CDesktopUserStore::kMaxFileSize - anna.size() - 10, '#'));
    ASSERT_TRUE(none.Load());
    EXPECT_EQ(none.AddUser("Jane"), CDesktopUserStore::AddResult::kNotWritten);
    EXPECT_EQ(none.UmGetUserCount(), 1);
    EXPECT_FALSE(fs::exists(m_root + "Jane"));

    WriteUsers("");
    EXPECT_TRUE(none.Load());  // present, with no users
    EXPECT_EQ(none.UmGetUserCount(), 0);
}

TEST_F(UserStore, BadEntriesAreSkippedAndNothingLeadsOutside) {
    const std::string outside = m_root.substr(0, m_root.size() - 1) + "-outside/";
    fs::create_directories(outside + "Backup");
    fs::create_symlink(outside, m_root + "Link");
    fs::create_directories(m_root + "Real/Backup");
    fs::create_symlink(outside + "Backup", m_root + "Real2");
    fs::create_directories(m_root + "LinkedBackup");
    fs::create_symlink(outside + "Backup", m_root + "LinkedBackup/Backup");
    fs::create_directories(m_root + "LinkedLog");
    fs::create_symlink(outside + "log", m_root + "LinkedLog/CCourier.log");
    std::ofstream(m_root + "plainfile") << "x";
    const auto user = [&](const std::string& name, const std::string& id,
                          const std::string& folder) {
        return "[User]\nName=" + name + "\nId=" + id + "\nFolder=" + folder + "\n";
    };
    WriteUsers("stray text\n" +                                     // outside an entry
               user("Good", "1", "Real") +                          // kept
               user("Dotdot", "2", "../outside") +                  // leaves the root
               user("Inner dotdot", "3", "Real/../../x") +          // the same, inside
               user("Absolute", "4", outside) +                     //
               user("Linked", "5", "Link") +                        // a link to outside
               user("Linked inside", "6", "Link/Backup") +          //
               user("Backup link", "7", "LinkedBackup") +           //
               user("Log link", "8", "LinkedLog") +                 //
               user("Not a folder", "9", "plainfile") +             //
               user("Users file", "10", "users.txt") +              //
               user("Good", "11", "Other") +                        // name repeats
               user("Other", "1", "Other") +                        // id repeats
               user("Third", "12", "Real") +                        // folder repeats
               user("Huge id", "4294967296", "A") +                 //
               user("Negative id", "-1", "A") +                     //
               user(std::string(128, 'n'), "13", "A") +             // too long
               user("Bad\x01name", "14", "A") +                     //
               user("Bad \xff utf8", "15", "A") +                   //
               user("Not Latin \xe2\x82\xbd", "16", "A") +          // a rouble sign
               user("Dot", "17", ".") +                             //
               "[User]\nName=Twice\nName=Twice\nId=18\nFolder=T\n"  // key repeats
               "[User]\nName=Missing\nId=19\n"                      // no folder
               "[User]\nId=20\nFolder=N\n"                          // no name
               "[User]\nName=Broken\nId=21\nFolder=B\nno equals sign\n" +
               user(std::string(127, 'n'), "22", "Long") +  // kept: 127 is the limit
               user("Linked folder", "23", "Real2"));
    CDesktopUserStore store(m_root);
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(Names(store), (std::vector<std::string>{"Good", std::string(127, 'n')}));
    EXPECT_EQ(store.Problems().size(), 25u);
    for (const std::string& problem : store.Problems()) EXPECT_EQ(problem.rfind("line ", 0), 0u);
    fs::remove_all(outside);
}

TEST_F(UserStore, AddingAndRemovingKeepTheRestOfTheFile) {
    const std::string kept =
        "# my own notes\n"
        "[User]\nName=Broken entry\nId=x\nFolder=B\n"
        "\n"
        "[User]\nName=Anna\nId=7\nFolder=Anna\n";
    WriteUsers(kept);
    CDesktopUserStore store(m_root);
    ASSERT_TRUE(store.Load());

    DesktopUser added;
    ASSERT_EQ(store.AddUser("Jane Doe/..", &added), CDesktopUserStore::AddResult::kAdded);
    EXPECT_EQ(added.folder, "Jane_Doe___");
    EXPECT_NE(added.id, 7u);
    EXPECT_TRUE(fs::is_directory(m_root + "Jane_Doe___/Backup"));
    EXPECT_EQ(ReadUsers().rfind(kept, 0), 0u);  // only appended to
    EXPECT_EQ(store.AddUser("Jane Doe/.."), CDesktopUserStore::AddResult::kNameTaken);
    EXPECT_EQ(store.AddUser(" Jane"), CDesktopUserStore::AddResult::kBadName);
    EXPECT_EQ(store.AddUser(""), CDesktopUserStore::AddResult::kBadName);

    // A second user whose name makes the same folder gets one of its own.
    DesktopUser second;
    ASSERT_EQ(store.AddUser("Jane Doe:::", &second), CDesktopUserStore::AddResult::kAdded);
    EXPECT_EQ(second.folder, "Jane_Doe____2");
    ASSERT_EQ(store.AddUser("\xc3\x9c", &second), CDesktopUserStore::AddResult::kAdded);
    EXPECT_EQ(second.folder, "User");

    // A fresh store reads what was written.
    CDesktopUserStore again(m_root);
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(Names(again),
              (std::vector<std::string>{"Anna", "Jane Doe/..", "Jane Doe:::", "\xc3\x9c"}));
    EXPECT_EQ(FindUserDirectory(&again, "Jane Doe/.."), m_root + "Jane_Doe___/");

    // Removing drops the entry's lines only; its folder stays.
    ASSERT_TRUE(again.RemoveUser(added.id));
    EXPECT_FALSE(again.RemoveUser(added.id));
    EXPECT_EQ(ReadUsers().rfind(kept, 0), 0u);
    EXPECT_EQ(ReadUsers().find("Folder=Jane_Doe___\n"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(m_root + "Jane_Doe___/Backup"));
    ASSERT_TRUE(again.RemoveUser(7));
    EXPECT_EQ(ReadUsers().find("Anna"), std::string::npos);
    EXPECT_NE(ReadUsers().find("# my own notes\n[User]\nName=Broken entry"), std::string::npos);

    // Adding the name again takes the old folder back, with its backups.
    std::ofstream(m_root + "Jane_Doe___/Backup/OLD.PRC") << "x";
    ASSERT_EQ(again.AddUser("Jane Doe/..", &added), CDesktopUserStore::AddResult::kAdded);
    EXPECT_EQ(added.folder, "Jane_Doe___");
}

TEST_F(UserStore, RemovingAUserTakesTheEntriesRepeatingItAlong) {
    // The first Jane is skipped for repeating Anna's id: with Anna gone she would take the
    // place of the Jane with id 2, her folder and backups.
    WriteUsers(
        "[User]\nName=Anna\nId=1\nFolder=Anna\n\n[User]\nName=Jane\nId=1\nFolder=J1\n\n"
        "[User]\nName=Jane\nId=2\nFolder=J2\n\n# end\n");
    CDesktopUserStore store(m_root);
    ASSERT_TRUE(store.Load());
    ASSERT_EQ(Names(store), (std::vector<std::string>{"Anna", "Jane"}));
    ASSERT_TRUE(store.RemoveUser(1));
    ASSERT_EQ(store.Users().size(), 1u);
    EXPECT_EQ(store.Users()[0].id, 2u);
    EXPECT_EQ(ReadUsers(), "\n[User]\nName=Jane\nId=2\nFolder=J2\n\n# end\n");
}

TEST_F(UserStore, FirstUserMakesRootAndFileAndAChangedFileIsReadAgain) {
    const std::string root = m_root + "deep/Users/";
    CDesktopUserStore store(root);
    EXPECT_FALSE(store.Load());
    ASSERT_EQ(store.AddUser("Jane"), CDesktopUserStore::AddResult::kAdded);
    EXPECT_TRUE(store.Load());
    EXPECT_EQ(store.UmGetUserCount(), 1);
    std::ifstream file(root + "users.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}).rfind("# ", 0), 0u);

    // Another program adds a user: the next count sees it.
    CDesktopUserStore other(root);
    ASSERT_EQ(other.AddUser("Otto"), CDesktopUserStore::AddResult::kAdded);
    EXPECT_EQ(store.UmGetUserCount(), 2);
    EXPECT_NE(FindUserDirectory(&store, "Otto"), "");
}

TEST_F(UserStore, RootFromSettings) {
    CMemorySettings settings;
    ::setenv("XDG_DATA_HOME", (m_root + "data").c_str(), 1);
    EXPECT_EQ(CDesktopUserStore::RootFromSettings(settings), m_root + "data/Cradlecourier/Users/");
    EXPECT_FALSE(LoadDesktopUserStore(settings));
    settings.WriteText("main", "usersroot", m_root + "mine");
    EXPECT_EQ(CDesktopUserStore::RootFromSettings(settings), m_root + "mine/");
    WriteUsers("");
    settings.WriteText("main", "UsersRoot", m_root);
    EXPECT_TRUE(LoadDesktopUserStore(settings));
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/jane", 1);
    settings.WriteText("main", "UsersRoot", "~/Palm");
    EXPECT_EQ(CDesktopUserStore::RootFromSettings(settings), "/home/jane/Palm/");
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
