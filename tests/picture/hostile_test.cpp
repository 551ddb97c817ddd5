// Hostile and broken pictures: never a crash, an over-read (the sanitizer build checks
// those), or an allocation the file cannot justify.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "picture_test_util.h"

using namespace pictest;

namespace {

RgbColor Rgb(int r, int g, int b) {
    return {uint8_t(r), uint8_t(g), uint8_t(b)};
}

void PutLe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

// Runs everything a conversion does on whatever loaded.
void Exercise(const std::vector<uint8_t>& bytes) {
    CDib dib;
    if (dib.LoadMemory(bytes.data(), bytes.size()) == CDib::kLoadFailed) return;
    dib.ExpandRle();
    if (!dib.To24Bit()) return;
    const auto s = dib.GetSize();
    ASSERT_GE(dib.Pixels().size(), dib.RowStride() * size_t(s.height));
    dib.CountColors();
    dib.Quantize(16);
    dib.GetColorTableEntry(3);
    dib.GetPixelIndex(s.width - 1, s.height - 1);
}

// Growth of the peak resident memory, in KB, while fn runs in a child process.
long PeakGrowthKb(const std::function<void()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        fn();
        getrusage(RUSAGE_SELF, &after);
        const long growth = after.ru_maxrss - before.ru_maxrss;
        (void)!write(fds[1], &growth, sizeof growth);
        _exit(0);
    }
    close(fds[1]);
    long growth = -1;
    if (read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? growth : -1;
}

std::vector<std::vector<uint8_t>> ValidFiles() {
    std::vector<std::vector<uint8_t>> files;
    auto pal = [](int n) {
        std::vector<RgbQuad> p;
        for (int i = 0; i < n; ++i) p.push_back({uint8_t(i * 3), uint8_t(i), uint8_t(255 - i), 0});
        return p;
    };
    auto index = [](int x, int y) { return uint32_t(x * 7 + y * 3); };
    files.push_back(Bmp24(9, 7, [](int x, int y) { return Rgb(x * 20, y * 30, 77); }));
    for (int bits : {1, 4, 8}) {
        BmpLayout s{.width = 11, .height = 5, .bits = bits, .palette = pal(1 << bits)};
        s.data = PackRows(11, 5, bits, [&](int x, int y) { return index(x, y) % (1u << bits); });
        files.push_back(BuildBmp(s));
    }
    BmpLayout s16{.width = 6, .height = 4, .bits = 16, .compression = kBiBitfields};
    s16.masks = {0xF800, 0x07E0, 0x001F};
    s16.data = PackRows(6, 4, 16, index);
    files.push_back(BuildBmp(s16));
    BmpLayout s32{.width = 5, .height = -3, .bits = 32, .headerSize = 108};
    s32.data = PackRows(5, 3, 32, index, true);
    files.push_back(BuildBmp(s32));
    BmpLayout os2{.width = 4, .height = 4, .bits = 8, .headerSize = 12, .palette = pal(256)};
    os2.data = PackRows(4, 4, 8, index);
    files.push_back(BuildBmp(os2));
    BmpLayout rle8{
        .width = 10, .height = 6, .bits = 8, .compression = kBiRle8, .palette = pal(256)};
    rle8.data = {4, 9, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 3, 2, 200, 7, 0, 0, 2, 5, 0, 1};
    files.push_back(BuildBmp(rle8));
    BmpLayout rle4{.width = 9, .height = 3, .bits = 4, .compression = kBiRle4, .palette = pal(16)};
    rle4.data = {7, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 2, 1, 1, 30, 0xFE, 0, 1};
    files.push_back(BuildBmp(rle4));
    auto jcolor = [](int x, int y) { return Rgb(x * 9, y * 13, (x ^ y) * 4); };
    files.push_back(EncodeJpeg(24, 17, 3, 80, jcolor));
    files.push_back(EncodeJpeg(19, 9, 1, 80, jcolor));
    files.push_back(EncodeJpeg(20, 12, 3, 80, jcolor, true));
    return files;
}

}  // namespace

