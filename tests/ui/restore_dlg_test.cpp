// The restore dialog: its logic over a recording view (the user's backup file by file, all
// checked at first, what OK queues), its Qt view, and the main window's share: the one-shot
// backup of the whole handheld and the restore queued for the next HotSync.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "engine/backup_folder.h"
#include "shell/desktop_users.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"
#include "ui/qt/restore_view.h"
#include "ui/restore_dlg.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;
using namespace installer;

class CRecordingRestoreView final : public IRestoreView {
  public:
    std::vector<std::string> users;
    int selected = -2;
    std::vector<restore::Row> rows;
    std::string note;
    bool all = false, ok = false;

    void ShowUsers(const std::vector<std::string>& names, int s) override {
        users = names;
        selected = s;
    }
    void ShowRows(const std::vector<restore::Row>& r) override { rows = r; }
    void ShowNote(const std::string& text) override { note = text; }
    void ShowAllChecked(bool checked) override { all = checked; }
    void EnableOk(bool enable) override { ok = enable; }
};

class RestoreTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_root = Path("users/");
        settings.WriteText("main", "UsersRoot", m_root);
        fs::create_directories(m_root);
        std::ofstream file(m_root + "users.txt");
        file << "[User]\nName=Virtual User\nId=11\nFolder=Virtual\n"
             << "[User]\nName=Anna\nId=12\nFolder=Anna\n";
        for (const char* folder : {"Virtual", "Anna"}) {
            fs::create_directories(m_root + folder + "/Backup");
        }
        m_store = std::make_unique<CDesktopUserStore>(m_root);
        ASSERT_TRUE(m_store->Load());
    }
    std::string m_root;
    std::unique_ptr<CDesktopUserStore> m_store;
};

TEST(RestoreTexts, SizesAndDates) {
    EXPECT_EQ(restore::SizeText(1024), "1024 Bytes");
    EXPECT_EQ(restore::SizeText(1025), "1 KB");
    EXPECT_EQ(restore::SizeText(-5), "0 Bytes");
    EXPECT_EQ(restore::DateText(0), "");
    EXPECT_EQ(restore::DateText(86400 * 365).size(), 16u);
}

TEST_F(RestoreTest, ListsTheUsersBackupAllCheckedAndQueuesTheChecked) {
    const std::string backup = m_root + "Virtual/Backup/";
    ASSERT_TRUE(testdb::WriteRecordDb(backup + "MEMODB.PDB",
                                      testdb::Info("MemoDB", false, "DATA", "memo"),
                                      {testdb::Rec(3000, 1)}));
    ASSERT_TRUE(testdb::WriteResourceDb(backup + "APP.PRC",
                                        testdb::Info("App", true, "appl", "Ap1x"),
                                        {{"code", 1, testdb::Bytes(100, 1)}}));
    std::ofstream(backup + "readme.txt") << "not a copy";
    HandheldRecord record;
    record.backupTime = 1000000000;
    record.databases = 2;
    ASSERT_TRUE(WriteHandheldRecord(backup, record));

    CRecordingRestoreView view;
    CRestoreDlg dialog(view, m_store.get(), m_root + "Virtual/");
    dialog.Init();
    EXPECT_EQ(view.users, (std::vector<std::string>{"Anna", "Virtual User"}));
    EXPECT_EQ(view.selected, 1);
    ASSERT_EQ(view.rows.size(), 2u);  // the text file is no copy
    EXPECT_EQ(view.rows[0].fileName, "APP.PRC");
    EXPECT_EQ(view.rows[1].fileName, "MEMODB.PDB");
    EXPECT_EQ(view.rows[1].size, "3 KB");
    EXPECT_FALSE(view.rows[1].date.empty());
    EXPECT_TRUE(view.rows[0].checked && view.rows[1].checked);
    EXPECT_TRUE(view.all && view.ok);
    EXPECT_NE(view.note.find("(2 databases)"), std::string::npos) << view.note;
    EXPECT_EQ(dialog.ChosenFiles(),
              (std::vector<std::string>{backup + "APP.PRC", backup + "MEMODB.PDB"}));

    dialog.OnRowChecked(0, false);
    EXPECT_FALSE(view.all);
    EXPECT_TRUE(view.ok);
    EXPECT_EQ(dialog.ChosenFiles(), (std::vector<std::string>{backup + "MEMODB.PDB"}));
    dialog.OnAllClicked(false);
    EXPECT_FALSE(view.ok);
    EXPECT_TRUE(dialog.ChosenFiles().empty());
    dialog.OnRowChecked(7, true);  // no such row: nothing happens
    dialog.OnAllClicked(true);
    EXPECT_EQ(dialog.ChosenFiles().size(), 2u);

    // Anna has backed up nothing.
    dialog.OnUserChange(0);
    EXPECT_EQ(dialog.UserDir(), m_root + "Anna/");
    EXPECT_TRUE(view.rows.empty());
    EXPECT_FALSE(view.ok);
    EXPECT_EQ(view.note, m_root + "Anna/Backup/ holds no backup.");
}

