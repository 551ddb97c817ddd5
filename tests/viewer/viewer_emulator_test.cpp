// The viewer's code resource, taken from the VIEWER.PRC the program carries, run in a
// 68000 emulator against test doubles of the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/viewer/viewer_app.h"

namespace viewer_test {
namespace {

constexpr uint16_t kPageUp = 0x0B, kPageDown = 0x0C;
constexpr uint16_t kHard1 = 0x0204, kHard2 = 0x0205, kHard3 = 0x0206;
constexpr uint16_t kCommandKey = 0x0008;
constexpr uint16_t kAlertOldSystem = 1001, kAlertNoMemory = 1101, kAlertCannotShow = 1201;
constexpr uint16_t kModeForm = 1200, kCompatibleButton = 1203;
constexpr int kScreen = CPalmEmulator::kScreen;

std::string Joined(const std::vector<std::string>& errors) {
    std::string out;
    for (const std::string& e : errors) out += e + "; ";
    return out;
}

// Where the first difference between two screens lies, or "" when they are equal.
std::string Difference(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got) {
    if (want.size() != got.size()) return "sizes differ";
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] != got[i]) {
            std::ostringstream s;
            s << "pixel (" << i % kScreen << ", " << i / kScreen << "): want " << int(want[i])
              << ", got " << int(got[i]);
            return s.str();
        }
    }
    return "";
}

struct Position {
    int x, y;
};

// The scroll position after a key, clamped to the picture (the test's own arithmetic).
Position Step(Position p, uint16_t key, const TestPicture& pic) {
    const int lastX = std::max(0, pic.width - kScreen);
    const int lastY = std::max(0, pic.height - kScreen);
    switch (key) {
        case kPageDown:
            p.y = std::min(lastY, p.y + kScreen);
            break;
        case kPageUp:
            p.y = std::max(0, p.y - kScreen);
            break;
        case kHard3:
            p.x = std::min(lastX, p.x + kScreen);
            break;
        case kHard2:
            p.x = std::max(0, p.x - kScreen);
            break;
        default:
            break;
    }
    return p;
}

uint16_t BitsFor(uint16_t colors) {
    return colors == 2 ? 1 : colors == 4 ? 2 : colors == 16 ? 4 : 8;
}

struct Case {
    uint16_t colors;
    uint16_t width, height;  // a little over one tile each way
    bool compressed;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return std::to_string(info.param.colors) + "Colours" +
           (info.param.compressed ? "Compressed" : "Plain");
}

class ViewerScrolling : public testing::TestWithParam<Case> {};

// Launch, then page down and right across the tile edges to the far corner, and back:
// after each key the screen holds exactly the part of the picture at the new position.
TEST_P(ViewerScrolling, ShowsTheRightPartOfThePictureAfterEveryKey) {
    const Case c = GetParam();
    const TestPicture pic = MakePattern(c.colors, c.width, c.height);
    CPalmEmulator emu(DeviceConfig{});
    AddApplication(emu);
    AddPicture(emu, pic, c.compressed);

    std::vector<uint16_t> keys;
    for (int i = 0; i < (pic.height - 1) / kScreen; ++i) keys.push_back(kPageDown);
    for (int i = 0; i < (pic.width - 1) / kScreen; ++i) keys.push_back(kHard3);
    keys.push_back(kPageUp);
    keys.push_back(kHard2);
    for (uint16_t k : keys) emu.QueueEvent(Event::Key(k, k > 0xFF ? kCommandKey : 0));
    emu.QueueEvent(Event::Stop());

    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Alerts().empty()) << testing::PrintToString(emu.Alerts());
    ASSERT_EQ(emu.Frames().size(), keys.size() + 1);

    Position p{0, 0}, far{0, 0};
    for (size_t i = 0; i < emu.Frames().size(); ++i) {
        if (i > 0) p = Step(p, keys[i - 1], pic);
        far = {std::max(far.x, p.x), std::max(far.y, p.y)};
        const Frame& f = emu.Frames()[i];
        EXPECT_EQ(f.depth, BitsFor(c.colors)) << "frame " << i;
        EXPECT_EQ(Difference(ExpectedView(pic, p.x, p.y), f.pixels), "")
            << "frame " << i << " at (" << p.x << ", " << p.y << ")";
    }
    // The far corner was reached: every tile was on the screen at some point.
    EXPECT_EQ(far.x, pic.width - kScreen);
    EXPECT_EQ(far.y, pic.height - kScreen);
    if (c.colors == 256) {  // the picture's palette while it is shown, the default after
        EXPECT_EQ(emu.Frames()[0].palette,
                  std::vector<uint8_t>(pic.table.begin(), pic.table.end()));
        EXPECT_NE(emu.Palette(), emu.Frames()[0].palette);
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, ViewerScrolling,
                         testing::Values(Case{2, 720, 712, false}, Case{2, 720, 712, true},
                                         Case{4, 516, 520, false}, Case{4, 516, 520, true},
                                         Case{16, 370, 372, false}, Case{16, 370, 372, true},
                                         Case{256, 300, 280, false}, Case{256, 300, 280, true}),
                         CaseName);

