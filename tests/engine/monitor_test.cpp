// The window's share of a transfer over a recording view, with a session that has no
// handheld behind it (its fields are set as the worker would).
#include <gtest/gtest.h>

#include <thread>

#include "engine/install_worker.h"
#include "engine/transfer_monitor.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"

namespace {

class CRecordingView final : public ITransferView {
  public:
    std::vector<std::string> statuses, captions, messages, tempFiles;
    int position = -1, range = -1, frame = -1;
    std::string elapsed, userDir;
    bool answer = true;
    bool cancelToOk = false;

    void SetStatus(const std::string& t) override { statuses.push_back(t); }
    void SetCaption(const std::string& t) override { captions.push_back(t); }
    void SetProgress(int p, int r) override {
        position = p;
        range = r;
    }
    void SetElapsed(const std::string& t) override { elapsed = t; }
    void SetAnimationFrame(int f) override { frame = f; }
    bool AskOkCancel(const std::string& t) override {
        messages.push_back(t);
        return answer;
    }
    void SetCancelButtonToOk() override { cancelToOk = true; }
    void StoreUserDir(const std::string& d) override { userDir = d; }
    void AddTempFile(const std::string& p) override { tempFiles.push_back(p); }
};

class Monitor : public ::testing::Test {
  protected:
    void SetUp() override {
        resources::SetLanguage(resources::Language::kEnglish);
        testing::internal::CaptureStderr();
        m_session = std::make_unique<CDeviceSession>("/dev/cc-test-none", true, 0);
        testing::internal::GetCapturedStderr();
        g_evAck.Reset();
        g_evPictureDone.Reset();
    }
    void TearDown() override { resources::SetLanguage(resources::SystemLanguage()); }

