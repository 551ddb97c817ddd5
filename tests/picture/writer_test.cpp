// The picture application database: creator, run-length encoding, HEAD, tiles, and the
// conversion of one file. Every written tile is decoded here from the layout alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "picture_test_util.h"

using namespace pictest;

namespace {

RgbColor Rgb(int r, int g, int b) {
    return {uint8_t(r), uint8_t(g), uint8_t(b)};
}

// CRC-16/XMODEM, written out separately from the code under test.
uint16_t Crc16(const std::string& s) {
    uint32_t crc = 0;
    for (unsigned char c : s) {
        for (int i = 7; i >= 0; --i) {
            const bool top = ((crc >> 15) & 1) != (((c >> i) & 1) != 0);
            crc = (crc << 1) & 0xFFFF;
            if (top) crc ^= 0x1021;
        }
    }
    return uint16_t(crc);
}

char MapChar(unsigned v) {
    const std::string table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz{|0123456789";
    return table[v];
}

struct Written {
    DecodedPicture pic;
    std::vector<pdb::Resource> resources;
    pdb::DbInfo info;
};

class PictureWriterTest : public ::testing::Test {
  protected:
    void SetUp() override { m_viewer = MakeViewer(m_dir); }

    // Loads the bytes, writes them with `colors`, decodes the result and checks every
    // pixel against the fitted bitmap.
    Written WriteAndDecode(const std::vector<uint8_t>& bytes, int colors, bool compress,
                           CDib* keep = nullptr, const std::string& title = "picture") {
        Written w;
        CDib local;
        CDib& dib = keep ? *keep : local;
        EXPECT_NE(dib.LoadMemory(bytes.data(), bytes.size()), CDib::kLoadFailed);
        const std::string out = m_dir.File("out.PDB");
        CPictureDbWriter writer;
        EXPECT_TRUE(writer.Create(out, &dib, compress, m_viewer, title));
        dib.ExpandRle();
        EXPECT_TRUE(dib.To24Bit());
        EXPECT_EQ(writer.Write(colors), 1);
        EXPECT_TRUE(writer.Close());
        w.resources = ReadResources(out, &w.info);
        EXPECT_TRUE(DecodePictureDb(out, w.pic));
        EXPECT_EQ(CompareWithDib(w.pic, dib), 0);
        return w;
    }

    TempDir m_dir;
    std::string m_viewer;
};

std::vector<uint8_t> ManyColours(int width, int height) {
    return Bmp24(width, height,
                 [](int x, int y) { return Rgb(x * 2 % 256, y * 5 % 256, (x * y) % 256); });
}

}  // namespace

// ---- Creator ----

TEST(PictureCreator, KnownValues) {
    EXPECT_EQ(Crc16("abc"), 0x9DD6);
    EXPECT_EQ(Crc16("123456789"), 0x31C3);
    EXPECT_EQ(MakePictureCreator("abc"), "PTXW");
    EXPECT_EQ(MakePictureCreator(""), "PAAA");
    EXPECT_EQ(MakePictureCreator("123456789"), "PGHD");
}

TEST(PictureCreator, MatchesTheCrcForManyTitles) {
    std::set<char> lastChars;
    for (int i = 0; i < 3000; ++i) {
        const std::string title = "picture " + std::to_string(i);
        const uint16_t crc = Crc16(title);
        const std::string want = {'P', MapChar((crc >> 11) & 31), MapChar((crc >> 6) & 31),
                                  MapChar(crc & 63)};
        ASSERT_EQ(MakePictureCreator(title), want) << title;
        lastChars.insert(want[3]);
    }
    // All 64 values of the last character occur, '{', '|' and the digits among them.
    EXPECT_EQ(lastChars.size(), 64u);
}

// ---- Run-length encoding ----

TEST(PictureRle, RunsAndStretchesAtTheirLimits) {
    auto encode = [](const std::vector<uint8_t>& in) {
        std::vector<uint8_t> out(in.size() * 2 + 8);
        const long n = RleEncodeTile(in.data(), in.size(), out.data(), out.size());
        EXPECT_GE(n, 0);
        out.resize(size_t(std::max(n, 0L)));
        return out;
    };
    EXPECT_EQ(encode(std::vector<uint8_t>(128, 7)), (std::vector<uint8_t>{127, 7}));
    EXPECT_EQ(encode(std::vector<uint8_t>(129, 7)), (std::vector<uint8_t>{127, 7, 0x80, 7}));
    EXPECT_EQ(encode(std::vector<uint8_t>(130, 7)), (std::vector<uint8_t>{127, 7, 1, 7}));
    EXPECT_EQ(encode({1, 2, 2, 3}), (std::vector<uint8_t>{0x80, 1, 1, 2, 0x80, 3}));
    EXPECT_EQ(encode({1, 2, 3, 3, 3}), (std::vector<uint8_t>{0x81, 1, 2, 2, 3}));
    std::vector<uint8_t> distinct(129);
    for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = uint8_t(i);
    const auto enc = encode(distinct);
    ASSERT_EQ(enc.size(), 131u);
    EXPECT_EQ(enc[0], 0xFF);
    EXPECT_EQ(enc[129], 0x80);
    EXPECT_EQ(enc[130], 128);
}

TEST(PictureRle, GivesUpPastTheLimitAndRoundTrips) {
    std::vector<uint8_t> alternating(200);
    for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = i % 2 ? 0x55 : 0xAA;
    std::vector<uint8_t> out(400);
    EXPECT_EQ(RleEncodeTile(alternating.data(), alternating.size(), out.data(), 200), -1);
    EXPECT_EQ(RleEncodeTile(alternating.data(), alternating.size(), out.data(), 202), 202);

    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> in(size_t(rng() % 3000 + 1));
        const int alphabet = int(rng() % 4) + 1;
        for (auto& b : in)
            b = uint8_t(rng() % 8 < 6 && &b != in.data() ? *(&b - 1) : rng() % alphabet);
        std::vector<uint8_t> enc(in.size() * 2);
        const long n = RleEncodeTile(in.data(), in.size(), enc.data(), enc.size());
        ASSERT_GE(n, 0);
        enc.resize(size_t(n));
        std::vector<uint8_t> back;
        ASSERT_TRUE(RleDecode(enc, in.size(), back));
        ASSERT_EQ(back, in);
    }
}

