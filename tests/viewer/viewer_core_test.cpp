// The platform-independent part of the viewer, built for the desktop.
#include <gtest/gtest.h>

#include "resources/viewer/viewer_core.h"
#include "tests/viewer/picture_encoder.h"

namespace viewer_test {
namespace {

VwPicture Parse(const std::vector<uint8_t>& head, uint16_t expect = kVwOk) {
    VwPicture pic{};
    EXPECT_EQ(VwParseHead(head.data(), uint32_t(head.size()), &pic), expect);
    return pic;
}

void Set32(std::vector<uint8_t>& head, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) head[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

TEST(ViewerHead, ReadsEveryFieldForEachColourCount) {
    struct {
        uint16_t colors, width, height, tile, ppb, bits, across, down;
    } cases[] = {{2, 101, 50, 704, 8, 1, 1, 1},
                 {4, 600, 1200, 504, 4, 2, 2, 3},
                 {16, 100, 800, 356, 2, 4, 1, 3},
                 {256, 1000, 800, 252, 1, 8, 4, 4}};
    for (const auto& c : cases) {
        const TestPicture src = MakePattern(c.colors, c.width, c.height);
        const std::vector<uint8_t> head = EncodeHead(src, c.colors != 4);
        const VwPicture pic = Parse(head);
        EXPECT_EQ(pic.colors, c.colors);
        EXPECT_EQ(pic.compressed, c.colors != 4 ? 1 : 0);
        EXPECT_EQ(pic.tileSize, c.tile);
        EXPECT_EQ(pic.pixelsPerByte, c.ppb);
        EXPECT_EQ(pic.bitsPerPixel, c.bits);
        EXPECT_EQ(pic.tileRowBytes, c.tile / c.ppb);
        EXPECT_EQ(pic.tilesAcross, c.across);
        EXPECT_EQ(pic.tilesDown, c.down);
        EXPECT_EQ(pic.tileCount, c.across * c.down);
        EXPECT_EQ(pic.width, src.width);
        EXPECT_EQ(pic.height, c.height);
        EXPECT_EQ(pic.colorTable, c.colors == 256 ? head.data() + 36 : nullptr);
    }
    // 101 pixels at 8 per byte: 13 bytes is odd, so 14 bytes, 112 pixels.
    EXPECT_EQ(PaddedWidth(101, 2), 112);
}

TEST(ViewerHead, RefusesShortAndInconsistentHeaders) {
    const std::vector<uint8_t> good = EncodeHead(MakePattern(256, 300, 280), true);
    Parse(good);
    EXPECT_EQ(VwParseHead(nullptr, 0, nullptr), kVwErrShort);
    Parse(std::vector<uint8_t>(good.begin(), good.begin() + 35), kVwErrShort);
    Parse(std::vector<uint8_t>(good.begin(), good.end() - 1), kVwErrShort);  // table cut

    auto with = [&](size_t at, uint32_t v, uint16_t expect) {
        std::vector<uint8_t> h = good;
        Set32(h, at, v);
        Parse(h, expect);
    };
    std::vector<uint8_t> h = good;
    h[1] = 40;  // header size
    Parse(h, kVwErrHeader);
    h = good;
    h[3] = 2;  // compression flag
    Parse(h, kVwErrHeader);
    with(4, 3, kVwErrHeader);  // colours
    with(4, 0x10000 | 256, kVwErrHeader);
    with(8, 253, kVwErrHeader);   // tile size
    with(20, 251, kVwErrHeader);  // bytes per tile row
    with(24, 2, kVwErrHeader);    // pixels per byte
    with(12, 1, kVwErrGeometry);  // tiles across
    with(16, 3, kVwErrGeometry);  // tiles in total
    with(28, 0, kVwErrGeometry);  // width
    with(28, 0x10000 + 300, kVwErrGeometry);
    with(32, 0, kVwErrGeometry);    // height
    with(32, 600, kVwErrGeometry);  // more bands than tiles

    // Widths whose rows are not whole, even numbers of bytes.
    std::vector<uint8_t> two = EncodeHead(MakePattern(2, 101, 50), false);
    Set32(two, 28, 104);  // 13 bytes
    Parse(two, kVwErrGeometry);
    Set32(two, 28, 108);  // not a whole byte
    Parse(two, kVwErrGeometry);
}

TEST(ViewerTiles, GeometryCoversThePictureBandByBand) {
    const TestPicture src = MakePattern(256, 600, 300);  // tiles of 252: 3 across, 2 down
    const std::vector<uint8_t> head = EncodeHead(src, false);
    const VwPicture pic = Parse(head);
    VwTile t{};
    ASSERT_EQ(VwTileGeometry(&pic, 2, &t), kVwOk);
    EXPECT_EQ(t.x, 504);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.columns, 96);
    EXPECT_EQ(t.rows, 252);
    ASSERT_EQ(VwTileGeometry(&pic, 5, &t), kVwOk);
    EXPECT_EQ(t.x, 504);
    EXPECT_EQ(t.y, 252);
    EXPECT_EQ(t.rows, 48);
    EXPECT_EQ(t.plainSize, 96u * 48u);
    EXPECT_EQ(VwTileGeometry(&pic, 6, &t), kVwErrTileIndex);
    EXPECT_EQ(VwMaxTileBytes(&pic), 252u * 252u);
}

TEST(ViewerTiles, EveryTileDecodesToThePictureAtEveryDepth) {
    for (uint16_t colors : {2, 4, 16, 256}) {
        for (bool compressed : {false, true}) {
            const TestPicture src = MakePattern(colors, 730, 530);
            const std::vector<uint8_t> head = EncodeHead(src, compressed);
            const VwPicture pic = Parse(head);
            const std::vector<std::vector<uint8_t>> tiles = EncodeTiles(src, compressed);
            ASSERT_EQ(tiles.size(), pic.tileCount);
            bool sawEncoded = false;
            for (uint16_t i = 0; i < pic.tileCount; ++i) {
                VwTile t{};
                ASSERT_EQ(VwTileGeometry(&pic, i, &t), kVwOk);
                std::vector<uint8_t> out(t.plainSize, 0xEE);
                ASSERT_EQ(
                    VwDecodeTile(&pic, &t, tiles[i].data(), uint32_t(tiles[i].size()), out.data()),
                    kVwOk);
                EXPECT_EQ(out, PlainTile(src, i)) << colors << " colours, tile " << i;
                sawEncoded = sawEncoded || tiles[i].size() < t.plainSize;
            }
            EXPECT_EQ(sawEncoded, compressed);
        }
    }
}

TEST(ViewerTiles, RunLengthDecoding) {
    uint8_t out[300];
    const uint8_t runs[] = {0x02, 'a', 0x81, 'b', 'c', 0x7F, 'z'};
    ASSERT_EQ(VwRleDecode(runs, sizeof runs, out, 133), kVwOk);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "aaabc");
    EXPECT_EQ(out[132], 'z');
    EXPECT_EQ(VwRleDecode(runs, sizeof runs, out, 132), kVwErrRle);  // output overruns
    EXPECT_EQ(VwRleDecode(runs, sizeof runs, out, 134), kVwErrRle);  // output short
    EXPECT_EQ(VwRleDecode(runs, 6, out, 133), kVwErrRle);            // run value missing
    EXPECT_EQ(VwRleDecode(runs, 4, out, 5), kVwErrRle);              // literal cut
    const uint8_t literal[] = {0xFF};
    EXPECT_EQ(VwRleDecode(literal, 1, out, 128), kVwErrRle);
    EXPECT_EQ(VwRleDecode(literal, 0, out, 0), kVwOk);