TEST(ViewerModes, CompatibleModeDrawsTheSamePictureLineByLine) {
    const TestPicture pic = MakePattern(16, 370, 372);
    DeviceConfig config;
    config.dialogButton = kCompatibleButton;
    CPalmEmulator emu(config);
    AddApplication(emu);
    AddPicture(emu, pic, true);
    emu.QueueEvent(Event::Key(kHard1, kCommandKey));  // the mode dialog; it covers the screen
    emu.QueueEvent(Event::Key(kPageDown));
    emu.QueueEvent(Event::Key(kHard3, kCommandKey));
    emu.QueueEvent(Event::Pen(80, 80));  // the dialog again, from a tap
    emu.QueueEvent(Event::Stop());

    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    EXPECT_EQ(emu.Dialogs(), (std::vector<uint16_t>{kModeForm, kModeForm}));
    ASSERT_EQ(emu.Frames().size(), 5u);
    EXPECT_EQ(Difference(ExpectedView(pic, 0, 0), emu.Frames()[1].pixels), "");
    EXPECT_EQ(Difference(ExpectedView(pic, 0, 160), emu.Frames()[2].pixels), "");
    EXPECT_EQ(Difference(ExpectedView(pic, 160, 160), emu.Frames()[3].pixels), "");
    EXPECT_EQ(Difference(ExpectedView(pic, 160, 160), emu.Frames()[4].pixels), "");
    // Launch drew whole tiles; after the switch every bitmap is one line high.
    const std::vector<DrawCall>& draws = emu.Draws();
    EXPECT_GT(draws.front().height, 1);
    EXPECT_EQ(draws.back().height, 1);
    EXPECT_GT(
        std::count_if(draws.begin(), draws.end(), [](const DrawCall& d) { return d.height == 1; }),
        3 * kScreen);
}

TEST(ViewerModes, SmallPictureLeavesTheRestOfTheScreenWhiteAndDoesNotScroll) {
    const TestPicture pic = MakePattern(256, 100, 50);
    CPalmEmulator emu(DeviceConfig{});
    AddApplication(emu);
    AddPicture(emu, pic, true);
    emu.QueueEvent(Event::Key(kPageDown));
    emu.QueueEvent(Event::Key(kHard3, kCommandKey));
    emu.QueueEvent(Event::Stop());
    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    ASSERT_EQ(emu.Frames().size(), 3u);
    for (const Frame& f : emu.Frames())
        EXPECT_EQ(Difference(ExpectedView(pic, 0, 0), f.pixels), "");
    EXPECT_EQ(emu.Draws().size(), 1u);  // nothing to redraw when nothing moved
}