// ---- Colour counts from the device facts ----

TEST(PictureColorCount, FirstMatchingRowWins) {
    EXPECT_EQ(PictureColorCount(0, true, true, true), 2);  // display never asked: ROM below 3.0
    EXPECT_EQ(PictureColorCount(4, true, true, true), 256);
    EXPECT_EQ(PictureColorCount(2, false, true, true), 16);
    EXPECT_EQ(PictureColorCount(2, false, false, true), 4);
    EXPECT_EQ(PictureColorCount(1, false, false, false), 2);
}

TEST(PicturePaths, TitleAndOutputPath) {
    EXPECT_EQ(PictureTitle("/home/u/My Pics/beach.day.jpg"), "beach.day");
    EXPECT_EQ(PictureTitle("C:\\Pics\\cat.BMP"), "cat");
    EXPECT_EQ(PictureTitle("noext"), "noext");
    EXPECT_EQ(PictureOutputPath("/tmp/", "/a/b/cat.jpeg"), "/tmp/cat.PDB");
}

// ---- The database ----

TEST_F(PictureWriterTest, ViewerIsCopiedWithNameCreatorAndTitle) {
    const std::string title = "A rather long picture title beyond thirty-one characters";
    const Written w = WriteAndDecode(ManyColours(20, 10), 256, false, nullptr, title);
    pdb::DbInfo viewer;
    const auto viewerRes = ReadResources(m_viewer, &viewer);
    EXPECT_EQ(w.info.name, title.substr(0, 31));
    EXPECT_EQ(w.info.creator, pdb::FourCCFromText(MakePictureCreator(title)));
    EXPECT_EQ(w.info.type, viewer.type);
    EXPECT_EQ(w.info.attributes, viewer.attributes);
    EXPECT_EQ(w.info.version, viewer.version);
    EXPECT_EQ(w.info.createDate, viewer.createDate);
    EXPECT_EQ(w.info.modifyDate, viewer.modifyDate);
    EXPECT_EQ(w.info.modnum, viewer.modnum);
    ASSERT_EQ(w.resources.size(), viewerRes.size() + 2);
    for (size_t i = 0; i < viewerRes.size(); ++i) {
        EXPECT_EQ(w.resources[i].type, viewerRes[i].type);
        EXPECT_EQ(w.resources[i].id, viewerRes[i].id);
        if (viewerRes[i].type == pdb::MakeFourCC("tAIN")) {
            const std::string name(w.resources[i].data.begin(), w.resources[i].data.end());
            EXPECT_EQ(name, title + '\0');
        } else {
            EXPECT_EQ(w.resources[i].data, viewerRes[i].data);
        }
    }
    EXPECT_EQ(w.resources[viewerRes.size()].type, pdb::MakeFourCC("HEAD"));
    EXPECT_EQ(w.resources[viewerRes.size() + 1].type, pdb::MakeFourCC("BITM"));
}

