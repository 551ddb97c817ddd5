// The main window: its settings and boxes, the file-list area, the timer's poll, whole runs
// against an in-process handheld, and closing with the run's outcome.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <fstream>

#include "tests/support/worker_harness.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"

namespace uitest {

QString WindowTest::Text(int id) const {
    QWidget* w = m_dlg->Item(id);
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return {};
}

namespace {

using namespace installer;

QComboBox* Box(CInstallerView& d, int id) {
    return static_cast<QComboBox*>(d.Item(id));
}

TEST_F(WindowTest, SettingsAndBoxesAtTheStart) {
    settings.WriteInt("com", "Speed", -1);
    settings.WriteInt("main", "FileList", 0);
    settings.WriteInt("main", "SyncDate", 1);
    CInstallerDlg& d = Open(false);
    d.SetPortFromText("/COM9");
    View().InitDialog();
    // The first session opens the given port; the box shows COM1 and the refresh stores it.
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0], "COM9@-1");
    EXPECT_EQ(Box(View(), kIdPort)->currentText(), "COM1");
    EXPECT_EQ(d.m_nPort, 1);
    EXPECT_EQ(settings.ReadInt("com", "ComPort", 0), 1);
    EXPECT_EQ(Box(View(), kIdSpeed)->currentIndex(), -1);
    EXPECT_EQ(d.GetSpeed(), -1);
    // Opened collapsed, by exactly the list area.
    EXPECT_FALSE(d.IsFileListShown());
    EXPECT_FALSE(View().Action(kCmdFileList)->isChecked());
    EXPECT_EQ(View().height(), View().FullSize().height() - 160);
    EXPECT_TRUE(View().Action(kCmdSetTime)->isChecked());
    EXPECT_TRUE(View().Action(kCmdOpenDialog)->isChecked());  // its menu default is 1
    EXPECT_FALSE(View().Action(kCmdBackup)->isChecked());
    EXPECT_EQ(d.m_nHotSyncStop, -2);  // no HotSync Manager here
    // The poll says why the session's port (COM9) did not open.
    d.OnTimer();
    EXPECT_EQ(Status(), "port COM1 busy (no such device /dev/ttyS8)");
}

TEST_F(WindowTest, AbsurdAndForeignSettingsGiveDefaults) {
    settings.WriteText("com", "Speed", "12345");
    settings.WriteInt("com", "ComPort", 99);
    settings.WriteText("main", "close", "yes");
    settings.WriteInt("com", "Net", 1);
    Open();
    EXPECT_EQ(Box(View(), kIdSpeed)->currentText(), "57600");
    EXPECT_EQ(Box(View(), kIdPort)->currentText(), "NET");
    EXPECT_EQ(settings.ReadInt("com", "ComPort", 0), 99);  // NET keeps the COM number
    EXPECT_EQ(settings.ReadInt("com", "Net", 0), 1);
    EXPECT_FALSE(static_cast<QCheckBox*>(View().Item(kIdCloseOnFinish))->isChecked());
    EXPECT_EQ(sessions[0], "NET@12345");
}

TEST_F(WindowTest, PortAndSpeedChanges) {
    settings.WriteInt("com", "ComPort", 3);
    CInstallerDlg& d = Open();
    EXPECT_EQ(Box(View(), kIdPort)->currentText(), "COM3");
    sessions.clear();
    sleeps.clear();
    Box(View(), kIdPort)->setCurrentIndex(8);
    emit Box(View(), kIdPort)->activated(8);
    EXPECT_EQ(sessions, std::vector<std::string>{"USB@57600"});
    EXPECT_EQ(sleeps, std::vector<int>{250});
    EXPECT_EQ(settings.ReadInt("com", "USB", 0), 1);
    EXPECT_EQ(settings.ReadInt("com", "ComPort", 0), 3);  // USB keeps the COM number
    d.OnTimer();
    EXPECT_EQ(Status(), "port USB busy");

    Box(View(), kIdPort)->setCurrentIndex(4);
    emit Box(View(), kIdPort)->activated(4);
    EXPECT_EQ(settings.ReadInt("com", "USB", 1), 0);
    EXPECT_EQ(settings.ReadInt("com", "ComPort", 0), 5);
    settings.WriteText("com", "Device5", Path("nothing"));
    Box(View(), kIdSpeed)->setCurrentIndex(6);
    emit Box(View(), kIdSpeed)->activated(6);
    EXPECT_EQ(sessions.back(), "COM5@9600");
    EXPECT_EQ(sleeps.size(), 2u);  // a speed change does not pause
    d.OnTimer();
    EXPECT_EQ(Status(),
              QString::fromStdString("port COM5 busy (no such device " + Path("nothing") + ")"));
}

