// The installation history window and the desktop users dialog over generated user folders,
// and the main window's share: the user library at initialisation, the history command, the
// users dialog, and a whole run with backups whose copies the history then lists.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "engine/user_library.h"
#include "shell/desktop_users.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"
#include "ui/qt/desktop_users_view.h"
#include "ui/qt/history_view.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;
using namespace installer;

class HistoryTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_root = Path("users/");
        settings.WriteText("main", "UsersRoot", m_root);
    }
    // Users in the file's order: name and folder; their log and backups written by hand.
    void Users(const std::vector<std::pair<std::string, std::string>>& users) {
        fs::create_directories(m_root);
        std::ofstream file(m_root + "users.txt");
        uint32_t id = 10;
        for (const auto& [name, folder] : users) {
            file << "[User]\nName=" << name << "\nId=" << id++ << "\nFolder=" << folder << "\n";
            fs::create_directories(m_root + folder + "/Backup");
        }
    }
    void Log(const std::string& folder, const std::string& text) {
        std::ofstream(m_root + folder + "/CCourier.log", std::ios::binary) << text;
    }
    void Backup(const std::string& folder, const std::string& name) {
        std::ofstream(m_root + folder + "/Backup/" + name) << "x";
    }
    std::unique_ptr<CDesktopUserStore> Store() {
        auto store = std::make_unique<CDesktopUserStore>(m_root);
        EXPECT_TRUE(store->Load());
        return store;
    }
    static std::vector<std::string> Column(const QTreeWidget* list, int column) {
        std::vector<std::string> texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            texts.push_back(list->topLevelItem(i)->text(column).toStdString());
        }
        return texts;
    }

    std::string m_root;
};

TEST_F(HistoryTest, OpensOnTheWindowsUserWithItsLogAndCopies) {
    // Not in alphabetical order; the user without a log comes first.
    Users({{"Zoe", "Zoe"}, {"anna", "Anna"}, {"Bert", "Bert"}});
    Log("Bert",
        "MEMOS.PDB, , Thu Jan 18 09:05:00 2001\r\n"
        "GAME.PRC, 1.0, Fri Jan 19 10:00:00 2001\r\n"
        "GAME.PRC, 1.1, Sat Jan 20 11:00:00 2001\r\n");
    Backup("Bert", "GAME.PRC");
    auto store = Store();
    CHistoryView dlg(store.get(), m_root + "Bert/");

    QComboBox* users = dlg.Users();
    ASSERT_EQ(users->count(), 3);
    EXPECT_EQ(users->itemText(0), "anna");
    EXPECT_EQ(users->itemText(1), "Bert");
    EXPECT_EQ(users->itemText(2), "Zoe");
    EXPECT_EQ(users->itemData(1).toUInt(), 12u);
    EXPECT_EQ(users->currentText(), "Bert");

    const QTreeWidget* list = dlg.List();
    ASSERT_EQ(list->columnCount(), 4);
    EXPECT_EQ(list->headerItem()->text(2), "Installationdate");
    EXPECT_EQ(list->headerItem()->text(3), "Exist");
    EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"MEMOS.PDB", "GAME.PRC", "GAME.PRC"}));
    EXPECT_EQ(Column(list, 1), (std::vector<std::string>{" ", " 1.0", " 1.1"}));
    EXPECT_EQ(Column(list, 3), (std::vector<std::string>{"", "", "X"}));
    EXPECT_FALSE(dlg.DeleteButton()->isEnabled());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);

    // Another user: that user's directory and (no) log.
    users->setCurrentIndex(0);
    dlg.Dialog().OnUserChange(0);
    EXPECT_EQ(dlg.Dialog().m_strUserDir, m_root + "Anna/");
    EXPECT_EQ(list->topLevelItemCount(), 0);

    // The same folder, written otherwise: no user's directory exactly, so nothing selected.
    CHistoryView other(store.get(), m_root + "./Bert/");
    EXPECT_EQ(other.Users()->currentIndex(), -1);
    EXPECT_EQ(other.List()->topLevelItemCount(), 3);
}

