// The console front end and the virtual handheld as the user runs them, over a
// pseudo-terminal: texts converted when queued, archives unpacked by the handheld's needs,
// pictures converted during the run, MIDI files refused with their message, and the
// program's temporary files gone when it ends.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "formats/picture/picture.h"
#include "tests/picture/picture_test_util.h"
#include "tests/session/db_builder.h"
#include "tests/support/console_harness.h"
#include "tests/support/worker_harness.h"
#include "tools/ccapack/cca_packer.h"

namespace {

using testsupport::LastLine;

class CliRun : public testsupport::CConsoleRunFixture {
  protected:
    CliRun() : CConsoleRunFixture(CC_CLI_PATH, CC_HANDHELD_PATH) {}

    // The programs inherit the temporary directory, inside the test's folder.
    void SetUp() override {
        CConsoleRunFixture::SetUp();
        m_tmp = Path("tmp/");
        std::filesystem::create_directories(m_tmp);
        const char* old = std::getenv("TMP");
        m_hadTmp = old != nullptr;
        if (old) m_oldTmp = old;
        ::setenv("TMP", m_tmp.c_str(), 1);
    }
    void TearDown() override {
        if (m_hadTmp) {
            ::setenv("TMP", m_oldTmp.c_str(), 1);
        } else {
            ::unsetenv("TMP");
        }
        CConsoleRunFixture::TearDown();
    }

    std::vector<std::string> TmpFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_tmp)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_tmp;
    bool m_hadTmp = false;
    std::string m_oldTmp;
};

// The text of a DOC database: records 1 to n after the 16-byte header record, which must
// count them.
std::string DocText(pdb::CPalmDbFile& doc) {
    pdb::Record header;
    EXPECT_EQ(doc.ReadRecord(0, header), pdb::kOk);
    EXPECT_EQ(header.data.size(), 16u);
    std::string text;
    for (int i = 1; i < doc.EntryCount(); ++i) {
        pdb::Record r;
        EXPECT_EQ(doc.ReadRecord(i, r), pdb::kOk);
        text.append(r.data.begin(), r.data.end());
    }
    if (header.data.size() == 16) {
        const auto be32 = [&](size_t at) {
            return uint32_t(header.data[at]) << 24 | uint32_t(header.data[at + 1]) << 16 |
                   uint32_t(header.data[at + 2]) << 8 | header.data[at + 3];
        };
        EXPECT_EQ(be32(4), text.size());
        EXPECT_EQ(int(header.data[8] << 8 | header.data[9]), doc.EntryCount() - 1);
    }
    return text;
}

TEST_F(CliRun, TextsAreConvertedWhenQueuedAndTheirDatabasesRemovedAtTheEnd) {
    // Two records' worth, CR LF line ends and a stray CR.
    std::string story;
    for (int i = 0; story.size() < 6000; ++i) {
        story += "Line " + std::to_string(i) + " of the story\r\n";
    }
    story += "a stray\rCR\r\n";
    std::ofstream(Path("story.txt"), std::ios::binary) << story;
    std::ofstream(Path("NOTES.Txt"), std::ios::binary) << "short note\n";
    std::string plain = story;
    plain.erase(std::remove(plain.begin(), plain.end(), '\r'), plain.end());

    const std::string pty = StartHandheld();
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("story.txt"),
                               Path("missing.txt"), Path("NOTES.Txt")},
                              {}, true);
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
    // The text that could not be converted is named on the error output and not queued.
    EXPECT_NE(m_cliOut.find("text file not converted, not queued: " + Path("missing.txt")),
              std::string::npos)
        << m_cliOut;
    EXPECT_NE(m_cliOut.find("[2] Waiting for connect"), std::string::npos) << m_cliOut;

    auto doc = Written("story.pdb");
    ASSERT_TRUE(doc) << m_cliOut;
    EXPECT_EQ(doc->Info().type, pdb::MakeFourCC("TEXt"));
    EXPECT_EQ(doc->Info().creator, pdb::MakeFourCC("REAd"));
    EXPECT_EQ(doc->EntryCount(), 3);
    EXPECT_EQ(DocText(*doc), plain);
    auto notes = Written("NOTES.pdb");
    ASSERT_TRUE(notes);
    EXPECT_EQ(DocText(*notes), "short note\n");

    // The converted files were temporary.
    EXPECT_FALSE(std::filesystem::exists(Path("story.PDB")));
    EXPECT_FALSE(std::filesystem::exists(Path("NOTES.PDB")));
    EXPECT_TRUE(std::filesystem::exists(Path("story.txt")));
}

