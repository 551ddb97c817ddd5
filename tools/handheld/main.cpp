// cc-handheld: the virtual handheld as a program, on a pseudo-terminal or the network.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "tools/handheld/pty_transport.h"
#include "tools/handheld/tcp_client_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

volatile std::sig_atomic_t g_bSignalled = 0;

void OnSignal(int) {
    g_bSignalled = 1;
}

}  // namespace

int main(int argc, char** argv) {
    handheld::ProgramOptions options;
    std::string message;
    if (handheld::ParseProgramOptions(argc, argv, options, message) != 0) {
        std::fprintf(stderr, "cc-handheld: %s\n", message.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(handheld::ProgramUsage().c_str(), stdout);
        return 0;
    }
    if (!options.pty && options.net.empty()) {
        std::fprintf(stderr, "cc-handheld: no line to speak on; use --pty or --net (see --help)\n");
        return 2;
    }

    // Preload now so that a bad file is reported before the path is printed.
    const std::vector<std::string> loads = options.config.loadFiles;
    const std::vector<std::string> romLoads = options.config.romFiles;
    options.config.loadFiles.clear();
    options.config.romFiles.clear();
    handheld::CVirtualHandheld hh(options.config);
    for (const auto& path : loads) {
        if (hh.LoadFile(path, &message) != 0) {
            std::fprintf(stderr, "cc-handheld: cannot load %s\n", message.c_str());
            return 1;
        }
    }
    for (const auto& path : romLoads) {
        if (hh.LoadRomFile(path, &message) != 0) {
            std::fprintf(stderr, "cc-handheld: cannot load %s into ROM\n", message.c_str());
            return 1;
        }
    }
    std::unique_ptr<hotsync::ITransport> line;
    if (!options.net.empty()) {
        std::string host;
        uint16_t port = 0;
        handheld::ParseHostPort(options.net, host, port);
        line = std::make_unique<handheld::CTcpClientTransport>(host, port, options.netWakeups);
    } else {
        auto pty = std::make_unique<handheld::CPtyTransport>();
        if (pty->Open() != 0) {
            std::fprintf(stderr, "cc-handheld: cannot open a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return 1;
        }
        std::printf("%s\n", pty->SlavePath().c_str());
        std::fflush(stdout);
        line = std::move(pty);
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    hh.Start(*line);
    while (!hh.WaitDone(100)) {
        if (g_bSignalled) hh.Stop();
    }
    hh.Join();
    // A window that polls the port after its run must still find it there.
    while (options.stay && !g_bSignalled) ::usleep(100 * 1000);
    const int code = hh.ExitCode();
    const auto outcomes = hh.Outcomes();
    for (size_t i = 0; i < outcomes.size(); ++i) {
        std::fprintf(stderr, "cc-handheld: sync %zu: %s\n", i + 1,
                     handheld::SyncOutcomeName(outcomes[i]));
    }
    return code == 3 ? 130 : code;
}
