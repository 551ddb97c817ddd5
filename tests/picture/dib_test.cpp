// CDib: loading Windows bitmaps and JPEG files, and the pixel operations.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "picture_test_util.h"

using namespace pictest;

namespace {

RgbColor Rgb(int r, int g, int b) {
    return {uint8_t(r), uint8_t(g), uint8_t(b)};
}

std::vector<RgbQuad> Palette(const std::vector<RgbColor>& colors) {
    std::vector<RgbQuad> out;
    for (const RgbColor& c : colors) out.push_back({c.blue, c.green, c.red, 0});
    return out;
}

int LoadBytes(CDib& dib, const std::vector<uint8_t>& bytes) {
    return dib.LoadMemory(bytes.data(), bytes.size());
}

// Distinct colours of a loaded 24-bit picture, counted here without CDib's help.
std::set<uint32_t> Colours(const CDib& dib) {
    std::set<uint32_t> out;
    const auto s = dib.GetSize();
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            const RgbColor c = dib.GetPixel(x, y);
            out.insert((uint32_t(c.red) << 16) | (uint32_t(c.green) << 8) | c.blue);
        }
    }
    return out;
}

// A picture given as a list of (colour, pixel count), laid out row by row, 16 wide.
std::vector<uint8_t> PictureOf(const std::vector<std::pair<RgbColor, int>>& parts) {
    std::vector<RgbColor> pixels;
    for (const auto& [c, n] : parts) pixels.insert(pixels.end(), size_t(n), c);
    const int width = 16;
    const int height = int((pixels.size() + width - 1) / width);
    pixels.resize(size_t(width * height), parts.back().first);
    return Bmp24(width, height, [&](int x, int y) { return pixels[size_t(y * width + x)]; });
}

RgbColor Gradient(int x, int y) {
    return Rgb(x * 7 % 256, y * 11 % 256, (x + y) * 5 % 256);
}

}  // namespace

// ---- Windows bitmaps ----

TEST(DibBitmap, TwentyFourBitRowsBottomUpWithPadding) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, Bmp24(5, 3, Gradient)), CDib::kLoadBitmap);
    EXPECT_EQ(dib.GetSize().width, 5);
    EXPECT_EQ(dib.GetSize().height, 3);
    EXPECT_EQ(dib.RowStride(), 16u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(dib.GetPixel(x, y), Gradient(x, y)) << x << "," << y;
    }
    // Memory order is bottom row first.
    EXPECT_EQ(dib.Pixels()[0], Gradient(0, 2).blue);
    EXPECT_EQ(dib.Pixels()[2], Gradient(0, 2).red);
}

TEST(DibBitmap, TopDownRowsAreTurnedBottomUp) {
    const auto pal = Palette({Rgb(0, 0, 0), Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255)});
    auto index = [](int x, int y) { return uint32_t((x + 2 * y) % 4); };
    BmpLayout up{.width = 7, .height = 5, .bits = 8, .palette = pal};
    up.data = PackRows(7, 5, 8, index);
    BmpLayout down = up;
    down.height = -5;
    down.data = PackRows(7, 5, 8, index, true);
    CDib a, b;
    ASSERT_EQ(LoadBytes(a, BuildBmp(up)), CDib::kLoadBitmap);
    ASSERT_EQ(LoadBytes(b, BuildBmp(down)), CDib::kLoadBitmap);
    EXPECT_EQ(b.GetSize().height, 5);
    ASSERT_TRUE(a.To24Bit());
    ASSERT_TRUE(b.To24Bit());
    EXPECT_EQ(a.Pixels(), b.Pixels());
    EXPECT_EQ(b.GetPixel(1, 0), Rgb(255, 0, 0));
    EXPECT_EQ(b.GetPixel(0, 1), Rgb(0, 255, 0));
}

