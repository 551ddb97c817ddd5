// Opening and listing archives: magic, end offset, member table, damaged lists.
#include <gtest/gtest.h>

#include <cstdio>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"

using namespace ccatest;

namespace {

class CcaListing : public ::testing::Test {
  protected:
    std::string Write(const Bytes& bytes) {
        const std::string path = dir_.File("a.cca");
        WriteFileBytes(path, bytes);
        return path;
    }
    TempDir dir_;
};

TEST_F(CcaListing, MissingFileIs102) {
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(dir_.File("absent.cca")));
    EXPECT_EQ(archive.GetError(), cca::kErrOpenArchive);
    EXPECT_FALSE(archive.IsOpen());
}

TEST_F(CcaListing, WrongMagicIs104) {
    Bytes bytes = ArchiveBuilder().Stored("All\\a.prc", ToBytes("x")).Build();
    bytes[3] ^= 0x20;  // one letter in other case
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetError(), cca::kErrMagic);
    EXPECT_FALSE(archive.IsOpen());
}

TEST_F(CcaListing, ByteAfterMagicMustBeNul) {
    Bytes bytes = ArchiveBuilder().Stored("All\\a.prc", ToBytes("x")).Build();
    bytes[22] = ' ';
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetError(), cca::kErrMagic);
}

TEST_F(CcaListing, LineEndsOfMagicAreLfThenCr) {
    Bytes bytes = ArchiveBuilder().Build();
    std::swap(bytes[20], bytes[21]);
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetError(), cca::kErrMagic);
}

TEST_F(CcaListing, ShortFilesAgainstMagic) {
    // The header of a short file reads as zero behind its end: 22 bytes of magic get their NUL.
    const Bytes magic(cca::kMagic.begin(), cca::kMagic.end());
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(Write(Bytes(magic.begin(), magic.end() - 1))));
    EXPECT_EQ(archive.GetError(), cca::kErrMagic);
    EXPECT_FALSE(archive.Open(Write({})));
    EXPECT_EQ(archive.GetError(), cca::kErrMagic);
    ASSERT_TRUE(archive.Open(Write(magic)));
    EXPECT_EQ(archive.GetMemberCount(), 0u);
}

TEST_F(CcaListing, ShortHeaderReadsAsZeroAndListsNothing) {
    Bytes bytes(cca::kMagic.begin(), cca::kMagic.end());
    bytes.push_back(0);
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetMemberCount(), 0u);
}

TEST_F(CcaListing, EndOffset84HasNoMembers) {
    // Members beyond the end offset are not part of the archive.
    const Bytes bytes = ArchiveBuilder().Stored("All\\a.prc", ToBytes("abc")).EndOffset(84).Build();
    CCcaArchive archive;
    archive.SetDestDir(dir_.Dir());
    ASSERT_TRUE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetMemberCount(), 0u);
    EXPECT_FALSE(archive.HasMember("a.prc"));
    EXPECT_FALSE(archive.ReadOptions(dir_.Dir()));
    EXPECT_TRUE(archive.Extract("a.prc"));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("a.prc")));
}

TEST_F(CcaListing, NamesSplitAtFirstBackslash) {
    const Bytes bytes = ArchiveBuilder()
                            .Stored("Color\\app.prc", ToBytes("1"))
                            .Stored("README", ToBytes("2"))
                            .Stored("NonC\\sub\\deep.pdb", ToBytes("3"))
                            .Stored("\\lead.prc", ToBytes("4"))
                            .Build();
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(Write(bytes)));
    ASSERT_EQ(archive.GetMemberCount(), 4u);
    EXPECT_TRUE(archive.GetMember(0).m_bHasGroup);
    EXPECT_EQ(archive.GetMember(0).m_strGroup, "Color");
    EXPECT_EQ(archive.GetMember(0).m_strFileName, "app.prc");
    EXPECT_FALSE(archive.GetMember(1).m_bHasGroup);
    EXPECT_EQ(archive.GetMember(1).m_strFileName, "README");
    EXPECT_EQ(archive.GetMember(2).m_strGroup, "NonC");
    EXPECT_EQ(archive.GetMember(2).m_strFileName, "sub\\deep.pdb");
    EXPECT_TRUE(archive.GetMember(3).m_bHasGroup);
    EXPECT_EQ(archive.GetMember(3).m_strGroup, "");
    EXPECT_EQ(archive.GetMember(3).m_strFileName, "lead.prc");
    EXPECT_EQ(archive.GetError(), 0);
}

