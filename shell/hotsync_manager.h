// Living beside the vendor's HotSync Manager, which holds the port while it runs: it is
// closed when the main window opens and started again when the window closes. Linux has
// none (CNoHotSyncManager): stopping reports -2 and nothing is restarted. What holds a
// serial port here instead is named by the port-holder finder (port_holder.h).
#pragma once

#include <functional>
#include <string>

class IPalmDesktopValues;

// The few things the steps need from the desktop.
class IHotSyncManagerHost {
  public:
    virtual ~IHotSyncManagerHost() = default;
    // Whether the manager's window is there.
    virtual bool FindManager() = 0;
    // Asks it to close and free the port.
    virtual void PostClose() = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // Starts a program without waiting for it; whether it started.
    virtual bool StartProgram(const std::string& path, const std::string& workDir,
                              const std::string& commandLine) = 0;
};

class CNoHotSyncManager final : public IHotSyncManagerHost {
  public:
    bool FindManager() override { return false; }
    void PostClose() override {}
    void SetBusyCursor(bool) override {}
    bool StartProgram(const std::string&, const std::string&, const std::string&) override {
        return false;
    }
};

using Sleeper = std::function<void(int ms)>;
// Sleeps for real.
void SleepMs(int ms);

// -2 when no manager runs, 0 when it closed (after a further second), -1 when it was still
// there after 15 waits of 100 ms.
int StopHotSyncManager(IHotSyncManagerHost& host, const Sleeper& sleep = SleepMs);
// -1 without the desktop software's values; otherwise 1 when the manager program started,
// 0 when not. The program is "HotSyncPath", or the desktop folder + "HotSync.exe"; it runs
// in its own folder after a pause of 500 ms (USB) or 1,000 ms (serial).
int RestartHotSyncManager(IHotSyncManagerHost& host, const IPalmDesktopValues& values, bool usb,
                          const std::string& commandLine, const Sleeper& sleep = SleepMs);