TEST(DibBitmap, OneBitSetBitsAreWhiteWhateverTheTable) {
    for (const auto& colors : {std::vector<RgbColor>{Rgb(0, 0, 0), Rgb(255, 255, 255)},
                               std::vector<RgbColor>{Rgb(255, 255, 255), Rgb(0, 0, 0)},
                               std::vector<RgbColor>{Rgb(255, 0, 0), Rgb(0, 0, 255)}}) {
        BmpLayout s{.width = 13, .height = 3, .bits = 1, .palette = Palette(colors)};
        auto bit = [](int x, int y) { return uint32_t((x * 3 + y) % 5 < 2); };
        s.data = PackRows(13, 3, 1, bit);
        CDib dib;
        ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
        ASSERT_TRUE(dib.To24Bit());
        EXPECT_EQ(dib.Header().biBitCount, 24);
        EXPECT_TRUE(dib.ColorTable().empty());
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 13; ++x) {
                EXPECT_EQ(dib.GetPixel(x, y), bit(x, y) ? Rgb(255, 255, 255) : Rgb(0, 0, 0));
            }
        }
    }
}

TEST(DibBitmap, FourBitHighNibbleFirstOddWidth) {
    std::vector<RgbColor> colors;
    for (int i = 0; i < 16; ++i) colors.push_back(Rgb(i * 16, 255 - i * 16, i * 3));
    BmpLayout s{.width = 9, .height = 4, .bits = 4, .palette = Palette(colors)};
    auto index = [](int x, int y) { return uint32_t((x * 5 + y * 3) % 16); };
    s.data = PackRows(9, 4, 4, index);
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    EXPECT_EQ(dib.ColorTable().size(), 16u);
    ASSERT_TRUE(dib.To24Bit());
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 9; ++x) EXPECT_EQ(dib.GetPixel(x, y), colors[index(x, y)]);
    }
}

TEST(DibBitmap, EightBitShortTableIndexesPastItAreBlack) {
    BmpLayout s{.width = 4, .height = 2, .bits = 8};
    s.palette = Palette({Rgb(10, 20, 30), Rgb(40, 50, 60), Rgb(70, 80, 90)});
    s.clrUsed = 3;
    s.data = PackRows(4, 2, 8, [](int x, int y) { return uint32_t(x + 4 * y == 7 ? 200 : x % 3); });
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    EXPECT_EQ(dib.ColorTable().size(), 3u);
    ASSERT_TRUE(dib.To24Bit());
    EXPECT_EQ(dib.GetPixel(0, 0), Rgb(10, 20, 30));
    EXPECT_EQ(dib.GetPixel(2, 1), Rgb(70, 80, 90));
    EXPECT_EQ(dib.GetPixel(3, 1), Rgb(0, 0, 0));
}

TEST(DibBitmap, SixteenBitFiveFiveFiveAndFiveSixFive) {
    auto expand = [](uint32_t v, uint32_t max) { return uint8_t((v * 255 + max / 2) / max); };
    // 5-5-5 without masks.
    BmpLayout s{.width = 32, .height = 2, .bits = 16};
    auto px555 = [](int x, int y) { return uint32_t((x << 10) | ((31 - x) << 5) | (y * 17 % 32)); };
    s.data = PackRows(32, 2, 16, px555);
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    ASSERT_TRUE(dib.To24Bit());
    for (int x = 0; x < 32; ++x) {
        const uint32_t p = px555(x, 1);
        EXPECT_EQ(dib.GetPixel(x, 1),
                  Rgb(expand(p >> 10 & 31, 31), expand(p >> 5 & 31, 31), expand(p & 31, 31)));
    }
    // 5-6-5 with masks after the header.
    BmpLayout t{.width = 64, .height = 1, .bits = 16, .compression = kBiBitfields};
    t.masks = {0xF800, 0x07E0, 0x001F};
    auto px565 = [](int x, int) { return uint32_t(((x / 2) << 11) | (x << 5) | (63 - x) / 2); };
    t.data = PackRows(64, 1, 16, px565);
    ASSERT_EQ(LoadBytes(dib, BuildBmp(t)), CDib::kLoadBitmap);
    ASSERT_TRUE(dib.To24Bit());
    for (int x = 0; x < 64; ++x) {
        const uint32_t p = px565(x, 0);
        EXPECT_EQ(dib.GetPixel(x, 0),
                  Rgb(expand(p >> 11, 31), expand(p >> 5 & 63, 63), expand(p & 31, 31)));
    }
    EXPECT_EQ(dib.GetPixel(63, 0).green, 255);
    EXPECT_EQ(dib.GetPixel(0, 0).green, 0);
}