TEST(PictureHostile, EveryTruncationFailsOrLoadsSafely) {
    for (const auto& file : ValidFiles()) {
        CDib whole;
        ASSERT_NE(whole.LoadMemory(file.data(), file.size()), CDib::kLoadFailed);
        for (size_t n = 1; n < file.size(); ++n) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
            ASSERT_NO_FATAL_FAILURE(Exercise(cut)) << "cut at " << n;
        }
    }
}

TEST(PictureHostile, TruncatedPlainBitmapIsRefused) {
    const auto file = Bmp24(16, 16, [](int x, int y) { return Rgb(x, y, 0); });
    CDib dib;
    EXPECT_EQ(dib.LoadMemory(file.data(), file.size() - 1), CDib::kLoadFailed);
    EXPECT_FALSE(dib.IsLoaded());
}

TEST(PictureHostile, RandomDamageNeverBreaksAnything) {
    std::mt19937 rng(12345);
    for (const auto& file : ValidFiles()) {
        for (int round = 0; round < 150; ++round) {
            std::vector<uint8_t> bad = file;
            const int flips = 1 + int(rng() % 6);
            for (int i = 0; i < flips; ++i) {
                const size_t at = rng() % bad.size();
                bad[at] = rng() % 4 == 0 ? uint8_t(0xFF) : uint8_t(rng());
            }
            ASSERT_NO_FATAL_FAILURE(Exercise(bad)) << "round " << round;
        }
    }
}

TEST(PictureHostile, LyingHeaderSizes) {
    BmpLayout s{.width = 8, .height = 8, .bits = 8};
    for (int i = 0; i < 256; ++i) s.palette.push_back({uint8_t(i), 0, 0, 0});
    s.data = PackRows(8, 8, 8, [](int x, int y) { return uint32_t(x + y); });
    const auto good = BuildBmp(s);
    CDib dib;
    ASSERT_EQ(dib.LoadMemory(good.data(), good.size()), CDib::kLoadBitmap);

    auto variant = [&](size_t at, uint32_t value) {
        auto v = good;
        PutLe32(v, at, value);
        return dib.LoadMemory(v.data(), v.size());
    };
    EXPECT_EQ(variant(10, uint32_t(good.size() + 1)), CDib::kLoadFailed);  // pixels past the end
    EXPECT_EQ(variant(10, 20), CDib::kLoadFailed);  // pixels inside the header
    EXPECT_EQ(variant(10, 0xFFFFFFFFu), CDib::kLoadFailed);
    EXPECT_EQ(variant(14, 0xFFFFFFF0u), CDib::kLoadFailed);  // header larger than the file
    EXPECT_EQ(variant(14, 0), CDib::kLoadFailed);
    EXPECT_EQ(variant(14, 13), CDib::kLoadFailed);
    // A colour count beyond what 8 bits can index is held to 256 entries.
    EXPECT_EQ(variant(46, 0xFFFFFFFFu), CDib::kLoadBitmap);
    EXPECT_EQ(dib.ColorTable().size(), 256u);
    // A wrong image size does not matter to plain pixels: the rows are all there.
    EXPECT_EQ(variant(34, 0xFFFFFFFFu), CDib::kLoadBitmap);
    EXPECT_EQ(variant(34, 3), CDib::kLoadBitmap);
    // Height of -2^31 cannot be turned around.
    EXPECT_EQ(variant(22, 0x80000000u), CDib::kLoadFailed);
    // A palette cut short by the pixel offset leaves the rest black.
    auto shortPal = good;
    PutLe32(shortPal, 10, 14 + 40 + 4 * 4);
    EXPECT_EQ(dib.LoadMemory(shortPal.data(), shortPal.size()), CDib::kLoadBitmap);
    EXPECT_EQ(dib.ColorTable()[3].blue, 3);
    EXPECT_EQ(dib.ColorTable()[4].blue, 0);

    // Bit fields announced but their masks missing.
    BmpLayout f{.width = 2, .height = 1, .bits = 16, .compression = kBiBitfields};
    f.data = {1, 2, 3, 4};
    auto noMasks = BuildBmp(f);
    EXPECT_EQ(dib.LoadMemory(noMasks.data(), noMasks.size()), CDib::kLoadFailed);
}

