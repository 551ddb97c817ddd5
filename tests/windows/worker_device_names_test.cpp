// Names in the install list that are devices on Windows ("NUL", "CON", "\\.\COM1"): never
// opened for reading, reported as not installed, and the run goes on.
#include <gtest/gtest.h>

#include "tests/session/db_builder.h"
#include "tests/support/worker_harness.h"

namespace {

class WorkerDeviceNames : public testsupport::CWorkerRunFixture {};

TEST_F(WorkerDeviceNames, InTheListTheyDoNotBlockTheRun) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("b.prc"), testdb::Info("Bee", true, "appl", "Bee1"),
                                        {{"code", 1, testdb::Bytes(100, 1)}}));
    Run({Path("NUL.pdb"), Path("con.cca"), "\\\\.\\COM1", Path("b.prc")});
    EXPECT_EQ(view.codes, (std::vector<int>{18, 18}));  // the archive is dropped silently
    EXPECT_TRUE(m_hh->FindDatabase("Bee"));
}

}  // namespace
