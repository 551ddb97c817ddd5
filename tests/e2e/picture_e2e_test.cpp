// Pictures in the install list, converted on the window's side while the worker waits and
// installed into the virtual handheld as picture applications fitted to its display.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "formats/picture/picture.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/picture/picture_test_util.h"

namespace {

// 192 colours: fits a colour handheld's 256 as it is.
RgbColor Colourful(int x, int y) {
    return {uint8_t(x * 16), uint8_t(y * 20), uint8_t(200 - x * 4)};
}
// Exactly 16 grey levels: fits a 16-level handheld as it is.
RgbColor Greys(int x, int y) {
    const uint8_t g = uint8_t(17 * ((x + y) % 16));
    return {g, g, g};
}

class PictureRun : public e2e::CRunFixture {
  protected:
    void SetUp() override {
        CRunFixture::SetUp();
        pictest::WriteFile(Path("viewer.prc"), resources::ViewerPrcBytes());
        m_viewer = pictest::ReadResources(Path("viewer.prc"), &m_viewerInfo);
        ASSERT_FALSE(m_viewer.empty());
    }

    // The picture application on the handheld: header, resources in order, and its
    // picture decoded from the tiles; the tile count and HEAD are checked on the way.
    void ExpectPictureApp(const std::string& title, int colors, int width, int height,
                          pictest::DecodedPicture& picture) {
        SCOPED_TRACE(title);
        auto db = m_hh->FindDatabase(title);
        ASSERT_TRUE(db) << "not on the handheld";
        EXPECT_EQ(db->info.creator, pdb::FourCCFromText(MakePictureCreator(title).c_str()));
        EXPECT_EQ(db->info.type, pdb::MakeFourCC("appl"));
        EXPECT_EQ(db->info.type, m_viewerInfo.type);
        ASSERT_GT(db->resources.size(), m_viewer.size() + 1);
        for (size_t i = 0; i < m_viewer.size(); ++i) {
            const pdb::Resource& got = db->resources[i];
            EXPECT_EQ(got.type, m_viewer[i].type) << i;
            EXPECT_EQ(got.id, m_viewer[i].id) << i;
            if (got.type == pdb::MakeFourCC("tAIN")) {
                std::vector<uint8_t> name(title.begin(), title.end());
                name.push_back(0);
                EXPECT_EQ(got.data, name);
            } else {
                EXPECT_EQ(got.data, m_viewer[i].data) << i;
            }
        }
        const pdb::Resource& head = db->resources[m_viewer.size()];
        EXPECT_EQ(head.type, pdb::MakeFourCC("HEAD"));
        EXPECT_EQ(head.id, 0);
        for (size_t i = m_viewer.size() + 1; i < db->resources.size(); ++i) {
            EXPECT_EQ(db->resources[i].type, pdb::MakeFourCC("BITM")) << i;
            EXPECT_EQ(db->resources[i].id, i - m_viewer.size() - 1) << i;
        }
        // The tiles as they arrived, read back from the handheld's own copy.
        const std::string card = Path("card/");
        ASSERT_EQ(m_hh->WriteOut(card), 0);
        ASSERT_TRUE(pictest::DecodePictureDb(card + handheld::SafeFileName(title, true), picture));
        EXPECT_EQ(picture.colors, colors);
        EXPECT_EQ(picture.height, height);
        EXPECT_GE(picture.paddedWidth, width);
        EXPECT_EQ(size_t(picture.tilesTotal), db->resources.size() - m_viewer.size() - 1);
    }

    // The source picture at 24 bits, as the tiles should show it when it needs no fitting.
    int Mismatches(const pictest::DecodedPicture& picture, const std::string& path) {
        CDib dib;
        EXPECT_NE(dib.Load(path), CDib::kLoadFailed);
        EXPECT_TRUE(dib.To24Bit());
        return pictest::CompareWithDib(picture, dib);
    }