TEST_F(CliRun, ArchivesOnAGreyHandheld) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("colour.prc"),
                                        testdb::Info("Cli Colour", true, "appl", "CliC"),
                                        {{"code", 1, testdb::Bytes(900, 1)}}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("grey.prc"),
                                        testdb::Info("Cli Grey", true, "appl", "CliG"),
                                        {{"code", 1, testdb::Bytes(800, 2)}}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("next.prc"),
                                        testdb::Info("Cli Next", true, "appl", "CliN"),
                                        {{"code", 1, testdb::Bytes(100, 3)}}));
    std::string error;
    ccapack::CCcaPacker variants;
    ASSERT_TRUE(variants.AddFile("Color", Path("colour.prc"), "app.prc", 1, error)) << error;
    ASSERT_TRUE(variants.AddFile("NonC", Path("grey.prc"), "app.prc", 1, error)) << error;
    ASSERT_TRUE(variants.Write(Path("variants.cca"), error)) << error;
    ccapack::CCcaPacker colourOnly;
    ccapack::PackOptions options;
    options.bNeedColor = true;
    ASSERT_TRUE(colourOnly.SetOptions(options, error)) << error;
    ASSERT_TRUE(colourOnly.AddFile("All", Path("colour.prc"), "", 1, error)) << error;
    ASSERT_TRUE(colourOnly.Write(Path("colour only.cca"), error)) << error;

    const std::string pty = StartHandheld({"--grey", "--rom", "0x03503000"});
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("colour only.cca"),
                               Path("variants.cca"), Path("next.prc")});
    WaitHandheld();
    EXPECT_EQ(status, 1) << m_cliOut;  // a message was shown
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
    EXPECT_NE(m_cliOut.find("message: CCA: Need color device to install: \n    " +
                            Path("colour only.cca") + "\n    Archiv ignored."),
              std::string::npos)
        << m_cliOut;
    EXPECT_NE(m_cliOut.find("Ready ("), std::string::npos) << m_cliOut;
    auto grey = Written("Cli Grey.prc");
    ASSERT_TRUE(grey);
    testsupport::ExpectSameEntries(*grey, Path("grey.prc"));
    EXPECT_FALSE(Written("Cli Colour.prc"));
    EXPECT_TRUE(Written("Cli Next.prc"));
}

TEST_F(CliRun, PicturesArriveAndTheirFilesAreRemovedAtTheEnd) {
    const auto colour = [](int x, int y) { return RgbColor{uint8_t(x * 20), uint8_t(y * 20), 90}; };
    testsupport::WriteFile(Path("sunset.bmp"), pictest::Bmp24(9, 7, colour));
    testsupport::WriteFile(Path("sunset.jpg"), pictest::EncodeJpeg(16, 12, 3, 90, colour));
    testsupport::WriteFile(Path("broken.jpg"), {0xFF, 0xD8, 0xFF, 0x00});
    const std::string pty = StartHandheld({"--rom", "0x03503000", "--color"});
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("sunset.bmp"),
                               Path("broken.jpg"), Path("sunset.jpg")});
    WaitHandheld();
    EXPECT_EQ(status, 1) << m_cliOut;
    EXPECT_NE(m_cliOut.find("Converting sunset.bmp"), std::string::npos) << m_cliOut;
    EXPECT_NE(m_cliOut.find("message: unknown format of file"), std::string::npos) << m_cliOut;
    for (const std::string title : {"sunset", "sunset (2)"}) {
        auto app = Written(title + ".prc");
        ASSERT_TRUE(app) << title << "\n" << m_cliOut;
        EXPECT_EQ(app->Info().creator, pdb::FourCCFromText(MakePictureCreator(title).c_str()));
        pictest::DecodedPicture picture;
        EXPECT_TRUE(pictest::DecodePictureDb(m_out + "/" + title + ".prc", picture));
        EXPECT_EQ(picture.colors, 256);
    }
    // The viewer and the picture databases went with the program.
    EXPECT_EQ(TmpFiles(), std::vector<std::string>{}) << m_cliOut;
}