TEST_F(HistoryTest, AllBackupFilesAndDeletingACopy) {
    Users({{"Bert", "Bert"}});
    Log("Bert", "GAME.PRC, 1.0, d\r\n");
    Backup("Bert", "GAME.PRC");
    Backup("Bert", "LOOSE.PDB");
    CHistoryView dlg(nullptr, m_root + "Bert/");  // no library: an empty user list
    EXPECT_EQ(dlg.Users()->count(), 0);
    EXPECT_EQ(dlg.List()->topLevelItemCount(), 1);

    dlg.AllFiles()->click();
    EXPECT_EQ(dlg.Dialog().m_bAllFiles, 1);
    EXPECT_EQ(Column(dlg.List(), 0), (std::vector<std::string>{"GAME.PRC", "LOOSE.PDB"}));
    EXPECT_EQ(Column(dlg.List(), 3), (std::vector<std::string>{"X", "X"}));
    dlg.AllFiles()->click();
    EXPECT_EQ(dlg.List()->topLevelItemCount(), 1);

    std::vector<std::string> questions;
    bool yes = false;
    dlg.m_askYesNo = [&](const std::string& text) {
        questions.push_back(text);
        return yes;
    };
    dlg.List()->setCurrentItem(dlg.List()->topLevelItem(0));
    EXPECT_TRUE(dlg.DeleteButton()->isEnabled());
    dlg.DeleteButton()->click();  // answered No
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "Do really want to remove this backup file\n\"GAME.PRC\"?");
    EXPECT_TRUE(fs::exists(m_root + "Bert/Backup/GAME.PRC"));
    yes = true;
    dlg.DeleteButton()->click();
    EXPECT_FALSE(fs::exists(m_root + "Bert/Backup/GAME.PRC"));
    // The row stays, without its "X"; nothing is selected to delete now.
    EXPECT_EQ(Column(dlg.List(), 3), (std::vector<std::string>{""}));
    EXPECT_FALSE(dlg.DeleteButton()->isEnabled());
    dlg.List()->setCurrentItem(dlg.List()->topLevelItem(0));
    EXPECT_FALSE(dlg.DeleteButton()->isEnabled());
}

TEST_F(HistoryTest, GermanTexts) {
    resources::SetLanguage(resources::Language::kGerman);
    Users({{"Bert", "Bert"}});
    CHistoryView dlg(nullptr, m_root + "Bert/");
    EXPECT_EQ(dlg.windowTitle(), "Verlauf der Installationen");
    EXPECT_EQ(dlg.List()->headerItem()->text(2), "Installationsdatum");
    EXPECT_EQ(dlg.List()->headerItem()->text(3), "Existiert");
    EXPECT_EQ(dlg.AllFiles()->text(), "&Alle Sicherungsdateien");
    EXPECT_EQ(dlg.DeleteButton()->text(), "&L\u00f6schen");
}

TEST_F(HistoryTest, UsersDialogOffersTheLastHandheldsName) {
    CDesktopUserStore store(m_root);
    CDesktopUsersView dlg(store, "Virtual User");
    EXPECT_EQ(dlg.NameBox()->currentText(), "Virtual User");
    EXPECT_FALSE(dlg.RemoveButton()->isEnabled());
    dlg.Dialog().OnAdd();
    ASSERT_EQ(dlg.List()->topLevelItemCount(), 1);
    EXPECT_EQ(dlg.List()->topLevelItem(0)->text(1).toStdString(), m_root + "Virtual_User/Backup/");
    EXPECT_EQ(dlg.NameBox()->currentText(), "");  // offered no more: it is a user now
    EXPECT_TRUE(dlg.Dialog().Changed());

    std::vector<std::string> notices;
    dlg.m_showMessage = [&](const std::string& text) { notices.push_back(text); };
    dlg.NameBox()->setEditText("Virtual User");
    dlg.Dialog().OnAdd();
    dlg.NameBox()->setEditText(" padded");
    dlg.Dialog().OnAdd();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], "There is already a desktop user \"Virtual User\".");
    EXPECT_EQ(notices[1].rfind("\" padded\" cannot be a handheld's user name", 0), 0u);

    dlg.m_askYesNo = [](const std::string& text) {
        EXPECT_NE(text.find("\"Virtual User\""), std::string::npos);
        return true;
    };
    dlg.List()->setCurrentItem(dlg.List()->topLevelItem(0));
    EXPECT_TRUE(dlg.RemoveButton()->isEnabled());
    dlg.Dialog().OnRemove();
    EXPECT_EQ(dlg.List()->topLevelItemCount(), 0);
    EXPECT_TRUE(fs::is_directory(m_root + "Virtual_User/Backup"));  // kept
}

TEST_F(HistoryTest, WindowGreysBackupAndHistoryWithoutTheStore) {
    Open();
    EXPECT_FALSE(View().Action(kCmdBackup)->isEnabled());
    EXPECT_FALSE(View().Action(kCmdHistory)->isEnabled());
    EXPECT_EQ(g_pUserLibrary.load(), nullptr);

    // The users dialog makes the store with its first user: both come alive.
    settings.WriteText("main", "LastHandheldUser", "Virtual User");
    std::string offered;
    View().m_execDialog = [&](QDialog& dialog) {
        auto& users = dynamic_cast<CDesktopUsersView&>(dialog);
        offered = users.NameBox()->currentText().toStdString();
        users.AddButton()->click();
        return 1;
    };
    View().Action(kCmdDesktopUsers)->trigger();
    EXPECT_EQ(offered, "Virtual User");
    EXPECT_TRUE(View().Action(kCmdBackup)->isEnabled());
    EXPECT_TRUE(View().Action(kCmdHistory)->isEnabled());
    EXPECT_EQ(FindUserDirectory(g_pUserLibrary, "Virtual User"), m_root + "Virtual_User/");

    // A window closed puts the library back.
    m_dlg.reset();
    EXPECT_NE(g_pUserLibrary.load(), nullptr);
    EXPECT_EQ(FindUserDirectory(g_pUserLibrary, "Virtual User"), "");
}