TEST(ViewerModes, OtherKeysGoToTheSystemAndOtherLaunchesDoNothing) {
    const TestPicture pic = MakePattern(2, 200, 200);
    CPalmEmulator emu(DeviceConfig{});
    AddApplication(emu);
    AddPicture(emu, pic, false);
    emu.QueueEvent(Event::Key('a'));
    emu.QueueEvent(Event::Stop());
    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    EXPECT_EQ(emu.SystemEvents(), (std::vector<uint16_t>{4, 22}));  // the key, then the stop

    DeviceConfig find;
    find.launchCode = 1;  // a find request, not a normal launch
    CPalmEmulator quiet(find);
    AddApplication(quiet);
    AddPicture(quiet, pic, false);
    ASSERT_TRUE(quiet.Run(ViewerCode1())) << Joined(quiet.Errors());
    EXPECT_TRUE(quiet.Errors().empty()) << Joined(quiet.Errors());
    EXPECT_TRUE(quiet.Frames().empty());
    EXPECT_EQ(quiet.TrapCount(), 2u);  // start-up and exit only
}

TEST(ViewerModes, OnSystemTwoAOneBitPictureShowsWithoutScreenModes) {
    const TestPicture pic = MakePattern(2, 300, 200);
    DeviceConfig config;
    config.romVersion = 0x02003000;
    CPalmEmulator emu(config);  // the double stops the run if screen modes are used
    AddApplication(emu);
    AddPicture(emu, pic, true);
    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    ASSERT_FALSE(emu.Frames().empty());
    EXPECT_EQ(Difference(ExpectedView(pic, 0, 0), emu.Frames()[0].pixels), "");
}

// WinScreenMode and WinPalette take their operation as a 1-byte argument, which the
// system reads from the first byte of its 2-byte stack slot: each operation must arrive
// as the viewer meant it.
TEST(ViewerSystemCalls, ByteArgumentsArriveInTheFirstByteOfTheirSlot) {
    constexpr uint16_t kWinScreenMode = 0xA33E, kWinPalette = 0xA39D;
    const TestPicture pic = MakePattern(256, 200, 180);
    CPalmEmulator emu(DeviceConfig{});
    AddApplication(emu);
    AddPicture(emu, pic, true);
    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Alerts().empty()) << testing::PrintToString(emu.Alerts());
    std::vector<uint32_t> modes, palettes;
    for (const std::vector<uint32_t>& args : emu.CallsOf(kWinScreenMode)) modes.push_back(args[0]);
    for (const std::vector<uint32_t>& args : emu.CallsOf(kWinPalette)) {
        palettes.push_back(args[0]);
        EXPECT_EQ(args[1], 0u);    // start index
        EXPECT_EQ(args[2], 256u);  // entries
    }
    // Supported depths, set, set to defaults; palette set, set to default.
    EXPECT_EQ(modes, (std::vector<uint32_t>{4, 3, 2}));
    EXPECT_EQ(palettes, (std::vector<uint32_t>{1, 2}));
}

// Where the colours on the screen first differ from the picture's at (x, y), or "".
std::string ColourDifference(const TestPicture& pic, Position at, const Frame& f) {
    for (int r = 0; r < kScreen && at.y + r < pic.height; ++r) {
        for (int c = 0; c < kScreen && at.x + c < pic.width; ++c) {
            const size_t want = 4 * size_t(pic.At(at.x + c, at.y + r));
            const size_t got = 4 * size_t(f.pixels[size_t(r) * kScreen + size_t(c)]);
            for (size_t k = 1; k < 4; ++k) {
                if (pic.table[want + k] != f.palette[got + k]) {
                    std::ostringstream s;
                    s << "pixel (" << c << ", " << r << "): colour " << want / 4 << " shown as "
                      << got / 4;
                    return s.str();
                }
            }
        }
    }
    return "";
}

