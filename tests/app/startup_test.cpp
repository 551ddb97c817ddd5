// Start-up's steps with every surrounding service faked: what the first instance gives its
// window, what a second instance hands over, the self-extracting program, and archives'
// titles, passwords, read-me and licence.
#include "formats/cca/cca_archive.h"
#include "tests/app/startup_fakes.h"
#include "tools/ccapack/cca_packer.h"

namespace startuptest {
namespace {

using Role = IInstanceChannel::Role;

// An archive with a member, options and optional texts.
std::string MakeArchive(const std::string& path, const ccapack::PackOptions& options,
                        const std::string& readme = "", const std::string& licence = "") {
    ccapack::CCcaPacker packer;
    std::string error;
    EXPECT_TRUE(packer.SetOptions(options, error)) << error;
    EXPECT_TRUE(packer.AddData("All", "a.prc", {1, 2, 3}, 1, error)) << error;
    if (!readme.empty()) {
        std::ofstream(path + ".readme") << readme;
        EXPECT_TRUE(packer.SetReadme(path + ".readme", error)) << error;
    }
    if (!licence.empty()) {
        std::ofstream(path + ".licence") << licence;
        EXPECT_TRUE(packer.SetLicense(path + ".licence", error)) << error;
    }
    EXPECT_TRUE(packer.Write(path, error)) << error;
    return path;
}

TEST_F(Startup, FirstInstanceGivesTheWindowItsFilesAndSwitchesThenClearsTheSlots) {
    const std::string a = MakeFile("a.prc"), b = MakeFile("b.pdb");
    settings.WriteText("Register", "Name7", "/left/over.prc");
    duringExec = [&] {
        // A second instance hands over while the window runs.
        settings.WriteText("Register", "Name0", b);
        channel->handler({"CCourier new", 1970, 1});
        channel->handler({"CCourier raise", 0, 0});
        channel->handler({"Something else", 1970, 1});
    };
    EXPECT_EQ(Run({"/close", a, "/COM3", "/Title", "My title", "/ignorehs", "", "/com4", "/COM9",
                   Path("gone.prc")}),
              0);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"AddFile " + a, "close", "ignorehs",
                                                      "title My title", "port /COM3", "exec",
                                                      "message 1970 1", "raise", "destroyed"}));
    EXPECT_EQ(registered, std::vector<bool>{false});
    EXPECT_TRUE(app->IsFirstInstance());
    EXPECT_TRUE(
        std::regex_match(app->InstanceKey(), std::regex("ccourier:[0-9a-f]+:8:[0-9a-f]+:0")));
    EXPECT_EQ(app->HelpFilePath().substr(app->HelpFilePath().size() - 13), "/CCOURIER.HLP");
    for (int i = 0; i < 255; ++i)
        EXPECT_FALSE(settings.Has("Register", "Name" + std::to_string(i)));
    EXPECT_EQ(choosers, 0);
}

TEST_F(Startup, WholeCommandLineThenChooserOnlyWhenNothingElseGaveAFile) {
    const std::string spaced = MakeFile("My Files/a b.prc");
    Run({Path("My"), "Files/a", "b.prc"});
    EXPECT_EQ(window.files, std::vector<std::string>{spaced});

    // Not tried when an argument was a file.
    window = {};
    const std::string c = MakeFile("c.prc");
    Run({c, Path("My"), "Files/a", "b.prc"});
    EXPECT_EQ(window.files, std::vector<std::string>{c});

    // The chooser: only with "OpenDialog" set (default 0 here) and nothing given.
    window = {};
    chosen = {c};
    Run({});
    EXPECT_EQ(choosers, 0);
    settings.WriteInt("main", "OpenDialog", 1);
    Run({"/CLOSE"});
    EXPECT_EQ(choosers, 1);
    EXPECT_EQ(window.files, std::vector<std::string>{c});
    Run({c});
    EXPECT_EQ(choosers, 1);
}

TEST_F(Startup, SecondInstanceHandsOverAndNeverOpensAWindowOrTheChooser) {
    role = Role::kSecond;
    settings.WriteInt("main", "OpenDialog", 1);
    for (int i = 0; i < 254; ++i) settings.WriteText("Register", "Name" + std::to_string(i), "/q");
    const std::string a = MakeFile("a.prc"), b = MakeFile("b.prc"), c = MakeFile("c.prc");
    Run({a, b, "/CLOSE", c});
    EXPECT_FALSE(app->IsFirstInstance());
    EXPECT_FALSE(window.bExecuted);
    EXPECT_EQ(choosers, 0);
    // One free slot: one file handed over, lParam counts all three.
    EXPECT_EQ(app->HandedOver(), 1u);
    EXPECT_EQ(settings.ReadText("Register", "Name254", ""), a);
    ASSERT_EQ(channel->sent.size(), 2u);
    EXPECT_EQ(channel->sent[0].strName, "CCourier raise");
    EXPECT_EQ(channel->sent[1].strName, "CCourier new");
    EXPECT_EQ(channel->sent[1].nWParam, 1970);
    EXPECT_EQ(channel->sent[1].nLParam, 3);
    EXPECT_EQ(channel->timeouts[1], CInstallerApp::kHandOverTimeoutMs);
    EXPECT_EQ(sleeps, std::vector<int>{100});
    EXPECT_EQ(registered, std::vector<bool>{false});  // it may still ask about file types

    // A first instance that does not answer: said on the error output, slots stay.
    bAnswer = false;
    settings.Delete("Register", "Name254");
    Run({b});
    EXPECT_EQ(settings.ReadText("Register", "Name254", ""), b);
    EXPECT_NE(err.find("did not answer"), std::string::npos);
}