    // The test encoder and the decoder agree on long, mixed input.
    std::vector<uint8_t> plain;
    for (int i = 0; i < 1000; ++i) plain.push_back(uint8_t(i % 7 == 0 ? i : (i / 150)));
    const std::vector<uint8_t> rle = RleEncode(plain);
    ASSERT_FALSE(rle.empty());
    std::vector<uint8_t> back(plain.size());
    ASSERT_EQ(VwRleDecode(rle.data(), uint32_t(rle.size()), back.data(), uint32_t(back.size())),
              kVwOk);
    EXPECT_EQ(back, plain);
}

TEST(ViewerTiles, StoredSizeDecidesBetweenPlainAndEncoded) {
    const TestPicture src = MakePattern(2, 200, 100);
    std::vector<uint8_t> head = EncodeHead(src, true);
    VwPicture pic = Parse(head);
    VwTile t{};
    ASSERT_EQ(VwTileGeometry(&pic, 0, &t), kVwOk);
    std::vector<uint8_t> out(t.plainSize);
    // Exactly the plain size: plain, even when the bytes would also parse as runs.
    std::vector<uint8_t> plain(t.plainSize, 0x05);
    ASSERT_EQ(VwDecodeTile(&pic, &t, plain.data(), uint32_t(plain.size()), out.data()), kVwOk);
    EXPECT_EQ(out, plain);
    // Longer than plain: refused.
    plain.push_back(0);
    EXPECT_EQ(VwDecodeTile(&pic, &t, plain.data(), uint32_t(plain.size()), out.data()),
              kVwErrTileSize);
    // Shorter without the compression flag: refused.
    head[3] = 0;
    pic = Parse(head);
    const uint8_t rle[] = {0x7F, 0};
    EXPECT_EQ(VwDecodeTile(&pic, &t, rle, 2, out.data()), kVwErrTileSize);
}

// The reference: one pixel at a time, straight from the definition of the packing.
uint8_t PixelAt(const std::vector<uint8_t>& row, int i, int bits) {
    const int perByte = 8 / bits;
    return uint8_t((row[size_t(i / perByte)] >> (8 - bits * (i % perByte + 1))) &
                   ((1 << bits) - 1));
}

TEST(ViewerPixels, CopiesAnyRunOfPixelsToAnyPlaceInALine) {
    for (int bits : {1, 2, 4, 8}) {
        const int perByte = 8 / bits;
        std::vector<uint8_t> row(40);
        for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 37 + 11);
        const int pixels = int(row.size()) * perByte;
        for (int src = 0; src < 3 * perByte; ++src) {
            for (int dst = 0; dst < 2 * perByte; ++dst) {
                for (int count : {0, 1, perByte - 1, perByte, 2 * perByte + 1, pixels / 2}) {
                    std::vector<uint8_t> line(40, 0x5A);
                    const std::vector<uint8_t> before = line;
                    VwCopyPixels(row.data(), uint16_t(src), line.data(), uint16_t(dst),
                                 uint16_t(count), uint16_t(bits));
                    for (int i = 0; i < int(line.size()) * perByte; ++i) {
                        const bool inside = i >= dst && i < dst + count;
                        const uint8_t want =
                            inside ? PixelAt(row, src + i - dst, bits) : PixelAt(before, i, bits);
                        ASSERT_EQ(PixelAt(line, i, bits), want)
                            << bits << " bits, src " << src << ", dst " << dst << ", count "
                            << count << ", pixel " << i;
                    }
                }
            }
        }
    }
}