TEST(DibBitmap, ThirtyTwoBitPlainAndWithOwnMasks) {
    BmpLayout s{.width = 3, .height = 2, .bits = 32};
    s.data = PackRows(3, 2, 32, [](int x, int y) {
        return uint32_t(0xAA000000u | uint32_t(x * 40) << 16 | uint32_t(y * 50) << 8 | 7u);
    });
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    ASSERT_TRUE(dib.To24Bit());
    EXPECT_EQ(dib.GetPixel(2, 1), Rgb(80, 50, 7));
    // Red in the top byte, blue in the second: the masks decide, not the byte order.
    BmpLayout t{
        .width = 2, .height = 1, .bits = 32, .compression = kBiBitfields, .headerSize = 124};
    t.masks = {0xFF000000u, 0x000000FFu, 0x00FF0000u};
    t.data = PackRows(2, 1, 32, [](int x, int) { return uint32_t(0x11223344u + uint32_t(x)); });
    ASSERT_EQ(LoadBytes(dib, BuildBmp(t)), CDib::kLoadBitmap);
    ASSERT_TRUE(dib.To24Bit());
    EXPECT_EQ(dib.GetPixel(0, 0), Rgb(0x11, 0x44, 0x22));
    EXPECT_EQ(dib.GetPixel(1, 0), Rgb(0x11, 0x45, 0x22));
}

TEST(DibBitmap, Os2CoreHeaderWithThreeBytePalette) {
    BmpLayout s{.width = 6, .height = 2, .bits = 8, .headerSize = 12};
    for (int i = 0; i < 256; ++i)
        s.palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
    s.data = PackRows(6, 2, 8, [](int x, int y) { return uint32_t(x * 40 + y); });
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    ASSERT_TRUE(dib.To24Bit());
    EXPECT_EQ(dib.GetPixel(5, 1), Rgb(201 / 2, 255 - 201, 201));
}

TEST(DibBitmap, RefusesWhatItCannotShow) {
    CDib dib;
    BmpLayout s{.width = 4, .height = 4, .bits = 2};
    s.data.assign(16, 0);
    EXPECT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadFailed);
    s.bits = 24;
    s.compression = 4;  // an embedded JPEG
    s.data.assign(48, 0);
    EXPECT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadFailed);
    s.compression = kBiRle8;  // RLE8 at 24 bits
    EXPECT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadFailed);
    EXPECT_FALSE(dib.IsLoaded());
    EXPECT_FALSE(dib.To24Bit());
    const std::string text = "Just some text, neither bitmap nor JPEG.";
    EXPECT_EQ(dib.LoadMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
              CDib::kLoadFailed);
    EXPECT_EQ(dib.Load("/nonexistent/picture.bmp"), CDib::kLoadFailed);
}

TEST(DibBitmap, ReloadReplacesEverything) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, Bmp24(4, 4, Gradient)), CDib::kLoadBitmap);
    EXPECT_EQ(dib.GetColorTableEntry(0), Gradient(0, 3));
    ASSERT_EQ(LoadBytes(dib, Bmp24(2, 1, [](int, int) { return Rgb(9, 8, 7); })),
              CDib::kLoadBitmap);
    EXPECT_EQ(dib.GetSize().width, 2);
    EXPECT_EQ(dib.GetColorTableEntry(0), Rgb(9, 8, 7));
    EXPECT_EQ(dib.GetColorTableEntry(1), Rgb(0, 0, 0));
}

// ---- RLE ----

