// The main window's rules through a recording view: menu checks and greying, the boxes,
// the list area, closing, the hand-over, the recent files, the queue's rules, drops, and
// the timer's step. No toolkit: these run wherever the program runs.
#include <fstream>

#include "tests/ui_logic/fake_installer_view.h"
#include "ui/installer_layout.h"

namespace uilogic {
namespace {

using namespace installer;

void WriteBytes(const std::string& path, size_t n) {
    std::ofstream(path, std::ios::binary) << std::string(n, 'x');
}

TEST_F(InstallerLogic, MenuChecksComeFromTheSettingsAndAreTheLiveStore) {
    settings.WriteInt("main", "SyncDate", 1);
    settings.WriteInt("main", "Destination", 7);  // foreign: the memory
    CInstallerDlg& d = Open();
    // Each option's mark from its setting, the open dialog's default being checked.
    EXPECT_TRUE(view.checks[kCmdSetTime]);
    EXPECT_TRUE(view.checks[kCmdOpenDialog]);
    EXPECT_FALSE(view.checks[kCmdBackup]);
    EXPECT_TRUE(d.MenuStateIs(kCmdOpenDialog, kStateChecked));
    // No desktop users: what needs them is greyed, and a greyed check is not "checked".
    for (int id : {kCmdBackup, kCmdHistory, kCmdBackupAll, kCmdRestore}) {
        EXPECT_FALSE(view.enabled[id]) << id;
    }
    d.SetMenuCheck(kCmdBackup, true);
    EXPECT_FALSE(d.MenuStateIs(kCmdBackup, kStateChecked));
    EXPECT_TRUE(d.MenuStateIs(kCmdBackup, kStateChecked | kStateGrayed));
    EXPECT_FALSE(d.MenuStateIs(4711, 0));  // no such item

    // A toggle flips the mark, tells the view and stores the new state.
    d.OnCommand(kCmdSetTime);
    EXPECT_FALSE(view.checks[kCmdSetTime]);
    EXPECT_EQ(settings.ReadInt("main", "SyncDate", 1), 0);
    d.OnCommand(kCmdPicCompress);
    d.OnCommand(kCmdVerify);
    EXPECT_EQ(settings.ReadInt("fileformats", "piccompress", 0), 1);
    EXPECT_EQ(settings.ReadInt("main", "Verify", 0), 1);
    d.OnCommand(kCmdPicCompress);
    EXPECT_EQ(settings.ReadInt("fileformats", "piccompress", 1), 0);

    // The destinations are one choice of three.
    EXPECT_TRUE(view.checks[kCmdToRam]);
    EXPECT_FALSE(view.whereShown);
    d.OnCommand(kCmdToCard);
    EXPECT_EQ(d.m_nDestination, kDestinationCard);
    EXPECT_TRUE(view.checks[kCmdToCard]);
    EXPECT_FALSE(view.checks[kCmdToRam]);
    EXPECT_FALSE(view.checks[kCmdToAuto]);
    EXPECT_TRUE(view.whereShown);
    EXPECT_EQ(settings.ReadInt("main", "Destination", -1), 1);
    d.OnCommand(kCmdToRam);
    EXPECT_FALSE(view.whereShown);
    // Choosing the checked one again keeps it checked.
    d.OnCommand(kCmdToRam);
    EXPECT_TRUE(view.checks[kCmdToRam]);
}

TEST_F(InstallerLogic, TheListAreaFollowsItsSettingAndTheMenu) {
    settings.WriteInt("main", "FileList", 0);
    CInstallerDlg& d = Open();
    EXPECT_FALSE(view.listShown);
    EXPECT_FALSE(view.checks[kCmdFileList]);
    d.OnCommand(kCmdFileList);
    EXPECT_TRUE(view.listShown);
    EXPECT_TRUE(view.checks[kCmdFileList]);
    EXPECT_EQ(settings.StoredName("main", "FileList"), "Filelist");
    EXPECT_EQ(settings.ReadInt("main", "FileList", 0), 1);
    // Asked for the state it has, the area is left alone; the mark is set anyway.
    const int changes = view.areaChanges;
    d.ShowFileList(true);
    EXPECT_EQ(view.areaChanges, changes);
    EXPECT_TRUE(view.checks[kCmdFileList]);
}

TEST_F(InstallerLogic, PortAndSpeedBoxes) {
    settings.WriteInt("com", "Speed", -1);
    CInstallerDlg& d = Open(false);
    d.SetPortFromText("/COM9");
    d.OnInitDialog();
    // The first session on the given port; the box shows COM1, and the refresh stores it.
    EXPECT_EQ(sessions.at(0), "COM9@-1");
    EXPECT_EQ(view.portIndex, 0);
    EXPECT_EQ(d.m_nPort, 1);
    EXPECT_EQ(view.speedIndex, -1);
    EXPECT_EQ(d.GetSpeed(), -1);
    EXPECT_EQ(view.portLabels.size(), 10u);
    EXPECT_EQ(view.timerMs, 180);
    EXPECT_EQ(view.status, "[0] Waiting for connect on port COM1... (press HotSync)");

    // USB keeps the COM number; a new port closes the old session first, after a pause.
    d.m_nPort = 3;
    view.portIndex = kUsbIndex;
    sessions.clear();
    d.OnPortChange();
    EXPECT_EQ(sessions, std::vector<std::string>{"USB@-1"});
    EXPECT_EQ(sleeps, std::vector<int>{250});
    EXPECT_EQ(settings.ReadInt("com", "ComPort", 0), 3);
    EXPECT_EQ(settings.ReadInt("com", "USB", 0), 1);
    d.OnTimer();
    EXPECT_EQ(view.status, "port USB busy");
    view.speedIndex = 6;
    view.portIndex = 4;
    d.OnSpeedChange();
    EXPECT_EQ(sessions.back(), "COM5@9600");
    EXPECT_EQ(sleeps.size(), 1u);  // a speed change does not pause
    view.portIndex = -1;
    EXPECT_EQ(d.GetPortName(), "COM1");
    EXPECT_EQ(PortEntryName(kNetIndex), "NET");
    EXPECT_EQ(SpeedIndex(12345), 3);
}

TEST_F(InstallerLogic, ClosingWhenIdleReportsTheResultAndEndsTheDialog) {
    CInstallerDlg& d = Open();
    WriteBytes(Path("temp.pdb"), 1);
    d.AddTempFile(Path("temp.pdb"));
    d.AddTempFile(Path("temp.pdb"));
    EXPECT_EQ(d.m_listTempFiles.size(), 1u);
    d.OnCancel();
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), -1);
    EXPECT_EQ(view.ended, std::vector<int>{kIdCancel});
    EXPECT_EQ(view.timerMs, 0);
    EXPECT_EQ(d.Session(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(Path("temp.pdb")));
    EXPECT_GE(settings.Flushes(), 1);
    EXPECT_TRUE(exits.empty());
}

TEST_F(InstallerLogic, ClosingDuringATransferEndsTheProcessWithMinusTwo) {
    CInstallerDlg& d = Open();
    d.m_bTransferRunning = true;
    d.OnCancel();
    EXPECT_EQ(view.status, "Cancel transfer (please wait)...");
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), -2);
    EXPECT_EQ(exits, std::vector<int>{0});
    EXPECT_EQ(view.timerMs, 0);
    EXPECT_FALSE(d.m_bTransferRunning);
}

