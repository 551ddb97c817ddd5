// The virtual handheld's memory card against a minimal desktop: pilot-xfer's sequence for
// "-D /PALM/Launcher -i FILE" request by request, and the answers a Palm OS 4/5 unit gives
// to what goes wrong.
#include <filesystem>
#include <fstream>

#include "tests/handheld/handheld_fixture.h"
#include "tools/handheld/card_volume.h"

namespace handheld_test {
namespace {

using handheld::HandheldConfig;

std::vector<uint8_t> VolPath(uint16_t volume, const std::string& path, int mode = -1) {
    std::vector<uint8_t> a;
    Put16(a, volume);
    if (mode >= 0) Put16(a, static_cast<uint16_t>(mode));
    PutStr(a, path);
    return a;
}
std::vector<uint8_t> Ref(uint32_t ref, int64_t second = -1) {
    std::vector<uint8_t> a;
    Put32(a, ref);
    if (second >= 0) Put32(a, static_cast<uint32_t>(second));
    return a;
}

HandheldConfig CardConfig(uint64_t size = 1024 * 1024) {
    HandheldConfig c = FastConfig();
    c.cardSize = size;
    c.cardLabel = "SD CARD";
    return c;
}

class CardTest : public HandheldTest {
  protected:
    // Opens path; 0 and the error when it fails.
    uint32_t Open(const std::string& path, int mode, uint16_t* error = nullptr) {
        const Response r = Call(Request(0x44, 0x20, VolPath(1, path, mode)));
        if (error) *error = r.error;
        if (r.error || r.args.empty()) return 0;
        return Get32(r.args[0].second, 0);
    }
    // VFSFileWrite: the request, then the data as a message of its own. The second answer.
    Response Write(uint32_t ref, const std::vector<uint8_t>& data) {
        const Response first = Call(Request(0x46, 0x20, Ref(ref, int64_t(data.size()))));
        EXPECT_EQ(first.error, 0);
        EXPECT_TRUE(first.args.empty());
        if (first.error) return first;
        std::vector<uint8_t> bytes;
        Response second;
        EXPECT_TRUE(desk->Call(data, bytes));
        EXPECT_TRUE(DecodeResponse(bytes, second));
        EXPECT_EQ(second.function, 0xC6);
        return second;
    }
};

TEST_F(CardTest, PilotXferInstallsIntoTheLauncherFolderFaithfully) {
    StartHandheld(CardConfig());
    Connect();
    EXPECT_EQ(Call(Request0(0x2E)).error, 0);  // OpenConduit
    // findVFSPath: the volumes, their infos and labels.
    Response r = Call(Request0(0x55));
    ASSERT_EQ(r.error, 0);
    ASSERT_EQ(r.args[0].second, (std::vector<uint8_t>{0, 1, 0, 1}));
    r = Call(Request(0x56, 0x20, {0, 1}));
    ASSERT_EQ(r.args[0].second.size(), 28u);
    EXPECT_EQ(Get32(r.args[0].second, 0), 1u);            // slot based, writable
    EXPECT_EQ(Get32(r.args[0].second, 4), 0x76666174u);   // 'vfat'
    EXPECT_EQ(Get16(r.args[0].second, 18), 1);            // slot 1
    EXPECT_EQ(Get32(r.args[0].second, 20), 0x73646967u);  // 'sdig'
    r = Call(Request(0x57, 0x20, {0, 1}));
    EXPECT_EQ(r.args[0].second, (std::vector<uint8_t>{'S', 'D', ' ', 'C', 'A', 'R', 'D', 0}));
    r = Call(Request(0x59, 0x20, {0, 1}));
    EXPECT_EQ(Get32(r.args[0].second, 0), 0u);
    EXPECT_EQ(Get32(r.args[0].second, 4), 1024u * 1024);
    // The target is a directory: its attributes say so, and the file name is appended.
    uint32_t dir = Open("/PALM/Launcher", 2);
    ASSERT_NE(dir, 0u);
    r = Call(Request(0x4C, 0x20, Ref(dir)));
    EXPECT_EQ(Get32(r.args[0].second, 0) & 0x10, 0x10u);
    EXPECT_EQ(Call(Request(0x45, 0x20, Ref(dir))).error, 0);
    uint16_t error = 0;
    EXPECT_EQ(Open("/PALM/Launcher/Book.pdb", 2, &error), 0u);
    EXPECT_EQ(error, 0x05);  // not found, in the DLP server's own code
    EXPECT_EQ(Call(Request(0x43, 0x20, VolPath(1, "/PALM/Launcher/Book.pdb"))).error, 0);
    const uint32_t file = Open("/PALM/Launcher/Book.pdb", 7);
    ASSERT_NE(file, 0u);
    // 16 KB at a time, as pilot-xfer reads its file.
    std::vector<uint8_t> data(40000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    for (size_t at = 0; at < data.size(); at += 16384) {
        const std::vector<uint8_t> chunk(data.begin() + long(at),
                                         data.begin() + long(std::min(data.size(), at + 16384)));
        r = Write(file, chunk);
        EXPECT_EQ(r.error, 0);
        ASSERT_EQ(r.args.size(), 1u);
        EXPECT_EQ(Get32(r.args[0].second, 0), chunk.size());
    }
    r = Call(Request(0x5C, 0x20, Ref(file)));
    EXPECT_EQ(Get32(r.args[0].second, 0), data.size());
    EXPECT_EQ(Call(Request(0x45, 0x20, Ref(file))).error, 0);
    EndSync();
    const auto files = hh->CardFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].first, "/PALM/Launcher/Book.pdb");
    EXPECT_EQ(files[0].second, data);
}

TEST_F(CardTest, NamesPathsAndReferencesAreCheckedAsAUnitChecksThem) {
    StartHandheld(CardConfig());
    Connect();
    const auto create = [&](const std::string& path) {
        return Call(Request(0x43, 0x20, VolPath(1, path))).error;
    };
    EXPECT_EQ(create("/PALM/Launcher/a\\b.prc"), 0x2A0E);
    EXPECT_EQ(create("/PALM/Launcher/" + std::string(256, 'n')), 0x2A0E);
    EXPECT_EQ(create("/PALM/Launcher/" + std::string(255, 'n')), 0);
    EXPECT_EQ(create("/PALM/Launcher/.."), 0x2A0E);
    EXPECT_EQ(create("/NoSuchDir/x.prc"), 0x2A13);
    EXPECT_EQ(create("/palm/launcher/" + std::string(255, 'N')), 0x09);  // names ignore case
    EXPECT_EQ(Call(Request(0x50, 0x20, VolPath(1, "/PALM"))).error, 0x09);
    EXPECT_EQ(Call(Request(0x48, 0x20, VolPath(1, "/PALM"))).error, 0x2A0D);
    EXPECT_EQ(Call(Request(0x48, 0x20, VolPath(1, "/PALM/none.prc"))).error, 0x05);
    EXPECT_EQ(Call(Request(0x56, 0x20, {0, 2})).error, 0x2A09);  // no volume 2
    // References never issued, and one opened only for reading.
    EXPECT_EQ(Call(Request(0x45, 0x20, Ref(0x1234))).error, 0x2A03);
    EXPECT_EQ(Call(Request(0x46, 0x20, Ref(0x1234, 10))).error, 0x2A03);
    const uint32_t read = Open("/PALM/Launcher/" + std::string(255, 'n'), 2);
    EXPECT_EQ(Call(Request(0x5B, 0x20, Ref(read, 0))).error, 0x2A05);
    EXPECT_EQ(
        Call(Request(0x48, 0x20, VolPath(1, "/PALM/Launcher/" + std::string(255, 'n')))).error,
        0x2A04);  // still open
    EndSync();
}

TEST_F(CardTest, WithoutACardOrExpansionManagerOrWithAWriteProtectedCard) {
    HandheldConfig none = FastConfig();
    StartHandheld(none);
    Connect();
    EXPECT_EQ(Call(Request0(0x3C)).error, 0);       // the slot is there ...
    EXPECT_EQ(Call(Request0(0x55)).error, 0x290D);  // ... but no volume
    EXPECT_EQ(Call(Request(0x3D, 0x20, {0, 1})).error, 0x2903);
    EndSync();
    hh->Stop();

    HandheldConfig old = CardConfig();
    old.romVersion = 0x03503000;  // Palm OS 3.5: no expansion manager
    StartHandheld(old);
    Connect();
    EXPECT_EQ(Call(Request0(0x3C)).error, 0x02);
    EXPECT_EQ(Call(Request0(0x55)).error, 0x02);
    EndSync();
    hh->Stop();

    HandheldConfig locked = CardConfig();
    locked.cardReadOnly = true;
    StartHandheld(locked);
    Connect();
    const Response info = Call(Request(0x56, 0x20, {0, 1}));
    EXPECT_EQ(Get32(info.args[0].second, 0), 3u);  // slot based, read-only
    EXPECT_EQ(Call(Request(0x43, 0x20, VolPath(1, "/PALM/Launcher/x.prc"))).error, 0x2A05);
    uint16_t error = 0;
    Open("/PALM/Launcher", 7, &error);
    EXPECT_EQ(error, 0x2A05);
    EndSync();
}

TEST_F(CardTest, AFullCardKeepsWhatFitsAndAPulledOneFailsTheNextRequest) {
    HandheldConfig c = CardConfig(64 * 1024);
    c.cardPullAfterBytes = 50000;
    StartHandheld(c);
    Connect();
    EXPECT_EQ(Call(Request(0x43, 0x20, VolPath(1, "/PALM/Launcher/big.pdb"))).error, 0);
    const uint32_t file = Open("/PALM/Launcher/big.pdb", 7);
    Response r = Write(file, std::vector<uint8_t>(40000, 1));
    EXPECT_EQ(Get32(r.args[0].second, 0), 40000u);
    // The card is pulled 10,000 bytes into this one: a short write ...
    r = Write(file, std::vector<uint8_t>(20000, 2));
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(Get32(r.args[0].second, 0), 10000u);
    // ... and every request after it fails.
    EXPECT_EQ(Call(Request(0x46, 0x20, Ref(file, 10000))).error, 0x2A03);
    EXPECT_EQ(Call(Request(0x3D, 0x20, {0, 1})).error, 0x2903);
    EXPECT_EQ(Call(Request(0x48, 0x20, VolPath(1, "/PALM/Launcher/big.pdb"))).error, 0x2A09);
    EndSync();
    hh->Stop();

    StartHandheld(CardConfig(64 * 1024));
    Connect();
    EXPECT_EQ(Call(Request(0x43, 0x20, VolPath(1, "/PALM/Launcher/big.pdb"))).error, 0);
    const uint32_t full = Open("/PALM/Launcher/big.pdb", 7);
    EXPECT_EQ(Write(full, std::vector<uint8_t>(30000, 1)).error, 0);
    EXPECT_EQ(Write(full, std::vector<uint8_t>(40000, 2)).error, 0x2A0F);
    r = Call(Request(0x5C, 0x20, Ref(full)));
    EXPECT_EQ(Get32(r.args[0].second, 0), 64u * 1024);  // what fit was kept
    EndSync();
}

TEST_F(CardTest, TheCardIsWrittenOutAfterEachSync) {
    HandheldConfig c = CardConfig();
    const std::string out =
        (std::filesystem::temp_directory_path() / ("cc-card-out-" + std::to_string(getpid())))
            .string();
    c.outDir = out;
    StartHandheld(c);
    Connect();
    EXPECT_EQ(Call(Request(0x43, 0x20, VolPath(1, "/PALM/Launcher/e.pdb"))).error, 0);
    const uint32_t file = Open("/PALM/Launcher/e.pdb", 7);
    Write(file, {'a', 'b', 'c'});
    EndSync();
    const auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(slurp(out + "/card/PALM/Launcher/e.pdb"), "abc");
    EXPECT_NE(slurp(out + "/requests.json").find("\"VFSFileWriteData\""), std::string::npos);
    // The files are closed by now: Windows removes no folder with an open file in it.
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    EXPECT_FALSE(ec) << ec.message();
}

TEST(CardVolume, AWriteBehindAnEndAnotherReferenceMovedFillsTheGapAndCountsItsSpace) {
    using handheld::CardResult;
    handheld::CCardVolume card(100000, "CARD", false);
    ASSERT_EQ(card.CreateFile("/PALM/Launcher/a.pdb"), CardResult::kOk);
    uint32_t one = 0, two = 0;
    ASSERT_EQ(card.Open("/PALM/Launcher/a.pdb", 7, one), CardResult::kOk);
    ASSERT_EQ(card.Open("/PALM/Launcher/a.pdb", 7, two), CardResult::kOk);
    const std::vector<uint8_t> data(1000, 5);
    uint32_t written = 0;
    EXPECT_EQ(card.Write(one, data.data(), data.size(), UINT64_MAX, written), CardResult::kOk);
    // The other reference empties the file; the first writes on where it was.
    EXPECT_EQ(card.Resize(two, 0), CardResult::kOk);
    EXPECT_EQ(card.Used(), 0u);
    EXPECT_EQ(card.Write(one, data.data(), 10, UINT64_MAX, written), CardResult::kOk);
    EXPECT_EQ(written, 10u);
    uint32_t size = 0;
    EXPECT_EQ(card.FileSize(two, size), CardResult::kOk);
    EXPECT_EQ(size, 1010u);
    EXPECT_EQ(card.Used(), 1010u);
    const std::vector<uint8_t> stored = card.Files().front().data;
    EXPECT_EQ(stored[999], 0);
    EXPECT_EQ(stored[1000], 5);
    // Without room nothing is taken, not even the gap.
    EXPECT_EQ(card.Resize(two, 0), CardResult::kOk);
    EXPECT_EQ(card.Write(one, data.data(), 10, 0, written), CardResult::kFull);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(card.Used(), 0u);
}

}  // namespace
}  // namespace handheld_test