TEST_F(PictureWriterTest, APictureApplicationIsToldFromTheViewerAndOtherDatabases) {
    WriteAndDecode(ManyColours(20, 10), 256, false);
    auto picture = pdb::CPalmDbFile::Open(m_dir.File("out.PDB"));
    ASSERT_TRUE(picture);
    EXPECT_TRUE(IsPictureApplication(*picture));
    auto viewer = pdb::CPalmDbFile::Open(m_viewer);
    ASSERT_TRUE(viewer);
    EXPECT_FALSE(IsPictureApplication(*viewer));
    // A record database, and resources with a HEAD block but no tile.
    pdb::DbInfo info;
    info.name = "Look-alike";
    const std::string records = m_dir.File("records.pdb");
    auto db = pdb::CPalmDbFile::Create(records, info);
    ASSERT_TRUE(db);
    pdb::Record record;
    record.data = {'H', 'E', 'A', 'D'};
    ASSERT_EQ(db->AppendRecord(record), pdb::kOk);
    ASSERT_EQ(db->Close(), pdb::kOk);
    auto opened = pdb::CPalmDbFile::Open(records);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(IsPictureApplication(*opened));
    info.attributes = pdb::kAttrResDb;
    const std::string headOnly = m_dir.File("head.prc");
    db = pdb::CPalmDbFile::Create(headOnly, info);
    ASSERT_TRUE(db);
    const uint8_t byte = 0;
    ASSERT_EQ(db->AppendResource(&byte, 1, pdb::MakeFourCC("HEAD"), 0), pdb::kOk);
    ASSERT_EQ(db->Close(), pdb::kOk);
    opened = pdb::CPalmDbFile::Open(headOnly);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(IsPictureApplication(*opened));
}

TEST_F(PictureWriterTest, ColourPictureForAColourDevice) {
    CDib dib;
    const Written w = WriteAndDecode(ManyColours(100, 50), 256, false, &dib);
    EXPECT_EQ(w.pic.headBytes, 1060u);
    EXPECT_EQ(w.pic.colors, 256);
    EXPECT_EQ(w.pic.compression, 0);
    EXPECT_EQ(w.pic.tileSize, 252);
    EXPECT_EQ(w.pic.tilesAcross, 1);
    EXPECT_EQ(w.pic.tilesTotal, 1);
    EXPECT_EQ(w.pic.rowBytes, 252);
    EXPECT_EQ(w.pic.pixelsPerByte, 1);
    EXPECT_EQ(w.pic.paddedWidth, 100);
    EXPECT_EQ(w.pic.height, 50);
    ASSERT_EQ(w.pic.tileBytes.size(), 1u);
    EXPECT_EQ(w.pic.tileBytes[0], 5000);
    EXPECT_LE(dib.CountColors(), 256);
    EXPECT_GT(dib.CountColors(), 128);
    // The table holds the picture's colours in order of first occurrence, bottom row first.
    EXPECT_EQ(w.pic.table[0], dib.GetPixel(0, 49));
}

TEST_F(PictureWriterTest, GreyPictureForADragonballEz) {
    CDib dib;
    const Written w = WriteAndDecode(ManyColours(100, 50), 16, false, &dib);
    EXPECT_EQ(w.pic.headBytes, 36u);
    EXPECT_EQ(w.pic.colors, 16);
    EXPECT_EQ(w.pic.tileSize, 356);
    EXPECT_EQ(w.pic.pixelsPerByte, 2);
    EXPECT_EQ(w.pic.rowBytes, 178);
    EXPECT_EQ(w.pic.paddedWidth, 100);
    ASSERT_EQ(w.pic.tileBytes.size(), 1u);
    EXPECT_EQ(w.pic.tileBytes[0], 50 * 50);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 100; ++x) {
            const RgbColor c = dib.GetPixel(x, y);
            ASSERT_TRUE(c.red == c.green && c.green == c.blue);
        }
    }
    EXPECT_LE(dib.CountColors(), 16);
}

