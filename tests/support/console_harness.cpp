#include "tests/support/console_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

uint16_t CConsoleRunFixture::StartNetHandheld(std::vector<std::string> extra) {
    // A port no one listens on: the kernel's pick, given back at once.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const uint16_t port = ntohs(address.sin_port);
    std::vector<std::string> args = {m_handheldPath,
                                     "--net",
                                     "127.0.0.1:" + std::to_string(port),
                                     "--out",
                                     m_out,
                                     "--timeout",
                                     "20",
                                     "--wakeup-interval",
                                     "100"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_hh = std::make_unique<CChild>(args);
    return port;
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