// The system's bitmap layout: a 256-colour picture's bitmaps are version 2 with the
// colour-table flag and the picture's table (entry i with index i) before the bits; grey
// pictures keep plain version 1 bitmaps.
TEST(ViewerBitmaps, EightBitBitmapsCarryThePicturesColourTable) {
    std::vector<uint8_t> head = EncodeHead(MakePattern(256, 300, 280), false);
    for (size_t i = 0; i < 256; ++i) head[36 + 4 * i] = 0x77;  // index bytes are not used
    const VwPicture colour = Parse(head);
    ASSERT_EQ(VwBitmapBitsOffset(&colour), 16 + 2 + 1024);
    std::vector<uint8_t> bitmap(VwBitmapBitsOffset(&colour) + 1, 0xEE);
    VwWriteBitmapColorTable(&colour, bitmap.data());
    VwWriteBitmapHeader(&colour, 252, 28, 252, bitmap.data());
    EXPECT_EQ(
        std::vector<uint8_t>(bitmap.begin(), bitmap.begin() + 18),
        (std::vector<uint8_t>{0, 252, 0, 28, 0, 252, 0x40, 0, 8, 2, 0, 0, 0, 0xFF, 0, 0, 1, 0}));
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(bitmap[18 + 4 * i], i);
        for (size_t c = 1; c < 4; ++c) EXPECT_EQ(bitmap[18 + 4 * i + c], head[36 + 4 * i + c]);
    }
    EXPECT_EQ(bitmap.back(), 0xEE);  // the bits start after the table

    const VwPicture grey = Parse(EncodeHead(MakePattern(16, 300, 280), false));
    ASSERT_EQ(VwBitmapBitsOffset(&grey), 16);
    std::vector<uint8_t> plain(17, 0xEE);
    VwWriteBitmapColorTable(&grey, plain.data());
    VwWriteBitmapHeader(&grey, 300, 1, 80, plain.data());
    EXPECT_EQ(plain,
              (std::vector<uint8_t>{1, 44, 0, 1, 0, 80, 0, 0, 4, 1, 0, 0, 0, 0, 0, 0, 0xEE}));
}

TEST(ViewerScroll, MovesByAScreenAndStopsAtTheEdges) {
    EXPECT_EQ(VwScroll(0, 160, 720, 160), 160);
    EXPECT_EQ(VwScroll(480, 160, 720, 160), 560);
    EXPECT_EQ(VwScroll(560, 160, 720, 160), 560);
    EXPECT_EQ(VwScroll(100, -160, 720, 160), 0);
    EXPECT_EQ(VwScroll(320, -160, 720, 160), 160);
    EXPECT_EQ(VwScroll(0, 160, 100, 100), 0);  // the picture fits: no scrolling
    EXPECT_EQ(VwScroll(0, 32767, 32767, 160), 32767 - 160);
}

}  // namespace
}  // namespace viewer_test
