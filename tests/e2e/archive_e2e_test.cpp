// Archives in the install list, unpacked by the worker's preparation pass and installed
// into the virtual handheld: member choice by group, requirement checks and their
// messages, archives that are damaged, nested or not archives at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/cca/cca_test_util.h"
#include "tests/e2e/e2e_fixture.h"
#include "tools/ccapack/cca_packer.h"

namespace {

using testsupport::ExpectSameAsFile;

class ArchiveRun : public e2e::CRunFixture {
  protected:
    // Sources of the members, each a database of its own name.
    void SetUp() override {
        CRunFixture::SetUp();
        std::filesystem::create_directories(Path("src"));
        ASSERT_TRUE(e2e::WriteApp(Path("src/app-colour.prc"), "App Colour", "ApCo", 3000, 1));
        ASSERT_TRUE(e2e::WriteApp(Path("src/app-grey.prc"), "App Grey", "ApGr", 2000, 2));
        ASSERT_TRUE(e2e::WriteApp(Path("src/extra.prc"), "Colour Extra", "ExCo", 500, 3));
        ASSERT_TRUE(e2e::WriteApp(Path("src/greyonly.prc"), "Grey Only", "GrOn", 700, 4));
        ASSERT_TRUE(e2e::WriteApp(Path("src/loose.prc"), "Loose", "Loos", 100, 5));
        ASSERT_TRUE(testdb::WriteRecordDb(
            Path("src/common.pdb"), testdb::Info("Common", false, "DATA", "Comm"),
            {testdb::Rec(1200, 1, 0, 2, 0x10), testdb::Rec(3500, 2)}));
        ASSERT_TRUE(e2e::WriteApp(Path("next.prc"), "Next", "Nxt1", 300, 6));
        std::ofstream(Path("src/readme.txt")) << "Read me first.\n";
    }

    // The packer's archive of the colour and grey variants, a file for all, a read-me
    // (a member without group) and the given options.
    std::string PackVariants(const std::string& name, const ccapack::PackOptions& options = {}) {
        ccapack::CCcaPacker packer;
        std::string error;
        EXPECT_TRUE(packer.SetOptions(options, error)) << error;
        EXPECT_TRUE(packer.SetReadme(Path("src/readme.txt"), error)) << error;
        EXPECT_TRUE(packer.AddFile("Color", Path("src/app-colour.prc"), "app.prc", 1, error));
        EXPECT_TRUE(packer.AddFile("NonC", Path("src/app-grey.prc"), "app.prc", 0, error));
        EXPECT_TRUE(packer.AddFile("All", Path("src/common.pdb"), "", 1, error));
        EXPECT_TRUE(packer.AddFile("Color", Path("src/extra.prc"), "", 1, error));
        EXPECT_TRUE(packer.AddFile("NonC", Path("src/greyonly.prc"), "", 0, error));
        const std::string path = Path(name);
        EXPECT_TRUE(packer.Write(path, error)) << error;
        return path;
    }