    std::vector<pdb::Resource> m_viewer;
    pdb::DbInfo m_viewerInfo;
};

TEST_F(PictureRun, BitmapAndJpegBecomeColourApplications) {
    ColourHandheld();
    pictest::WriteFile(Path("sunset.bmp"), pictest::Bmp24(12, 10, Colourful));
    pictest::WriteFile(Path("beach.jpg"), pictest::EncodeJpeg(40, 30, 3, 90, Colourful));
    Run({Path("sunset.bmp"), Path("beach.jpg")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(failed, 0);
    pictest::DecodedPicture sunset, beach;
    ExpectPictureApp("sunset", 256, 12, 10, sunset);
    EXPECT_EQ(Mismatches(sunset, Path("sunset.bmp")), 0);
    ExpectPictureApp("beach", 256, 40, 30, beach);
    // The viewer (written out for each picture) and both databases were handed to the
    // window to delete at its end.
    std::vector<std::string> temp = view.tempFiles;
    std::sort(temp.begin(), temp.end());
    temp.erase(std::unique(temp.begin(), temp.end()), temp.end());
    EXPECT_EQ(temp, (std::vector<std::string>{m_tmp + "VIEWER.PRC", m_tmp + "beach.PDB",
                                              m_tmp + "sunset.PDB"}));
}

TEST_F(PictureRun, DragonballEzGreyHandheldGets16Levels) {
    GreyHandheld(0x00020000);
    pictest::WriteFile(Path("greys.bmp"), pictest::Bmp24(33, 20, Greys));
    Run({Path("greys.bmp")});
    pictest::DecodedPicture picture;
    ExpectPictureApp("greys", 16, 33, 20, picture);
    EXPECT_EQ(Mismatches(picture, Path("greys.bmp")), 0);
}

TEST_F(PictureRun, OldProcessorGets4Levels) {
    GreyHandheld(0x00010000);
    pictest::WriteFile(Path("greys.jpeg"), pictest::EncodeJpeg(24, 16, 1, 90, Greys));
    Run({Path("greys.jpeg")});
    pictest::DecodedPicture picture;
    ExpectPictureApp("greys", 4, 24, 16, picture);
}

TEST_F(PictureRun, OtherGreyHandheldGets2Levels) {
    GreyHandheld(0x00030000);
    pictest::WriteFile(Path("greys.bmp"), pictest::Bmp24(21, 9, Greys));
    Run({Path("greys.bmp")});
    pictest::DecodedPicture picture;
    ExpectPictureApp("greys", 2, 21, 9, picture);
}

TEST_F(PictureRun, PictureThatCannotBeConvertedIsReportedAndTheNextInstalled) {
    ColourHandheld();
    pictest::WriteFile(Path("broken.bmp"), {'B', 'M', 1, 2, 3});
    pictest::WriteFile(Path("fine.bmp"), pictest::Bmp24(5, 5, Colourful));
    Run({Path("broken.bmp"), Path("fine.bmp")});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_EQ(view.messages, std::vector<std::string>{"unknown format of file"});
    EXPECT_EQ(CardNames(), std::vector<std::string>{"fine"});
    EXPECT_FALSE(std::filesystem::exists(m_tmp + "broken.PDB"));
}

// a.bmp and a.jpg share a title; the second must neither overwrite the first's queued
// database nor replace it on the handheld.
TEST_F(PictureRun, TwoPicturesWithTheSameTitleBothArrive) {
    ColourHandheld();
    pictest::WriteFile(Path("a.bmp"), pictest::Bmp24(10, 10, Colourful));
    pictest::WriteFile(Path("a.jpg"), pictest::EncodeJpeg(20, 8, 3, 90, Colourful));
    Run({Path("a.bmp"), Path("a.jpg")});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(CardNames(), (std::vector<std::string>{"a", "a (2)"}));
    pictest::DecodedPicture first, second;
    ExpectPictureApp("a", 256, 10, 10, first);
    EXPECT_EQ(Mismatches(first, Path("a.bmp")), 0);
    ExpectPictureApp("a (2)", 256, 20, 8, second);
    EXPECT_TRUE(std::filesystem::exists(m_tmp + "a.PDB"));
    EXPECT_TRUE(std::filesystem::exists(m_tmp + "a (2).PDB"));
}

// A long title keeps its number within the database name's 31 characters.
TEST_F(PictureRun, NumberedLongTitleStaysDistinct) {
    ColourHandheld();
    const std::string title(40, 'p');
    pictest::WriteFile(Path(title + ".bmp"), pictest::Bmp24(4, 4, Colourful));
    pictest::WriteFile(Path(title + ".jpg"), pictest::EncodeJpeg(8, 8, 3, 90, Colourful));
    Run({Path(title + ".bmp"), Path(title + ".jpg")});
    EXPECT_EQ(CardNames(),
              (std::vector<std::string>{title.substr(0, 27) + " (2)", title.substr(0, 31)}));
}

}  // namespace
