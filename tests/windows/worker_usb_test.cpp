// Whole install runs on Windows through each USB way's logic, over the fakes of its driver,
// with the virtual handheld behind the fake bus: every database arrives as it was.
#include <gtest/gtest.h>

#include "tests/session/db_builder.h"
#include "tests/support/worker_harness.h"

namespace {

using testsupport::RunLink;

class WorkerUsb : public testsupport::CWorkerRunFixture,
                  public ::testing::WithParamInterface<RunLink> {};

TEST_P(WorkerUsb, EveryDatabaseArrivesAsItWas) {
    link = GetParam();
    std::vector<pdb::Record> records;
    for (int i = 0; i < 20; ++i) {
        records.push_back(testdb::Rec(size_t(50 + i * 911), uint8_t(i), 0, uint8_t(i % 16),
                                      uint32_t(0x9000 + i)));
    }
    ASSERT_TRUE(testdb::WriteRecordDb(Path("notes.pdb"),
                                      testdb::Info("Usb Notes", false, "DATA", "UsNt"), records,
                                      testdb::Bytes(200, 3)));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("big.prc"),
                                        testdb::Info("Usb Big", true, "appl", "UsBg"),
                                        {{"code", 1, testdb::Bytes(65536, 1)}}));
    Run({Path("notes.pdb"), Path("big.prc")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(failed, 0);
    ASSERT_EQ(m_hh->Outcomes().size(), 1u);
    EXPECT_EQ(m_hh->Outcomes()[0], handheld::SyncOutcome::kCompleted);
    testsupport::ExpectSameAsFile(*m_hh->FindDatabase("Usb Notes"), Path("notes.pdb"));
    testsupport::ExpectSameAsFile(*m_hh->FindDatabase("Usb Big"), Path("big.prc"));
}

INSTANTIATE_TEST_SUITE_P(Ways, WorkerUsb,
                         ::testing::Values(RunLink::kUsbVendorDriver, RunLink::kUsbWinUsb),
                         [](const auto& p) { return testsupport::RunLinkName(p.param); });

}  // namespace