TEST_F(CcaListing, OpenLeavesFilePositionedAtStart) {
    const std::string path = Write(ArchiveBuilder().Stored("All\\a", ToBytes("abc")).Build());
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(path));
    EXPECT_TRUE(archive.IsOpen());
    archive.Close();
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_EQ(archive.GetMemberCount(), 0u);
    EXPECT_FALSE(archive.HasMember("a"));
}

TEST_F(CcaListing, ReopenReplacesTheTable) {
    const std::string first = dir_.File("1.cca");
    const std::string second = dir_.File("2.cca");
    WriteFileBytes(first, ArchiveBuilder().Stored("All\\one", ToBytes("1")).Build());
    WriteFileBytes(second, ArchiveBuilder().Stored("All\\two", ToBytes("2")).Build());
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(first));
    ASSERT_TRUE(archive.Open(second));
    EXPECT_FALSE(archive.HasMember("one"));
    EXPECT_TRUE(archive.HasMember("two"));
}

TEST_F(CcaListing, MoreThan512MembersListsFirst512) {
    ArchiveBuilder builder;
    for (int i = 0; i < 600; ++i)
        builder.Stored("All\\m" + std::to_string(i), ToBytes(std::to_string(i)));
    CCcaArchive archive;
    archive.SetDestDir(dir_.Dir());
    ASSERT_TRUE(archive.Open(Write(builder.Build())));
    ASSERT_EQ(archive.GetMemberCount(), cca::kMaxMembers);
    EXPECT_EQ(archive.GetMember(511).m_strFileName, "m511");
    EXPECT_FALSE(archive.HasMember("m512"));
    // Extraction walks the file, not the table.
    EXPECT_TRUE(archive.Extract("m599"));
    EXPECT_EQ(ReadFileBytes(dir_.File("m599")), ToBytes("599"));
}

TEST_F(CcaListing, FlagsWithLowBitsEndTheListing) {
    RawMember bad{0x01, cca::kMethodStored, "All\\hidden", false, ToBytes("h"),
                  1,    Crc(ToBytes("h"))};
    const Bytes bytes = ArchiveBuilder()
                            .Stored("All\\first", ToBytes("f"))
                            .Add(bad)
                            .Stored("All\\after", ToBytes("a"))
                            .Build();
    CCcaArchive archive;
    archive.SetDestDir(dir_.Dir());
    ASSERT_TRUE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetError(), cca::kErrDamaged);
    ASSERT_EQ(archive.GetMemberCount(), 1u);
    EXPECT_EQ(archive.GetMember(0).m_strFileName, "first");
    // Extraction stops there too, with success.
    EXPECT_TRUE(archive.Extract("after"));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("after")));
}

TEST_F(CcaListing, HighFlagBitsAreNotInterpreted) {
    RawMember m{0xF0, cca::kMethodStored, "All\\x", false, ToBytes("x"), 1, Crc(ToBytes("x"))};
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(Write(ArchiveBuilder().Add(m).Build())));
    EXPECT_EQ(archive.GetMemberCount(), 1u);
    EXPECT_EQ(archive.GetError(), 0);
}

