// Memory cards and verification, from the install list to the virtual handheld's card: each
// destination with files of every kind, the handhelds that cannot take a card, hostile
// cards, and the checks after each install.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/install_worker.h"
#include "engine/transfer_monitor.h"
#include "formats/doc/text_to_doc.h"
#include "formats/picture/picture.h"
#include "resources/strings/string_table.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/picture/picture_test_util.h"
#include "tests/support/child_process.h"
#include "tools/ccapack/cca_packer.h"

namespace {

using pictest::ReadFile;

constexpr uint64_t kCardSize = 4u * 1024 * 1024;

// A single-track MIDI file: its header, one track holding only its end.
std::vector<uint8_t> TinyMidi() {
    return {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
            96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
}

class CardRun : public e2e::CRunFixture {
  protected:
    void SetUp() override {
        CRunFixture::SetUp();
        config.cardSize = kCardSize;
        config.cardLabel = "SD CARD";
    }
    // The card's file at /PALM/Launcher/<name>, empty when it is not there.
    std::vector<uint8_t> OnCard(const std::string& name) const {
        for (const auto& [path, data] : m_hh->CardFiles()) {
            if (path == "/PALM/Launcher/" + name) return data;
        }
        return {};
    }
    size_t CardFileCount() const { return m_hh->CardFiles().size(); }
    std::string Summary() const { return view.statuses.empty() ? "" : view.statuses.back(); }
    // The run's one message, for the one file it counted as failed.
    void ExpectOnlyError(int code, const std::string& message) const {
        EXPECT_EQ(view.codes, std::vector<int>{code});
        ASSERT_FALSE(view.messages.empty());
        EXPECT_EQ(view.messages.front(), message);
        EXPECT_EQ(failed, 1);
    }
    void SoundDb() {
        const std::string path = Path("System MIDI Sounds.pdb");
        ASSERT_TRUE(testdb::WriteRecordDb(
            path, testdb::Info("System MIDI Sounds", false, "smfr", "psys"), {}));
        config.loadFiles.push_back(path);
    }
    std::string Book(const std::string& name, size_t size) {
        const std::string text = Path(name + ".txt");
        std::vector<uint8_t> words(size);
        for (size_t i = 0; i < size; ++i) words[i] = uint8_t("palm card book "[i % 15]);
        testsupport::WriteFile(text, words);
        std::string db;
        EXPECT_TRUE(ConvertTextFile(text, db));
        return db;
    }
};

TEST_F(CardRun, CardDestinationPutsPalmFilesOnTheCardAndKeepsSoundsAndPicturesInMemory) {
    SoundDb();
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 30000, 3));
    const std::string book = Book("novel", 70000);
    testsupport::WriteFile(Path("bell.mid"), TinyMidi());
    pictest::WriteFile(Path("photo.bmp"), pictest::Bmp24(16, 12, [](int x, int y) {
                           return RgbColor{uint8_t(x * 9), uint8_t(y * 20), 80};
                       }));
    placement.destination = kDestinationCard;
    Run({Path("game.prc"), book, Path("bell.mid"), Path("photo.bmp")});
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_EQ(failed, 0);
    // Byte for byte as the files are, under their own names.
    EXPECT_EQ(OnCard("game.prc"), ReadFile(Path("game.prc")));
    EXPECT_EQ(OnCard(std::filesystem::path(book).filename().string()), ReadFile(book));
    EXPECT_EQ(CardFileCount(), 2u);
    EXPECT_FALSE(m_hh->FindDatabase("Game"));
    // The sound and the picture went to memory, and the summary says why.
    EXPECT_EQ(m_hh->FindDatabase("System MIDI Sounds")->records.size(), 1u);
    EXPECT_TRUE(m_hh->FindDatabase("photo"));
    EXPECT_NE(Summary().find("2 on the card"), std::string::npos) << Summary();
    EXPECT_NE(Summary().find("2 kept in memory (sounds and pictures open only from there)"),
              std::string::npos)
        << Summary();
    EXPECT_FALSE(Requested("CreateDB", "\"Game\""));
}

