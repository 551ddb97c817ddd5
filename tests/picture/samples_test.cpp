// Real pictures no one here wrote: each loads or is refused cleanly, decodes like an
// independent reader decodes it, and converts at every colour count.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "picture_test_util.h"

using namespace pictest;
namespace fs = std::filesystem;

namespace {

fs::path SamplesDir() {
    return fs::path(CC_SHARED_DIR) / "samples" / "images";
}

std::vector<fs::path> SampleFiles() {
    std::vector<fs::path> out;
    for (const char* sub : {"bmp", "jpeg"}) {
        const fs::path dir = SamplesDir() / sub;
        if (!fs::is_directory(dir)) continue;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.is_regular_file()) out.push_back(e.path());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string ConvertTool() {
    for (const char* p : {"/usr/bin/convert", "/usr/local/bin/convert"}) {
        if (fs::exists(p)) return p;
    }
    return {};
}

// The picture's pixels as ImageMagick decodes them: 8-bit RGB, top row first.
bool DecodeWithImageMagick(const fs::path& file, int width, int height, std::vector<uint8_t>& rgb) {
    const std::string tool = ConvertTool();
    if (tool.empty()) return false;
    const std::string cmd = tool + " '" + file.string() + "' -depth 8 rgb:- 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    rgb.assign(size_t(width) * size_t(height) * 3, 0);
    const size_t got = fread(rgb.data(), 1, rgb.size(), p);
    char extra;
    const bool more = fread(&extra, 1, 1, p) == 1;
    pclose(p);
    return got == rgb.size() && !more;
}

// Largest channel difference between our decoding and ImageMagick's.
int MaxDifference(const CDib& dib, const std::vector<uint8_t>& rgb, bool invert = false) {
    const auto s = dib.GetSize();
    int worst = 0;
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            const RgbColor c = dib.GetPixel(x, y);
            const uint8_t* r = &rgb[(size_t(y) * size_t(s.width) + size_t(x)) * 3];
            const int v[3] = {c.red, c.green, c.blue};
            for (int i = 0; i < 3; ++i) {
                const int want = invert ? 255 - r[i] : r[i];
                worst = std::max(worst, std::abs(v[i] - want));
            }
        }
    }
    return worst;
}

}  // namespace

TEST(PictureSamples, EveryFileLoadsOrIsRefusedAndConverts) {
    const auto files = SampleFiles();
    if (files.empty()) GTEST_SKIP() << "no sample pictures at " << SamplesDir();
    TempDir dir;
    const std::string viewer = MakeViewer(dir);
    int loaded = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        CDib probe;
        const int kind = probe.Load(file.string());
        const std::string name = file.filename().string();
        if (name.rfind("g_", 0) == 0 || name == "ljt_vgl_6434_0018a.bmp") {
            EXPECT_EQ(kind, CDib::kLoadBitmap);
        }
        if (name == "b_reallybig.bmp" || name == "monkey12.jpg") {
            EXPECT_EQ(kind, CDib::kLoadFailed);
        }
        if (name == "hopper.jpg" || name == "hopper_gray.jpg" || name == "pil_sample_cmyk.jpg" ||
            name == "testorig.jpg" || name == "testorig_progressive.jpg") {
            EXPECT_EQ(kind, CDib::kLoadJpeg);
        }
        if (kind == CDib::kLoadFailed) continue;
        ++loaded;
        for (int colors : {2, 4, 16, 256, -1}) {
            SCOPED_TRACE(colors);
            CDib dib;
            ASSERT_EQ(dib.Load(file.string()), kind);
            const std::string out = dir.File("sample.PDB");
            CPictureDbWriter writer;
            ASSERT_TRUE(writer.Create(out, &dib, colors != 16, viewer, file.stem().string()));
            dib.ExpandRle();
            ASSERT_TRUE(dib.To24Bit());
            ASSERT_EQ(writer.Write(colors), 1);
            ASSERT_TRUE(writer.Close());
            DecodedPicture pic;
            ASSERT_TRUE(DecodePictureDb(out, pic));
            EXPECT_EQ(CompareWithDib(pic, dib), 0);
            EXPECT_EQ(pic.height, dib.GetSize().height);
            if (colors > 0) {
                EXPECT_LE(pic.colors, colors);
            }

            // The one-call conversion writes the same database.
            const std::string out2 = dir.File("sample2.PDB");
            ASSERT_EQ(ConvertPictureFile(file.string(), out2, viewer, file.stem().string(), colors,
                                         colors != 16),
                      kPictureOk);
            const auto a = ReadResources(out), b = ReadResources(out2);
            ASSERT_EQ(a.size(), b.size());
            for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].data, b[i].data);
        }
    }
    EXPECT_GE(loaded, 20);
}