TEST_F(InstallerLogic, WhileATransferRunsTheWindowIgnoresWhatWouldDisturbIt) {
    WriteBytes(Path("a.prc"), 10);
    settings.WriteText("Register", "Name3", Path("a.prc"));
    CInstallerDlg& d = Open();
    d.m_bTransferRunning = true;
    EXPECT_FALSE(d.OnHandOverMessage());
    EXPECT_TRUE(settings.Has("Register", "Name3"));  // left for a later notification
    d.OnCommand(kCmdAbout);
    d.OnSysCommand(16 | 5);
    d.OnLinkClicked();
    EXPECT_FALSE(d.OpenRecentFile(kCmdFirstRecent));
    d.DropFiles({Path("a.prc")}, {});
    d.OnCheckConnection();
    EXPECT_EQ(abouts, 0);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(d.m_listInstall.empty());
    EXPECT_TRUE(view.checkedPorts.empty());

    d.m_bTransferRunning = false;
    EXPECT_TRUE(d.OnHandOverMessage());
    EXPECT_EQ(d.m_listInstall, std::vector<std::string>{Path("a.prc")});
    EXPECT_FALSE(settings.Has("Register", "Name3"));
    d.OnCommand(kCmdAbout);
    d.OnSysCommand(16 | 5);
    d.OnLinkClicked();
    EXPECT_EQ(abouts, 2);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(InstallerLogic, HandedOverSlotsCountEvenWhenTheFileIsQueuedAlready) {
    WriteBytes(Path("a.prc"), 10);
    settings.WriteText("Register", "Name0", Path("a.prc"));
    settings.WriteText("Register", "Name254", Path("a.prc"));
    CInstallerDlg& d = Open();
    EXPECT_TRUE(d.ReadHandedOverFiles());
    EXPECT_EQ(d.m_listInstall.size(), 1u);
    EXPECT_FALSE(settings.Has("Register", "Name254"));
    EXPECT_EQ(view.rows.size(), 1u);
    EXPECT_FALSE(d.ReadHandedOverFiles());
}

TEST_F(InstallerLogic, RecentFilesMostRecentFirstSixteenAtMost) {
    settings.WriteText("Recent", "Recent2", Path("stored.prc"));
    settings.WriteText("Recent", "Recent9", Path("stored.prc"));
    CInstallerDlg& d = Open();
    EXPECT_EQ(d.m_listRecent, std::vector<std::string>{Path("stored.prc")});
    for (int i = 0; i < 17; ++i) WriteBytes(Path("f" + std::to_string(i) + ".prc"), 5);
    for (int i = 0; i < 17; ++i) d.AddFile(Path("f" + std::to_string(i) + ".prc"));
    d.AddFile(Path("f3.prc"));  // queued already: its place stays
    d.RefreshView();
    ASSERT_EQ(d.m_listRecent.size(), 16u);
    EXPECT_EQ(d.m_listRecent.front(), Path("f16.prc"));
    EXPECT_EQ(d.m_listRecent.back(), Path("f1.prc"));
    ASSERT_EQ(view.recent.size(), 16u);
    EXPECT_EQ(view.recent[0], Path("f16.prc"));
    EXPECT_EQ(settings.ReadText("Recent", "Recent15", ""), Path("f1.prc"));

    // An existing entry moves to the top, even though it is queued already.
    EXPECT_TRUE(d.OpenRecentFile(kCmdFirstRecent + 15));
    EXPECT_EQ(d.m_listRecent.front(), Path("f1.prc"));
    EXPECT_EQ(d.m_listInstall.size(), 17u);
    // A vanished one: the message, and it leaves the menu.
    std::filesystem::remove(Path("f16.prc"));
    EXPECT_TRUE(d.OpenRecentFile(kCmdFirstRecent + 1));
    EXPECT_EQ(shown, std::vector<std::string>{"Could not open " + Path("f16.prc") + "!"});
    EXPECT_EQ(view.recent.size(), 15u);
    EXPECT_TRUE(d.OpenRecentFile(kCmdFirstRecent + 15));  // past the end: nothing
    EXPECT_EQ(view.recent.size(), 15u);
}

TEST_F(InstallerLogic, RecentMenuTextsShowNamesAsTheyAre) {
    CInstallerDlg& d = Open();
    WriteBytes(Path("R&D.prc"), 5);
    WriteBytes(Path("odd\xff.prc"), 5);
    d.AddFile(Path("R&D.prc"));
    d.AddFile(Path("odd\xff.prc"));  // the settings could not hold it: not in the menu
    d.RefreshView();
    EXPECT_EQ(view.recent, std::vector<std::string>{Path("R&&D.prc")});
    EXPECT_EQ(view.rows.at(1).name, "odd\xef\xbf\xbd.prc");
}

TEST_F(InstallerLogic, QueueRulesSizesAndRemoval) {
    CInstallerDlg& d = Open();
    WriteBytes(Path("exact.prc"), 1024);
    WriteBytes(Path("over.prc"), 1025);
    std::filesystem::create_directories(Path("notes.txt.d"));
    WriteBytes(Path("notes.txt.d/b.pdb"), 10);
    EXPECT_TRUE(d.AddFile(Path("exact.prc")));
    EXPECT_FALSE(d.AddFile(Path("exact.prc")));
    EXPECT_TRUE(d.AddFile(Path("Exact.prc")));  // letter case makes another path
    EXPECT_TRUE(d.AddFile(Path("over.prc")));
    EXPECT_TRUE(d.AddFile(Path("notes.txt.d/b.pdb")));  // ".TXT" anywhere: converted
    EXPECT_TRUE(d.AddFile(Path("notes.txt.d/b.pdb")));  // and converted again
    EXPECT_FALSE(d.AddFile(Path("bad.txt")));
    EXPECT_FALSE(d.AddFile(m_dir));
    EXPECT_EQ(conversions, 2);
    EXPECT_EQ(d.m_listTempFiles,
              (std::vector<std::string>{Path("converted1.pdb"), Path("converted2.pdb")}));
    EXPECT_EQ(d.m_listRecent.front(), Path("bad.txt"));  // in the menu though not queued
    d.RefreshView();
    ASSERT_EQ(view.rows.size(), 5u);
    EXPECT_EQ(view.rows[0].name, "exact.prc");
    EXPECT_EQ(view.rows[0].size, "1024 Bytes");
    EXPECT_EQ(view.rows[0].path, m_dir);
    EXPECT_EQ(view.rows[0].where, "RAM");
    // No such file where letter case tells names apart; on Windows the same file.
    EXPECT_EQ(view.rows[1].size,
              std::filesystem::exists(Path("Exact.prc")) ? "1024 Bytes" : "0 Bytes");
    EXPECT_EQ(view.rows[2].size, "1 KB");
    EXPECT_EQ(view.status.rfind("[5] Waiting", 0), 0u);

    // Selected rows go, whatever order the view gives them in.
    view.selected = {4, 0, 3, 4, 9};
    d.RemoveSelected();
    EXPECT_EQ(d.m_listInstall, (std::vector<std::string>{Path("Exact.prc"), Path("over.prc")}));
    EXPECT_EQ(view.rows.size(), 2u);

    // The Add command: the chooser's files once each, in its order.
    chosen = {Path("exact.prc"), Path("over.prc"), Path("exact.prc")};
    d.OnCommand(kIdAdd);
    EXPECT_EQ(d.m_listInstall.size(), 3u);
    EXPECT_EQ(d.m_listInstall.back(), Path("exact.prc"));
}

TEST_F(InstallerLogic, DropsQueuePlainFilesAndNameWhatTheyRefuse) {
    CInstallerDlg& d = Open();
    WriteBytes(Path("ok.prc"), 10);
    const std::string longName = Path(std::string(600, 'n'));
    d.DropFiles({Path("ok.prc"), m_dir, Path("gone.prc"), longName},
                {"https://example.org/a.prc", "smb://x/y.prc"});
    EXPECT_EQ(d.m_listInstall, std::vector<std::string>{Path("ok.prc")});
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0],
              "Only files on this computer can be installed:\nhttps://example.org/a.prc\n"
              "smb://x/y.prc");
    EXPECT_NE(shown[1].find(m_dir + "\n" + Path("gone.prc")), std::string::npos);
    // A name is cut where the drop's buffer ends.
    EXPECT_NE(shown[1].find(longName.substr(0, kDroppedNameMax)), std::string::npos);
    EXPECT_EQ(shown[1].find(longName.substr(0, kDroppedNameMax + 1)), std::string::npos);
}