TEST(PictureHostile, HugeDimensionsAreRefusedWithoutAllocating) {
    auto claim = [](int width, int height, int bits, uint32_t compression, size_t dataBytes) {
        BmpLayout s{.width = width, .height = height, .bits = bits, .compression = compression};
        if (bits <= 8) s.palette.assign(size_t(1) << bits, RgbQuad{});
        s.data.assign(dataBytes, 0);
        if (compression == kBiRle8) {
            s.data[0] = 0;
            s.data[1] = 1;
        }
        return BuildBmp(s);
    };
    const std::vector<std::vector<uint8_t>> files = {
        claim(3000000, 2000000, 1, kBiRgb, 64),
        claim(30000, 30000, 24, kBiRgb, 64),  // sides allowed, pixels not
        claim(4000, 4000, 8, kBiRle8, 20),    // a short RLE stream cannot justify it
        claim(40000, 10, 24, kBiRgb, 64),
        claim(1, -2147483647, 24, kBiRgb, 64),
    };
    for (const auto& f : files) {
        const long kb = PeakGrowthKb([&] {
            CDib dib;
            if (dib.LoadMemory(f.data(), f.size()) != CDib::kLoadFailed) _exit(3);
        });
        EXPECT_GE(kb, 0);
        EXPECT_LT(kb, 4096);
    }
    // JPEGs whose frame header claims far more than a few hundred bytes of data can hold.
    for (int side : {20000, 4000}) {
        auto jpeg = EncodeJpeg(16, 16, 3, 50, [](int x, int) { return Rgb(x * 16, 0, 0); });
        bool patched = false;
        for (size_t i = 0; i + 8 < jpeg.size() && !patched; ++i) {
            if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
                jpeg[i + 5] = uint8_t(side >> 8);
                jpeg[i + 6] = uint8_t(side);
                jpeg[i + 7] = uint8_t(side >> 8);
                jpeg[i + 8] = uint8_t(side);
                patched = true;
            }
        }
        ASSERT_TRUE(patched);
        const long kb = PeakGrowthKb([&] {
            CDib dib;
            if (dib.LoadMemory(jpeg.data(), jpeg.size()) != CDib::kLoadFailed) _exit(3);
        });
        EXPECT_GE(kb, 0) << side;
        EXPECT_LT(kb, 4096) << side;
    }
}

TEST(PictureHostile, LegitimateLoadGrowsByAboutThePicture) {
    // The yardstick for the test above: a 1000 x 1000 JPEG takes its 3 MB of pixels.
    const auto jpeg = EncodeJpeg(1000, 1000, 3, 75, [](int x, int y) { return Rgb(x, y, x ^ y); });
    const long kb = PeakGrowthKb([&] {
        CDib dib;
        if (dib.LoadMemory(jpeg.data(), jpeg.size()) != CDib::kLoadJpeg) _exit(3);
    });
    EXPECT_GT(kb, 2900);
    EXPECT_LT(kb, 16 * 1024);
}

