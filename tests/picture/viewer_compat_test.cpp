// The carried viewer's own tile decoder reads every database written here the way the
// independent decoder of these tests does.
#include <gtest/gtest.h>

#include <filesystem>

#include "picture_test_util.h"
#include "resources/viewer/viewer_core.h"
#include "resources/viewer/viewer_prc.h"

using namespace pictest;
namespace fs = std::filesystem;

namespace {

// Decodes with the viewer's code and compares value by value with DecodePictureDb.
void CheckWithViewer(const std::string& path) {
    DecodedPicture ours;
    ASSERT_TRUE(DecodePictureDb(path, ours));
    const auto res = ReadResources(path);
    size_t head = 0;
    while (head < res.size() && res[head].type != pdb::MakeFourCC("HEAD")) ++head;
    ASSERT_LT(head, res.size());
    VwPicture pic;
    ASSERT_EQ(VwParseHead(res[head].data.data(), uint32_t(res[head].data.size()), &pic), kVwOk);
    ASSERT_EQ(pic.tileCount, ours.tilesTotal);
    std::vector<uint8_t> buffer(VwMaxTileBytes(&pic));
    for (uint16_t i = 0; i < pic.tileCount; ++i) {
        VwTile tile;
        ASSERT_EQ(VwTileGeometry(&pic, i, &tile), kVwOk);
        const auto& data = res[head + 1 + i].data;
        ASSERT_EQ(VwDecodeTile(&pic, &tile, data.data(), uint32_t(data.size()), buffer.data()),
                  kVwOk)
            << "tile " << i;
        const int p = pic.pixelsPerByte, bits = 8 / p;
        for (int r = 0; r < tile.rows; ++r) {
            for (int c = 0; c < tile.columns; ++c) {
                const uint8_t byte = buffer[size_t(r) * tile.rowBytes + size_t(c / p)];
                const int v = (byte >> (8 - bits * (c % p + 1))) & ((1 << bits) - 1);
                ASSERT_EQ(v, ours.Value(tile.x + c, tile.y + r)) << "tile " << i;
            }
        }
    }
}

}  // namespace

TEST(PictureViewerCompat, TheViewerReadsWhatIsWritten) {
    TempDir dir;
    const std::string viewer = dir.File("VIEWER.PRC");
    WriteFile(viewer, resources::ViewerPrcBytes());
    std::vector<std::string> pictures;
    auto add = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        pictures.push_back(dir.File(name));
        WriteFile(pictures.back(), bytes);
    };
    add("gradient.bmp", Bmp24(530, 300, [](int x, int y) {
            return RgbColor{uint8_t(x), uint8_t(y), uint8_t(x * y)};
        }));
    add("white.bmp", Bmp24(705, 20, [](int, int) { return RgbColor{255, 255, 255}; }));
    add("photo.jpg", EncodeJpeg(357, 505, 3, 80, [](int x, int y) {
            return RgbColor{uint8_t(x ^ y), uint8_t(x + y), uint8_t(y)};
        }));
    const fs::path samples = fs::path(CC_SHARED_DIR) / "samples" / "images";
    for (const char* name : {"bmp/g_pal4rle.bmp", "bmp/g_rgb16-565.bmp", "jpeg/testorig.jpg"}) {
        if (fs::exists(samples / name)) pictures.push_back((samples / name).string());
    }
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture);
        for (int colors : {2, 4, 16, 256}) {
            for (bool compress : {false, true}) {
                const std::string out = dir.File("out.PDB");
                ASSERT_EQ(ConvertPictureFile(picture, out, viewer, PictureTitle(picture), colors,
                                             compress),
                          kPictureOk);
                ASSERT_NO_FATAL_FAILURE(CheckWithViewer(out));
            }
        }
    }
}
