// The window's file list: queueing rules, sizes, removal, recent files, drops, and names
// that must never block or break the list.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <fstream>

#include "engine/file_paths.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"
#include "ui/uri_list.h"

namespace uitest {
namespace {

using namespace installer;

void WriteBytes(const std::string& path, size_t n) {
    std::ofstream(path, std::ios::binary) << std::string(n, 'x');
}

QTreeWidget* List(CInstallerView& d) {
    return static_cast<QTreeWidget*>(d.Item(kIdList));
}

std::vector<std::string> RecentMenu(CInstallerView& d) {
    std::vector<std::string> texts;
    for (QAction* a : d.FileMenu()->actions()) {
        const int id = a->data().toInt();
        if (id >= kCmdFirstRecent && id <= kCmdLastRecent) texts.push_back(a->text().toStdString());
    }
    return texts;
}

TEST(FilePaths, PartsLengthsAndKinds) {
    EXPECT_EQ(SplitPathPart("/home/u/notes.txt.d/a.b.prc", 1), "");
    EXPECT_EQ(SplitPathPart("/home/u/notes.txt.d/a.b.prc", 2), "/home/u/notes.txt.d/");
    EXPECT_EQ(SplitPathPart("/home/u/notes.txt.d/a.b.prc", 3), "a.b");
    EXPECT_EQ(SplitPathPart("/home/u/notes.txt.d/a.b.prc", 4), ".prc");
    EXPECT_EQ(SplitPathPart("/home/u/notes.txt.d/a.b.prc", 5), "a.b.prc");
    EXPECT_EQ(SplitPathPart("/home/u/notes.txt.d/a.b.prc", 6), "/home/u/notes.txt.d/");
    EXPECT_EQ(SplitPathPart("/x/README", 4), "");
    EXPECT_EQ(SplitPathPart("/x/a.prc", 7), "");

    const std::string dir = testdb::ScratchDir("file-kinds");
    const std::string fifo = dir + "x.pdb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // None of these may block on a FIFO without a writer.
    EXPECT_FALSE(FileCanBeOpened(fifo));
    EXPECT_EQ(GetFileLength(fifo), 0);
    EXPECT_FALSE(IsPlainFile(fifo));
    EXPECT_EQ(CheckQueueable(fifo), QueueCheck::kSpecial);
    EXPECT_EQ(CheckQueueable("/dev/null"), QueueCheck::kSpecial);
    EXPECT_EQ(CheckQueueable(dir), QueueCheck::kDirectory);
    ::symlink((dir + "gone").c_str(), (dir + "dangling.prc").c_str());
    EXPECT_EQ(CheckQueueable(dir + "dangling.prc"), QueueCheck::kMissing);
    EXPECT_FALSE(FileCanBeOpened(""));
    EXPECT_EQ(GetFileLength(""), 0);
    std::filesystem::remove_all(dir);
}

TEST(UriList, LocalFilesExactlyAndEverythingElseRefused) {
    const auto items = ParseUriList(
        "# from a file manager\r\nfile:///home/u/a%20b.prc\r\nfile://localhost/x/%FF%0A.pdb\r\n"
        "file://box/y.prc\r\nhttps://example.org/z.prc\r\nfile:///bad%zz\r\nfile:///n%00ul\r\n"
        "file:/short.prc\n",
        "box");
    ASSERT_EQ(items.size(), 7u);
    EXPECT_TRUE(items[0].local);
    EXPECT_EQ(items[0].path, "/home/u/a b.prc");
    EXPECT_EQ(items[1].path, "/x/\xff\n.pdb");
    EXPECT_TRUE(items[2].local);  // this machine's own name
    EXPECT_FALSE(items[3].local);
    EXPECT_EQ(items[3].address, "https://example.org/z.prc");
    EXPECT_FALSE(items[4].local);
    EXPECT_FALSE(items[5].local);
    EXPECT_EQ(items[6].path, "/short.prc");
    EXPECT_FALSE(ParseUriList("file://other/y.prc", "box")[0].local);
}

// The queue's rules are CInstallerDlg's (tests/ui_logic); here the list view shows them.
TEST_F(WindowTest, TheListViewShowsTheQueue) {
    CInstallerDlg& d = Open();
    WriteBytes(Path("exact.prc"), 1024);
    WriteBytes(Path("over.prc"), 1025);
    WriteBytes(Path("Over.prc"), 2047);
    for (const char* name :
         {"exact.prc", "over.prc", "Over.prc", "a.txt", "b.txt", "missing.prc"}) {
        d.AddFile(Path(name));
    }
    d.RefreshView();
    QTreeWidget* list = List(View());
    ASSERT_EQ(list->topLevelItemCount(), 6);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "exact.prc");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "1024 Bytes");
    EXPECT_EQ(list->topLevelItem(1)->text(1), "1 KB");
    EXPECT_EQ(list->topLevelItem(2)->text(1), "1 KB");
    EXPECT_EQ(list->topLevelItem(0)->text(3), QString::fromStdString(m_dir));
    EXPECT_EQ(list->topLevelItem(0)->text(2), "RAM");
    EXPECT_EQ(list->topLevelItem(5)->text(1), "0 Bytes");
    EXPECT_TRUE(Status().startsWith("[6] Waiting for connect on port COM1"));

