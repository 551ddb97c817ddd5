// Closing and restarting the vendor's HotSync Manager, step by step against a fake desktop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/path_rules.h"
#include "shell/hotsync_manager.h"
#include "shell/palm_desktop.h"

namespace {

// Records every step; the manager's window goes away after `closesAfter` looks.
class CFakeHost final : public IHotSyncManagerHost {
  public:
    bool running = true;
    int closesAfter = 3;  // looks after the close message; -1 never
    bool startResult = true;
    std::vector<std::string> steps;

    bool FindManager() override {
        if (m_bClosing && closesAfter >= 0 && m_nLooks++ >= closesAfter) running = false;
        steps.push_back(running ? "find:yes" : "find:no");
        return running;
    }
    void PostClose() override {
        m_bClosing = true;
        steps.push_back("post");
    }
    void SetBusyCursor(bool busy) override { steps.push_back(busy ? "busy" : "arrow"); }
    bool StartProgram(const std::string& path, const std::string& dir,
                      const std::string& args) override {
        steps.push_back("start " + path + " in " + dir + " [" + args + "]");
        return startResult;
    }

  private:
    bool m_bClosing = false;
    int m_nLooks = 0;
};

class CCore final : public IPalmDesktopValues {
  public:
    std::optional<std::string> hotsync;
    std::string core = "/opt/palm";
    std::optional<std::string> DirectComPort() const override { return std::nullopt; }
    std::optional<uint32_t> UsbValue() const override { return std::nullopt; }
    bool HasCore() const override { return true; }
    std::optional<std::string> CorePath() const override { return core; }
    std::optional<std::string> HotSyncPath() const override { return hotsync; }
};

TEST(HotSyncManager, Stop) {
    std::vector<int> sleeps;
    const Sleeper sleeper = [&](int ms) { sleeps.push_back(ms); };

    CNoHotSyncManager none;
    EXPECT_EQ(StopHotSyncManager(none, sleeper), -2);
    EXPECT_TRUE(sleeps.empty());

    CFakeHost closes;
    EXPECT_EQ(StopHotSyncManager(closes, sleeper), 0);
    EXPECT_EQ(closes.steps, (std::vector<std::string>{"find:yes", "busy", "post", "find:yes",
                                                      "find:yes", "find:yes", "find:no", "arrow"}));
    EXPECT_EQ(sleeps, (std::vector<int>{100, 100, 100, 1000}));  // the last second after it went

    sleeps.clear();
    CFakeHost stays;
    stays.closesAfter = -1;
    EXPECT_EQ(StopHotSyncManager(stays, sleeper), -1);
    EXPECT_EQ(sleeps, std::vector<int>(15, 100));  // 1.5 s and no more
    EXPECT_EQ(stays.steps.back(), "arrow");
}

TEST(HotSyncManager, Restart) {
    std::vector<int> sleeps;
    const Sleeper sleeper = [&](int ms) { sleeps.push_back(ms); };
    CFakeHost host;
    CNoPalmDesktop linux;
    EXPECT_EQ(RestartHotSyncManager(host, linux, false, "", sleeper), -1);
    EXPECT_TRUE(host.steps.empty());

    // The desktop's folder gets the system's separator; the program runs in its folder.
    CCore core;
    const bool windows = platform::NativePathStyle() == platform::PathStyle::kWindows;
    if (windows) core.core = "C:\\Palm";
    const std::string folder = core.core + platform::PathSeparator();
    EXPECT_EQ(GetPalmDesktopPath(core), folder);
    EXPECT_EQ(RestartHotSyncManager(host, core, false, "", sleeper), 1);
    EXPECT_EQ(host.steps,
              (std::vector<std::string>{"busy", "arrow",
                                        "start " + folder + "HotSync.exe in " + folder + " []"}));
    EXPECT_EQ(sleeps, std::vector<int>{1000});
    core.core = folder;
    EXPECT_EQ(GetPalmDesktopPath(core), folder);
    if (windows) {
        host.steps.clear();
        core.hotsync = "D:\\Vendor\\HotSync.exe";
        RestartHotSyncManager(host, core, false, "", sleeper);
        EXPECT_EQ(host.steps.back(), "start D:\\Vendor\\HotSync.exe in D:\\Vendor\\ []");
    }

    host.steps.clear();
    sleeps.clear();
    core.hotsync = "/srv/hs/manager";
    host.startResult = false;
    EXPECT_EQ(RestartHotSyncManager(host, core, true, "-x", sleeper), 0);
    EXPECT_EQ(host.steps.back(), "start /srv/hs/manager in /srv/hs/ [-x]");
    EXPECT_EQ(sleeps, std::vector<int>{500});
}

}  // namespace