TEST_F(RestoreTest, QtViewFollowsTheTable) {
    ASSERT_TRUE(testdb::WriteRecordDb(m_root + "Virtual/Backup/MEMODB.PDB",
                                      testdb::Info("MemoDB", false, "DATA", "memo"),
                                      {testdb::Rec(30, 1)}));
    CRestoreView view(m_store.get(), m_root + "Virtual/");
    ASSERT_EQ(view.List()->topLevelItemCount(), 1);
    QTreeWidgetItem* item = view.List()->topLevelItem(0);
    EXPECT_EQ(item->text(0), "MEMODB.PDB");
    EXPECT_EQ(item->checkState(0), Qt::Checked);
    item->setCheckState(0, Qt::Unchecked);  // the user's click
    EXPECT_TRUE(view.Dialog().ChosenFiles().empty());
    EXPECT_FALSE(view.Item(restore::kIdOk)->isEnabled());
    EXPECT_FALSE(static_cast<QCheckBox*>(view.Item(restore::kIdAll))->isChecked());
    static_cast<QCheckBox*>(view.Item(restore::kIdAll))->click();
    EXPECT_EQ(view.Dialog().ChosenFiles().size(), 1u);
    EXPECT_EQ(static_cast<QComboBox*>(view.Item(restore::kIdUsers))->currentText(), "Virtual User");
    EXPECT_EQ(static_cast<QLabel*>(view.Item(restore::kIdNote))->text(),
              "No backup of the whole handheld yet.");
}

// The window: "Back up handheld at next HotSync" backs up the whole handheld once into the
// user's folder and clears itself; "Restore..." queues the backup for the next HotSync,
// which puts it onto another, empty handheld.
TEST_F(RestoreTest, WindowBacksUpOnceThenRestoresTheQueuedCopies) {
    WithHandheld();
    CInstallerDlg& d = Open();  // the session, and the handheld behind it
    ASSERT_TRUE(m_hh);
    ASSERT_TRUE(View().Action(kCmdBackupAll)->isEnabled());
    ASSERT_TRUE(View().Action(kCmdRestore)->isEnabled());
    handheld::HandheldDatabase db;
    db.info = testdb::Info("Window Memo", false, "DATA", "memo");
    db.records.push_back(testdb::Rec(500, 3, 0, 2, 0x4321));
    m_hh->AddDatabase(db);
    d.OnCommand(kCmdBackupAll);
    EXPECT_TRUE(View().Action(kCmdBackupAll)->isChecked());
    ASSERT_TRUE(RunTransfer());
    EXPECT_FALSE(View().Action(kCmdBackupAll)->isChecked());
    const std::string backup = m_root + "Virtual/Backup/";
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("Backup of the handheld: 1 copied"), std::string::npos) << shown[0];
    EXPECT_TRUE(fs::exists(backup + "WINDOW MEMO.PDB"));

    // The history shows when the handheld was last backed up whole.
    QString lastBackup;
    View().m_execDialog = [&lastBackup](QDialog& dialog) {
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->text().startsWith("Last backup of the handheld: "))
                lastBackup = label->text();
        }
        return 1;
    };
    d.OnCommand(kCmdHistory);
    EXPECT_TRUE(lastBackup.endsWith("(1 databases)")) << lastBackup.toStdString();

    View().m_execDialog = [](QDialog& dialog) {
        EXPECT_EQ(dynamic_cast<CRestoreView&>(dialog).List()->topLevelItemCount(), 1);
        return int(QDialog::Accepted);
    };
    d.OnCommand(kCmdRestore);
    EXPECT_EQ(d.m_listRestore, (std::vector<std::string>{backup + "WINDOW MEMO.PDB"}));
    EXPECT_TRUE(Status().contains(" - 1 file(s) to restore")) << Status().toStdString();

    WithHandheld();  // a new handheld, as after a hard reset
    d.ReopenSession();
    ASSERT_TRUE(RunTransfer());
    ASSERT_TRUE(m_hh->FindDatabase("Window Memo"));
    EXPECT_EQ(m_hh->FindDatabase("Window Memo")->records.at(0).uid, 0x4321u);
    EXPECT_TRUE(d.m_listRestore.empty());
    EXPECT_NE(shown.back().find("1 restored, 0 not restored"), std::string::npos) << shown.back();
}

}  // namespace
}  // namespace uitest