    // Several selected rows go at once, by the Delete key.
    list->topLevelItem(1)->setSelected(true);
    list->topLevelItem(3)->setSelected(true);
    list->topLevelItem(5)->setSelected(true);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(list, &del);
    ASSERT_EQ(d.m_listInstall.size(), 3u);
    EXPECT_EQ(d.m_listInstall[1], Path("Over.prc"));
}

TEST_F(WindowTest, TheDestinationColumnShowsForACardAndLeavesRoomForThePath) {
    for (const auto language : {resources::Language::kEnglish, resources::Language::kGerman}) {
        resources::SetLanguage(language);
        settings.WriteInt("main", "Destination", 7);  // not a destination: the memory
        settings.WriteInt("main", "Verify", 0);
        CInstallerDlg& d = Open();
        View().show();
        WriteBytes(Path("game.prc"), 3000);
        WriteBytes(Path("photo.bmp"), 100);
        EXPECT_TRUE(d.AddFile(Path("game.prc")));
        EXPECT_TRUE(d.AddFile(Path("photo.bmp")));
        d.RefreshView();
        QTreeWidget* list = List(View());
        QCoreApplication::processEvents();
        // Everything to the memory: no column to say so.
        EXPECT_TRUE(d.MenuStateIs(installer::kCmdToRam, 0x8));
        EXPECT_TRUE(list->isColumnHidden(2));
        const int nameWidth = list->columnWidth(0);

        d.OnCommand(installer::kCmdToCard);
        QCoreApplication::processEvents();
        EXPECT_EQ(settings.ReadInt("main", "Destination", -1), 1);
        EXPECT_TRUE(d.MenuStateIs(installer::kCmdToCard, 0x8));
        EXPECT_FALSE(d.MenuStateIs(installer::kCmdToRam, 0x8));
        EXPECT_FALSE(list->isColumnHidden(2));
        const bool german = language == resources::Language::kGerman;
        EXPECT_EQ(list->headerItem()->text(2), german ? "Ziel" : "To");
        EXPECT_EQ(list->topLevelItem(0)->text(2), german ? "Karte" : "card");
        EXPECT_EQ(list->topLevelItem(1)->text(2), "RAM");  // pictures stay in memory
        // Name, size, destination and a good part of the path, without scrolling.
        const QFontMetrics metrics(list->font());
        EXPECT_GE(list->columnWidth(0), metrics.horizontalAdvance("CradleNotes.pdb"));
        EXPECT_GE(list->columnWidth(2),
                  metrics.horizontalAdvance(german ? "RAM/Karte" : "RAM/card"));
        EXPECT_GE(list->columnWidth(3), metrics.horizontalAdvance("/home/user/"));
        EXPECT_LE(list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(2) +
                      list->columnWidth(3),
                  list->viewport()->width());

        d.OnCommand(installer::kCmdToAuto);
        EXPECT_EQ(list->topLevelItem(0)->text(2), german ? "RAM/Karte" : "RAM/card");
        d.OnCommand(installer::kCmdToRam);
        EXPECT_TRUE(list->isColumnHidden(2));
        EXPECT_EQ(list->columnWidth(0), nameWidth);
        EXPECT_EQ(settings.ReadInt("main", "Destination", -1), 0);
        // The read-back is an option of its own, stored at once.
        d.OnCommand(installer::kCmdVerify);
        EXPECT_EQ(settings.ReadInt("main", "Verify", -1), 1);
        m_dlg.reset();
    }
    resources::SetLanguage(resources::Language::kEnglish);
}

