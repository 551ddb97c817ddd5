// One install run of every kind of file over each link a handheld may come by: network
// HotSync over loopback TCP, and a USB handheld on the fake bus speaking NetSync frames or
// the serial stack, or reached through the Windows vendor driver's or WinUSB's logic. Everything
// must arrive as it does over a serial line, byte for byte.
#include <gtest/gtest.h>

#include <fstream>

#include "formats/doc/text_to_doc.h"
#include "formats/picture/picture.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/picture/picture_test_util.h"
#include "tools/ccapack/cca_packer.h"

namespace {

using testsupport::RunLink;

RgbColor Colourful(int x, int y) {
    return {uint8_t(x * 16), uint8_t(y * 20), uint8_t(200 - x * 4)};
}

class LinkRun : public e2e::CRunFixture, public ::testing::WithParamInterface<RunLink> {};

TEST_P(LinkRun, EveryKindOfFileArrivesByteForByte) {
    link = GetParam();
    ColourHandheld();
    // A record database with categories, ids and an app info block; an application with
    // a resource of the largest size; a text; a picture; an archive; a sound.
    std::vector<pdb::Record> records;
    for (int i = 0; i < 40; ++i) {
        records.push_back(testdb::Rec(size_t(100 + i * 997), uint8_t(i), 0, uint8_t(i % 16),
                                      uint32_t(0x8000 + i)));
    }
    ASSERT_TRUE(testdb::WriteRecordDb(Path("notes.pdb"),
                                      testdb::Info("Link Notes", false, "DATA", "LkNt"), records,
                                      testdb::Bytes(300, 9)));
    ASSERT_TRUE(testdb::WriteResourceDb(
        Path("big.prc"), testdb::Info("Link Big", true, "appl", "LkBg"),
        {{"code", 1, testdb::Bytes(65536, 1)}, {"tver", 1, {'2', '.', '0', 0}}}));
    std::string story;
    while (story.size() < 9000) story += "A line of the story that travels by network.\n";
    std::ofstream(Path("story.txt"), std::ios::binary) << story;
    std::string doc;
    ASSERT_TRUE(ConvertTextFile(Path("story.txt"), doc));
    pictest::WriteFile(Path("sunset.bmp"), pictest::Bmp24(12, 10, Colourful));
    ASSERT_TRUE(e2e::WriteApp(Path("member.prc"), "Link Member", "LkMb", 4000, 7));
    std::string error;
    ccapack::CCcaPacker packer;
    ASSERT_TRUE(packer.AddFile("All", Path("member.prc"), "", 1, error)) << error;
    ASSERT_TRUE(packer.Write(Path("pack.cca"), error)) << error;
    const std::vector<uint8_t> midi = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                       96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    pictest::WriteFile(Path("bell.mid"), midi);
    ASSERT_TRUE(testdb::WriteRecordDb(
        Path("sounds.pdb"), testdb::Info("System MIDI Sounds", false, "smfr", "psys"), {}));
    config.loadFiles.push_back(Path("sounds.pdb"));

    Run({Path("notes.pdb"), Path("big.prc"), doc, Path("sunset.bmp"), Path("pack.cca"),
         Path("bell.mid")});
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_EQ(failed, 0);
    ASSERT_EQ(m_hh->Outcomes().size(), 1u);
    EXPECT_EQ(m_hh->Outcomes()[0], handheld::SyncOutcome::kCompleted);

    testsupport::ExpectSameAsFile(*m_hh->FindDatabase("Link Notes"), Path("notes.pdb"));
    testsupport::ExpectSameAsFile(*m_hh->FindDatabase("Link Big"), Path("big.prc"));
    testsupport::ExpectSameAsFile(*m_hh->FindDatabase("story"), doc);
    testsupport::ExpectSameAsFile(*m_hh->FindDatabase("Link Member"), Path("member.prc"));
    // The picture application carries the picture as it was.
    ASSERT_TRUE(m_hh->FindDatabase("sunset"));
    ASSERT_EQ(m_hh->WriteOut(Path("card/")), 0);
    pictest::DecodedPicture picture;
    ASSERT_TRUE(pictest::DecodePictureDb(Path("card/sunset.prc"), picture));
    CDib dib;
    ASSERT_NE(dib.Load(Path("sunset.bmp")), CDib::kLoadFailed);
    ASSERT_TRUE(dib.To24Bit());
    EXPECT_EQ(pictest::CompareWithDib(picture, dib), 0);
    // The sound record: its header, its name and the file.
    const auto sounds = m_hh->FindDatabase("System MIDI Sounds");
    ASSERT_TRUE(sounds);
    ASSERT_EQ(sounds->records.size(), 1u);
    std::vector<uint8_t> record = {'P', 'M', 'r', 'c', 15,  0,   'b', 'e',
                                   'l', 'l', '.', 'm', 'i', 'd', 0};
    record.insert(record.end(), midi.begin(), midi.end());
    EXPECT_EQ(sounds->records[0].data, record);
}

INSTANTIATE_TEST_SUITE_P(Links, LinkRun,
                         ::testing::Values(RunLink::kNet, RunLink::kUsbNetSync, RunLink::kUsbSerial,
                                           RunLink::kUsbVendorDriver, RunLink::kUsbWinUsb),
                         [](const auto& p) { return testsupport::RunLinkName(p.param); });

}  // namespace