TEST_F(PictureWriterTest, GreyLevelsMapStraightWhenFewEnough) {
    // Sixteen grey levels to a 16-level device: no pixel changes, values 15 - (g >> 4).
    auto grey = [](int x, int) { return Rgb(x * 17, x * 17, x * 17); };
    const Written w = WriteAndDecode(Bmp24(16, 3, grey), 16, true);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(w.pic.Value(x, 1), 15 - x) << x;
    // And to a 4-level device: converted to grey, then cut to four levels.
    CDib dib;
    const Written w4 = WriteAndDecode(
        Bmp24(64, 2, [](int x, int) { return Rgb(x * 4, x * 4, x * 4); }), 4, false, &dib);
    EXPECT_EQ(w4.pic.colors, 4);
    EXPECT_EQ(w4.pic.pixelsPerByte, 4);
    EXPECT_EQ(w4.pic.tileSize, 504);
    EXPECT_EQ(w4.pic.Value(0, 0), 3);
    EXPECT_EQ(w4.pic.Value(63, 0), 0);
}

TEST_F(PictureWriterTest, OddWidthForTwoLevelsIsPaddedWhite) {
    const Written w =
        WriteAndDecode(Bmp24(101, 10, [](int, int) { return Rgb(0, 0, 0); }), 2, false);
    EXPECT_EQ(w.pic.colors, 2);
    EXPECT_EQ(w.pic.tileSize, 704);
    EXPECT_EQ(w.pic.paddedWidth, 112);
    EXPECT_EQ(w.pic.tileBytes[0], 14 * 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 112; ++x) ASSERT_EQ(w.pic.Value(x, y), x < 101 ? 1 : 0) << x;
    }
}

TEST_F(PictureWriterTest, BlackAndWhiteBitmapForAColourDeviceStaysTwoColours) {
    BmpLayout s{.width = 40, .height = 8, .bits = 1};
    s.palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    auto bit = [](int x, int y) { return uint32_t((x / 3 + y) % 2); };
    s.data = PackRows(40, 8, 1, bit);
    const Written w = WriteAndDecode(BuildBmp(s), 256, false);
    EXPECT_EQ(w.pic.colors, 2);
    EXPECT_EQ(w.pic.pixelsPerByte, 8);
    EXPECT_EQ(w.pic.headBytes, 36u);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 40; ++x) EXPECT_EQ(w.pic.Value(x, y), bit(x, y) ? 0 : 1);
    }
}

TEST_F(PictureWriterTest, SwappedOneBitTableStillGivesWhiteForSetBits) {
    BmpLayout s{.width = 16, .height = 2, .bits = 1};
    s.palette = {{255, 255, 255, 0}, {0, 0, 0, 0}};  // white first
    s.data = PackRows(16, 2, 1, [](int x, int) { return uint32_t(x < 4); });
    const Written w = WriteAndDecode(BuildBmp(s), 2, false);
    EXPECT_EQ(w.pic.Value(0, 0), 0);  // set bit: white
    EXPECT_EQ(w.pic.Value(10, 0), 1);
}

TEST_F(PictureWriterTest, TallPictureIsCutIntoBands) {
    const Written w = WriteAndDecode(
        Bmp24(10, 800, [](int x, int y) { return Rgb(y % 100, x * 20, 0); }), 256, true);
    EXPECT_EQ(w.pic.colors, 256);
    ASSERT_EQ(w.pic.tilesTotal, 4);
    EXPECT_EQ(w.pic.tilesAcross, 1);
    EXPECT_EQ(w.pic.tilePlainBytes, (std::vector<int>{2520, 2520, 2520, 440}));
}

TEST_F(PictureWriterTest, WidePictureIsCutIntoTilesAcrossAndDown) {
    const Written w = WriteAndDecode(ManyColours(400, 400), 16, true);
    EXPECT_EQ(w.pic.tilesAcross, 2);
    EXPECT_EQ(w.pic.tilesTotal, 4);
    EXPECT_EQ(w.pic.tilePlainBytes, (std::vector<int>{178 * 356, 22 * 356, 178 * 44, 22 * 44}));
}