TEST_F(InstallerLogic, TheTimerPollsWhenIdleAndAnimatesDuringARun) {
    CInstallerDlg& d = Open();
    d.OnTimer();
    EXPECT_EQ(view.status.rfind("port COM1 busy", 0), 0u);  // no device behind COM1
    EXPECT_FALSE(d.m_bTransferRunning);

    d.Session()->m_files.Add("/x/one.prc");
    d.m_bTransferRunning = true;
    d.Monitor().Start();
    view.frames.clear();
    for (int i = 0; i < 15; ++i) d.OnTimer();
    // Frames 1 to 13, then 0 again.
    ASSERT_EQ(view.frames.size(), 15u);
    EXPECT_EQ(view.frames[0], 1);
    EXPECT_EQ(view.frames[12], 13);
    EXPECT_EQ(view.frames[13], 0);
    // Each step after the frame is the run's: progress for the one file.
    EXPECT_EQ(view.progressMax, 100);
    EXPECT_EQ(view.elapsed, "00:00");
}

TEST_F(InstallerLogic, TheEndOfARunMakesTheWindowIdleOrClosesIt) {
    CInstallerDlg& d = Open();
    d.SetMenuCheck(kCmdBackupAll, true);
    d.m_listRestore = {"/b/x.pdb"};
    d.m_bTransferRunning = true;
    view.runControls = false;
    view.drops = false;
    sessions.clear();
    d.OnInstallDone();
    EXPECT_FALSE(d.m_bTransferRunning);
    EXPECT_FALSE(view.checks[kCmdBackupAll]);  // for that HotSync only
    EXPECT_TRUE(d.m_listRestore.empty());
    EXPECT_EQ(sessions, std::vector<std::string>{"COM1@57600"});
    EXPECT_TRUE(view.runControls);
    EXPECT_TRUE(view.drops);
    EXPECT_TRUE(view.cancelIsOk);
    EXPECT_TRUE(view.ended.empty());
    d.OnInstallDone();  // a second notice changes nothing
    EXPECT_EQ(sessions.size(), 1u);

    d.m_bCloseOnFinish = true;
    d.m_bTransferRunning = true;
    d.OnInstallDone();
    EXPECT_EQ(view.ended, std::vector<int>{0});
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), -1);  // no transfer had started
    EXPECT_TRUE(exits.empty());
}

TEST_F(InstallerLogic, CommandsThatOpenOtherWindows) {
    CInstallerDlg& d = Open();
    d.OnCommand(kCmdHistory);
    EXPECT_TRUE(view.histories.empty());  // no user directory yet
    d.m_strUserDir = Path("user/");
    d.OnCommand(kCmdHistory);
    EXPECT_EQ(view.histories, std::vector<std::string>{Path("user/")});
    d.OnCommand(kCmdCheckConnection);
    EXPECT_EQ(view.checkedPorts, std::vector<std::string>{"COM1"});
    // Without desktop users there is nothing to restore.
    view.restoreChoice = {"/b/x.pdb"};
    d.OnCommand(kCmdRestore);
    EXPECT_TRUE(d.m_listRestore.empty());
}

}  // namespace
}  // namespace uilogic
