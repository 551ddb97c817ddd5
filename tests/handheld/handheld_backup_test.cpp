// The virtual handheld's side of a whole backup and its restore, request by request: the
// database list paged by the card's index as a real unit pages it, ROM kept apart, the
// header changes a restore sends, and the hard reset.
#include "tests/handheld/handheld_fixture.h"

namespace handheld_test {
namespace {

constexpr uint32_t kData = 0x44415441;  // 'DATA'

handheld::HandheldDatabase Db(const std::string& name, bool rom = false) {
    handheld::HandheldDatabase db;
    db.info.name = name;
    db.info.type = kData;
    db.info.creator = 0x54657374;  // 'Test'
    if (rom) db.info.attributes = pdb::kAttrReadOnly;
    db.records.push_back({std::vector<uint8_t>(10, 1), 0, 0, 0x1001});
    return db;
}

struct ListAnswer {
    int error = 0;
    int lastIndex = -1;
    bool more = false;
    std::vector<std::pair<int, std::string>> entries;  // card index, name
};

class HandheldBackupTest : public HandheldTest {
  protected:
    ListAnswer List(uint8_t flags, uint16_t start) {
        const Response r =
            Call(Request(0x16, 0x20, {flags, 0, uint8_t(start >> 8), uint8_t(start)}));
        ListAnswer a;
        a.error = r.error;
        if (r.error != 0) return a;
        const auto& d = r.args.at(0).second;
        a.lastIndex = Get16(d, 0);
        a.more = (d.at(2) & 0x80) != 0;
        for (size_t at = 4, n = 0; n < d.at(3); ++n) {
            a.entries.push_back(
                {Get16(d, at + 42), std::string(reinterpret_cast<const char*>(&d[at + 44]))});
            at += d[at];
        }
        return a;
    }
};

// RAM and ROM share the card's index: each list names its databases by it, answers from
// the index asked for on, says "more" while more follow, and ends with "not found".
TEST_F(HandheldBackupTest, ListsPageByTheCardsIndex) {
    prepare = [](handheld::CVirtualHandheld& h) {
        for (int i = 0; i < 45; ++i) h.AddDatabase(Db("Ram " + std::to_string(i), i % 3 == 1));
    };
    StartHandheld(FastConfig());
    Connect();
    const ListAnswer first = List(0xA0, 0);  // RAM, several an answer
    ASSERT_EQ(first.error, 0);
    EXPECT_EQ(first.entries.size(), 20u);
    EXPECT_TRUE(first.more);
    EXPECT_EQ(first.entries.front().first, 0);
    EXPECT_EQ(first.entries.at(1).first, 2);  // index 1 is in ROM
    EXPECT_EQ(first.lastIndex, first.entries.back().first);
    const ListAnswer second = List(0xA0, uint16_t(first.lastIndex + 1));
    EXPECT_EQ(second.entries.size(), 10u);
    EXPECT_FALSE(second.more);
    EXPECT_EQ(second.entries.back().first, 44);
    EXPECT_EQ(List(0xA0, uint16_t(second.lastIndex + 1)).error, 5);
    const ListAnswer rom = List(0x60, 0);
    ASSERT_EQ(rom.entries.size(), 15u);
    EXPECT_EQ(rom.entries.front().first, 1);
    // Without "several", one an answer.
    EXPECT_EQ(List(0x80, 3).entries.size(), 1u);
    EndSync();
}

// A restore's header changes: attribute bits, dates and version; not the kind of database,
// not on a read-only handle.
TEST_F(HandheldBackupTest, SetDbInfoChangesTheHeader) {
    prepare = [](handheld::CVirtualHandheld& h) { h.AddDatabase(Db("Target")); };
    StartHandheld(FastConfig());
    Connect();
    const uint8_t h = Call(Request(0x17, 0x20, NameArg("Target", 0, 0xC0))).args.at(0).second.at(0);
    std::vector<uint8_t> arg{h, 0};
    Put16(arg, 0x0008);  // clear backup
    Put16(arg, 0x0101);  // set hidden and (refused) resource
    Put16(arg, 7);       // version
    for (uint8_t b : {0x07, 0xD1, 0x06, 0x0C, 0x0D, 0x2E, 0x3A, 0x00}) arg.push_back(b);  // 2001
    for (int i = 0; i < 8; ++i) arg.push_back(0);  // no modification date: unchanged
    for (uint8_t b : {0x07, 0xE7, 0x08, 0x1C, 0x16, 0x0A, 0x3A, 0x00}) arg.push_back(b);  // 2023
    Put32(arg, 0);
    Put32(arg, 0);
    arg.push_back(0);
    EXPECT_EQ(Call(Request(0x3A, 0x20, arg)).error, 0);
    const uint8_t ro =
        Call(Request(0x17, 0x20, NameArg("Target", 0, 0x80))).args.at(0).second.at(0);
    arg[0] = ro;
    EXPECT_EQ(Call(Request(0x3A, 0x20, arg)).error, 0x0F);
    EndSync();
    const auto db = hh->FindDatabase("Target");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->info.attributes, pdb::kAttrHidden);
    EXPECT_EQ(db->info.version, 7);
    EXPECT_EQ(db->info.createDate, 992353618);  // 2001-06-12 13:46:58
    EXPECT_EQ(db->info.backupDate, 1693260658);
    EXPECT_EQ(db->info.modifyDate, 0);
}

// ROM databases are read-only and survive a hard reset; RAM and the user do not.
TEST_F(HandheldBackupTest, RomIsKeptByAHardReset) {
    prepare = [](handheld::CVirtualHandheld& h) {
        h.AddDatabase(Db("In Ram"));
        h.AddDatabase(Db("In Rom", true));
    };
    StartHandheld(FastConfig());
    Connect();
    EXPECT_EQ(Call(Request(0x17, 0x20, NameArg("In Rom", 0, 0xC0))).error, 0x0F);
    EXPECT_EQ(Call(Request(0x1A, 0x20, NameArg("In Rom"))).error, 0x0F);
    EndSync();
    hh->HardReset();
    EXPECT_FALSE(hh->FindDatabase("In Ram"));
    EXPECT_TRUE(hh->FindDatabase("In Rom"));
    EXPECT_TRUE(hh->User().name.empty());
    EXPECT_EQ(hh->User().userId, 0u);
}

TEST(ProgramOptionsBackup, RomFilesAndTheHardReset) {
    handheld::ProgramOptions o;
    std::string message;
    const char* args[] = {"cc-handheld", "--pty", "--load-rom",         "rom.prc",
                          "--load-rom",  "b.pdb", "--hard-reset-after", "1"};
    ASSERT_EQ(handheld::ParseProgramOptions(8, args, o, message), 0) << message;
    EXPECT_EQ(o.config.romFiles, (std::vector<std::string>{"rom.prc", "b.pdb"}));
    EXPECT_EQ(o.config.hardResetAfterSync, 1);
    const char* bad[] = {"cc-handheld", "--hard-reset-after", "0"};
    EXPECT_EQ(handheld::ParseProgramOptions(3, bad, o, message), 2);
    EXPECT_NE(message.find("--hard-reset-after"), std::string::npos);
}

}  // namespace
}  // namespace handheld_test
