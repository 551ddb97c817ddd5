// The session's file-side operations and its behaviour on a port it cannot open.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "session/device_session.h"
#include "tests/session/db_builder.h"

namespace {

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(SessionFiles, MidiFileIsRecognisedByItsHeader) {
    const std::string dir = testdb::ScratchDir("midi");
    WriteBytes(dir + "a.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1});
    WriteBytes(dir + "b.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 7, 0, 0});
    WriteBytes(dir + "c.mid", {'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0});
    WriteBytes(dir + "short.mid", {'M', 'T', 'h', 'd'});
    EXPECT_TRUE(CDeviceSession::IsMidiFile((dir + "a.mid").c_str()));
    EXPECT_FALSE(CDeviceSession::IsMidiFile((dir + "b.mid").c_str()));
    EXPECT_FALSE(CDeviceSession::IsMidiFile((dir + "c.mid").c_str()));
    EXPECT_FALSE(CDeviceSession::IsMidiFile((dir + "short.mid").c_str()));
    EXPECT_FALSE(CDeviceSession::IsMidiFile((dir + "missing.mid").c_str()));
    EXPECT_FALSE(CDeviceSession::IsMidiFile(nullptr));
}

class BackupCopy : public ::testing::Test {
  protected:
    void SetUp() override { m_dir = testdb::ScratchDir("backupcopy"); }
    std::string m_dir;
};

TEST_F(BackupCopy, ResourceDatabaseIsCopiedWithHeaderAndLastVersionText) {
    const std::string src = m_dir + "app.prc";
    const std::vector<uint8_t> appInfo = testdb::Bytes(40, 9);
    ASSERT_TRUE(testdb::WriteResourceDb(src, testdb::Info("My App", true, "appl", "MyAp"),
                                        {{"code", 0, testdb::Bytes(100, 1)},
                                         {"tver", 1, {'1', '.', '0', 0}},
                                         {"data", 0, {}},
                                         {"tver", 2, {'3', '.', '5', 0}}},
                                        appInfo));
    auto in = pdb::CPalmDbFile::Open(src);
    ASSERT_TRUE(in);
    std::string version = "stale";
    ASSERT_TRUE(CDeviceSession::WriteBackupCopy(*in, m_dir + "copy.prc", version, 255));
    EXPECT_EQ(version, "3.5");  // the last 'tver' wins

    auto out = pdb::CPalmDbFile::Open(m_dir + "copy.prc");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Info().name, "My App");
    EXPECT_EQ(out->Info().type, in->Info().type);
    EXPECT_EQ(out->Info().creator, in->Info().creator);
    EXPECT_EQ(out->Info().createDate, in->Info().createDate);
    EXPECT_EQ(out->Info().attributes, in->Info().attributes);
    ASSERT_EQ(out->EntryCount(), 4);
    std::vector<uint8_t> block;
    out->GetAppInfo(block);
    EXPECT_EQ(block, appInfo);
    for (int i = 0; i < 4; ++i) {
        pdb::Resource a, b;
        in->ReadResource(i, a);
        out->ReadResource(i, b);
        EXPECT_EQ(a.type, b.type);
        EXPECT_EQ(a.id, b.id);
        EXPECT_EQ(a.data, b.data);
    }
}

TEST_F(BackupCopy, VersionTextIsCutToCapacityLessOne) {
    const std::string src = m_dir + "long.prc";
    ASSERT_TRUE(testdb::WriteResourceDb(src, testdb::Info("Long", true, "appl", "Long"),
                                        {{"tver", 1, {'1', '2', '3', '4', '5', '6', 0}}}));
    auto in = pdb::CPalmDbFile::Open(src);
    ASSERT_TRUE(in);
    std::string version;
    ASSERT_TRUE(CDeviceSession::WriteBackupCopy(*in, m_dir + "c1.prc", version, 4));
    EXPECT_EQ(version, "123");
    ASSERT_TRUE(CDeviceSession::WriteBackupCopy(*in, m_dir + "c2.prc", version, 6));
    EXPECT_EQ(version, "12345");  // six characters and no room for the end
    version = "kept";
    ASSERT_TRUE(CDeviceSession::WriteBackupCopy(*in, m_dir + "c3.prc", version, 0));
    EXPECT_EQ(version, "kept");  // capacity 0: the text is not touched
}

TEST_F(BackupCopy, RecordDatabaseKeepsRecordAttributesAndSortInfo) {
    const std::string src = m_dir + "data.pdb";
    ASSERT_TRUE(
        testdb::WriteRecordDb(src, testdb::Info("Data", false, "DATA", "Dat1"),
                              {testdb::Rec(10, 1, 0x40, 3, 0x1001), testdb::Rec(0, 2, 0, 0, 0x1002),
                               testdb::Rec(300, 3, pdb::kRecAttrDeleted, 15, 0x1003)},
                              testdb::Bytes(20, 4), testdb::Bytes(6, 5)));
    auto in = pdb::CPalmDbFile::Open(src);
    ASSERT_TRUE(in);
    std::string version = "x";
    ASSERT_TRUE(CDeviceSession::WriteBackupCopy(*in, m_dir + "copy.pdb", version, 255));
    EXPECT_EQ(version, "");
    auto out = pdb::CPalmDbFile::Open(m_dir + "copy.pdb");
    ASSERT_TRUE(out);
    ASSERT_EQ(out->EntryCount(), 3);
    std::vector<uint8_t> a, b;
    in->GetSortInfo(a);
    out->GetSortInfo(b);
    EXPECT_EQ(a, b);
    for (int i = 0; i < 3; ++i) {
        pdb::Record x, y;
        in->ReadRecord(i, x);
        out->ReadRecord(i, y);
        EXPECT_EQ(x.data, y.data);
        EXPECT_EQ(x.attributes, y.attributes);
        EXPECT_EQ(x.category, y.category);
        EXPECT_EQ(x.uid, y.uid);
    }
}

TEST_F(BackupCopy, FailsWhenTheCopyCannotBeCreatedOrWritten) {
    const std::string src = m_dir + "x.prc";
    ASSERT_TRUE(testdb::WriteResourceDb(src, testdb::Info("X", true, "appl", "XXXX"),
                                        {{"code", 1, testdb::Bytes(8, 1)}}));
    auto in = pdb::CPalmDbFile::Open(src);
    ASSERT_TRUE(in);
    std::string version;
    EXPECT_FALSE(CDeviceSession::WriteBackupCopy(*in, m_dir + "no-such-dir/x.prc", version, 255));
    // Created, but the device refuses every byte: the copy does not exist, so no success.
    EXPECT_FALSE(CDeviceSession::WriteBackupCopy(*in, "/dev/full", version, 255));
}

TEST(SessionPort, MissingPortLeavesNoSocketAndSaysPiBind) {
    testing::internal::CaptureStderr();
    CDeviceSession session("/dev/cc-test-no-such-port", true, 57600);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(session.m_sd, -1);
    EXPECT_NE(err.find("pi_bind"), std::string::npos) << err;
    EXPECT_STREQ(session.m_szPort, "/dev/cc-test-no-such-port");
    EXPECT_FALSE(session.IsHotSyncPressed());
    EXPECT_FALSE(session.Accept());
    EXPECT_EQ(session.GetLinkRate(), -1);
    EXPECT_EQ(session.m_nError, 0);
    EXPECT_EQ(session.m_nFailed, 0);
    EXPECT_EQ(session.m_files.Count(), 0);
    session.Close();  // harmless without a socket
}

TEST(SessionPort, UsbOverLibusbWithoutAHandheld) {
    // Where libusb cannot start (no USB file system) the port is busy; elsewhere the bus
    // holds no handheld: the poll looks three times and gives up, the accept in time.
    testing::internal::CaptureStderr();
    CDeviceSession session("USB", true, -1);
    testing::internal::GetCapturedStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.IsHotSyncPressed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    if (session.m_sd != -1) {
        hotsync::LinkTimeouts t;
        t.acceptMs = 300;
        session.SetLinkTimeouts(t);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(session.Accept());
        EXPECT_NE(testing::internal::GetCapturedStderr().find("pi_accept"), std::string::npos);
    }
    session.Close();
}

TEST(SessionPort, ProcessorAndColourWithoutAConnectionOnOldRom) {
    testing::internal::CaptureStderr();
    CDeviceSession session("/dev/cc-test-no-such-port", true, 0);
    testing::internal::GetCapturedStderr();
    session.m_dwRomVersion = 0x02003000;
    EXPECT_FALSE(session.CheckColor());
    EXPECT_FALSE(session.CheckProcessor());
    EXPECT_EQ(session.m_bOldCpu, 1);
    EXPECT_EQ(session.m_bEzCpu, 0);
    // From 3.0 on the features are asked for; unreadable ones claim nothing.
    session.m_dwRomVersion = 0x03500000;
    EXPECT_FALSE(session.CheckColor());
    EXPECT_FALSE(session.CheckProcessor());
    EXPECT_EQ(session.m_bOldCpu, 0);
    EXPECT_EQ(session.m_bEzCpu, 0);
}

TEST(SessionLayout, FieldWidthsAreThoseOfTheRecord) {
    CDeviceSession* s = nullptr;
    EXPECT_EQ(sizeof(s->m_sd), 4u);
    EXPECT_EQ(sizeof(s->m_dwDisplayFeature), 4u);
    EXPECT_EQ(sizeof(s->m_bButtonSeen), 1u);
    EXPECT_EQ(sizeof(s->m_bCancel), 1u);
    EXPECT_EQ(sizeof(s->m_nError), 4u);
    EXPECT_EQ(sizeof(s->m_nBytesSent), 4u);
    EXPECT_EQ(sizeof(s->m_szUserDir), 512u);
    EXPECT_EQ(sizeof(s->m_szPort), 255u);
    EXPECT_EQ(sizeof(s->m_szMessage), 257u);
    EXPECT_EQ(sizeof(s->m_nFileBytesDone), 4u);
    EXPECT_EQ(sizeof(s->m_nFileBytesTotal), 4u);
}

}  // namespace