    uint32_t m_now = 100000;
    std::vector<int> m_sleeps;
    CRecordingView m_view;
    CTransferMonitor m_monitor{m_view, [this] { return m_now; },
                               [this](int ms) { m_sleeps.push_back(ms); }};
    std::unique_ptr<CDeviceSession> m_session;
};

TEST_F(Monitor, ProgressTextsAreSetOnlyWhenTheyChange) {
    m_monitor.Start();
    m_session->m_files.Add("/d/a.prc");
    m_session->m_files.Add("/d/b.prc");
    m_session->m_files.Add("/d/c.prc");
    m_session->m_files.Rewind();
    m_session->m_files.Next();
    m_session->m_nFileBytesTotal = 10000;
    m_session->m_nFileBytesDone = 5000;
    m_now += 65000;
    m_monitor.OnTransferTimer(*m_session);
    EXPECT_EQ(m_view.position, 150);
    EXPECT_EQ(m_view.range, 300);
    ASSERT_EQ(m_view.statuses.size(), 1u);
    EXPECT_EQ(m_view.statuses[0], "[2/3] b.prc");
    ASSERT_EQ(m_view.captions.size(), 1u);
    EXPECT_EQ(m_view.captions[0], "[50%] transferred");
    EXPECT_EQ(m_view.elapsed, "01:05");

    m_monitor.OnTransferTimer(*m_session);  // nothing new to show
    EXPECT_EQ(m_view.statuses.size(), 1u);
    EXPECT_EQ(m_view.captions.size(), 1u);
    m_session->m_nFileBytesDone = 10000;
    m_monitor.OnTransferTimer(*m_session);
    EXPECT_EQ(m_view.statuses.size(), 1u);
    ASSERT_EQ(m_view.captions.size(), 2u);
    EXPECT_EQ(m_view.captions[1], "[66%] transferred");
}

TEST_F(Monitor, AnimationWrapsAfterFourteenFrames) {
    for (int i = 0; i < 13; ++i) m_monitor.OnTimer(*m_session);
    EXPECT_EQ(m_view.frame, 13);
    m_monitor.OnTimer(*m_session);
    EXPECT_EQ(m_view.frame, 0);
}

TEST_F(Monitor, ErrorIsShownOnceAcknowledgedAndCleared) {
    m_session->m_nError = kRunErrNotInstalled;
    m_monitor.OnTransferTimer(*m_session);
    ASSERT_EQ(m_view.messages.size(), 1u);
    EXPECT_EQ(m_view.messages[0], "unknown format of file");
    EXPECT_EQ(m_session->m_nError, 0);
    EXPECT_EQ(m_session->m_bCancel, 0);
    EXPECT_TRUE(g_evAck.Wait(0));
    EXPECT_FALSE(m_monitor.ErrorShown());
    EXPECT_TRUE(m_view.statuses.empty());  // the error branch alone ran this tick
}

TEST_F(Monitor, CancelInTheDeviceFullBoxCancelsTheRun) {
    m_view.answer = false;
    m_session->m_nError = kRunErrMemoryFull;
    m_monitor.OnTransferTimer(*m_session);
    ASSERT_EQ(m_view.messages.size(), 1u);
    EXPECT_EQ(m_view.messages[0], "Device full");  // no storage figures without a handheld
    EXPECT_EQ(m_session->m_bCancel, 1);
    EXPECT_TRUE(g_evAck.Wait(0));
}

TEST_F(Monitor, ArchiveMessagesCarryTheSessionText) {
    CopyText(m_session->m_szMessage, "/tmp/x.cca");
    m_session->m_nError = kRunErrNeedEzCpu;
    m_monitor.OnTransferTimer(*m_session);
    ASSERT_EQ(m_view.messages.size(), 1u);
    EXPECT_EQ(m_view.messages[0],
              "CCA: Need DragonballEZ CPU to install\n/tmp/x.cca\nArchiv skipped.");
}

class CFakeConverter final : public IPictureConverter {
  public:
    bool succeed = true;
    std::string seenPicture, seenDb, seenViewer;
    std::string UnpackViewer() override { return "/tmp/VIEWER.PRC"; }
    bool Convert(const std::string& picture, const std::string& db, const std::string& viewer,
                 const CDeviceSession&) override {
        seenPicture = picture;
        seenDb = db;
        seenViewer = viewer;
        return succeed;
    }
};

TEST_F(Monitor, PictureBranchPutsTheDatabaseIntoTheSlot) {
    CFakeConverter converter;
    m_monitor.SetPictureConverter(&converter);
    m_session->m_files.Add("/d/a.prc");
    m_session->m_files.Add("/pics/Holiday.jpeg");
    m_session->m_files.Rewind();
    m_session->m_files.Next();
    m_session->m_bPictureWait = 1;
    m_monitor.OnTransferTimer(*m_session);
    EXPECT_EQ(converter.seenPicture, "/pics/Holiday.jpeg");
    EXPECT_EQ(converter.seenViewer, "/tmp/VIEWER.PRC");
    ASSERT_FALSE(converter.seenDb.empty());
    EXPECT_EQ(FileNameOf(converter.seenDb), "Holiday.PDB");
    EXPECT_STREQ(m_session->m_files.At(1), converter.seenDb.c_str());
    ASSERT_EQ(m_view.statuses.size(), 1u);
    EXPECT_EQ(m_view.statuses[0], "Converting Holiday.jpeg");
    EXPECT_EQ(m_view.tempFiles, (std::vector<std::string>{"/tmp/VIEWER.PRC", converter.seenDb}));
    EXPECT_EQ(m_sleeps, std::vector<int>{1000});
    EXPECT_TRUE(g_evPictureDone.Wait(0));
    EXPECT_FALSE(m_monitor.Converting());
}

TEST_F(Monitor, FailedPictureKeepsItsPathAndStillSignals) {
    CFakeConverter converter;
    converter.succeed = false;
    m_monitor.SetPictureConverter(&converter);
    m_session->m_files.Add("/pics/x.bmp");
    m_session->m_files.Rewind();
    m_session->m_bPictureWait = 1;
    m_monitor.OnTransferTimer(*m_session);
    EXPECT_STREQ(m_session->m_files.At(0), "/pics/x.bmp");
    EXPECT_TRUE(g_evPictureDone.Wait(0));
}

TEST_F(Monitor, WithoutConverterThePictureStaysAndTheWorkerGoesOn) {
    m_session->m_files.Add("/pics/x.bmp");
    m_session->m_files.Rewind();
    m_session->m_bPictureWait = 1;
    m_monitor.OnTransferTimer(*m_session);
    EXPECT_STREQ(m_session->m_files.At(0), "/pics/x.bmp");
    EXPECT_TRUE(g_evPictureDone.Wait(0));
}

TEST_F(Monitor, InstallDoneSummaryAndUserDirectory) {
    m_monitor.Start();
    m_now += 3400;
    m_session->m_nBytesSent = 10000;
    CopyText(m_session->m_szUserDir, "/home/u/Palm/User/");
    m_monitor.OnInstallDone(*m_session);
    ASSERT_FALSE(m_view.captions.empty());
    EXPECT_EQ(m_view.captions.back(), "Pilot upload ready!");
    ASSERT_FALSE(m_view.statuses.empty());
    EXPECT_EQ(m_view.statuses.back(), "Ready (3.4 seconds / 9.0 KB) !");
    EXPECT_EQ(m_view.position, 1);
    EXPECT_EQ(m_view.range, 1);
    EXPECT_TRUE(m_view.cancelToOk);
    EXPECT_EQ(m_view.userDir, "/home/u/Palm/User/");
    EXPECT_EQ(m_view.frame, 0);
}

TEST_F(Monitor, InstallDoneWithFailuresAndNoUserDirectory) {
    m_monitor.Start();
    m_session->m_nFailed = 1;
    m_monitor.OnInstallDone(*m_session);
    EXPECT_EQ(m_view.statuses.back(), "Finished (0.0 seconds) with errors");
    EXPECT_EQ(m_view.userDir, "");
}

TEST(Worker, WithoutSessionItOnlyPosts) {
    struct Sink : IInstallDoneSink {
        int posts = 0;
        void PostInstallDone() override { ++posts; }
    } sink;
    g_pSession = nullptr;
    EXPECT_EQ(InstallWorker(&sink), 0);
    EXPECT_EQ(sink.posts, 1);
}

}  // namespace