TEST_F(PictureWriterTest, WhiteTileEncodesToTwoBytesPer128) {
    const Written w =
        WriteAndDecode(Bmp24(704, 704, [](int, int) { return Rgb(255, 255, 255); }), 2, true);
    EXPECT_EQ(w.pic.compression, 1);
    ASSERT_EQ(w.pic.tilesTotal, 1);
    EXPECT_EQ(w.pic.tilePlainBytes[0], 61952);
    const auto& tile = w.resources.back().data;
    ASSERT_EQ(tile.size(), 61952u / 128 * 2);
    for (size_t i = 0; i < tile.size(); i += 2) {
        ASSERT_EQ(tile[i], 127);
        ASSERT_EQ(tile[i + 1], 0);
    }
}

TEST_F(PictureWriterTest, TileThatWouldGrowIsStoredPlain) {
    // Bytes alternate 0xFF and 0x00: no two neighbours are equal.
    const Written w = WriteAndDecode(
        Bmp24(704, 704,
              [](int x, int y) { return (x / 8 + y) % 2 ? Rgb(0, 0, 0) : Rgb(255, 255, 255); }),
        2, true);
    EXPECT_EQ(w.pic.compression, 1);
    EXPECT_EQ(w.pic.tileBytes[0], 61952);
    EXPECT_FALSE(w.pic.tileEncoded[0]);
}

