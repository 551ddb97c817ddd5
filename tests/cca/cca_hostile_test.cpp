// Damaged and hostile archives: every truncation, huge lengths, end offsets that don't meet a
// member, unterminated names. Nothing may crash, hang or write outside the destination.
#include <gtest/gtest.h>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"

using namespace ccatest;

namespace {

class CcaHostile : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(root_.Path() / "out"); }
    std::string ArchivePath() const { return root_.File("a.cca"); }
    std::string Dest() const { return root_.File("out") + "/"; }

    // Runs every reader operation over the bytes; returns Extract's result for strName.
    bool Exercise(const Bytes& bytes, const std::string& strName = "x") {
        WriteFileBytes(ArchivePath(), bytes);
        CCcaArchive archive;
        archive.SetDestDir(Dest());
        if (!archive.Open(ArchivePath())) return false;
        archive.ReadOptions(Dest());
        for (const CCcaMember& m : archive.GetMembers()) {
            archive.HasMember(m.m_strFileName);
            archive.Extract(m.m_strFileName);
            archive.ExtractMember(m);
        }
        const bool bResult = archive.Extract(strName);
        lastError_ = archive.GetError();
        archive.Close();
        return bResult;
    }
    void ExpectOnlyInDest() const {
        for (const std::string& f : root_.Files()) {
            if (f == "a.cca") continue;
            EXPECT_EQ(f.rfind("out/", 0), 0u) << "written outside the destination: " << f;
        }
    }

    TempDir root_;
    int lastError_ = 0;
};

Bytes MixedArchive() {
    return ArchiveBuilder()
        .Stored("OPTIONS", ToBytes("Title=T\nPass=\nNeedColor=1\nOSVersion=3.5\n"))
        .Zlib("README", Text(3000), 700)
        .Stored("All\\a.prc", Random(300, 5))
        .Zlib("Color\\c.prc", Text(2000))
        .Skipped("NonC\\s.prc", Random(100, 6))
        .Stored("All\\..\\..\\x", ToBytes("escape"))
        .Stored("NonC\\/tmp/cc-cca-escape", ToBytes("escape"))
        .Build();
}

TEST_F(CcaHostile, TruncatedAtEveryLength) {
    const Bytes full = MixedArchive();
    for (size_t n = 0; n <= full.size(); ++n) {
        Exercise(Bytes(full.begin(), full.begin() + n), "c.prc");
    }
    ExpectOnlyInDest();
    EXPECT_FALSE(std::filesystem::exists("/tmp/cc-cca-escape"));
}

TEST_F(CcaHostile, TruncatedWithEndOffsetOfTheCut) {
    // The end offset matches the cut, so the walk ends there instead of at a failed read.
    const Bytes full = MixedArchive();
    for (size_t n = cca::kHeaderSize; n <= full.size(); n += 7) {
        Bytes cut(full.begin(), full.begin() + n);
        cca::PutU32(cut.data() + cca::kEndOffsetPos, uint32_t(n));
        Exercise(cut, "a.prc");
    }
    ExpectOnlyInDest();
}

TEST_F(CcaHostile, StoredMemberCutShortKeepsWhatWasThereAndReportsCrc) {
    const Bytes content = Random(1000, 7);
    Bytes bytes = ArchiveBuilder().Stored("All\\x", content).Build();
    bytes.resize(bytes.size() - 400);
    EXPECT_TRUE(Exercise(bytes));
    EXPECT_EQ(lastError_, cca::kErrCrc);
    EXPECT_EQ(ReadFileBytes(Dest() + "x"), Bytes(content.begin(), content.begin() + 600));
}

