// Pictures converted by the program and shown by the viewer it carries, in the emulator:
// the handheld's screen shows the source picture.
#include <gtest/gtest.h>

#include "resources/viewer/viewer_prc.h"
#include "tests/picture/picture_test_util.h"
#include "tests/viewer/palm_emulator.h"

namespace viewer_test {
namespace {

constexpr int kScreen = CPalmEmulator::kScreen;

// Converts the bitmap for `colors` and runs the written application to its first screen.
bool FirstScreen(const std::vector<uint8_t>& bmp, int colors, const DeviceConfig& config,
                 Frame& out) {
    pictest::TempDir dir;
    const std::string viewer = dir.File("VIEWER.PRC"), picture = dir.File("pic.bmp");
    pictest::WriteFile(viewer, resources::ViewerPrcBytes());
    pictest::WriteFile(picture, bmp);
    const std::string db = dir.File("pic.PDB");
    EXPECT_EQ(ConvertPictureFile(picture, db, viewer, "pic", colors, true), kPictureOk);
    CPalmEmulator emu(config);
    std::vector<uint8_t> code;
    for (const pdb::Resource& r : pictest::ReadResources(db)) {
        if (r.type != pdb::MakeFourCC("code"))
            emu.AddResource(pdb::FourCCToText(r.type), r.id, r.data);
        else if (r.id == 1)
            code = r.data;
    }
    const bool ran = emu.Run(code);
    for (const std::string& e : emu.Errors()) ADD_FAILURE() << e;
    EXPECT_TRUE(emu.Alerts().empty()) << testing::PrintToString(emu.Alerts());
    if (!ran || emu.Frames().empty()) return false;
    out = emu.Frames().front();
    return true;
}

// 150 colours, so the 256-colour form keeps every one of them exactly.
RgbColor Patch(int x, int y) {
    return {uint8_t(x / 20 * 17), uint8_t(y / 20 * 25), uint8_t((x / 20 + y / 20) * 10)};
}

TEST(ViewerShowsConvertedPictures, InTheirOwnColoursWhetherTheSystemCopiesOrMatches) {
    const std::vector<uint8_t> bmp = pictest::Bmp24(300, 200, Patch);
    for (bool match : {false, true}) {
        SCOPED_TRACE(match ? "matching colours" : "copying indices");
        DeviceConfig config;
        config.matchColors = match;
        Frame f;
        ASSERT_TRUE(FirstScreen(bmp, 256, config, f));
        ASSERT_EQ(f.depth, 8u);
        for (int y = 0; y < kScreen; ++y) {
            for (int x = 0; x < kScreen; ++x) {
                const size_t entry = 4 * size_t(f.pixels[size_t(y) * kScreen + size_t(x)]);
                const RgbColor shown{f.palette[entry + 1], f.palette[entry + 2],
                                     f.palette[entry + 3]};
                ASSERT_EQ(shown, Patch(x, y)) << "at (" << x << ", " << y << ")";
            }
        }
    }
}

TEST(ViewerShowsConvertedPictures, SixteenGreyLevelsAsTheirScreenValues) {
    auto grey = [](int x, int y) {
        const uint8_t g = uint8_t((x / 10 + y / 10) % 16 * 17);
        return RgbColor{g, g, g};
    };
    Frame f;
    ASSERT_TRUE(FirstScreen(pictest::Bmp24(170, 165, grey), 16, DeviceConfig{}, f));
    ASSERT_EQ(f.depth, 4u);
    for (int y = 0; y < kScreen; ++y) {
        for (int x = 0; x < kScreen; ++x) {
            // 0 is white and 15 black on the handheld.
            ASSERT_EQ(f.pixels[size_t(y) * kScreen + size_t(x)], 15 - grey(x, y).red / 17)
                << "at (" << x << ", " << y << ")";
        }
    }
}

}  // namespace
}  // namespace viewer_test
