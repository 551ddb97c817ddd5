// Names in the install list that are no plain files on Linux: FIFOs and devices.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/session/db_builder.h"
#include "tests/support/worker_harness.h"

namespace {

class WorkerSpecialFiles : public testsupport::CWorkerRunFixture {};

// Names that became a FIFO or a device after they were queued are never opened for
// reading (that would wait for ever): reported as not installed, the run goes on.
TEST_F(WorkerSpecialFiles, FifoAndDeviceInTheListDoNotBlockTheRun) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("b.prc"), testdb::Info("Bee", true, "appl", "Bee1"),
                                        {{"code", 1, testdb::Bytes(100, 1)}}));
    ASSERT_EQ(::mkfifo(Path("x.pdb").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Path("y.cca").c_str(), 0600), 0);
    Run({Path("x.pdb"), Path("y.cca"), "/dev/zero", Path("b.prc")});
    EXPECT_EQ(view.codes, (std::vector<int>{18, 18}));  // the archive is dropped silently
    EXPECT_TRUE(m_hh->FindDatabase("Bee"));
}

}  // namespace
