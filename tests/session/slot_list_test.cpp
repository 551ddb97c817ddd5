#include "session/slot_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string PathNo(int i) {
    return "/data/file" + std::to_string(i) + ".prc";
}

TEST(SlotList, AddKeepsOrderAndRefusesDuplicatesIgnoringCase) {
    CSlotList list;
    EXPECT_TRUE(list.Add("/a/One.prc"));
    EXPECT_TRUE(list.Add("/a/two.pdb"));
    EXPECT_FALSE(list.Add("/A/ONE.PRC"));
    EXPECT_TRUE(list.Contains("/a/TWO.pdb"));
    EXPECT_EQ(list.Count(), 2);
    list.Rewind();
    EXPECT_STREQ(list.Current(), "/a/One.prc");
    list.Next();
    EXPECT_STREQ(list.Current(), "/a/two.pdb");
}

TEST(SlotList, The513thDistinctPathIsRefused) {
    CSlotList list;
    for (int i = 0; i < CSlotList::kSlots; ++i) ASSERT_TRUE(list.Add(PathNo(i))) << i;
    EXPECT_FALSE(list.Add(PathNo(CSlotList::kSlots)));
    EXPECT_EQ(list.Count(), 512);
}

TEST(SlotList, RemoveLeavesAHoleThatTheNextAddFills) {
    CSlotList list;
    list.Add("/x/a");
    list.Add("/x/b");
    list.Add("/x/c");
    EXPECT_FALSE(list.Remove("/x/B"));  // exact case only
    EXPECT_TRUE(list.Remove("/x/b"));
    EXPECT_EQ(list.At(1), nullptr);
    EXPECT_STREQ(list.At(2), "/x/c");
    EXPECT_TRUE(list.Add("/x/d"));
    EXPECT_STREQ(list.At(1), "/x/d");
}

TEST(SlotList, CursorSkipsHolesAndStopsAt512) {
    CSlotList list;
    list.Add("/x/a");
    list.Add("/x/b");
    list.Add("/x/c");
    list.Remove("/x/a");
    list.Remove("/x/b");
    list.Rewind();
    EXPECT_EQ(list.CursorIndex(), 2);
    EXPECT_STREQ(list.Current(), "/x/c");
    list.Next();
    EXPECT_EQ(list.CursorIndex(), 512);
    EXPECT_EQ(list.Current(), nullptr);
    EXPECT_EQ(list.CurrentPath(), "");
    list.Next();  // never beyond the end
    EXPECT_EQ(list.CursorIndex(), 512);
}

TEST(SlotList, EmptyListRewindsToTheEnd) {
    CSlotList list;
    list.Rewind();
    EXPECT_EQ(list.CursorIndex(), 512);
    EXPECT_EQ(list.Current(), nullptr);
}

TEST(SlotList, SetAtReplacesAndClearEmpties) {
    CSlotList list;
    list.Add("/x/pic.bmp");
    list.Add("/x/b");
    list.SetAt(0, "/tmp/PIC.PDB");
    EXPECT_STREQ(list.At(0), "/tmp/PIC.PDB");
    list.SetAt(-1, "/ignored");
    list.SetAt(512, "/ignored");
    EXPECT_EQ(list.Count(), 2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Contains("/x/b"));
}

}  // namespace
