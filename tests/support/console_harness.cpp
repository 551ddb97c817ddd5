#include "tests/support/console_harness.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

#include "tests/session/db_builder.h"

namespace testsupport {

void CConsoleRunFixture::SetUp() {
    m_dir = testdb::ScratchDir(std::string("cli-") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    m_out = m_dir + "card";
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
        const char* old = std::getenv(name);
        m_savedEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    ::setenv("XDG_CONFIG_HOME", (m_dir + "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (m_dir + "data").c_str(), 1);
}

void CConsoleRunFixture::TearDown() {
    for (const auto& [name, value] : m_savedEnv) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    m_savedEnv.clear();
    std::filesystem::remove_all(m_dir);
}

std::string CConsoleRunFixture::StartHandheld(std::vector<std::string> extra) {
    std::vector<std::string> args = {m_handheldPath, "--pty", "--out", m_out, "--timeout", "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_hh = std::make_unique<CChild>(args);
    return m_hh->FirstLine(5000);
}

int CConsoleRunFixture::RunCli(std::vector<std::string> args,
                               const std::function<void(CChild&)>& during, bool mergeStderr) {
    args.insert(args.begin(), m_cliPath);
    CChild cli(args, mergeStderr);
    if (during) during(cli);
    const int status = cli.Wait(90000);
    m_cliOut = cli.Output();
    return status;
}

void CConsoleRunFixture::WaitHandheld() {
    if (m_hh) m_hh->Wait(30000);
}

std::unique_ptr<pdb::CPalmDbFile> CConsoleRunFixture::Written(const std::string& fileName) const {
    return pdb::CPalmDbFile::Open(m_out + "/" + fileName);
}

}  // namespace testsupport