    // One archive with a database member that has no group beside one for all.
    std::string PackWithLooseMember(const std::string& name) {
        const auto loose = ccatest::ReadFileBytes(Path("src/loose.prc"));
        const auto common = ccatest::ReadFileBytes(Path("src/common.pdb"));
        const std::string path = Path(name);
        ccatest::WriteFileBytes(path, ccatest::ArchiveBuilder()
                                          .Zlib("loose.prc", loose)
                                          .Stored("All\\common.pdb", common)
                                          .Build());
        return path;
    }
};

TEST_F(ArchiveRun, ColourHandheldGetsTheColourVariantAndTheFilesForAll) {
    ColourHandheld();
    Run({PackVariants("pack.cca"), Path("next.prc")});
    EXPECT_TRUE(view.messages.empty()) << view.messages[0];
    EXPECT_EQ(CardNames(),
              (std::vector<std::string>{"App Colour", "Colour Extra", "Common", "Next"}));
    ExpectSameAsFile(*m_hh->FindDatabase("App Colour"), Path("src/app-colour.prc"));
    ExpectSameAsFile(*m_hh->FindDatabase("Colour Extra"), Path("src/extra.prc"));
    ExpectSameAsFile(*m_hh->FindDatabase("Common"), Path("src/common.pdb"));
    ExpectSameAsFile(*m_hh->FindDatabase("Next"), Path("next.prc"));
    EXPECT_EQ(failed, 0);
}

TEST_F(ArchiveRun, GreyHandheldGetsTheGreyVariantAndTheFilesForAll) {
    GreyHandheld();
    Run({PackVariants("pack.cca"), Path("next.prc")});
    EXPECT_TRUE(view.messages.empty()) << view.messages[0];
    EXPECT_EQ(CardNames(), (std::vector<std::string>{"App Grey", "Common", "Grey Only", "Next"}));
    // The grey variant arrives under the name it shares with the colour one.
    ExpectSameAsFile(*m_hh->FindDatabase("App Grey"), Path("src/app-grey.prc"));
    ExpectSameAsFile(*m_hh->FindDatabase("Grey Only"), Path("src/greyonly.prc"));
    ExpectSameAsFile(*m_hh->FindDatabase("Common"), Path("src/common.pdb"));
}

TEST_F(ArchiveRun, MemberWithoutGroupIsNeverInstalledInColour) {
    ColourHandheld();
    Run({PackWithLooseMember("c.cca")});
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Common"});
    EXPECT_FALSE(std::filesystem::exists(m_tmp + "loose.prc"));
}

TEST_F(ArchiveRun, MemberWithoutGroupIsNeverInstalledInGrey) {
    GreyHandheld();
    Run({PackWithLooseMember("g.cca")});
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Common"});
    EXPECT_FALSE(std::filesystem::exists(m_tmp + "loose.prc"));
}

TEST_F(ArchiveRun, ColourArchiveOnAGreyHandheldIsSkippedWithItsPath) {
    GreyHandheld();
    ccapack::PackOptions options;
    options.bNeedColor = true;
    const std::string archive = PackVariants("colour only.cca", options);
    Run({archive, Path("next.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{51});
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0],
              "CCA: Need color device to install: \n" + archive + "\nArchiv ignored.");
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Next"});
    EXPECT_FALSE(Requested("CreateDB", "App"));
    // Nothing of the archive was unpacked.
    EXPECT_TRUE(std::filesystem::is_empty(m_tmp));
}

TEST_F(ArchiveRun, OsVersionPassesOnTheSameRelease) {
    ColourHandheld();
    config.romVersion = 0x03503000;
    ccapack::PackOptions options;
    options.strOsVersion = "3.5";
    Run({PackVariants("v35.cca", options)});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(CardNames(), (std::vector<std::string>{"App Colour", "Colour Extra", "Common"}));
}

TEST_F(ArchiveRun, OsVersionFailsOnAnOlderRelease) {
    ColourHandheld();
    config.romVersion = 0x03100000;
    ccapack::PackOptions options;
    options.strOsVersion = "3.5";
    Run({PackVariants("v35.cca", options), Path("next.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{53});
    EXPECT_EQ(view.messages, std::vector<std::string>{"CCA: OS-Version 3.5 required\n"
                                                      "Archive skipped"});
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Next"});
}

TEST_F(ArchiveRun, ColourAndVersionBothFailingGiveOnlyTheVersionMessage) {
    GreyHandheld();
    config.romVersion = 0x03100000;
    ccapack::PackOptions options;
    options.bNeedColor = true;
    options.strOsVersion = "3.5";
    Run({PackVariants("both.cca", options), Path("next.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{53});
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Next"});
}

TEST_F(ArchiveRun, DamagedArchivesAreDroppedSilently) {
    GreyHandheld();
    // A wrong magic, and a good archive cut inside its first member's name.
    auto bytes = ccatest::ReadFileBytes(PackVariants("good.cca"));
    auto badMagic = bytes;
    badMagic[3] ^= 0x20;
    ccatest::WriteFileBytes(Path("magic.cca"), badMagic);
    ccatest::WriteFileBytes(Path("cut.cca"), ccatest::Bytes(bytes.begin(), bytes.begin() + 90));
    Run({Path("magic.cca"), Path("cut.cca"), Path("next.prc")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Next"});
    EXPECT_EQ(failed, 0);
}

TEST_F(ArchiveRun, ArchiveInsideAnArchiveGoesToTheInstallPassUnchanged) {
    ColourHandheld();
    const std::string inner = PackVariants("inner.cca");
    ccapack::CCcaPacker packer;
    std::string error;
    ASSERT_TRUE(packer.AddFile("All", inner, "", 1, error)) << error;
    ASSERT_TRUE(packer.AddFile("All", Path("next.prc"), "", 1, error)) << error;
    ASSERT_TRUE(packer.Write(Path("outer.cca"), error)) << error;
    Run({Path("outer.cca")});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_EQ(view.messages, std::vector<std::string>{"unknown format of file"});
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Next"});
}

TEST_F(ArchiveRun, DatabaseInAFolderNamedLikeAnArchiveIsDroppedSilently) {
    GreyHandheld();
    std::filesystem::create_directories(Path("x.cca"));
    ASSERT_TRUE(e2e::WriteApp(Path("x.cca/in.prc"), "Inside", "Ins1", 100, 1));
    Run({Path("x.cca/in.prc"), Path("next.prc")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(CardNames(), std::vector<std::string>{"Next"});
}

}  // namespace