TEST(DibRle, Rle8RunsStretchesDeltaAndEnds) {
    BmpLayout s{.width = 8, .height = 4, .bits = 8, .compression = kBiRle8};
    for (int i = 0; i < 256; ++i) s.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i), 0});
    s.data = {
        3,  10,                 // row 0 (bottom): 10 10 10
        0,  3,  20, 21, 22, 0,  // absolute stretch of 3, padded to an even length
        0,  0,                  // end of line
        0,  2,  2,  1,          // delta: two right, one up -> row 2, x 2
        2,  30,                 // row 2: x 2..3 = 30
        0,  0,                  // end of line -> row 3
        20, 40,                 // a run longer than the row is cut at its end
        0,  1,                  // end of bitmap
        5,  99,                 // ignored
    };
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    EXPECT_EQ(dib.Header().biCompression, kBiRle8);
    dib.ExpandRle();
    EXPECT_EQ(dib.Header().biCompression, kBiRgb);
    EXPECT_EQ(dib.Header().biBitCount, 8);
    const std::vector<uint8_t> expected = {
        10, 10, 10, 20, 21, 22, 0,  0,  // bottom row
        0,  0,  0,  0,  0,  0,  0,  0,  // skipped by the delta
        0,  0,  30, 30, 0,  0,  0,  0,  //
        40, 40, 40, 40, 40, 40, 40, 40,
    };
    EXPECT_EQ(dib.Pixels(), expected);
}

TEST(DibRle, Rle4AlternatingNibblesAndOddStretch) {
    BmpLayout s{.width = 7, .height = 2, .bits = 4, .compression = kBiRle4};
    for (int i = 0; i < 16; ++i) s.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i), 0});
    s.data = {
        5, 0x12,                       // 1 2 1 2 1
        0, 0,                          // end of line
        0, 5,    0x34, 0x56, 0x70, 0,  // stretch of 5: 3 4 5 6 7, three bytes padded to four
        9, 0xAB,                       // run cut at the row's end: A B
        0, 1,
    };
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, BuildBmp(s)), CDib::kLoadBitmap);
    ASSERT_TRUE(dib.To24Bit());
    const int top[7] = {3, 4, 5, 6, 7, 10, 11};
    const int bottom[7] = {1, 2, 1, 2, 1, 0, 0};
    for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(dib.GetPixel(x, 0).red, top[x]) << x;
        EXPECT_EQ(dib.GetPixel(x, 1).red, bottom[x]) << x;
    }
}

// ---- JPEG ----

TEST(DibJpeg, ColourJpegIsBlueGreenRedBottomUp) {
    auto color = [](int x, int y) { return Rgb(x < 8 ? 250 : 10, 20, y < 8 ? 240 : 30); };
    const auto jpeg = EncodeJpeg(21, 16, 3, 100, color);
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, jpeg), CDib::kLoadJpeg);
    EXPECT_EQ(dib.Header().biBitCount, 24);
    EXPECT_EQ(dib.Header().biSize, 40u);
    EXPECT_EQ(dib.GetSize().width, 21);
    EXPECT_EQ(dib.RowStride(), 64u);
    for (auto [x, y] : {std::pair{1, 1}, {14, 2}, {3, 13}, {18, 14}}) {
        const RgbColor got = dib.GetPixel(x, y), want = color(x, y);
        EXPECT_NEAR(got.red, want.red, 12) << x << "," << y;
        EXPECT_NEAR(got.green, want.green, 12);
        EXPECT_NEAR(got.blue, want.blue, 12);
    }
}

TEST(DibJpeg, GreyJpegFillsAllThreeBytes) {
    const auto jpeg = EncodeJpeg(16, 8, 1, 95, [](int x, int) { return Rgb(x * 16, 0, 0); });
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, jpeg), CDib::kLoadJpeg);
    for (int x = 0; x < 16; ++x) {
        const RgbColor c = dib.GetPixel(x, 4);
        EXPECT_EQ(c.red, c.green);
        EXPECT_EQ(c.green, c.blue);
        EXPECT_NEAR(c.red, x * 16, 10);
    }
}

// ---- Colour operations ----