TEST_F(CardRun, ArchiveMembersAndPictureApplicationsFollowTheSameRules) {
    SoundDb();
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 3));
    testsupport::WriteFile(Path("bell.mid"), TinyMidi());
    // A picture made into an application in an earlier run: its HEAD block and a tile.
    pdb::DbInfo info;
    info.name = "Sunset";
    info.attributes = pdb::kAttrResDb;
    info.type = pdb::MakeFourCC("appl");
    info.creator = pdb::FourCCFromText(MakePictureCreator("Sunset"));
    auto picture = pdb::CPalmDbFile::Create(Path("sunset.prc"), info);
    ASSERT_TRUE(picture);
    const std::vector<uint8_t> bytes(40, 1);
    ASSERT_EQ(picture->AppendResource(bytes.data(), 36, pdb::MakeFourCC("HEAD"), 0), pdb::kOk);
    ASSERT_EQ(picture->AppendResource(bytes.data(), 40, pdb::MakeFourCC("BITM"), 0), pdb::kOk);
    ASSERT_EQ(picture->Close(), pdb::kOk);
    ccapack::CCcaPacker packer;
    std::string error;
    for (const char* name : {"game.prc", "bell.mid", "sunset.prc"}) {
        ASSERT_TRUE(packer.AddFile("All", Path(name), "", 1, error)) << error;
    }
    ASSERT_TRUE(packer.Write(Path("pack.cca"), error)) << error;
    placement.destination = kDestinationCard;
    Run({Path("pack.cca")});
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(OnCard("game.prc"), ReadFile(Path("game.prc")));
    EXPECT_EQ(CardFileCount(), 1u);
    EXPECT_TRUE(m_hh->FindDatabase("Sunset"));
    EXPECT_EQ(m_hh->FindDatabase("System MIDI Sounds")->records.size(), 1u);
    EXPECT_NE(Summary().find("1 on the card, 2 kept in memory"), std::string::npos) << Summary();
    // The list shows the same: a picture application goes to memory.
    EXPECT_EQ(PlannedDestination(Path("sunset.prc"), kDestinationCard), kDestinationRam);
    EXPECT_EQ(PlannedDestination(Path("game.prc"), kDestinationCard), kDestinationCard);
    EXPECT_EQ(PlannedDestination(Path("bell.mid"), kDestinationAuto), kDestinationRam);
}

TEST_F(CardRun, AFileOfTheSameNameIsReplacedWithNothingOfTheOldLeft) {
    std::filesystem::create_directories(Path("old"));
    std::filesystem::create_directories(Path("new"));
    ASSERT_TRUE(e2e::WriteApp(Path("old/game.prc"), "Game", "Gam1", 50000, 1));
    ASSERT_TRUE(e2e::WriteApp(Path("new/game.prc"), "Game", "Gam1", 2000, 9));
    placement.destination = kDestinationCard;
    Run({Path("old/game.prc"), Path("new/game.prc")});
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(CardFileCount(), 1u);
    EXPECT_EQ(OnCard("game.prc"), ReadFile(Path("new/game.prc")));
}