TEST_F(CcaHostile, HugeStoredSizes) {
    for (uint16_t method : {cca::kMethodStored, cca::kMethodSkipped}) {
        RawMember m{0, method, "All\\x", false, ToBytes("abc"), 0xFFFFFFFFu, 0};
        EXPECT_TRUE(Exercise(ArchiveBuilder().Add(m).Build())) << method;
    }
    // Compressed: the first chunk is whole, then the member runs out of file.
    const Bytes chunk = ArchiveBuilder::Chunk(ToBytes("abc"));
    RawMember z{0, cca::kMethodZlib, "All\\x", false, chunk, 0xFFFFFFFFu, 0};
    EXPECT_FALSE(Exercise(ArchiveBuilder().Add(z).Build()));
    EXPECT_EQ(lastError_, cca::kErrDamaged);
    ExpectOnlyInDest();
}

TEST_F(CcaHostile, ChunkLengthsOutOfBounds) {
    for (uint32_t len : {0xFFFFFFFFu, uint32_t(cca::kBufferSize + 1), 100u, 0u}) {
        Bytes data(4);
        cca::PutU32(data.data(), len);
        data.resize(4 + 50, 0x55);
        RawMember m{0, cca::kMethodZlib, "All\\x", false, data, uint32_t(data.size()), 0};
        EXPECT_FALSE(Exercise(ArchiveBuilder().Add(m).Build())) << len;
    }
    // A length field that doesn't fit in the stored size.
    RawMember shortSize{0, cca::kMethodZlib, "All\\x", false, ToBytes("ab"), 2, 0};
    EXPECT_FALSE(Exercise(ArchiveBuilder().Add(shortSize).Build()));
    EXPECT_EQ(lastError_, cca::kErrDamaged);
}

TEST_F(CcaHostile, EndOffsetsThatMeetNoMember) {
    const Bytes good =
        ArchiveBuilder().Stored("All\\x", ToBytes("1")).Stored("All\\y", ToBytes("2")).Build();
    for (uint32_t end : {0u, 10u, 85u, 100u, 0xFFFFFFFFu}) {
        Bytes bytes = good;
        cca::PutU32(bytes.data() + cca::kEndOffsetPos, end);
        EXPECT_TRUE(Exercise(bytes, "y")) << end;
        EXPECT_EQ(ReadFileBytes(Dest() + "y"), ToBytes("2"));
    }
}

TEST_F(CcaHostile, UnterminatedNames) {
    RawMember m{0, cca::kMethodStored, "All\\no-nul-to-the-end", true, {}, 0, 0};
    WriteFileBytes(ArchivePath(), ArchiveBuilder().Add(m).Build());
    CCcaArchive archive;
    EXPECT_FALSE(archive.Open(ArchivePath()));
    EXPECT_EQ(archive.GetError(), cca::kErrDamaged);

    // A name of only 0xFF bytes, a member header of only 0xFF (low flag bits: end of list).
    Bytes bytes = ArchiveBuilder().Build();
    bytes.resize(bytes.size() + 20000, 0xFF);
    cca::PutU32(bytes.data() + cca::kEndOffsetPos, uint32_t(bytes.size()));
    EXPECT_TRUE(Exercise(bytes));
    Bytes names = ArchiveBuilder().Build();
    names.resize(names.size() + cca::kMemberHeaderSize, 0);
    names.resize(names.size() + 70000, 'A');
    cca::PutU32(names.data() + cca::kEndOffsetPos, uint32_t(names.size()));
    EXPECT_FALSE(Exercise(names));
}

TEST_F(CcaHostile, ManyEmptyMembers) {
    // Header-only members: the walk advances by at least 13 bytes each time.
    ArchiveBuilder builder;
    for (int i = 0; i < 5000; ++i) builder.Stored("All\\x", {});
    WriteFileBytes(ArchivePath(), builder.Build());
    CCcaArchive archive;
    archive.SetDestDir(Dest());
    ASSERT_TRUE(archive.Open(ArchivePath()));
    EXPECT_EQ(archive.GetMemberCount(), cca::kMaxMembers);
    EXPECT_TRUE(archive.Extract("x"));
    EXPECT_EQ(archive.GetError(), 0);
}

}  // namespace