TEST(DibColours, CountColorsCountsDistinctColours) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, Bmp24(40, 30, [](int x, int y) { return Rgb(x % 7, y % 5, 0); })),
              CDib::kLoadBitmap);
    EXPECT_EQ(dib.CountColors(), 35);
    ASSERT_EQ(LoadBytes(dib, Bmp24(64, 64, [](int x, int y) { return Rgb(x * 4, y * 4, x ^ y); })),
              CDib::kLoadBitmap);
    EXPECT_EQ(dib.CountColors(), 4096);
}

TEST(DibColours, ToGrayUsesTruncatedLuminance) {
    CDib dib;
    auto color = [](int x, int y) { return Rgb((x * 37) % 256, (y * 91) % 256, (x * y) % 256); };
    ASSERT_EQ(LoadBytes(dib, Bmp24(64, 64, color)), CDib::kLoadBitmap);
    dib.ToGray();
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const RgbColor c = color(x, y);
            const int g = int(0.212671 * c.red + 0.715160 * c.green + 0.072169 * c.blue);
            ASSERT_EQ(dib.GetPixel(x, y), Rgb(g, g, g)) << x << "," << y;
        }
    }
    ASSERT_EQ(LoadBytes(dib, Bmp24(1, 1, [](int, int) { return Rgb(255, 255, 255); })),
              CDib::kLoadBitmap);
    dib.ToGray();
    const int white = int(0.212671 * 255 + 0.715160 * 255 + 0.072169 * 255);
    EXPECT_EQ(dib.GetPixel(0, 0).red, white);
}

TEST(DibColours, DistinctTableInMemoryOrderBottomRowFirst) {
    auto color = [](int x, int y) { return Rgb(10 * x, 100 + y, 7); };
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, Bmp24(3, 2, color)), CDib::kLoadBitmap);
    EXPECT_EQ(dib.GetPixelIndex(2, 0), 7);  // the blue byte until the table exists
    EXPECT_EQ(dib.GetColorTableEntry(0), color(0, 1));
    EXPECT_EQ(dib.GetColorTableEntry(2), color(2, 1));
    EXPECT_EQ(dib.GetColorTableEntry(3), color(0, 0));
    EXPECT_EQ(dib.GetColorTableEntry(6), Rgb(0, 0, 0));
    EXPECT_EQ(dib.GetColorTableEntry(256), Rgb(0, 0, 0));
    EXPECT_EQ(dib.GetColorTableEntry(-1), Rgb(0, 0, 0));
    EXPECT_EQ(dib.GetPixelIndex(0, 1), 0);
    EXPECT_EQ(dib.GetPixelIndex(2, 0), 5);
    EXPECT_EQ(dib.GetPixelIndex(1, 0), 4);
}

TEST(DibColours, DistinctTableStopsAt256) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, Bmp24(300, 1, [](int x, int) { return Rgb(x % 256, x / 256, 0); })),
              CDib::kLoadBitmap);
    EXPECT_EQ(dib.GetColorTableEntry(255), Rgb(255, 0, 0));
    EXPECT_EQ(dib.GetPixelIndex(255, 0), 255);
    EXPECT_EQ(dib.GetPixelIndex(299, 0), 0);  // not in the table
}

// ---- Median cut ----

TEST(DibQuantize, BlackAndNearWhiteBecomeBlackAndWhite) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(0, 0, 0), 30}, {Rgb(250, 253, 249), 2}})),
              CDib::kLoadBitmap);
    dib.Quantize(2);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0x000000, 0xFFFFFF}));
}

TEST(DibQuantize, LargestRangeAxisAndHalfCountSplit) {
    // Red has the largest range. Sorted by red, then blue, then green the cells are
    // B (0,0,8), C (8,0,8) x2, A (16,0,0); half of 4 is reached after C.
    CDib dib;
    ASSERT_EQ(
        LoadBytes(dib, PictureOf({{Rgb(16, 0, 0), 16}, {Rgb(0, 0, 8), 16}, {Rgb(8, 0, 8), 32}})),
        CDib::kLoadBitmap);
    dib.Quantize(2);
    EXPECT_EQ(dib.GetPixel(0, 0), Rgb(16, 0, 0));
    EXPECT_EQ(dib.GetPixel(0, 1), Rgb(5, 0, 8));  // (0 + 2 * 8) / 3 truncated
    EXPECT_EQ(dib.GetPixel(0, 3), Rgb(5, 0, 8));
}

