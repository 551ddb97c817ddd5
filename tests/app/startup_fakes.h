// Start-up under test: settings in memory, a scripted instance channel, a recording main
// window, and every dialog answered from the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/installer_app.h"
#include "resources/strings/string_table.h"
#include "shell/memory_settings.h"

namespace startuptest {

namespace fs = std::filesystem;

class CFakeChannel final : public IInstanceChannel {
  public:
    Role role = Role::kFirst;
    bool bAnswer = true;
    std::vector<InstanceMessage> sent;
    std::vector<int> timeouts;
    Handler handler;

    Role Open() override { return role; }
    bool Send(const InstanceMessage& m, int nTimeoutMs, int32_t* pnResult) override {
        sent.push_back(m);
        timeouts.push_back(nTimeoutMs);
        if (pnResult) *pnResult = 0;
        return bAnswer;
    }
    void SetHandler(Handler h) override { handler = std::move(h); }
    std::string Problem() const override { return "no room"; }
};

// What the window saw, kept after the window is gone.
struct WindowLog {
    std::vector<std::string> calls;  // in order
    std::vector<std::string> files;
    bool bExecuted = false;
};

class CFakeWindow final : public IStartupWindow {
  public:
    CFakeWindow(WindowLog& log, std::function<void()> duringExec)
        : m_log(log), m_duringExec(std::move(duringExec)) {}
    ~CFakeWindow() override { m_log.calls.push_back("destroyed"); }
    bool AddFile(const std::string& p) override {
        m_log.files.push_back(p);
        m_log.calls.push_back("AddFile " + p);
        return true;
    }
    void SetCloseOnFinish() override { m_log.calls.push_back("close"); }
    void SetIgnoreHotSync(bool b) override { m_log.calls.push_back(b ? "ignorehs" : "hs"); }
    void SetTitle(const std::string& t) override { m_log.calls.push_back("title " + t); }
    void SetPortFromText(const std::string& p) override { m_log.calls.push_back("port " + p); }
    int Exec() override {
        m_log.calls.push_back("exec");
        m_log.bExecuted = true;
        if (m_duringExec) m_duringExec();
        return 0;
    }
    bool OnWindowMessage(int w, int l) override {
        m_log.calls.push_back("message " + std::to_string(w) + " " + std::to_string(l));
        return w == 1970;
    }
    void Raise() override { m_log.calls.push_back("raise"); }

  private:
    WindowLog& m_log;
    std::function<void()> m_duringExec;
};

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        resources::SetLanguage(resources::Language::kEnglish);
        m_dir = (fs::temp_directory_path() /
                 ("cc-startup-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                    .string() +
                "/";
        fs::remove_all(m_dir);
        fs::create_directories(m_dir + "tmp");
        // A program file without an archive.
        program = Path("ccourier");
        std::ofstream(program) << "\x7f"
                                  "ELF not really";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return m_dir + name; }
    std::string Temp() const { return m_dir + "tmp/"; }
    std::string MakeFile(const std::string& name, const std::string& text = "data") {
        const std::string p = Path(name);
        fs::create_directories(fs::path(p).parent_path());
        std::ofstream(p) << text;
        return p;
    }

    StartupServices Services() {
        StartupServices s;
        s.strProgramPath = program;
        s.strSelfFile = program;
        s.strTempDir = Temp();
        s.openChannel = [this](const std::string& key) {
            keys.push_back(key);
            auto c = std::make_unique<CFakeChannel>();
            c->role = role;
            c->bAnswer = bAnswer;
            channel = c.get();
            return c;
        };
        s.openSettings = [this] {
            // The app owns the store; the test keeps looking at it through a copy made
            // when the window closes and at the end.
            auto p = std::make_unique<ForwardingSettings>(settings);
            return p;
        };
        s.fileCanBeOpened = [](const std::string& p) {
            return !p.empty() && fs::is_regular_file(p);
        };
        s.registerFileTypes = [this](ISettingsStore&, bool bAsk) { registered.push_back(bAsk); };
        s.unregisterFileTypes = [this](ISettingsStore&) { ++unregistered; };
        s.chooseFiles = [this](std::vector<std::string>& files) {
            ++choosers;
            files.insert(files.end(), chosen.begin(), chosen.end());
            return !chosen.empty();
        };
        s.showReadme = [this](const std::string& path, const std::string& caption, bool lic) {
            std::ifstream in(path);
            readmes.push_back({caption, std::string(std::istreambuf_iterator<char>(in), {}), lic});
            return lic ? licenceAnswer : 1;
        };
        s.showStopMessage = [this](const std::string& t) { stops.push_back(t); };
        s.makeWindow = [this](ISettingsStore&) {
            return std::make_unique<CFakeWindow>(window, duringExec);
        };
        s.sleep = [this](int ms) { sleeps.push_back(ms); };
        s.printOut = [this](const std::string& t) { out += t; };
        s.printError = [this](const std::string& t) { err += t; };
        return s;
    }

    int Run(const std::vector<std::string>& args) {
        app = std::make_unique<CInstallerApp>(Services());
        return app->Run(args);
    }

    // The store the app opens, shared with the test.
    class ForwardingSettings final : public ISettingsStore {
      public:
        explicit ForwardingSettings(CMemorySettings& s) : m_s(s) {}
        int ReadInt(std::string_view a, std::string_view b, int d) const override {
            return m_s.ReadInt(a, b, d);
        }
        std::string ReadText(std::string_view a, std::string_view b,
                             std::string_view d) const override {
            return m_s.ReadText(a, b, d);
        }
        bool Has(std::string_view a, std::string_view b) const override { return m_s.Has(a, b); }
        bool WriteInt(std::string_view a, std::string_view b, int v) override {
            return m_s.WriteInt(a, b, v);
        }
        bool WriteText(std::string_view a, std::string_view b, std::string_view v) override {
            return m_s.WriteText(a, b, v);
        }
        bool Delete(std::string_view a, std::string_view b) override { return m_s.Delete(a, b); }
        bool Flush() override { return m_s.Flush(); }

      private:
        CMemorySettings& m_s;
    };

    struct Readme {
        std::string caption, text;
        bool licence;
    };

    std::string m_dir;
    std::string program;
    IInstanceChannel::Role role = IInstanceChannel::Role::kFirst;
    bool bAnswer = true;
    CMemorySettings settings;
    CFakeChannel* channel = nullptr;
    std::vector<std::string> keys;
    std::vector<bool> registered;
    int unregistered = 0;
    std::vector<std::string> chosen;
    int choosers = 0;
    std::vector<Readme> readmes;
    int licenceAnswer = 1;
    std::vector<std::string> stops;
    WindowLog window;
    std::function<void()> duringExec;
    std::vector<int> sleeps;
    std::string out, err;
    std::unique_ptr<CInstallerApp> app;
};

}  // namespace startuptest
