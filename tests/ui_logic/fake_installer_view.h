// The main window's behaviour without a toolkit: a view that records what it is told and
// plays the controls' states, settings in memory, sessions on ports that never open.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "session/device_session.h"
#include "tests/ui_logic/recording_services.h"
#include "ui/installer_dlg.h"

namespace uilogic {

class CFakeInstallerView final : public IInstallerView {
  public:
    void SetStatus(const std::string& text) override { status = text; }
    void SetCaption(const std::string& text) override { caption = text; }
    void SetProgress(int position, int rangeMax) override {
        progress = position;
        progressMax = rangeMax;
    }
    void SetElapsed(const std::string& text) override { elapsed = text; }
    void SetAnimationFrame(int frame) override { frames.push_back(frame); }
    void SetCancelButtonToOk() override { cancelIsOk = true; }
    int PortIndex() const override { return portIndex; }
    void SetPortIndex(int index) override { portIndex = index; }
    void ShowPortLabels(const std::vector<std::string>& labels) override { portLabels = labels; }
    int SpeedIndex() const override { return speedIndex; }
    void SetSpeedIndex(int index) override { speedIndex = index; }
    bool CloseOnFinish() const override { return closeBox; }
    void SetCloseOnFinish(bool checked) override { closeBox = checked; }
    void SetMenuCheck(int id, bool on) override { checks[id] = on; }
    void EnableMenuItem(int id, bool enable) override { enabled[id] = enable; }
    void ShowRecentFiles(const std::vector<std::string>& texts) override { recent = texts; }
    bool IsFileListShown() const override { return listShown; }
    void SetFileListArea(bool show) override {
        listShown = show;
        ++areaChanges;
    }
    void ShowFiles(const std::vector<installer::FileRow>& shown) override { rows = shown; }
    std::vector<int> SelectedRows() const override { return selected; }
    void ShowWhereColumn(bool shown) override { whereShown = shown; }
    void EnableRunControls(bool enable) override { runControls = enable; }
    void AcceptDrops(bool accept) override { drops = accept; }
    void StartTimer(int ms) override { timerMs = ms; }
    void StopTimer() override { timerMs = 0; }
    void EndDialog(int result) override { ended.push_back(result); }
    void PostInstallDone() override { ++installDonePosts; }
    void RunHistory(IUserLibrary*, const std::string& userDir) override {
        histories.push_back(userDir);
    }
    void RunDesktopUsers(CDesktopUserStore&, const std::string& offered) override {
        usersOffered.push_back(offered);
    }
    bool RunRestore(IUserLibrary*, const std::string&, std::vector<std::string>& chosen) override {
        chosen = restoreChoice;
        return !restoreChoice.empty();
    }
    void RunConnectionCheck(IConnectionProbe&, const ISettingsStore&,
                            const std::string& port) override {
        checkedPorts.push_back(port);
    }

    std::string status, caption, elapsed;
    int progress = 0, progressMax = 0;
    std::vector<int> frames;
    bool cancelIsOk = false;
    int portIndex = -1, speedIndex = -1;
    std::vector<std::string> portLabels;
    bool closeBox = false;
    std::map<int, bool> checks, enabled;
    std::vector<std::string> recent;
    // The window opens with its full layout.
    bool listShown = true;
    int areaChanges = 0;
    std::vector<installer::FileRow> rows;
    std::vector<int> selected;
    bool whereShown = false, runControls = true, drops = false;
    int timerMs = 0;
    std::vector<int> ended;
    int installDonePosts = 0;
    std::vector<std::string> histories, usersOffered, checkedPorts, restoreChoice;
};

class InstallerLogic : public CWindowTestBase {
  protected:
    void SetUp() override {
        CWindowTestBase::SetUp();
        // No desktop users unless a test makes them.
        settings.WriteText("main", "UsersRoot", m_dir + "no-users/");
    }
    void TearDown() override {
        m_dlg.reset();
        CWindowTestBase::TearDown();
    }

    InstallerServices Services() {
        InstallerServices s;
        Fill(s);
        s.makeSession = [this](const std::string& port, int speed) {
            sessions.push_back(port + "@" + std::to_string(speed));
            return std::make_unique<CDeviceSession>(
                port.c_str(), true, speed, CDeviceSession::TransportFactory([](const std::string&) {
                    return std::unique_ptr<hotsync::ITransport>();
                }));
        };
        return s;
    }

    CInstallerDlg& Open(bool init = true) {
        m_dlg = std::make_unique<CInstallerDlg>(view, Services());
        if (init) m_dlg->OnInitDialog();
        return *m_dlg;
    }

    CFakeInstallerView view;
    std::vector<std::string> sessions;
    std::unique_ptr<CInstallerDlg> m_dlg;
};

}  // namespace uilogic