TEST_F(Startup, NoServerSaysSoAndHandsOver) {
    role = Role::kNoServer;
    const std::string a = MakeFile("a.prc");
    Run({a});
    EXPECT_EQ(stops, std::vector<std::string>{"Failed to register window class!"});
    EXPECT_NE(err.find("no room"), std::string::npos);
    EXPECT_FALSE(window.bExecuted);
    EXPECT_EQ(settings.ReadText("Register", "Name0", ""), a);
}

TEST_F(Startup, NotificationBeforeTheWindowIsDeliveredOnceItExists) {
    const std::string lic = MakeArchive(Path("l.cca"), {}, "", "terms");
    const std::string b = MakeFile("b.prc");
    // While the licence window is open, a second instance hands over b.
    auto services = Services();
    const auto show = services.showReadme;
    services.showReadme = [&](const std::string& p, const std::string& c, bool l) {
        settings.WriteText("Register", "Name0", b);
        channel->handler({"CCourier new", 1970, 1});
        return show(p, c, l);
    };
    app = std::make_unique<CInstallerApp>(services);
    app->Run({lic});
    EXPECT_EQ(window.calls[0], "AddFile " + lic);
    EXPECT_NE(std::find(window.calls.begin(), window.calls.end(), "message 1970 0"),
              window.calls.end());
}

TEST_F(Startup, SelfExtractingProgramOpensWithJustItsArchive) {
    const std::string archive = MakeArchive(Path("game.cca"), {});
    std::string error;
    const std::string sfx = Path("game-installer");
    ASSERT_TRUE(ccapack::AppendSfxArchive(program, archive, sfx, error)) << error;
    program = sfx;
    const std::string copy = Temp() + "CCASFX.CCA";
    // An older copy that another instance is reading keeps its bytes for that reader.
    std::ofstream(copy) << "older copy";
    std::ifstream reader(copy);
    duringExec = [&] { EXPECT_TRUE(CCcaArchive::HasArchiveMagic(copy)); };
    Run({MakeFile("a.prc"), "/CLOSE", "--help", "/TITLE", "x"});
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "older copy");
    EXPECT_TRUE(app->IsSelfExtracting());
    EXPECT_EQ(window.files, std::vector<std::string>{copy});
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "close"), 0);
    EXPECT_TRUE(registered.empty());
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(fs::exists(copy));  // deleted after the normal close

    // A trailer whose offset points past the file: no archive.
    std::ofstream(Path("bad"), std::ios::binary)
        << "program" << std::string("\xff\xff\x00\x00ZQvt", 8);
    program = Path("bad");
    window = {};
    duringExec = nullptr;
    const std::string a = MakeFile("a.prc");
    Run({a});
    EXPECT_FALSE(app->IsSelfExtracting());
    EXPECT_EQ(window.files, std::vector<std::string>{a});
}

TEST_F(Startup, ArchivesGiveTitlesAndAreDroppedForPasswordsAndDeclinedLicences) {
    ccapack::PackOptions titled;
    titled.strTitle = "Space Game";
    const std::string game = MakeArchive(Path("game.cca"), titled, "Read me\nplease", "Terms");
    ccapack::PackOptions locked;
    locked.strPassword = "secret";
    const std::string secret = MakeArchive(Path("secret.cca"), locked, "never shown");
    ccapack::PackOptions untitled;
    untitled.bForceOptions = true;
    const std::string plain = MakeArchive(Path("plain.CCA"), untitled, "", "More terms");
    const std::string notArchive = MakeFile("dir.cca/b.prc");

    licenceAnswer = 1;
    Run({"/TITLE", "Given", game, secret, notArchive, plain});
    ASSERT_EQ(readmes.size(), 3u);
    EXPECT_EQ(readmes[0].caption, "Readme: - Space Game");
    EXPECT_EQ(readmes[0].text, "Read me\nplease");
    EXPECT_FALSE(readmes[0].licence);
    EXPECT_EQ(readmes[1].caption, "Software Licence Agreement: - Space Game");
    EXPECT_TRUE(readmes[1].licence);
    // OPTIONS without "Title=" clears the title.
    EXPECT_EQ(readmes[2].caption, "Software Licence Agreement: - ");
    EXPECT_EQ(window.files, (std::vector<std::string>{game, notArchive, plain}));
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "title "), 1);
    for (const char* name : {"README", "LICENSE", "OPTIONS"}) {
        EXPECT_FALSE(fs::exists(Temp() + name)) << name;
    }

    // Declined: the archive leaves the list; so does its extracted text.
    readmes.clear();
    window = {};
    licenceAnswer = 2;
    Run({game, plain});
    EXPECT_EQ(readmes.size(), 3u);
    EXPECT_TRUE(window.files.empty());
    EXPECT_FALSE(fs::exists(Temp() + "LICENSE"));
}

TEST_F(Startup, HelpAndVersionAnswerWithoutBecomingAnInstance) {
    Run({"--help"});
    EXPECT_NE(out.find("/TITLE TEXT"), std::string::npos);
    EXPECT_TRUE(keys.empty());
    out.clear();
    Run({"--version"});
    EXPECT_EQ(out.rfind("Cradlecourier ", 0), 0u);
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(window.bExecuted);
    // A bad --port is said and ignored.
    Run({"--port", "COM12"});
    EXPECT_NE(err.find("COM12"), std::string::npos);
    EXPECT_TRUE(window.bExecuted);
}

TEST_F(Startup, UnregisterTypesGivesThemBackWithoutAWindowOrAnInstance) {
    const std::string file = MakeFile("a.prc");
    EXPECT_EQ(Run({"--unregister-types", file}), 0);
    EXPECT_EQ(unregistered, 1);
    EXPECT_TRUE(registered.empty());
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(window.bExecuted);
    EXPECT_EQ(choosers, 0);
}

}  // namespace
}  // namespace startuptest
