#include "shell/linux/proc_port_holder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string CommandName(const fs::path& processDir) {
    std::ifstream comm(processDir / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace

std::vector<PortHolder> CProcPortHolderFinder::Find(const std::string& devicePath) {
    std::vector<PortHolder> holders;
    std::error_code ec;
    // The device as its links resolve (a udev name such as /dev/serial/by-id/...).
    const fs::path device = fs::weakly_canonical(devicePath, ec);
    if (ec || devicePath.empty()) return holders;
    const std::string self = std::to_string(::getpid());
    fs::directory_iterator processes(m_root, ec);
    if (ec) return holders;
    for (const fs::directory_entry& process : processes) {
        const std::string pid = process.path().filename().string();
        if (!AllDigits(pid) || pid == self) continue;
        std::error_code fdError;
        fs::directory_iterator fds(process.path() / "fd", fdError);
        if (fdError) continue;  // another user's process, or gone meanwhile
        for (const fs::directory_entry& fd : fds) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd.path(), linkError);
            if (linkError || target != device) continue;
            holders.push_back({std::atoll(pid.c_str()), CommandName(process.path())});
            break;
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}