TEST_F(CardRun, AutoSendsWhatDoesNotFitTheMemoryToTheCard) {
    config.freeRam = 40000;
    ASSERT_TRUE(e2e::WriteApp(Path("small.prc"), "Small", "Sml1", 5000, 1));
    ASSERT_TRUE(e2e::WriteApp(Path("big.prc"), "Big", "Big1", 60000, 2));
    placement.destination = kDestinationAuto;
    Run({Path("small.prc"), Path("big.prc")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(failed, 0);
    ASSERT_TRUE(m_hh->FindDatabase("Small"));
    EXPECT_FALSE(m_hh->FindDatabase("Big"));
    EXPECT_EQ(OnCard("big.prc"), ReadFile(Path("big.prc")));
    EXPECT_NE(Summary().find("1 on the card (1 for lack of memory)"), std::string::npos)
        << Summary();
}

TEST_F(CardRun, AutoSendsWhatTheHandheldRefusesForMemoryToTheCard) {
    // The storage figures say the second fits; the handheld runs out in the middle of it.
    config.fullAfterBytes = 20000;
    ASSERT_TRUE(e2e::WriteApp(Path("first.prc"), "First", "Fst1", 15000, 1));
    ASSERT_TRUE(e2e::WriteApp(Path("big.prc"), "Big", "Big1", 12000, 2));
    placement.destination = kDestinationAuto;
    Run({Path("first.prc"), Path("big.prc")});
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_TRUE(m_hh->FindDatabase("First"));
    EXPECT_FALSE(m_hh->FindDatabase("Big"));  // the partial database was removed
    EXPECT_EQ(CountRequests("CreateDB"), 2);
    EXPECT_EQ(OnCard("big.prc"), ReadFile(Path("big.prc")));
    EXPECT_NE(Summary().find("(1 for lack of memory)"), std::string::npos) << Summary();
}

TEST_F(CardRun, AutoWithoutACardReportsTheFileAsNotInstalled) {
    config.cardSize = 0;
    config.freeRam = 10000;
    ASSERT_TRUE(e2e::WriteApp(Path("big.prc"), "Big", "Big1", 60000, 2));
    ASSERT_TRUE(e2e::WriteApp(Path("small.prc"), "Small", "Sml1", 500, 1));
    placement.destination = kDestinationAuto;
    Run({Path("big.prc"), Path("small.prc")});
    ExpectOnlyError(kRunErrNowhere,
                    "Neither the handheld's memory nor a memory card can take it:\nbig.prc was "
                    "not installed.");
    EXPECT_TRUE(m_hh->FindDatabase("Small"));
}

TEST_F(CardRun, HandheldsThatCannotTakeTheFileSayWhyInBothLanguages) {
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    placement.destination = kDestinationCard;
    config.cardSize = 0;
    Run({Path("game.prc")});
    ExpectOnlyError(kRunErrNoCard, "No memory card in the handheld:\ngame.prc was not installed.");
    EXPECT_FALSE(m_hh->FindDatabase("Game"));
    const std::string german = ErrorMessageText(kRunErrNoCard, "game.prc", false, 0, 0);
    EXPECT_FALSE(german.empty());
    resources::SetLanguage(resources::Language::kGerman);
    EXPECT_EQ(ErrorMessageText(kRunErrNoCard, "game.prc", false, 0, 0),
              "Keine Speicherkarte im Handheld:\ngame.prc wurde nicht übertragen.");
    EXPECT_EQ(ErrorMessageText(kRunErrCardReadOnly, "x", false, 0, 0),
              "Die Speicherkarte ist schreibgeschützt:\nx wurde nicht übertragen.");
    resources::SetLanguage(resources::Language::kEnglish);
}

TEST_F(CardRun, AWriteProtectedCardAndAnOldHandheldAreRefusedBeforeWriting) {
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    placement.destination = kDestinationCard;
    config.cardReadOnly = true;
    Run({Path("game.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{kRunErrCardReadOnly});
    EXPECT_FALSE(Requested("VFSFileCreate"));
    EXPECT_EQ(CardFileCount(), 0u);
}

TEST_F(CardRun, AHandheldWithoutExpansionManagerIsToldApart) {
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    placement.destination = kDestinationCard;
    config.romVersion = 0x03503000;
    Run({Path("game.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{kRunErrNoExpansion});
    EXPECT_EQ(failed, 1);
}

TEST_F(CardRun, ACardPulledMidWriteIsReportedAndTheRunGoesOn) {
    ASSERT_TRUE(e2e::WriteApp(Path("big.prc"), "Big", "Big1", 60000, 2));
    ASSERT_TRUE(e2e::WriteApp(Path("next.prc"), "Next", "Nxt1", 500, 1));
    placement.destination = kDestinationCard;
    config.cardPullAfterBytes = 20000;
    Run({Path("big.prc"), Path("next.prc")});
    ASSERT_EQ(view.codes.size(), 2u);
    EXPECT_EQ(view.codes[0], kRunErrCardWrite);
    EXPECT_EQ(view.codes[1], kRunErrNoCard);
    EXPECT_EQ(failed, 2);
    EXPECT_TRUE(Requested("VFSFileDelete"));  // tried, though the card was gone
    EXPECT_TRUE(Requested("EndOfSync"));
}

TEST_F(CardRun, NamesTheCardCannotHoldAreRefusedWithNothingLeftBehind) {
    const std::string odd = Path("odd\\name.prc");
    ASSERT_TRUE(e2e::WriteApp(odd, "Odd", "Odd1", 300, 1));
    const std::string longName = Path(std::string(251, 'l') + ".prc");  // 255 bytes: fine
    ASSERT_TRUE(e2e::WriteApp(longName, "Long", "Lng1", 300, 2));
    placement.destination = kDestinationCard;
    Run({odd, longName});
    EXPECT_EQ(view.codes, std::vector<int>{kRunErrCardName});
    EXPECT_EQ(CardFileCount(), 1u);
    EXPECT_EQ(OnCard(std::string(251, 'l') + ".prc"), ReadFile(longName));
}

TEST_F(CardRun, AFullCardIsFoundBeforeWriting) {
    config.cardSize = 100000;
    ASSERT_TRUE(e2e::WriteApp(Path("big.prc"), "Big", "Big1", 40000, 2));  // 64 KB stay free
    placement.destination = kDestinationCard;
    Run({Path("big.prc")});
    EXPECT_EQ(view.codes, std::vector<int>{kRunErrCardFull});
    EXPECT_FALSE(Requested("VFSFileCreate"));
}

TEST_F(CardRun, VerifyReadsEverythingBackAndCountsIt) {
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    ASSERT_TRUE(
        testdb::WriteRecordDb(Path("data.pdb"), testdb::Info("Data", false, "DATA", "Dat1"),
                              {testdb::Rec(100, 1), testdb::Rec(0, 2), testdb::Rec(900, 3)}));
    placement.verify = true;
    Run({Path("game.prc"), Path("data.pdb")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(CountRequests("ReadResourceByIndex"), 2);
    EXPECT_EQ(CountRequests("ReadRecordByIndex"), 3);
    EXPECT_EQ(CountRequests("FindDB", "\"options\":64"), 2);  // the cheap check, one each
    EXPECT_NE(Summary().find("2 verified"), std::string::npos) << Summary();
}

TEST_F(CardRun, WritesTheHandheldLostAreFoundAndCountAsFailed) {
    config.loseWriteEvery = 3;
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("data.pdb"), testdb::Info("Data", false, "DATA", "Dat1"),
        {testdb::Rec(100, 1), testdb::Rec(50, 2), testdb::Rec(90, 3), testdb::Rec(70, 4)}));
    Run({Path("data.pdb")});
    ExpectOnlyError(kRunErrVerify,
                    "Check failed: the handheld does not hold what was sent.\ndata.pdb was "
                    "removed again.");
    EXPECT_FALSE(m_hh->FindDatabase("Data"));
}

// Some handhelds that report DLP 1.2 refuse FindDB's size option or answer without the
// sizes: the install is counted through the opened database instead of being removed.
class CardRunOddFindDb : public CardRun {
  protected:
    void AnswerFindDbSizesWith(std::vector<uint8_t> odd) {
        config.reviseAnswer = [odd](const std::vector<uint8_t>& request,
                                    std::vector<uint8_t>& answer) {
            if (request.size() > 4 && request[0] == 0x39 && (request[4] & 0x40) != 0) answer = odd;
        };
    }
};

TEST_F(CardRunOddFindDb, ARefusedSizeOptionFallsBackToCountingTheOpenDatabase) {
    AnswerFindDbSizesWith({0xB9, 0x00, 0x00, 0x0D});  // an error of its own, no arguments
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    Run({Path("game.prc")});
    EXPECT_TRUE(view.codes.empty());
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(Requested("ReadOpenDBInfo"));
    EXPECT_TRUE(m_hh->FindDatabase("Game"));
}

TEST_F(CardRunOddFindDb, AnAnswerWithoutSizesStillFindsWhatTheHandheldDidNotKeep) {
    AnswerFindDbSizesWith({0xB9, 0x00, 0x00, 0x00});  // success, but no sizes
    config.loseWriteEvery = 2;
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    Run({Path("game.prc")});
    EXPECT_TRUE(Requested("ReadOpenDBInfo"));
    EXPECT_EQ(view.codes, std::vector<int>{kRunErrVerify});
    EXPECT_FALSE(m_hh->FindDatabase("Game"));
}

TEST_F(CardRun, OlderHandheldsAreCheckedByReadOpenDbInfo) {
    config.dlpVersion = 0x0101;
    config.loseWriteEvery = 2;
    ASSERT_TRUE(e2e::WriteApp(Path("game.prc"), "Game", "Gam1", 3000, 1));
    Run({Path("game.prc")});
    EXPECT_TRUE(Requested("ReadOpenDBInfo"));
    EXPECT_FALSE(Requested("FindDB", "\"options\":64"));
    EXPECT_EQ(view.codes, std::vector<int>{kRunErrVerify});
}

TEST_F(CardRun, CardWritesMoveTheProgress) {
    ASSERT_TRUE(e2e::WriteApp(Path("big.prc"), "Big", "Big1", 80000, 2));
    const uint32_t total = uint32_t(ReadFile(Path("big.prc")).size());
    placement.destination = kDestinationCard;
    config.lineRate = 1000000;  // paced, so that the ticks see the write go on
    std::vector<uint32_t> seen;
    Run({Path("big.prc")}, false, false, [&](CInstallRun&) {
        const uint32_t done = m_session->m_nFileBytesDone;
        if (m_session->m_nFileBytesTotal == total && done > 0 && done < total) seen.push_back(done);
    });
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    EXPECT_GE(seen.size(), 2u) << "no steps between nothing and everything";
    EXPECT_EQ(m_session->m_nFileBytesDone, total);
}

}  // namespace