TEST_F(PictureWriterTest, EncodingOfThePlainSizeIsStoredPlain) {
    // A tile of two equal bytes encodes to two bytes: it is kept plain, so that a tile's
    // size alone tells its form.
    const Written w = WriteAndDecode(Bmp24(16, 1, [](int, int) { return Rgb(0, 0, 0); }), 2, true);
    const auto& tile = w.resources.back().data;
    EXPECT_EQ(tile, (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST_F(PictureWriterTest, WithoutCompressionEveryTileIsPlain) {
    const Written w =
        WriteAndDecode(Bmp24(300, 300, [](int, int) { return Rgb(255, 255, 255); }), 256, false);
    EXPECT_EQ(w.pic.compression, 0);
    for (size_t i = 0; i < w.pic.tileBytes.size(); ++i) {
        EXPECT_EQ(w.pic.tileBytes[i], w.pic.tilePlainBytes[i]);
    }
}

TEST_F(PictureWriterTest, FewColoursOnAColourDeviceGiveFewerLevels) {
    // Three colours: n becomes 4 without any pixel change.
    auto color = [](int x, int) {
        return x < 5 ? Rgb(0, 0, 0) : x < 10 ? Rgb(128, 128, 128) : Rgb(255, 255, 255);
    };
    const Written w = WriteAndDecode(Bmp24(16, 2, color), 256, false);
    EXPECT_EQ(w.pic.colors, 4);
    EXPECT_EQ(w.pic.Value(0, 0), 3);
    EXPECT_EQ(w.pic.Value(7, 0), 1);
    EXPECT_EQ(w.pic.Value(12, 0), 0);
    // Seventeen colours: 256.
    const Written w2 =
        WriteAndDecode(Bmp24(17, 1, [](int x, int) { return Rgb(x, x, x); }), 256, false);
    EXPECT_EQ(w2.pic.colors, 256);
}

TEST_F(PictureWriterTest, FewColourColoursStayColourOnAColourDevice) {
    // Yellow text on blue: as grey levels from the blue byte the two would swap light and
    // dark; a colour handheld shows them as they are.
    auto color = [](int x, int y) { return (x + y) % 5 ? Rgb(0, 0, 255) : Rgb(255, 255, 0); };
    CDib dib;
    const Written w = WriteAndDecode(Bmp24(30, 6, color), 256, true, &dib);
    EXPECT_EQ(w.pic.colors, 256);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 30; ++x) ASSERT_EQ(w.pic.table[w.pic.Value(x, y)], color(x, y));
    }
}

TEST_F(PictureWriterTest, FewColourColoursBecomeGreyLevelsOnAGreyDevice) {
    auto color = [](int x, int) {
        return x < 6 ? Rgb(255, 255, 0) : x < 12 ? Rgb(0, 0, 255) : Rgb(200, 30, 30);
    };
    const Written w = WriteAndDecode(Bmp24(18, 2, color), 16, false);
    EXPECT_EQ(w.pic.colors, 4);  // three grey levels
    for (int x = 0; x < 18; ++x) {
        const RgbColor c = color(x, 0);
        const int g = int(0.212671 * c.red + 0.715160 * c.green + 0.072169 * c.blue);
        EXPECT_EQ(w.pic.Value(x, 1), 3 - (g >> 6)) << x;
    }
    EXPECT_EQ(w.pic.Value(0, 0), 0);  // yellow is light
    EXPECT_EQ(w.pic.Value(8, 0), 3);  // blue is dark
}

TEST_F(PictureWriterTest, UnreadDisplayGetsTwoLevelsNotEmptyTiles) {
    const auto bytes = ManyColours(50, 20);
    const Written a = WriteAndDecode(bytes, -1, true);
    const Written b = WriteAndDecode(bytes, 2, true);
    EXPECT_EQ(a.pic.colors, 2);
    EXPECT_EQ(a.pic.values, b.pic.values);
    std::set<uint8_t> values(a.pic.values.begin(), a.pic.values.end());
    EXPECT_EQ(values.size(), 2u);
}

TEST_F(PictureWriterTest, MissingViewerGivesNoDatabase) {
    CDib dib;
    const auto bytes = ManyColours(10, 10);
    ASSERT_NE(dib.LoadMemory(bytes.data(), bytes.size()), CDib::kLoadFailed);
    CPictureDbWriter writer;
    const std::string out = m_dir.File("none.PDB");
    EXPECT_FALSE(writer.Create(out, &dib, false, m_dir.File("missing.prc"), "x"));
    EXPECT_EQ(writer.Write(256), -1);
    writer.Close();
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(PictureWriterTest, NeverCreatedWriterRefusesToWrite) {
    CPictureDbWriter writer;
    EXPECT_EQ(writer.Write(2), -1);
    EXPECT_TRUE(writer.Close());
}

// ---- Converting a file ----

TEST_F(PictureWriterTest, ConvertPictureFileWritesTheDatabase) {
    const std::string picture = m_dir.File("sunset.jpg");
    WriteFile(picture,
              EncodeJpeg(120, 80, 3, 90, [](int x, int y) { return Rgb(x * 2, y * 3, 100); }));
    const std::string out = PictureOutputPath(m_dir.Path().string() + "/", picture);
    EXPECT_EQ(ConvertPictureFile(picture, out, m_viewer, PictureTitle(picture), 256, true),
              kPictureOk);
    pdb::DbInfo info;
    ReadResources(out, &info);
    EXPECT_EQ(info.name, "sunset");
    DecodedPicture pic;
    ASSERT_TRUE(DecodePictureDb(out, pic));
    EXPECT_EQ(pic.colors, 256);
    EXPECT_EQ(pic.paddedWidth, 120);
    EXPECT_EQ(pic.height, 80);
}

TEST_F(PictureWriterTest, ConvertPictureFileFailuresLeaveNoOutput) {
    const std::string text = m_dir.File("notes.bmp");
    WriteFile(text, {'h', 'e', 'l', 'l', 'o'});
    const std::string out = m_dir.File("notes.PDB");
    EXPECT_EQ(ConvertPictureFile(text, out, m_viewer, "notes", 2, false), kPictureLoadFailed);
    EXPECT_FALSE(std::filesystem::exists(out));

    const std::string picture = m_dir.File("ok.bmp");
    WriteFile(picture, ManyColours(8, 8));
    EXPECT_EQ(ConvertPictureFile(picture, out, m_dir.File("missing.prc"), "ok", 2, false),
              kPictureViewerFailed);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(
        ConvertPictureFile(picture, m_dir.File("no/such/dir/ok.PDB"), m_viewer, "ok", 2, false),
        kPictureViewerFailed);

    // A viewer that is not a Palm database at all.
    const std::string junk = m_dir.File("junk.prc");
    WriteFile(junk, std::vector<uint8_t>(100, 0xEE));
    EXPECT_EQ(ConvertPictureFile(picture, out, junk, "ok", 2, false), kPictureViewerFailed);
    EXPECT_FALSE(std::filesystem::exists(out));
}