TEST_F(WindowTest, NamesThatMustNotBlockOrBreakTheList) {
    CInstallerDlg& d = Open();
    ASSERT_EQ(::mkfifo(Path("x.pdb").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Path("fifo.txt").c_str(), 0600), 0);
    EXPECT_FALSE(d.AddFile(Path("x.pdb")));
    EXPECT_FALSE(d.AddFile(Path("fifo.txt")));
    EXPECT_FALSE(d.AddFile("/dev/zero"));
    EXPECT_FALSE(d.AddFile(m_dir));
    EXPECT_EQ(conversions, 0);
    const std::string odd = Path("odd\xff\nname.prc");
    WriteBytes(odd, 2048);
    EXPECT_TRUE(d.AddFile(odd));
    d.RefreshView();
    EXPECT_EQ(List(View())->topLevelItem(0)->text(0), QString::fromUtf8("odd\uFFFD\uFFFDname.prc"));
    EXPECT_EQ(List(View())->topLevelItem(0)->text(1), "2 KB");
    EXPECT_TRUE(RecentMenu(View()).empty());  // a name the settings cannot hold stays out
    List(View())->topLevelItem(0)->setSelected(true);
    d.RemoveSelected();
    EXPECT_TRUE(d.m_listInstall.empty());

    // Drops: local files queued, the rest named in one message each.
    WriteBytes(Path("ok.prc"), 10);
    ::symlink(Path("gone").c_str(), Path("dangling.prc").c_str());
    View().DropUriList("file://" + Path("ok.prc") + "\r\nhttps://example.org/a.prc\r\nfile://" +
                       Path("x.pdb") + "\r\nfile://" + Path("dangling.prc") + "\r\nfile://" +
                       m_dir + "\r\nfile://" + Path("odd%FF%0Aname.prc") + "\r\n");
    EXPECT_EQ(d.m_listInstall, (std::vector<std::string>{Path("ok.prc"), odd}));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Only files on this computer can be installed:\nhttps://example.org/a.prc");
    EXPECT_NE(shown[1].find(Path("x.pdb")), std::string::npos);
    EXPECT_NE(shown[1].find(Path("dangling.prc")), std::string::npos);
    d.m_bTransferRunning = true;
    View().DropUriList("file://" + Path("ok.prc") + "2\r\n");
    EXPECT_EQ(d.m_listInstall.size(), 2u);
}

// The rules of the recent list are CInstallerDlg's (tests/ui_logic); here the Qt menu
// shows them and its items reach the window.
TEST_F(WindowTest, TheRecentMenuAndTheAddButton) {
    CInstallerDlg& d = Open();
    for (const char* name : {"f0.prc", "R&D.prc"}) WriteBytes(Path(name), 5);
    chosen = {Path("f0.prc"), Path("R&D.prc"), Path("f0.prc")};
    static_cast<QPushButton*>(View().Item(kIdAdd))->click();
    EXPECT_EQ(d.m_listInstall, (std::vector<std::string>{Path("f0.prc"), Path("R&D.prc")}));
    // Most recent first; an "&" shows as it is.
    ASSERT_EQ(RecentMenu(View()), (std::vector<std::string>{Path("R&&D.prc"), Path("f0.prc")}));
    std::vector<QAction*> items;
    for (QAction* a : View().FileMenu()->actions()) {
        if (a->data().toInt() >= kCmdFirstRecent) items.push_back(a);
    }
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]->text().remove(QLatin1Char('&')).toStdString(), Path("f0.prc"));
    // Chosen from the menu: the entry moves to the top.
    std::filesystem::remove(Path("R&D.prc"));
    items[1]->trigger();
    EXPECT_EQ(RecentMenu(View()), (std::vector<std::string>{Path("f0.prc"), Path("R&&D.prc")}));
    View().FileMenu()->actions().back()->trigger();  // gone: the message, and out of the menu
    EXPECT_EQ(shown, std::vector<std::string>{"Could not open " + Path("R&D.prc") + "!"});
    EXPECT_EQ(RecentMenu(View()).size(), 1u);

    // Temporary files go when the window closes.
    WriteBytes(Path("t.pdb"), 1);
    d.AddTempFile(Path("t.pdb"));
    static_cast<QPushButton*>(View().Item(kIdCancel))->click();
    EXPECT_FALSE(std::filesystem::exists(Path("t.pdb")));
}

}  // namespace
}  // namespace uitest