// A 256-colour picture shows in its own colours whether the system copies the bitmap's
// indices through the palette or matches each colour of the bitmap to the palette, in
// both drawing modes.
TEST(ViewerColours, ShowTheSameOnSystemsThatCopyIndicesAndOnThoseThatMatchColours) {
    const TestPicture pic = MakePattern(256, 300, 280);
    for (bool match : {false, true}) {
        SCOPED_TRACE(match ? "matching colours" : "copying indices");
        DeviceConfig config;
        config.matchColors = match;
        config.dialogButton = kCompatibleButton;
        CPalmEmulator emu(config);
        AddApplication(emu);
        AddPicture(emu, pic, true);
        const std::vector<uint16_t> keys = {kPageDown, kHard1, kHard3};
        for (uint16_t k : keys) emu.QueueEvent(Event::Key(k, k > 0xFF ? kCommandKey : 0));
        ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
        EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
        ASSERT_EQ(emu.Frames().size(), keys.size() + 1);
        Position p{0, 0};
        for (size_t i = 0; i < emu.Frames().size(); ++i) {
            if (i > 0) p = Step(p, keys[i - 1], pic);
            EXPECT_EQ(ColourDifference(pic, p, emu.Frames()[i]), "") << "frame " << i;
        }
        EXPECT_EQ(emu.Draws().back().height, 1);  // the last frame was drawn line by line
    }
}

// Runs the viewer on a device and a picture that it must refuse.
struct Refusal {
    const char* name;
    DeviceConfig config;
    uint16_t colors;
    uint16_t alert;
};

class ViewerRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(ViewerRefuses, WithItsAlertAndWithoutDrawing) {
    const Refusal r = GetParam();
    const TestPicture pic = MakePattern(r.colors, 720, 720);
    CPalmEmulator emu(r.config);
    AddApplication(emu);
    AddPicture(emu, pic, true);
    ASSERT_TRUE(emu.Run(ViewerCode1())) << Joined(emu.Errors());
    EXPECT_TRUE(emu.Errors().empty()) << Joined(emu.Errors());
    EXPECT_EQ(emu.Alerts(), std::vector<uint16_t>{r.alert});
    EXPECT_TRUE(emu.Draws().empty());
    EXPECT_TRUE(emu.Frames().empty());
}

DeviceConfig Rom(uint32_t version) {
    DeviceConfig c;
    c.romVersion = version;
    return c;
}
DeviceConfig Memory(uint32_t freeBytes, uint32_t maxChunk) {
    DeviceConfig c;
    c.heapFree = freeBytes;
    c.heapMaxChunk = maxChunk;
    return c;
}
DeviceConfig Depths(uint32_t depths, uint32_t rom = 0x03503000) {
    DeviceConfig c;
    c.supportedDepths = depths;
    c.romVersion = rom;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ViewerRefuses,
    testing::Values(Refusal{"System1", Rom(0x01003000), 2, kAlertOldSystem},
                    Refusal{"System1_256", Rom(0x01003000), 256, kAlertOldSystem},
                    Refusal{"LittleFreeMemory", Memory(40000, 65500), 2, kAlertNoMemory},
                    Refusal{"SmallChunks", Memory(4u << 20, 30000), 256, kAlertNoMemory},
                    Refusal{"NoFourBitScreen", Depths(0x03), 16, kAlertCannotShow},
                    Refusal{"NoColourScreen", Depths(0x0B), 256, kAlertCannotShow},
                    Refusal{"NoPaletteBefore35", Depths(0x8B, 0x03103000), 256, kAlertCannotShow},
                    Refusal{"GreyOnSystem2", Rom(0x02003000), 4, kAlertCannotShow}),
    [](const testing::TestParamInfo<Refusal>& p) { return std::string(p.param.name); });

// Broken picture databases: an alert, no drawing beyond what was whole, no read past a
// resource (the emulator would stop), nothing left allocated.
class ViewerBadPicture : public testing::Test {
  protected:
    void SetUp() override { m_pic = MakePattern(256, 300, 280); }