TEST_F(CcaListing, NameCutByEndOfFileEmptiesTable) {
    Bytes bytes = ArchiveBuilder()
                      .Stored("All\\first", ToBytes("f"))
                      .Stored("All\\second", ToBytes("s"))
                      .Build();
    bytes.resize(bytes.size() - 5);  // into the second name
    // The end offset still says the full length, so the walk meets the cut name.
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetError(), cca::kErrDamaged);
    EXPECT_EQ(archive.GetMemberCount(), 0u);
}

TEST_F(CcaListing, NameWithoutNulInListingBuffer) {
    const std::string name511(511, 'n');
    const std::string name512(512, 'n');
    {
        CCcaArchive archive;
        ASSERT_TRUE(archive.Open(Write(ArchiveBuilder().Stored(name511, ToBytes("x")).Build())));
        EXPECT_EQ(archive.GetMemberCount(), 1u);
    }
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(Write(ArchiveBuilder().Stored(name512, ToBytes("x")).Build())));
    EXPECT_EQ(archive.GetError(), cca::kErrDamaged);
    EXPECT_EQ(archive.GetMemberCount(), 0u);
}

TEST_F(CcaListing, HeaderCutShortEndsListingQuietly) {
    Bytes bytes =
        ArchiveBuilder().Stored("All\\a", ToBytes("a")).Stored("All\\b", ToBytes("b")).Build();
    const size_t firstEnd = cca::kHeaderSize + cca::kMemberHeaderSize + 6 + 1;
    bytes.resize(firstEnd + 5);  // part of the second member header
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(Write(bytes)));
    EXPECT_EQ(archive.GetMemberCount(), 1u);
    EXPECT_EQ(archive.GetError(), 0);
}

TEST_F(CcaListing, HasMemberIgnoresCase) {
    const Bytes bytes = ArchiveBuilder()
                            .Stored("README", ToBytes("r"))
                            .Stored("All\\App.PRC", ToBytes("a"))
                            .Build();
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(Write(bytes)));
    EXPECT_TRUE(archive.HasMember("readme"));
    EXPECT_TRUE(archive.HasMember("ReadMe"));
    EXPECT_TRUE(archive.HasMember("app.prc"));
    EXPECT_FALSE(archive.HasMember("All\\App.PRC"));  // the file name, not the whole name
    EXPECT_FALSE(archive.HasMember("READM"));
}

TEST_F(CcaListing, SelectionByGroup) {
    const Bytes bytes = ArchiveBuilder()
                            .Stored("OPTIONS", ToBytes(""))
                            .Stored("All\\all.prc", ToBytes("1"))
                            .Stored("Color\\c.prc", ToBytes("2"))
                            .Stored("NonC\\g.prc", ToBytes("3"))
                            .Stored("all\\lower.prc", ToBytes("4"))
                            .Stored("Other\\o.prc", ToBytes("5"))
                            .Stored("\\empty.prc", ToBytes("6"))
                            .Build();
    CCcaArchive archive;
    ASSERT_TRUE(archive.Open(Write(bytes)));
    auto names = [](const std::vector<CCcaMember>& members) {
        std::vector<std::string> out;
        for (const auto& m : members) out.push_back(m.m_strFileName);
        return out;
    };
    EXPECT_EQ(names(archive.SelectMembers(true)), (std::vector<std::string>{"all.prc", "c.prc"}));
    EXPECT_EQ(names(archive.SelectMembers(false)), (std::vector<std::string>{"all.prc", "g.prc"}));
}

}  // namespace

namespace {

TEST(CcaListingSamples, PalmDatabaseIsNoArchive) {
    // A database file in a folder named like an archive is tried as one and must fail cleanly.
    const std::filesystem::path sample =
        std::filesystem::path(CC_SHARED_DIR) / "samples" / "palm" / "mulg.prc";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no shared samples";
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(sample.string()));
    EXPECT_EQ(archive.GetError(), cca::kErrMagic);
    EXPECT_FALSE(archive.IsOpen());
}

}  // namespace