TEST_F(WindowTest, FileListAreaAndOptions) {
    CInstallerDlg& d = Open();
    ASSERT_TRUE(d.IsFileListShown());
    const int fullHeight = View().height();
    std::map<int, int> tops;
    for (int id : kMovedControls) tops[id] = View().Item(id)->y();
    d.OnCommand(kCmdFileList);
    EXPECT_EQ(View().height(), fullHeight - 160);
    for (int id : kMovedControls) EXPECT_EQ(View().Item(id)->y(), tops[id] - 160) << id;
    EXPECT_FALSE(View().Item(kIdList)->isVisibleTo(&View()));
    EXPECT_EQ(settings.StoredName("main", "FileList"), "Filelist");
    EXPECT_EQ(settings.ReadInt("main", "FileList", 1), 0);
    d.OnCommand(kCmdFileList);
    EXPECT_EQ(View().height(), fullHeight);
    for (int id : kMovedControls) EXPECT_EQ(View().Item(id)->y(), tops[id]) << id;

    d.OnCommand(kCmdPicCompress);
    EXPECT_EQ(settings.ReadInt("fileformats", "piccompress", 0), 1);
    EXPECT_TRUE(d.MenuStateIs(kCmdPicCompress, 0x8));
    d.SetMenuCheck(kCmdBackup, true);
    d.EnableMenuItem(kCmdBackup, false);
    EXPECT_TRUE(View().Action(kCmdBackup)->isChecked());
    EXPECT_FALSE(View().Action(kCmdBackup)->isEnabled());
    EXPECT_FALSE(d.MenuStateIs(kCmdBackup, 0x8));  // checked but greyed is not "checked"
    EXPECT_TRUE(d.MenuStateIs(kCmdBackup, 0x9));
    // Chosen from the menu itself, an option toggles once and is stored so.
    View().Action(kCmdSetTime)->trigger();
    EXPECT_TRUE(View().Action(kCmdSetTime)->isChecked());
    EXPECT_TRUE(d.MenuStateIs(kCmdSetTime, 0x8));
    EXPECT_EQ(settings.ReadInt("main", "SyncDate", 0), 1);
    View().Action(kCmdSetTime)->trigger();
    EXPECT_FALSE(View().Action(kCmdSetTime)->isChecked());
    EXPECT_EQ(settings.ReadInt("main", "SyncDate", 1), 0);

    static_cast<QCheckBox*>(View().Item(kIdCloseOnFinish))->click();
    EXPECT_TRUE(d.m_bCloseOnFinish);
    EXPECT_EQ(settings.ReadInt("main", "close", 0), 1);

    // The link icon reacts to the button's release.
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(View().Item(kIdLinkIcon), &release);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(WindowTest, EnterClosesAndReportsThatNothingRan) {
    CInstallerDlg& d = Open();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&View(), &enter);
    EXPECT_EQ(View().result(), QDialog::Rejected);
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), -1);
    EXPECT_EQ(d.Session(), nullptr);
    EXPECT_GE(settings.Flushes(), 1);
    EXPECT_TRUE(exits.empty());
}

TEST_F(WindowTest, ProgressCaptionAndSummariesFromTheSession) {
    CInstallerDlg& d = Open();
    CDeviceSession& s = *d.Session();
    for (const char* f : {"/x/one.prc", "/x/two.pdb", "/x/three.pdb"}) s.m_files.Add(f);
    s.m_files.Rewind();
    s.m_files.Next();
    s.m_nFileBytesTotal = 10000;
    s.m_nFileBytesDone = 5000;
    d.m_bTransferRunning = true;
    d.Monitor().Start();
    d.OnTimer();
    auto* bar = static_cast<QProgressBar*>(View().Item(kIdProgress));
    EXPECT_EQ(bar->value(), 150);
    EXPECT_EQ(bar->maximum(), 300);
    EXPECT_EQ(View().windowTitle(), "[50%] transferred");
    EXPECT_EQ(Status(), "[2/3] two.pdb");
    EXPECT_EQ(Text(kIdElapsed), "00:00");
    d.m_bTransferRunning = false;

    for (const auto& [bytes, text] : std::vector<std::pair<int, std::string>>{
             {1024, "/ 1024.0 Bytes) !"}, {1025, "/ 1.0 KB) !"}, {10000, "/ 9.0 KB) !"}}) {
        d.m_bTransferRunning = true;
        d.Session()->m_nBytesSent = bytes;
        d.OnInstallDone();
        EXPECT_TRUE(Status().endsWith(QString::fromStdString(text))) << Status().toStdString();
        EXPECT_EQ(View().windowTitle(), "Pilot upload ready!");
        EXPECT_EQ(Text(kIdCancel), "OK");
        EXPECT_EQ(bar->value(), bar->maximum());
        ASSERT_NE(d.Session(), nullptr);  // a new one waits for the next press
    }
}