    void RunWith(std::vector<uint8_t> head, std::vector<std::vector<uint8_t>> tiles) {
        m_emu = std::make_unique<CPalmEmulator>(DeviceConfig{});
        AddApplication(*m_emu);
        if (!head.empty()) m_emu->AddResource("HEAD", 0, std::move(head));
        for (size_t i = 0; i < tiles.size(); ++i)
            m_emu->AddResource("BITM", uint16_t(i), std::move(tiles[i]));
        m_emu->QueueEvent(Event::Key(kPageDown));
        m_emu->QueueEvent(Event::Key(kHard3, kCommandKey));
        m_emu->QueueEvent(Event::Stop());
        ASSERT_TRUE(m_emu->Run(ViewerCode1())) << Joined(m_emu->Errors());
        EXPECT_TRUE(m_emu->Errors().empty()) << Joined(m_emu->Errors());
        EXPECT_EQ(m_emu->Alerts(), std::vector<uint16_t>{kAlertCannotShow});
    }

    std::vector<uint8_t> Head(bool compressed = true) const {
        return EncodeHead(m_pic, compressed);
    }
    std::vector<std::vector<uint8_t>> Tiles(bool compressed = true) const {
        return EncodeTiles(m_pic, compressed);
    }

    TestPicture m_pic;
    std::unique_ptr<CPalmEmulator> m_emu;
};

TEST_F(ViewerBadPicture, MissingHead) {
    RunWith({}, Tiles());
    EXPECT_TRUE(m_emu->Draws().empty());
}

TEST_F(ViewerBadPicture, HeadTooShortOrWithoutColourTable) {
    std::vector<uint8_t> head = Head();
    head.resize(35);
    RunWith(head, Tiles());
    EXPECT_TRUE(m_emu->Draws().empty());
    head = Head();
    head.resize(36 + 1023);
    RunWith(head, Tiles());
    EXPECT_TRUE(m_emu->Draws().empty());
}

TEST_F(ViewerBadPicture, HeadInconsistentWithItself) {
    for (size_t field : {4u, 8u, 12u, 16u, 20u, 24u, 28u, 32u}) {
        std::vector<uint8_t> head = Head();
        head[field + 2] = uint8_t(head[field + 2] + 1);  // 256 more
        RunWith(head, Tiles());
        EXPECT_TRUE(m_emu->Draws().empty()) << "field at " << field;
    }
}

TEST_F(ViewerBadPicture, TileMissingOrTooLarge) {
    std::vector<std::vector<uint8_t>> tiles = Tiles();
    tiles.pop_back();
    RunWith(Head(), tiles);
    EXPECT_TRUE(m_emu->Draws().empty());

    tiles = Tiles(false);
    tiles[1].push_back(0);
    RunWith(Head(), tiles);
    EXPECT_TRUE(m_emu->Draws().empty());
}

TEST_F(ViewerBadPicture, ShortTileInAnUncompressedPicture) {
    std::vector<std::vector<uint8_t>> tiles = Tiles(false);
    tiles[0].resize(tiles[0].size() - 2);
    RunWith(Head(false), tiles);
    EXPECT_TRUE(m_emu->Draws().empty());
}

TEST_F(ViewerBadPicture, RunLengthDataThatEndsEarlyOrOverruns) {
    // The last tile is only reached by scrolling: the first screen is drawn, then the
    // broken tile stops the viewer with the alert.
    std::vector<std::vector<uint8_t>> tiles = Tiles();
    ASSERT_LT(tiles[3].size(), PlainTile(m_pic, 3).size());
    tiles[3].pop_back();  // the last run or literal is cut short
    RunWith(Head(), tiles);
    EXPECT_FALSE(m_emu->Draws().empty());

    tiles = Tiles();
    tiles[3].insert(tiles[3].begin(), {0x7F, 0x00});  // 128 more bytes than the tile holds
    RunWith(Head(), tiles);
}

}  // namespace
}  // namespace viewer_test