TEST_F(HistoryTest, HistoryCommandNeedsAUserDirectory) {
    Users({{"Bert", "Bert"}});
    int historyOpened = 0;
    std::string dir;
    CInstallerDlg& d = Open();
    View().m_execDialog = [&](QDialog& dialog) {
        ++historyOpened;
        dir = dynamic_cast<CHistoryView&>(dialog).Dialog().m_strUserDir;
        return 1;
    };
    EXPECT_TRUE(View().Action(kCmdHistory)->isEnabled());
    d.OnCommand(kCmdHistory);
    EXPECT_EQ(historyOpened, 0);  // no transfer has found a user yet
    d.m_strUserDir = m_root + "Bert/";
    d.OnCommand(kCmdHistory);
    EXPECT_EQ(historyOpened, 1);
    EXPECT_EQ(dir, m_root + "Bert/");
}

TEST_F(HistoryTest, RunWithBackupsThenTheHistoryListsTheCopies) {
    Users({{"Virtual User", "Virtual"}});
    settings.WriteInt("main", "BackupToDir", 1);
    WithHandheld();
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("a.prc"), testdb::Info("Window App", true, "appl", "WiAp"),
        {{"code", 1, testdb::Bytes(2000, 1)}, {"tver", 1, {'1', '.', '2', 0}}}));
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("b.pdb"), testdb::Info("Window Data", false, "DATA", "WiDa"), {testdb::Rec(300, 2)}));
    CInstallerDlg& d = Open(false);
    d.AddFile(Path("a.prc"));
    d.AddFile(Path("b.pdb"));
    View().InitDialog();
    ASSERT_TRUE(View().Action(kCmdBackup)->isChecked());
    ASSERT_TRUE(RunTransfer());
    EXPECT_TRUE(asked.empty() && shown.empty());

    const std::string userDir = m_root + "Virtual/";
    EXPECT_EQ(settings.ReadText("main", "Userdir", ""), userDir);
    EXPECT_EQ(settings.ReadText("main", "LastHandheldUser", ""), "Virtual User");
    EXPECT_TRUE(fs::exists(userDir + "Backup/WINDOW APP.PRC"));
    EXPECT_TRUE(fs::exists(userDir + "Backup/WINDOW DATA.PDB"));

    std::vector<std::string> names, versions, exist;
    View().m_execDialog = [&](QDialog& dialog) {
        auto& history = dynamic_cast<CHistoryView&>(dialog);
        names = Column(history.List(), 0);
        versions = Column(history.List(), 1);
        exist = Column(history.List(), 3);
        EXPECT_EQ(history.Users()->currentText(), "Virtual User");
        return 1;
    };
    d.OnCommand(kCmdHistory);
    EXPECT_EQ(names, (std::vector<std::string>{"WINDOW APP.PRC", "WINDOW DATA.PDB"}));
    EXPECT_EQ(versions, (std::vector<std::string>{" 1.2", " "}));
    EXPECT_EQ(exist, (std::vector<std::string>{"X", "X"}));
}

TEST_F(HistoryTest, RunForAnotherHandheldUserLeavesNothing) {
    Users({{"Someone Else", "Else"}});
    settings.WriteInt("main", "BackupToDir", 1);
    WithHandheld();
    ASSERT_TRUE(testdb::WriteResourceDb(Path("a.prc"),
                                        testdb::Info("Window App", true, "appl", "WiAp"),
                                        {{"code", 1, testdb::Bytes(2000, 1)}}));
    CInstallerDlg& d = Open(false);
    d.AddFile(Path("a.prc"));
    View().InitDialog();
    ASSERT_TRUE(RunTransfer());
    EXPECT_TRUE(asked.empty() && shown.empty());
    EXPECT_TRUE(fs::is_empty(m_root + "Else/Backup"));
    EXPECT_FALSE(fs::exists(m_root + "Else/CCourier.log"));
    EXPECT_EQ(settings.ReadText("main", "Userdir", "(none)"), "(none)");
    int historyOpened = 0;
    View().m_execDialog = [&](QDialog&) { return ++historyOpened; };
    d.OnCommand(kCmdHistory);
    EXPECT_EQ(historyOpened, 0);
}

}  // namespace
}  // namespace uitest