TEST_F(CliRun, MidiFileOfSeveralTracksIsRefusedWithItsMessage) {
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("sounds.pdb"), testdb::Info("System MIDI Sounds", false, "smfr", "psys"), {}));
    const std::vector<uint8_t> midi = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 1, 0,    1,    0,
                                       96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    testsupport::WriteFile(Path("song.mid"), midi);
    const std::string pty = StartHandheld({"--load", Path("sounds.pdb")});
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", Path("song.mid")});
    WaitHandheld();
    EXPECT_EQ(status, 1) << m_cliOut;
    EXPECT_NE(m_cliOut.find("message: File was in MIDI-format, but\n    to big (64 KB)  or\n"
                            "    more than one channel."),
              std::string::npos)
        << m_cliOut;
    auto sounds = Written("System MIDI Sounds.pdb");
    ASSERT_TRUE(sounds);
    EXPECT_EQ(sounds->EntryCount(), 0);
}

// The card options as a user types them: the card chosen by its label, a program and a
// text on it, a picture kept in memory, and every file verified.
TEST_F(CliRun, CardInstallChosenByLabelWithEveryFileVerified) {
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("game.prc"), testdb::Info("Card Game", true, "appl", "CdGm"),
        {{"code", 1, testdb::Bytes(20000, 5)}, {"tver", 1, {'1', '.', '0', 0}}}));
    std::ofstream(Path("story.txt"), std::ios::binary) << "A story for the card.\n";
    const auto colour = [](int x, int y) { return RgbColor{uint8_t(x * 20), uint8_t(y * 20), 90}; };
    testsupport::WriteFile(Path("sky.bmp"), pictest::Bmp24(9, 7, colour));
    const std::string pty = StartHandheld({"--color", "--card", "8M", "--card-label", "TRAVEL"});
    const int status =
        RunCli({"--port", pty, "--quiet", "--wait", "30", "--to", "card", "--card", "TRAVEL",
                "--verify", Path("game.prc"), Path("story.txt"), Path("sky.bmp")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0 (3 verified)") << m_cliOut;
    const auto onCard = [&](const std::string& name) {
        std::ifstream in(m_out + "/card/PALM/Launcher/" + name, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(onCard("game.prc"), pictest::ReadFile(Path("game.prc")));
    EXPECT_FALSE(onCard("story.PDB").empty());  // the DOC database beside the text
    EXPECT_FALSE(Written("Card Game.prc"));
    EXPECT_TRUE(Written("sky.prc")) << m_cliOut;  // pictures open from memory only
}

TEST_F(CliRun, ACardNamedThatIsNotThereIsReportedAndCounted) {
    ASSERT_TRUE(testdb::WriteResourceDb(Path("game.prc"),
                                        testdb::Info("Card Game", true, "appl", "CdGm"),
                                        {{"code", 1, testdb::Bytes(500, 5)}}));
    const std::string pty = StartHandheld({"--card", "8M"});
    const int status = RunCli({"--port", pty, "--quiet", "--wait", "30", "--to", "card", "--card",
                               "2", Path("game.prc")});
    WaitHandheld();
    EXPECT_EQ(status, 1) << m_cliOut;
    EXPECT_NE(m_cliOut.find("No memory card in the handheld:"), std::string::npos) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
}

// The same programs over network HotSync: the handheld connects to the console's listener on
// the loopback address, and every kind of file arrives byte for byte.
TEST_F(CliRun, EveryKindOfFileOverNetworkHotSync) {
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("notes.pdb"), testdb::Info("Net Notes", false, "DATA", "NtNo"),
        {testdb::Rec(3000, 1, 0, 2, 0x5001), testdb::Rec(65000, 2, 0, 3, 0x5002)},
        testdb::Bytes(120, 4)));
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("app.prc"), testdb::Info("Net App", true, "appl", "NtAp"),
        {{"code", 1, testdb::Bytes(65536, 5)}, {"tver", 1, {'1', '.', '2', 0}}}));
    ASSERT_TRUE(testdb::WriteResourceDb(Path("member.prc"),
                                        testdb::Info("Net Member", true, "appl", "NtMb"),
                                        {{"code", 1, testdb::Bytes(700, 6)}}));
    std::string error;
    ccapack::CCcaPacker packer;
    ASSERT_TRUE(packer.AddFile("All", Path("member.prc"), "", 1, error)) << error;
    ASSERT_TRUE(packer.Write(Path("pack.cca"), error)) << error;
    std::ofstream(Path("tale.txt"), std::ios::binary) << "Once upon a time, by network.\n";
    const auto colour = [](int x, int y) { return RgbColor{uint8_t(x * 20), uint8_t(y * 20), 90}; };
    testsupport::WriteFile(Path("sky.bmp"), pictest::Bmp24(9, 7, colour));
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("sounds.pdb"), testdb::Info("System MIDI Sounds", false, "smfr", "psys"), {}));
    const std::vector<uint8_t> midi = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                       96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    testsupport::WriteFile(Path("ring.mid"), midi);

    const uint16_t port =
        StartNetHandheld({"--rom", "0x03503000", "--color", "--load", Path("sounds.pdb")});
    const std::string net = "net:127.0.0.1:" + std::to_string(port);
    const int status =
        RunCli({"--port", net, "--quiet", "--wait", "30", Path("notes.pdb"), Path("app.prc"),
                Path("pack.cca"), Path("tale.txt"), Path("sky.bmp"), Path("ring.mid")});
    WaitHandheld();
    EXPECT_EQ(status, 0) << m_cliOut;
    EXPECT_EQ(LastLine(m_cliOut), "result: 0");
    EXPECT_NE(m_cliOut.find("Waiting for connect on port " + net), std::string::npos) << m_cliOut;
    for (const auto& [file, source] :
         std::vector<std::pair<std::string, std::string>>{{"Net Notes.pdb", "notes.pdb"},
                                                          {"Net App.prc", "app.prc"},
                                                          {"Net Member.prc", "member.prc"}}) {
        auto got = Written(file);
        ASSERT_TRUE(got) << file << "\n" << m_cliOut;
        testsupport::ExpectSameEntries(*got, Path(source));
    }
    auto doc = Written("tale.pdb");
    ASSERT_TRUE(doc);
    EXPECT_EQ(DocText(*doc), "Once upon a time, by network.\n");
    pictest::DecodedPicture picture;
    EXPECT_TRUE(pictest::DecodePictureDb(m_out + "/sky.prc", picture));
    EXPECT_EQ(picture.colors, 256);
    auto sounds = Written("System MIDI Sounds.pdb");
    ASSERT_TRUE(sounds);
    ASSERT_EQ(sounds->EntryCount(), 1);
    pdb::Record sound;
    ASSERT_EQ(sounds->ReadRecord(0, sound), pdb::kOk);
    EXPECT_EQ(std::vector<uint8_t>(sound.data.end() - midi.size(), sound.data.end()), midi);
    // The picture's files went with the program; archive members stay, as extracted.
    EXPECT_EQ(TmpFiles(), std::vector<std::string>{"member.prc"});
}

}  // namespace
