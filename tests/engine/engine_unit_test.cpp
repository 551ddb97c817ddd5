// The engine's pieces that need no handheld: the temporary directory, the events, the
// progress arithmetic and texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

#include "engine/event.h"
#include "engine/install_worker.h"
#include "engine/temp_dir.h"
#include "engine/transfer_monitor.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"

namespace {

// Sets or unsets environment variables for one test and restores them afterwards.
class EnvGuard {
  public:
    void Set(const char* name, const char* value) {
        Remember(name);
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvGuard() {
        for (auto& [name, value] : m_saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

  private:
    void Remember(const char* name) {
        if (m_saved.count(name)) return;
        const char* v = std::getenv(name);
        m_saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> m_saved;
};

TEST(TempDir, TmpComesFirstAndGetsASlash) {
    EnvGuard env;
    env.Set("TMP", "/var/tmp/a");
    env.Set("TEMP", "/other");
    env.Set("TMPDIR", "/third");
    EXPECT_EQ(GetTempDir(), "/var/tmp/a/");
    env.Set("TMP", "/var/tmp/b/");
    EXPECT_EQ(GetTempDir(), "/var/tmp/b/");
}

TEST(TempDir, ThenTempThenTmpdirThenTmp) {
    EnvGuard env;
    env.Set("TMP", nullptr);
    env.Set("TEMP", "/t1");
    env.Set("TMPDIR", "/t2/");
    EXPECT_EQ(GetTempDir(), "/t1/");
    env.Set("TEMP", nullptr);
    EXPECT_EQ(GetTempDir(), "/t2/");
    env.Set("TMPDIR", nullptr);
    EXPECT_EQ(GetTempDir(), "/tmp/");
    env.Set("TMP", "");
    env.Set("TEMP", "/t3");
    EXPECT_EQ(GetTempDir(), "/t3/");
}

TEST(TempDir, AtMost512CharactersAreTaken) {
    EnvGuard env;
    const std::string longDir = "/" + std::string(600, 'd');
    env.Set("TMP", longDir.c_str());
    const std::string dir = GetTempDir();
    EXPECT_EQ(dir.size(), 513u);
    EXPECT_EQ(dir.back(), '/');
}

TEST(AutoResetEvent, ASetIsTakenByOneWaitOnly) {
    CAutoResetEvent ev;
    EXPECT_FALSE(ev.Wait(0));
    ev.Set();
    ev.Set();
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0));
}

TEST(AutoResetEvent, WaitEndsWhenAnotherThreadSets) {
    CAutoResetEvent ev;
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ev.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ev.Wait(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    t.join();
}

TEST(AutoResetEvent, WaitTimesOutAndResetClears) {
    CAutoResetEvent ev;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ev.Wait(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    ev.Set();
    ev.Reset();
    EXPECT_FALSE(ev.Wait(0));
}

TEST(Progress, SecondOfThreeHalfWritten) {
    const ProgressState s = ComputeProgress(3, 1, 5000, 10000, "/dir/sub/b.prc");
    EXPECT_EQ(s.index, 2);
    EXPECT_EQ(s.position, 150);
    EXPECT_EQ(s.rangeMax, 300);
    EXPECT_EQ(s.percent, 50);
    EXPECT_EQ(s.name, "b.prc");
}

TEST(Progress, NoTotalAndCursorPastTheEnd) {
    EXPECT_EQ(ComputeProgress(3, 0, 123, 0, "/a").position, 0);
    const ProgressState end = ComputeProgress(3, 512, 0, 0, "");
    EXPECT_EQ(end.name, "");
    EXPECT_EQ(end.index, 513);
    EXPECT_EQ(end.position, 51200);
    const ProgressState none = ComputeProgress(0, 512, 0, 0, "");
    EXPECT_EQ(none.percent, 0);
    EXPECT_EQ(none.rangeMax, 0);
}

TEST(Progress, LargeCountersDoNotOverflow) {
    const ProgressState s = ComputeProgress(1, 0, 4000000000u, 4000000000u, "/x");
    EXPECT_EQ(s.position, 100);
}

TEST(Progress, ElapsedMinutesAndSeconds) {
    EXPECT_EQ(ElapsedText(0), "00:00");
    EXPECT_EQ(ElapsedText(59999), "00:59");
    EXPECT_EQ(ElapsedText(61500), "01:01");
    EXPECT_EQ(ElapsedText(3725000), "62:05");
}

class Texts : public ::testing::Test {
  protected:
    void SetUp() override { resources::SetLanguage(resources::Language::kEnglish); }
    void TearDown() override { resources::SetLanguage(resources::SystemLanguage()); }
};

TEST_F(Texts, AmountSentInBytesOrKilobytes) {
    EXPECT_EQ(SummaryText(0, 2500, 1024), "Ready (2.5 seconds / 1024.0 Bytes) !");
    EXPECT_EQ(SummaryText(0, 2500, 1025), "Ready (2.5 seconds / 1.0 KB) !");
    EXPECT_EQ(SummaryText(0, 1000, 10000), "Ready (1.0 seconds / 9.0 KB) !");
    EXPECT_EQ(SummaryText(2, 12345, 10000), "Finished (12.3 seconds) with errors");
}

TEST_F(Texts, ErrorMessagesByCode) {
    EXPECT_EQ(ErrorMessageText(3, "", true, 2048 * 1024 + 1023, 8192 * 1024),
              "Device full\nFree memory: 2048 KB of 8192 KB");
    EXPECT_EQ(ErrorMessageText(3, "", false, 0, 0), "Device full");
    EXPECT_EQ(ErrorMessageText(4, "", false, 0, 0), "Connection lost");
    EXPECT_EQ(ErrorMessageText(18, "", false, 0, 0), "unknown format of file");
    EXPECT_EQ(ErrorMessageText(51, "/a/b.cca", false, 0, 0),
              "CCA: Need color device to install: \n/a/b.cca\nArchiv ignored.");
    EXPECT_EQ(ErrorMessageText(53, "3.5", false, 0, 0),
              "CCA: OS-Version 3.5 required\nArchive skipped");
    EXPECT_EQ(ErrorMessageText(99, "", false, 0, 0), "Connection lost");
}

TEST(StringTable, GermanForGermanLocales) {
    using resources::Language;
    EXPECT_EQ(resources::LanguageFromLocale("de_DE.UTF-8"), Language::kGerman);
    EXPECT_EQ(resources::LanguageFromLocale("de"), Language::kGerman);
    EXPECT_EQ(resources::LanguageFromLocale("en_US.UTF-8"), Language::kEnglish);
    EXPECT_EQ(resources::LanguageFromLocale("C"), Language::kEnglish);
    EXPECT_EQ(resources::LanguageFromLocale(nullptr), Language::kEnglish);
    EXPECT_STREQ(resources::LoadString(147, Language::kGerman), "Verbindung verloren");
    EXPECT_STREQ(resources::LoadString(139, Language::kGerman), "Verbindung abgebrochen");
    EXPECT_STREQ(resources::LoadString(107, Language::kGerman), "[%d%%] übertragen");
    EXPECT_STREQ(resources::LoadString(137, Language::kGerman), "Cradlecourier - Error:");
    EXPECT_STREQ(resources::LoadString(9999, Language::kGerman), "");
}

TEST(StringTable, SystemLanguageFollowsTheEnvironment) {
    EnvGuard env;
    env.Set("LC_ALL", nullptr);
    env.Set("LC_MESSAGES", nullptr);
    env.Set("LANG", "de_AT.UTF-8");
    EXPECT_EQ(resources::SystemLanguage(), resources::Language::kGerman);
    env.Set("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(resources::SystemLanguage(), resources::Language::kEnglish);
}

TEST(RunErrors, ResultsMapToTheRunsCodes) {
    EXPECT_EQ(RunErrorForResult(3), 3);
    EXPECT_EQ(RunErrorForResult(-16), 3);
    EXPECT_EQ(RunErrorForResult(4), 4);
    EXPECT_EQ(RunErrorForResult(25), 25);
    EXPECT_EQ(RunErrorForResult(10), 18);
    EXPECT_EQ(RunErrorForResult(11), 18);
    EXPECT_EQ(RunErrorForResult(-20), 18);
    EXPECT_EQ(RunErrorForResult(-18), 18);
    EXPECT_EQ(RunErrorForResult(-131), 18);
}

}  // namespace
