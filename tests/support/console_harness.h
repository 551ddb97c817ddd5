// The console front end and the virtual handheld as the user runs them: two programs
// speaking over a pseudo-terminal. The handheld writes out its card when the sync ends.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pdb/palm_db_file.h"
#include "tests/support/child_process.h"

namespace testsupport {

class CConsoleRunFixture : public ::testing::Test {
  protected:
    CConsoleRunFixture(std::string cliPath, std::string handheldPath)
        : m_cliPath(std::move(cliPath)), m_handheldPath(std::move(handheldPath)) {}

    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& n) const { return m_dir + n; }

    // Starts the handheld; its pseudo-terminal's path.
    std::string StartHandheld(std::vector<std::string> extra = {});
    // Starts a network handheld that connects to the desktop on the loopback address; the
    // port it connects to (a free one).
    uint16_t StartNetHandheld(std::vector<std::string> extra = {});
    // Runs the front end to its end; its exit status. With mergeStderr its error output is
    // part of m_cliOut.
    int RunCli(std::vector<std::string> args, const std::function<void(CChild&)>& during = {},
               bool mergeStderr = false);
    void WaitHandheld();
    // A database the handheld wrote out, by its file name.
    std::unique_ptr<pdb::CPalmDbFile> Written(const std::string& fileName) const;

    std::string m_dir, m_out, m_cliOut;
    std::unique_ptr<CChild> m_hh;

  private:
    std::string m_cliPath, m_handheldPath;
    // The programs' settings and desktop users live in the test's folder
    // (m_dir + "config/" and m_dir + "data/"), never in the home of whoever runs the tests.
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnv;
};

}  // namespace testsupport