TEST(PictureSamples, BitmapsDecodeAsTheReferenceRenderings) {
    const fs::path refs = SamplesDir() / "bmp" / "reference-png";
    if (!fs::is_directory(refs)) GTEST_SKIP() << "no reference renderings";
    if (ConvertTool().empty()) GTEST_SKIP() << "ImageMagick is not installed";
    int compared = 0;
    for (const auto& e : fs::directory_iterator(refs)) {
        const std::string stem = e.path().stem().string();
        SCOPED_TRACE(stem);
        CDib dib;
        ASSERT_EQ(dib.Load((SamplesDir() / "bmp" / (stem + ".bmp")).string()), CDib::kLoadBitmap);
        ASSERT_TRUE(dib.To24Bit());
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(
            DecodeWithImageMagick(e.path(), dib.GetSize().width, dib.GetSize().height, rgb));
        // Set bits of a 1-bit picture are white whatever its table: with white first in
        // the table that is the reference's negative.
        const bool invert = stem == "g_pal1wb";
        EXPECT_EQ(MaxDifference(dib, rgb, invert), 0);
        ++compared;
    }
    EXPECT_GE(compared, 15);
}

TEST(PictureSamples, JpegsDecodeAsImageMagickDecodesThem) {
    if (ConvertTool().empty()) GTEST_SKIP() << "ImageMagick is not installed";
    const std::map<std::string, int> tolerance = {
        {"testorig.jpg", 2}, {"testorig_progressive.jpg", 2}, {"testimgari.jpg", 2},
        {"hopper.jpg", 2},   {"hopper_gray.jpg", 0},          {"pil_sample_cmyk.jpg", 3},
    };
    int compared = 0;
    for (const auto& [name, tol] : tolerance) {
        const fs::path file = SamplesDir() / "jpeg" / name;
        if (!fs::exists(file)) continue;
        SCOPED_TRACE(name);
        CDib dib;
        ASSERT_EQ(dib.Load(file.string()), CDib::kLoadJpeg);
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(DecodeWithImageMagick(file, dib.GetSize().width, dib.GetSize().height, rgb));
        EXPECT_LE(MaxDifference(dib, rgb), tol);
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no sample JPEG files";
}

TEST(PictureSamples, RealApplicationServesAsTheViewer) {
    const fs::path viewer = fs::path(CC_SHARED_DIR) / "samples" / "palm" / "meminfo.prc";
    if (!fs::exists(viewer)) GTEST_SKIP() << "no sample application";
    TempDir dir;
    const std::string picture = dir.File("Holiday.bmp");
    WriteFile(picture, Bmp24(64, 48, [](int x, int y) {
                  return RgbColor{uint8_t(x * 4), uint8_t(y * 5), uint8_t(x ^ y)};
              }));
    const std::string out = dir.File("Holiday.PDB");
    ASSERT_EQ(ConvertPictureFile(picture, out, viewer.string(), "Holiday", 256, true), kPictureOk);
    pdb::DbInfo vi, oi;
    const auto vr = ReadResources(viewer.string(), &vi);
    const auto orr = ReadResources(out, &oi);
    ASSERT_FALSE(vr.empty());
    EXPECT_EQ(oi.name, "Holiday");
    EXPECT_EQ(pdb::FourCCToText(oi.creator), MakePictureCreator("Holiday"));
    EXPECT_EQ(oi.type, vi.type);
    EXPECT_EQ(oi.attributes, vi.attributes);
    EXPECT_EQ(oi.createDate, vi.createDate);
    ASSERT_GE(orr.size(), vr.size() + 2);
    for (size_t i = 0; i < vr.size(); ++i) {
        EXPECT_EQ(orr[i].type, vr[i].type);
        EXPECT_EQ(orr[i].id, vr[i].id);
        EXPECT_EQ(orr[i].data, vr[i].data);
    }
    DecodedPicture pic;
    ASSERT_TRUE(DecodePictureDb(out, pic));
    EXPECT_EQ(pic.paddedWidth, 64);
    EXPECT_EQ(pic.height, 48);
}