TEST_F(WindowTest, WholeRunClosesOnFinishWithResultZero) {
    WithHandheld();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(
            testdb::WriteResourceDb(Path("app" + std::to_string(i) + ".prc"),
                                    testdb::Info("App " + std::to_string(i), true, "appl", "Tst0"),
                                    {{"code", 1, testdb::Bytes(3000 + 1000 * i, uint8_t(i))}}));
    }
    CInstallerDlg& d = Open(false);
    for (int i = 0; i < 3; ++i) d.AddFile(Path("app" + std::to_string(i) + ".prc"));
    d.m_bCloseOnFinish = true;
    View().InitDialog();
    bool disabled = false;
    ASSERT_TRUE(RunTransfer(60000, [&] {
        disabled = disabled || !View().Item(kIdPort)->isEnabled();
        d.OnHandOverMessage();  // ignored while the run goes on
    }));
    EXPECT_TRUE(disabled);
    EXPECT_EQ(View().result(), 0);
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), 0);
    EXPECT_TRUE(exits.empty());
    ASSERT_TRUE(m_hh->WaitForSyncs(1, 5000));
    const auto dbs = m_hh->Databases();
    ASSERT_EQ(dbs.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        testsupport::ExpectSameAsFile(dbs[static_cast<size_t>(i)],
                                      Path("app" + std::to_string(i) + ".prc"));
    }
}

TEST_F(WindowTest, CancelInDeviceFullEndsTheRun) {
    WithHandheld();
    config.fullAfterBytes = 2000;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(
            testdb::WriteRecordDb(Path("db" + std::to_string(i) + ".pdb"),
                                  testdb::Info("Db " + std::to_string(i), false, "DATA", "Tst1"),
                                  {testdb::Rec(1500, uint8_t(i)), testdb::Rec(1500, 9)}));
    }
    CInstallerDlg& d = Open(false);
    for (int i = 0; i < 3; ++i) d.AddFile(Path("db" + std::to_string(i) + ".pdb"));
    View().InitDialog();
    answer = false;
    ASSERT_TRUE(RunTransfer());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].rfind("Device full\nFree memory: ", 0), 0u) << asked[0];
    EXPECT_TRUE(Status().startsWith("Finished (")) << Status().toStdString();
    ASSERT_TRUE(m_hh->WaitForSyncs(1, 5000));
    EXPECT_TRUE(m_hh->Databases().empty());  // the second one was removed, the third not sent
    EXPECT_NE(d.Session(), nullptr);
    EXPECT_TRUE(View().Item(kIdPort)->isEnabled());
}

TEST_F(WindowTest, CloseDuringATransferExitsWithMinusTwo) {
    WithHandheld();
    config.lineRate = 115200;
    std::vector<pdb::Record> records;
    for (int i = 0; i < 12; ++i) records.push_back(testdb::Rec(6000, uint8_t(i)));
    ASSERT_TRUE(testdb::WriteRecordDb(Path("big.pdb"), testdb::Info("Big", false, "DATA", "Tst2"),
                                      records));
    CInstallerDlg& d = Open(false);
    d.AddFile(Path("big.pdb"));
    std::ofstream(Path("temp.pdb")) << "x";
    d.AddTempFile(Path("temp.pdb"));
    View().InitDialog();
    bool closed = false;
    RunTransfer(30000, [&] {
        if (!closed && d.Session() && d.Session()->m_nFileBytesDone > 0) {
            closed = true;
            View().reject();
        }
    });
    ASSERT_TRUE(closed);
    EXPECT_EQ(exits, std::vector<int>{0});
    EXPECT_EQ(settings.ReadInt("Result", "code", 99), -2);
    EXPECT_GE(settings.Flushes(), 1);
    EXPECT_FALSE(std::filesystem::exists(Path("temp.pdb")));
    EXPECT_EQ(Status(), "Cancel transfer (please wait)...");
    m_hh->Stop();
    for (const auto& db : m_hh->Databases()) EXPECT_NE(db.info.name, "Big");
}

}  // namespace
}  // namespace uitest
