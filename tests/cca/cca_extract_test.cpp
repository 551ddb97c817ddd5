// Extracting members: storage methods, CRC checks, damaged data, names that would leave the
// destination directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"

using namespace ccatest;

namespace {

class CcaExtract : public ::testing::Test {
  protected:
    // Archive in the scratch root, destination one level further down.
    void OpenBytes(const Bytes& bytes) {
        WriteFileBytes(ArchivePath(), bytes);
        std::filesystem::create_directories(root_.Path() / "out");
        archive_.SetDestDir(Dest());
        ASSERT_TRUE(archive_.Open(ArchivePath()));
    }
    std::string ArchivePath() const { return root_.File("a.cca"); }
    std::string Dest() const { return root_.File("out") + "/"; }
    std::string Out(const std::string& name) const { return Dest() + name; }
    // Every file below the root other than the archive must be inside the destination.
    void ExpectOnlyInDest() const {
        for (const std::string& f : root_.Files()) {
            if (f == "a.cca") continue;
            EXPECT_EQ(f.rfind("out/", 0), 0u) << "written outside the destination: " << f;
        }
    }

    TempDir root_;
    CCcaArchive archive_;
};

TEST_F(CcaExtract, StoredMemberAcrossSeveralBuffers) {
    const Bytes content = Random(3 * cca::kBufferSize + 17, 1);
    OpenBytes(ArchiveBuilder().Stored("All\\big.prc", content).Build());
    ASSERT_TRUE(archive_.Extract("big.prc"));
    EXPECT_EQ(archive_.GetError(), 0);
    EXPECT_EQ(ReadFileBytes(Out("big.prc")), content);
}

TEST_F(CcaExtract, ZlibMemberInManyChunks) {
    const Bytes content = Text(5 * cca::kBufferSize + 3);
    OpenBytes(ArchiveBuilder().Zlib("Color\\t.pdb", content).Build());
    ASSERT_TRUE(archive_.Extract("t.pdb"));
    EXPECT_EQ(archive_.GetError(), 0);
    EXPECT_EQ(ReadFileBytes(Out("t.pdb")), content);
}

TEST_F(CcaExtract, ZlibChunksOfUnevenSizes) {
    const Bytes content = Random(70000, 2);
    OpenBytes(ArchiveBuilder().Zlib("All\\r.bin", content, 999).Build());
    ASSERT_TRUE(archive_.Extract("r.bin"));
    EXPECT_EQ(archive_.GetError(), 0);
    EXPECT_EQ(ReadFileBytes(Out("r.bin")), content);
}

TEST_F(CcaExtract, ChunkInflatingBeyondBufferFails) {
    // A chunk must inflate to at most 65,536 bytes.
    const Bytes content = Text(cca::kBufferSize + 1);
    Bytes data = ArchiveBuilder::Chunk(content);
    OpenBytes(
        ArchiveBuilder()
            .Add({0, cca::kMethodZlib, "All\\x", false, data, uint32_t(data.size()), Crc(content)})
            .Build());
    EXPECT_FALSE(archive_.Extract("x"));
}

TEST_F(CcaExtract, EmptyMembers) {
    OpenBytes(ArchiveBuilder().Stored("All\\s", {}).Zlib("All\\z", {}).Build());
    EXPECT_TRUE(archive_.Extract("s"));
    EXPECT_TRUE(archive_.Extract("z"));
    EXPECT_EQ(archive_.GetError(), 0);
    EXPECT_TRUE(ReadFileBytes(Out("s")).empty());
    EXPECT_TRUE(std::filesystem::exists(Out("z")));
}

TEST_F(CcaExtract, SkippedMemberWritesEmptyFileAndChecksZeroCrc) {
    OpenBytes(ArchiveBuilder()
                  .Skipped("All\\skip", Random(150000, 3))
                  .Stored("All\\next", ToBytes("n"))
                  .Build());
    ASSERT_TRUE(archive_.Extract("skip"));
    EXPECT_EQ(archive_.GetError(), 0);
    EXPECT_TRUE(std::filesystem::exists(Out("skip")));
    EXPECT_EQ(std::filesystem::file_size(Out("skip")), 0u);
    // The data were passed over: the next member is still found.
    ASSERT_TRUE(archive_.Extract("next"));
    EXPECT_EQ(ReadFileBytes(Out("next")), ToBytes("n"));
}

TEST_F(CcaExtract, SkippedMemberWithNonZeroCrcIs106) {
    RawMember m{0, cca::kMethodSkipped, "All\\skip", false, ToBytes("abc"), 3, Crc(ToBytes("abc"))};
    OpenBytes(ArchiveBuilder().Add(m).Build());
    EXPECT_TRUE(archive_.Extract("skip"));
    EXPECT_EQ(archive_.GetError(), cca::kErrCrc);
}

TEST_F(CcaExtract, CrcMismatchKeepsFileAndGoesOn) {
    const Bytes content = ToBytes("the content");
    RawMember m{0,       cca::kMethodStored,       "All\\bad.prc",  false,
                content, uint32_t(content.size()), Crc(content) ^ 1};
    OpenBytes(ArchiveBuilder().Add(m).Stored("All\\good.prc", ToBytes("g")).Build());
    EXPECT_TRUE(archive_.Extract("bad.prc"));
    EXPECT_EQ(archive_.GetError(), cca::kErrCrc);
    EXPECT_EQ(ReadFileBytes(Out("bad.prc")), content);
    // The next call starts with a clean error.
    EXPECT_TRUE(archive_.Extract("good.prc"));
    // good.prc comes after the bad member, which is checked on every walk.
    EXPECT_EQ(archive_.GetError(), cca::kErrCrc);
    EXPECT_EQ(ReadFileBytes(Out("good.prc")), ToBytes("g"));
}

TEST_F(CcaExtract, ErrorClearedAtEachExtraction) {
    const Bytes content = ToBytes("c");
    RawMember bad{0, cca::kMethodStored, "All\\bad", false, content, 1, 12345};
    OpenBytes(ArchiveBuilder().Add(bad).Build());
    EXPECT_TRUE(archive_.Extract("bad"));
    EXPECT_EQ(archive_.GetError(), cca::kErrCrc);
    WriteFileBytes(root_.File("b.cca"), ArchiveBuilder().Stored("All\\good", content).Build());
    ASSERT_TRUE(archive_.Open(root_.File("b.cca")));
    EXPECT_EQ(archive_.GetError(), cca::kErrCrc);  // listing leaves the last error alone
    EXPECT_TRUE(archive_.Extract("good"));
    EXPECT_EQ(archive_.GetError(), 0);
    std::filesystem::remove(root_.File("b.cca"));
}

TEST_F(CcaExtract, ChunkThatDoesNotInflate) {
    const Bytes good = Text(cca::kBufferSize);
    const Bytes second = Text(1000);
    Bytes data = Concat(ArchiveBuilder::Chunk(good), ArchiveBuilder::Chunk(second));
    data[data.size() - 20] ^= 0xFF;  // inside the second stream
    const Bytes full = Concat(good, second);
    OpenBytes(
        ArchiveBuilder()
            .Add({0, cca::kMethodZlib, "All\\z.prc", false, data, uint32_t(data.size()), Crc(full)})
            .Stored("All\\after", ToBytes("a"))
            .Build());
    EXPECT_FALSE(archive_.Extract("z.prc"));
    EXPECT_EQ(archive_.GetError(), 0);  // no code for this failure
    // The first chunk's output stays on disk.
    EXPECT_EQ(ReadFileBytes(Out("z.prc")), good);
    // A bad chunk in a member that isn't wanted fails the walk as well.
    EXPECT_FALSE(archive_.Extract("after"));
}

TEST_F(CcaExtract, UnknownStorageMethodIsDamaged) {
    OpenBytes(ArchiveBuilder()
                  .Add({0, 7, "All\\odd", false, ToBytes("abc"), 3, Crc(ToBytes("abc"))})
                  .Build());
    EXPECT_FALSE(archive_.Extract("odd"));
    EXPECT_EQ(archive_.GetError(), cca::kErrDamaged);
}

TEST_F(CcaExtract, ExactCaseForExtraction) {
    OpenBytes(ArchiveBuilder().Stored("README", ToBytes("read me")).Build());
    EXPECT_TRUE(archive_.HasMember("readme"));
    EXPECT_TRUE(archive_.Extract("readme"));
    EXPECT_FALSE(std::filesystem::exists(Out("readme")));
    EXPECT_FALSE(std::filesystem::exists(Out("README")));
    ASSERT_TRUE(archive_.Extract("README"));
    EXPECT_EQ(ReadFileBytes(Out("README")), ToBytes("read me"));
}

TEST_F(CcaExtract, SameNameInColorAndNonC) {
    OpenBytes(ArchiveBuilder()
                  .Stored("Color\\app.prc", ToBytes("colour"))
                  .Stored("NonC\\app.prc", ToBytes("grey"))
                  .Build());
    // By name alone both are written to one path; the later one remains.
    ASSERT_TRUE(archive_.Extract("app.prc"));
    EXPECT_EQ(ReadFileBytes(Out("app.prc")), ToBytes("grey"));
    // By member, each variant is written on its own.
    ASSERT_TRUE(archive_.ExtractMember(archive_.GetMember(0)));
    EXPECT_EQ(ReadFileBytes(Out("app.prc")), ToBytes("colour"));
    ASSERT_TRUE(archive_.ExtractMember(archive_.GetMember(1)));
    EXPECT_EQ(ReadFileBytes(Out("app.prc")), ToBytes("grey"));
}

TEST_F(CcaExtract, ReplacesExistingFile) {
    OpenBytes(ArchiveBuilder().Stored("All\\f", ToBytes("new")).Build());
    WriteFileBytes(Out("f"), ToBytes("an older and longer file"));
    ASSERT_TRUE(archive_.Extract("f"));
    EXPECT_EQ(ReadFileBytes(Out("f")), ToBytes("new"));
}

TEST_F(CcaExtract, OutputThatCannotBeCreatedIs105) {
    OpenBytes(ArchiveBuilder().Stored("All\\f", ToBytes("x")).Build());
    archive_.SetDestDir(root_.File("missing") + "/");
    EXPECT_FALSE(archive_.Extract("f"));
    EXPECT_EQ(archive_.GetError(), cca::kErrCreateOutput);
}

TEST_F(CcaExtract, LinksInPlaceOfOutputAreReplacedNotWrittenThrough) {
    OpenBytes(
        ArchiveBuilder().Stored("All\\f", ToBytes("x")).Stored("All\\h", ToBytes("y")).Build());
    const std::string victim = root_.File("victim");
    WriteFileBytes(victim, ToBytes("keep"));
    std::filesystem::create_symlink(victim, Out("f"));
    std::filesystem::create_hard_link(victim, Out("h"));
    ASSERT_TRUE(archive_.Extract("f"));
    ASSERT_TRUE(archive_.Extract("h"));
    EXPECT_FALSE(std::filesystem::is_symlink(Out("f")));
    EXPECT_EQ(ReadFileBytes(Out("f")), ToBytes("x"));
    EXPECT_EQ(ReadFileBytes(Out("h")), ToBytes("y"));
    EXPECT_EQ(ReadFileBytes(victim), ToBytes("keep"));
}

TEST_F(CcaExtract, DirectoryInPlaceOfOutputIs105) {
    OpenBytes(ArchiveBuilder().Stored("All\\f", ToBytes("x")).Build());
    std::filesystem::create_directory(Out("f"));
    EXPECT_FALSE(archive_.Extract("f"));
    EXPECT_EQ(archive_.GetError(), cca::kErrCreateOutput);
}

TEST_F(CcaExtract, HostileNamesAreRefusedAndTheRestGoesOn) {
    OpenBytes(ArchiveBuilder()
                  .Stored("All\\..\\..\\x", ToBytes("1"))
                  .Stored("..\\..\\x", ToBytes("2"))
                  .Stored("All\\../escape", ToBytes("3"))
                  .Stored("All\\/tmp/abs", ToBytes("4"))
                  .Stored("All\\..", ToBytes("5"))
                  .Stored("All\\.", ToBytes("6"))
                  .Stored("All\\", ToBytes("7"))
                  .Stored("All\\sub\\file", ToBytes("8"))
                  .Stored("All\\fine.prc", ToBytes("9"))
                  .Build());
    ASSERT_EQ(archive_.GetMemberCount(), 9u);
    for (size_t i = 0; i + 1 < archive_.GetMemberCount(); ++i) {
        const CCcaMember& m = archive_.GetMember(i);
        EXPECT_FALSE(CCcaArchive::IsSafeFileName(m.m_strFileName)) << m.m_strFileName;
        EXPECT_FALSE(archive_.Extract(m.m_strFileName)) << m.m_strFileName;
        EXPECT_EQ(archive_.GetError(), cca::kErrCreateOutput);
        EXPECT_FALSE(archive_.ExtractMember(m)) << m.m_strFileName;
    }
    EXPECT_FALSE(archive_.Extract("../escape"));
    EXPECT_FALSE(archive_.Extract("/tmp/abs"));
    ASSERT_TRUE(archive_.Extract("fine.prc"));
    EXPECT_EQ(ReadFileBytes(Out("fine.prc")), ToBytes("9"));
    EXPECT_EQ(root_.Files(), (std::vector<std::string>{"a.cca", "out/fine.prc"}));
    EXPECT_FALSE(std::filesystem::exists("/tmp/abs"));
}

TEST_F(CcaExtract, ExtractRestoresFilePosition) {
    OpenBytes(
        ArchiveBuilder().Stored("All\\a", ToBytes("1")).Stored("All\\b", ToBytes("2")).Build());
    ASSERT_TRUE(archive_.Extract("a"));
    ASSERT_TRUE(archive_.Extract("b"));
    ASSERT_TRUE(archive_.Extract("a"));
    EXPECT_EQ(ReadFileBytes(Out("a")), ToBytes("1"));
    EXPECT_EQ(ReadFileBytes(Out("b")), ToBytes("2"));
}

TEST_F(CcaExtract, MagicCheckedAgainAtExtraction) {
    OpenBytes(ArchiveBuilder().Stored("All\\a", ToBytes("1")).Build());
    // The file changes under the open archive.
    std::FILE* f = std::fopen(ArchivePath().c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fputc('X', f);
    std::fclose(f);
    EXPECT_FALSE(archive_.Extract("a"));
    EXPECT_EQ(archive_.GetError(), cca::kErrMagic);
}

TEST_F(CcaExtract, ExtractWithoutOpenArchiveFails) {
    CCcaArchive closed;
    closed.SetDestDir(Dest());
    EXPECT_FALSE(closed.Extract("a"));
    EXPECT_FALSE(closed.ReadOptions(Dest()));
}

// The listing refuses names longer than its table takes, so these archives change under an
// archive that was opened while it was still sound.
TEST_F(CcaExtract, NameWithoutNulInExtractionBufferIs103) {
    OpenBytes(ArchiveBuilder().Stored("All\\a", ToBytes("1")).Build());
    RawMember longName{0, cca::kMethodStored, std::string(cca::kBufferSize, 'n'), true, {}, 0, 0};
    Bytes bytes = ArchiveBuilder().Add(longName).Build();
    bytes.push_back(0);
    RewriteFileBytes(ArchivePath(), bytes);
    EXPECT_FALSE(archive_.Extract("a"));
    EXPECT_EQ(archive_.GetError(), cca::kErrNameRead);
}

TEST_F(CcaExtract, NameCutByEndOfFileIs103) {
    OpenBytes(ArchiveBuilder().Stored("All\\a", ToBytes("1")).Build());
    Bytes bytes = ArchiveBuilder().Stored("All\\a", ToBytes("1")).Stored("All\\second", {}).Build();
    bytes.resize(bytes.size() - 3);
    RewriteFileBytes(ArchivePath(), bytes);
    EXPECT_FALSE(archive_.Extract("a"));
    EXPECT_EQ(archive_.GetError(), cca::kErrNameRead);
    // The wanted member came first and stays written.
    EXPECT_EQ(ReadFileBytes(Out("a")), ToBytes("1"));
}

TEST_F(CcaExtract, LongTerminatedNameIsWalkedOver) {
    OpenBytes(ArchiveBuilder().Stored("All\\a", ToBytes("1")).Build());
    const std::string name(cca::kBufferSize - 1, 'n');
    RewriteFileBytes(
        ArchivePath(),
        ArchiveBuilder().Stored(name, ToBytes("x")).Stored("All\\after", ToBytes("2")).Build());
    ASSERT_TRUE(archive_.Extract("after"));
    EXPECT_EQ(archive_.GetError(), 0);
    EXPECT_EQ(ReadFileBytes(Out("after")), ToBytes("2"));
}

TEST_F(CcaExtract, DestinationDirectoryKeeps512Characters) {
    CCcaArchive archive;
    archive.SetDestDir(std::string(600, 'd'));
    EXPECT_EQ(archive.GetDestDir().size(), cca::kMaxDestDir);
}

}  // namespace
