// What the main window's tests share, for its behaviour and its Qt view alike: a scratch
// folder, settings in memory, and the window's outside services as recording fakes (what
// was asked, shown, opened and converted).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "resources/strings/string_table.h"
#include "session/device_session.h"
#include "shell/memory_settings.h"
#include "tests/session/db_builder.h"
#include "ui/installer_dlg.h"

namespace uilogic {

class CWindowTestBase : public ::testing::Test {
  protected:
    void SetUp() override {
        resources::SetLanguage(resources::Language::kEnglish);
        m_dir = testdb::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        CDeviceSession::SetErrorReporter([](const char*, int) {});
    }
    void TearDown() override {
        CDeviceSession::SetErrorReporter({});
        std::filesystem::remove_all(m_dir);
    }

    std::string Path(const std::string& name) const { return m_dir + name; }

    // Every service but the sessions. Text files whose name has "bad" in it fail to
    // convert; the others become numbered databases in the scratch folder.
    void Fill(InstallerServices& s) {
        s.settings = &settings;
        s.sleep = [this](int ms) { sleeps.push_back(ms); };
        s.exitProcess = [this](int code) { exits.push_back(code); };
        s.askOkCancel = [this](const std::string& text) {
            asked.push_back(text);
            return answer;
        };
        s.showMessage = [this](const std::string& text) { shown.push_back(text); };
        s.chooseFiles = [this](std::vector<std::string>& files) {
            files = chosen;
            return !chosen.empty();
        };
        s.convertText = [this](const std::string& text, std::string& db) {
            if (text.find("bad") != std::string::npos) return false;
            db = Path("converted" + std::to_string(++conversions) + ".pdb");
            return true;
        };
        s.openUrl = [this](const std::string& url) { opened.push_back(url); };
        s.showAbout = [this] { ++abouts; };
        s.showHelp = [this] { ++helps; };
        s.registerFileTypes = [this](bool askAlways) { registers.push_back(askAlways); };
        s.unregisterFileTypes = [this] { ++unregisters; };
    }

    CMemorySettings settings;
    std::string m_dir;
    std::vector<int> sleeps, exits;
    std::vector<std::string> asked, shown, opened, chosen;
    int conversions = 0, abouts = 0, helps = 0, unregisters = 0;
    std::vector<bool> registers;
    bool answer = true;
};

}  // namespace uilogic