namespace {

class CReportView final : public ITransferView {
  public:
    std::vector<std::string> statuses, report;
    int position = -1, range = -1;
    void SetStatus(const std::string& t) override { statuses.push_back(t); }
    void SetCaption(const std::string&) override {}
    void SetProgress(int p, int r) override {
        position = p;
        range = r;
    }
    void SetElapsed(const std::string&) override {}
    bool AskOkCancel(const std::string&) override { return true; }
    void ShowReport(const std::vector<std::string>& lines) override { report = lines; }
};

// A backup of the whole handheld shows its databases in place of the install list, and its
// report comes at the end, after the summary.
TEST_F(Monitor, WholeBackupProgressAndReport) {
    CReportView view;
    CTransferMonitor monitor(
        view, [this] { return m_now; }, [](int) {});
    monitor.Start();
    m_session->m_nPhase = CDeviceSession::kPhaseListing;
    monitor.OnTransferTimer(*m_session);
    EXPECT_EQ(view.statuses.back(), "Reading the handheld's list of databases...");
    m_session->m_nPhase = CDeviceSession::kPhaseBackup;
    m_session->m_nPhaseCount = 4;
    m_session->m_nPhaseIndex = 2;
    m_session->SetPhaseName("MemoDB");
    m_session->m_nFileBytesTotal = 10;
    m_session->m_nFileBytesDone = 5;
    monitor.OnTransferTimer(*m_session);
    EXPECT_EQ(view.statuses.back(), "[3/4] Backing up MemoDB");
    EXPECT_EQ(view.position, 250);
    EXPECT_EQ(view.range, 400);
    m_session->m_nPhase = CDeviceSession::kPhaseRestore;
    monitor.OnTransferTimer(*m_session);
    EXPECT_EQ(view.statuses.back(), "[3/4] Restoring MemoDB");

    m_session->m_nPhase = CDeviceSession::kPhaseInstall;
    m_session->m_nBytesRead = 4096;
    m_session->m_listReport = {"Backup of the handheld: 3 copied, 0 unchanged, 1 not copied",
                               "not copied: Busy (open on the handheld)"};
    monitor.OnInstallDone(*m_session);
    EXPECT_NE(view.statuses.back().find("4.0 KB"), std::string::npos) << view.statuses.back();
    EXPECT_EQ(view.report, m_session->m_listReport);
}

}  // namespace
