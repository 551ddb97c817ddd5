// The rules of file-type registration over a registry held in memory, as either system
// shapes it: types named by extension (Windows) or by MIME type (Linux, the three Palm
// types one), with or without the user's protected choice of another program.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "shell/file_types.h"
#include "shell/memory_settings.h"
#include "tests/shell/recording_question.h"

namespace {

class CFakeRegistry final : public IFileTypeRegistry {
  public:
    static constexpr const char* kOurs = "OURS";
    bool byMimeType = false;
    std::map<std::string, std::string> defaults;  // key -> default
    std::map<std::string, std::string> commands;  // key -> program path
    std::set<std::string> otherChosen;            // extensions
    bool tableCurrent = false;
    int takes = 0, drops = 0, commandWrites = 0, announcements = 0, settingsOpened = 0;

    std::string Key(const FileType& t) const override {
        return byMimeType ? t.mimeType : t.extension;
    }
    bool TypeTableCurrent() const override { return tableCurrent; }
    void InstallTypeTable() override { tableCurrent = true; }
    bool OwnsDefault(const FileType& t) const override {
        auto it = defaults.find(Key(t));
        return it != defaults.end() && it->second == kOurs;
    }
    std::optional<std::string> CurrentDefault(const FileType& t) const override {
        auto it = defaults.find(Key(t));
        return it == defaults.end() ? std::nullopt : std::optional(it->second);
    }
    void TakeDefault(const FileType& t) override {
        ++takes;
        defaults[Key(t)] = kOurs;
    }
    void RestoreDefault(const FileType& t, const std::optional<std::string>& v) override {
        if (v) {
            defaults[Key(t)] = *v;
        } else {
            defaults.erase(Key(t));
        }
    }
    void DropDefault(const FileType& t) override {
        ++drops;
        defaults[Key(t)] = "dropped";
    }
    bool OtherProgramChosen(const FileType& t) const override {
        return otherChosen.count(t.extension) != 0;
    }
    bool CommandIsCurrent(const FileType& t, const std::string& program) const override {
        auto it = commands.find(Key(t));
        return it != commands.end() && it->second == program;
    }
    void WriteCommand(const FileType& t, const std::string& program) override {
        ++commandWrites;
        commands[Key(t)] = program;
    }
    void AnnounceChanges() override { ++announcements; }
    void OpenDefaultProgramSettings() override { ++settingsOpened; }
};

class FileTypeRules : public ::testing::Test {
  protected:
    void Register(bool askAlways, const std::string& program = "/p/ccourier") {
        FileTypeContext c{m_registry, m_settings, m_question, program};
        RegisterFileTypes(c, askAlways);
    }
    void Unregister() {
        FileTypeContext c{m_registry, m_settings, m_question, "/p/ccourier"};
        UnregisterFileTypes(c);
    }
    CFakeRegistry m_registry;
    CMemorySettings m_settings;
    CRecordingQuestion m_question;
};

TEST_F(FileTypeRules, AProtectedChoiceOfAnotherProgramIsNotTakenForOurs) {
    // Our defaults are written, yet the user's choice elsewhere still opens the files.
    for (const char* ext : {".pdb", ".prc", ".pqa"}) m_registry.defaults[ext] = "OURS";
    m_registry.otherChosen = {".pdb", ".prc", ".pqa"};
    Register(false);
    EXPECT_EQ(m_question.asked, 1);
    ASSERT_EQ(m_question.offers.size(), 1u);
    EXPECT_EQ(m_question.offers[0], (std::vector<std::string>{".pdb", ".prc", ".pqa"}));
    EXPECT_EQ(m_registry.settingsOpened, 0);

    // Yes again, and this time the user wants the settings page.
    m_question.openSettings = true;
    m_registry.otherChosen = {".prc"};
    m_registry.defaults[".pdb"] = "other";
    m_registry.defaults[".pqa"] = "other";
    Register(true);
    ASSERT_EQ(m_question.offers.size(), 2u);
    EXPECT_EQ(m_question.offers[1], std::vector<std::string>{".prc"});
    EXPECT_EQ(m_registry.settingsOpened, 1);
    EXPECT_EQ(m_registry.defaults[".pdb"], "OURS");

    // One type that really opens with us: no question, no offer.
    Register(true);
    EXPECT_EQ(m_question.asked, 2);

    // No: nothing offered, whatever the system keeps.
    m_registry.defaults.clear();
    m_question.answer = IDefaultTypesQuestion::kNo;
    Register(true);
    EXPECT_EQ(m_question.asked, 3);
    EXPECT_EQ(m_question.offers.size(), 2u);
}

TEST_F(FileTypeRules, GivesBackWhatWasRememberedElseDropsTheType) {
    m_registry.defaults[".prc"] = "prcFile";
    Register(false);  // Yes: the three are ours, what .prc had is remembered
    EXPECT_EQ(m_registry.takes, 4);
    EXPECT_EQ(m_settings.ReadText("filetypes", ".prc", "x"), "prcFile");
    EXPECT_EQ(m_settings.ReadText("filetypes", ".pdb", "x"), "");
    Unregister();
    EXPECT_EQ(m_registry.defaults[".prc"], "prcFile");
    EXPECT_EQ(m_registry.defaults.count(".pdb"), 0u);
    EXPECT_EQ(m_registry.defaults[".cca"], "OURS");
    EXPECT_FALSE(m_settings.Has("filetypes", ".prc"));
    EXPECT_EQ(m_registry.drops, 0);

    // Settings gone (another copy took the types): the system's own way of letting go.
    m_registry.defaults[".pqa"] = "OURS";
    Unregister();
    EXPECT_EQ(m_registry.drops, 1);
    EXPECT_EQ(m_registry.defaults[".pqa"], "dropped");
    EXPECT_EQ(m_registry.announcements, 3);

    // Without a window (the uninstaller's call): the same, and nothing asked.
    m_registry.defaults[".pdb"] = "OURS";
    UnregisterFileTypes(m_registry, m_settings);
    EXPECT_EQ(m_registry.defaults[".pdb"], "dropped");
    EXPECT_EQ(m_question.asked, 1);
}

TEST_F(FileTypeRules, TypesSharingAKeyAreOneTypeAndAStartRepairsOnlyWhatIsStale) {
    m_registry.byMimeType = true;
    Register(false);
    EXPECT_EQ(m_registry.takes, 2);  // the archive and the Palm types' one MIME type
    EXPECT_EQ(m_registry.commandWrites, 2);
    EXPECT_TRUE(m_registry.tableCurrent);
    Register(false);
    EXPECT_EQ(m_registry.commandWrites, 2);
    EXPECT_EQ(m_question.asked, 1);

    // Moved program: every command follows it; under "don't ask" only the archive's.
    m_settings.WriteInt("main", "DontAskDefault", 1);
    Register(false, "/q/ccourier");
    EXPECT_EQ(m_registry.commands["application/x-cca"], "/q/ccourier");
    EXPECT_EQ(m_registry.commands["application/vnd.palm"], "/p/ccourier");
    Register(true, "/q/ccourier");
    EXPECT_EQ(m_registry.commands["application/vnd.palm"], "/q/ccourier");
    EXPECT_EQ(m_question.asked, 1);  // a Palm type is ours: nothing to ask
}

}  // namespace