TEST(PictureHostile, BadRleCodesStayInsideThePicture) {
    BmpLayout s{.width = 5, .height = 3, .bits = 8, .compression = kBiRle8};
    for (int i = 0; i < 256; ++i) s.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i), 0});
    const std::vector<std::vector<uint8_t>> streams = {
        {255, 1, 255, 2, 255, 3},                     // runs far past the row, no line ends
        {0, 2, 255, 255, 7, 7},                       // delta far outside
        {0, 2, 4, 0, 0, 2, 4, 0, 3, 9},               // deltas past the row end
        {0, 200, 1, 2, 3},                            // stretch longer than the data
        {0, 255, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},  // stretch longer than the row
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3},         // more line ends than rows
        {2},                                          // odd length
        {0, 2},                                       // delta without its bytes
    };
    for (const auto& data : streams) {
        s.data = data;
        const auto file = BuildBmp(s);
        CDib dib;
        ASSERT_EQ(dib.LoadMemory(file.data(), file.size()), CDib::kLoadBitmap);
        dib.ExpandRle();
        EXPECT_EQ(dib.Pixels().size(), 8u * 3);
        ASSERT_TRUE(dib.To24Bit());
    }
    // Runs are cut at the row's end, they do not wrap.
    s.data = {9, 50, 2, 60, 0, 1};
    const auto file = BuildBmp(s);
    CDib dib;
    ASSERT_EQ(dib.LoadMemory(file.data(), file.size()), CDib::kLoadBitmap);
    dib.ExpandRle();
    const std::vector<uint8_t> bottom(dib.Pixels().begin(), dib.Pixels().begin() + 8);
    EXPECT_EQ(bottom, (std::vector<uint8_t>{50, 50, 50, 50, 50, 0, 0, 0}));
    EXPECT_EQ(dib.Pixels()[8], 0);
}

TEST(PictureHostile, BrokenJpegsAreRefused) {
    CDib dib;
    const std::vector<uint8_t> soiOnly = {0xFF, 0xD8};
    EXPECT_EQ(dib.LoadMemory(soiOnly.data(), soiOnly.size()), CDib::kLoadFailed);
    const std::vector<uint8_t> noise = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x13, 0x37};
    EXPECT_EQ(dib.LoadMemory(noise.data(), noise.size()), CDib::kLoadFailed);
    // Sample files that are known to be broken.
    const std::filesystem::path dir = std::filesystem::path(CC_SHARED_DIR) / "samples" / "images";
    for (const char* name :
         {"jpeg/truncated_progressive.jpg", "jpeg/monkey12.jpg", "bmp/b_badrle.bmp",
          "bmp/b_rletopdown.bmp", "bmp/b_shortfile.bmp", "bmp/b_reallybig.bmp"}) {
        const auto path = dir / name;
        if (!std::filesystem::exists(path)) continue;
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(Exercise(ReadFile(path.string())));
    }
}

TEST(PictureHostile, EndlessProgressiveScansAreRefused) {
    const auto jpeg = EncodeJpeg(
        32, 32, 3, 80, [](int x, int y) { return Rgb(x * 8, y * 8, 0); }, true);
    CDib dib;
    ASSERT_EQ(dib.LoadMemory(jpeg.data(), jpeg.size()), CDib::kLoadJpeg);
    // The last scan (start-of-scan marker to the end marker) repeated well past any real
    // file's count: each repeat makes the decoder go over the coefficients again.
    size_t sos = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) sos = i;
    }
    ASSERT_GT(sos, 0u);
    const std::vector<uint8_t> scan(jpeg.begin() + long(sos), jpeg.end() - 2);
    std::vector<uint8_t> many(jpeg.begin(), jpeg.begin() + long(sos));
    for (int i = 0; i < 1500; ++i) many.insert(many.end(), scan.begin(), scan.end());
    many.push_back(0xFF);
    many.push_back(0xD9);
    EXPECT_EQ(dib.LoadMemory(many.data(), many.size()), CDib::kLoadFailed);
    // A few repeats are only odd, not hostile.
    std::vector<uint8_t> few(jpeg.begin(), jpeg.begin() + long(sos));
    for (int i = 0; i < 3; ++i) few.insert(few.end(), scan.begin(), scan.end());
    few.push_back(0xFF);
    few.push_back(0xD9);
    EXPECT_EQ(dib.LoadMemory(few.data(), few.size()), CDib::kLoadJpeg);
}
