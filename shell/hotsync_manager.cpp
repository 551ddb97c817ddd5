#include "shell/hotsync_manager.h"

#include <chrono>
#include <thread>

#include "platform/path_rules.h"
#include "shell/palm_desktop.h"

namespace {
constexpr int kCloseWaits = 15;
constexpr int kCloseWaitMs = 100;
constexpr int kAfterCloseMs = 1000;
constexpr int kUsbRestartMs = 500;
constexpr int kSerialRestartMs = 1000;
constexpr size_t kPathBytes = 260;
}  // namespace

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int StopHotSyncManager(IHotSyncManagerHost& host, const Sleeper& sleep) {
    if (!host.FindManager()) return -2;
    host.SetBusyCursor(true);
    host.PostClose();
    bool present = host.FindManager();
    for (int waits = 0; present && waits < kCloseWaits; ++waits) {
        sleep(kCloseWaitMs);
        present = host.FindManager();
    }
    int result = -1;
    if (!present) {
        sleep(kAfterCloseMs);
        result = 0;
    }
    host.SetBusyCursor(false);
    return result;
}

int RestartHotSyncManager(IHotSyncManagerHost& host, const IPalmDesktopValues& values, bool usb,
                          const std::string& commandLine, const Sleeper& sleep) {
    if (!values.HasCore()) return -1;
    std::string program = values.HotSyncPath().value_or("").substr(0, kPathBytes);
    if (program.empty()) program = GetPalmDesktopPath(values) + "HotSync.exe";
    // Drive and folder of the program, with the separator at the end.
    const size_t name = platform::FileNameStart(program);
    const std::string workDir = program.substr(0, name);
    host.SetBusyCursor(true);
    sleep(usb ? kUsbRestartMs : kSerialRestartMs);
    host.SetBusyCursor(false);
    return host.StartProgram(program, workDir, commandLine) ? 1 : 0;
}