TEST(DibQuantize, TiesGoToGreenOverRed) {
    // Red and green ranges tie: split by green (green, blue, red keys): {D, A} | {B, C}.
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(0, 0, 0), 16},
                                        {Rgb(8, 0, 0), 16},
                                        {Rgb(0, 8, 0), 16},
                                        {Rgb(8, 8, 0), 16}})),
              CDib::kLoadBitmap);
    dib.Quantize(2);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0x040000, 0x040800}));
}

TEST(DibQuantize, TiesGoToBlueOverGreen) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(0, 0, 0), 16},
                                        {Rgb(0, 0, 8), 16},
                                        {Rgb(0, 8, 0), 16},
                                        {Rgb(0, 8, 8), 16}})),
              CDib::kLoadBitmap);
    dib.Quantize(2);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0x000400, 0x000408}));
}

TEST(DibQuantize, LowestLevelThenLowestNumberIsSplitNext) {
    // Four blue steps of one pixel row each: box 0 = {0, 8}, box 1 = {16, 24}; the third
    // box comes from box 0, so 16 and 24 stay merged.
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(0, 0, 0), 16},
                                        {Rgb(0, 0, 8), 16},
                                        {Rgb(0, 0, 16), 16},
                                        {Rgb(0, 0, 24), 16}})),
              CDib::kLoadBitmap);
    dib.Quantize(3);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0x000000, 0x000008, 0x000014}));
}

TEST(DibQuantize, SplitStopsOneCellBeforeTheLast) {
    // Counts 16, 16, 480 along blue: half (256) is never reached before the last cell.
    CDib dib;
    ASSERT_EQ(
        LoadBytes(dib, PictureOf({{Rgb(0, 0, 0), 16}, {Rgb(0, 0, 8), 16}, {Rgb(0, 0, 64), 480}})),
        CDib::kLoadBitmap);
    dib.Quantize(2);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0x000004, 0x000040}));
}

TEST(DibQuantize, OneColourOrLessIsTheWeightedMean) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(0, 0, 0), 16}, {Rgb(200, 100, 50), 48}})),
              CDib::kLoadBitmap);
    dib.Quantize(1);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{(150u << 16) | (72u << 8) | 36u}));
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(255, 255, 255), 16}})), CDib::kLoadBitmap);
    dib.Quantize(0);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0xFFFFFF}));
    ASSERT_EQ(LoadBytes(dib, PictureOf({{Rgb(250, 250, 240), 16}})), CDib::kLoadBitmap);
    dib.Quantize(-1);
    EXPECT_EQ(Colours(dib), (std::set<uint32_t>{0xF8F8F0}));
}

TEST(DibQuantize, ManyColoursComeDownToAtMostN) {
    for (int n : {2, 4, 16, 256}) {
        CDib dib;
        ASSERT_EQ(LoadBytes(dib, Bmp24(128, 96, Gradient)), CDib::kLoadBitmap);
        dib.Quantize(n);
        const auto colours = Colours(dib);
        EXPECT_LE(int(colours.size()), n);
        EXPECT_GE(int(colours.size()), n / 2) << "n " << n;
        EXPECT_EQ(dib.CountColors(), int(colours.size()));
    }
}

TEST(DibQuantize, ColoursStayCloseToTheOriginal) {
    CDib dib;
    ASSERT_EQ(LoadBytes(dib, Bmp24(128, 96, Gradient)), CDib::kLoadBitmap);
    dib.Quantize(256);
    double error = 0;
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 128; ++x) {
            const RgbColor a = dib.GetPixel(x, y), b = Gradient(x, y);
            error +=
                std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
        }
    }
    EXPECT_LT(error / (128 * 96 * 3), 12.0);
}
