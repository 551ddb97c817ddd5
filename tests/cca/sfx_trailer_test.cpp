// Archives carried at the end of a program file.
#include <gtest/gtest.h>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"
#include "formats/cca/sfx_trailer.h"
#include "tools/ccapack/cca_packer.h"

using namespace ccatest;

namespace {

Bytes Trailer(uint32_t offset, const std::string& marker = "ZQvt") {
    Bytes t(4);
    cca::PutU32(t.data(), offset);
    return Concat(t, ToBytes(marker));
}

class SfxTrailer : public ::testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(SfxTrailer, PackedRoundTrip) {
    const Bytes program = Random(100000, 11);
    const Bytes content = Text(90000);
    WriteFileBytes(dir_.File("prog"), program);
    ccapack::CCcaPacker packer;
    std::string error;
    ASSERT_TRUE(packer.AddData("All", "app.prc", content, cca::kMethodZlib, error)) << error;
    ASSERT_TRUE(packer.Write(dir_.File("a.cca"), error)) << error;
    ASSERT_TRUE(
        ccapack::AppendSfxArchive(dir_.File("prog"), dir_.File("a.cca"), dir_.File("sfx"), error))
        << error;

    const Bytes sfx = ReadFileBytes(dir_.File("sfx"));
    const Bytes archive = ReadFileBytes(dir_.File("a.cca"));
    ASSERT_EQ(sfx.size(), program.size() + archive.size() + cca::kTrailerSize);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), sfx.begin()));

    uint64_t offset = 0, size = 0;
    ASSERT_TRUE(cca::FindSfxArchive(dir_.File("sfx"), offset, size));
    EXPECT_EQ(offset, program.size());
    EXPECT_EQ(size, archive.size());

    ASSERT_TRUE(cca::ExtractSfxArchive(dir_.File("sfx"), dir_.File("CCASFX.CCA")));
    EXPECT_EQ(ReadFileBytes(dir_.File("CCASFX.CCA")), archive);
    CCcaArchive reader;
    reader.SetDestDir(dir_.Dir());
    ASSERT_TRUE(reader.Open(dir_.File("CCASFX.CCA")));
    ASSERT_TRUE(reader.Extract("app.prc"));
    EXPECT_EQ(ReadFileBytes(dir_.File("app.prc")), content);
}

TEST_F(SfxTrailer, NoMarkerNoArchive) {
    const Bytes archive = ArchiveBuilder().Stored("All\\a", ToBytes("a")).Build();
    WriteFileBytes(dir_.File("prog"),
                   Concat(Concat(ToBytes("program"), archive), Trailer(7, "ZQvT")));
    uint64_t offset = 0, size = 0;
    EXPECT_FALSE(cca::FindSfxArchive(dir_.File("prog"), offset, size));
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("out.cca")));
}

TEST_F(SfxTrailer, OffsetPastTrailerIsNoArchive) {
    WriteFileBytes(dir_.File("prog"), Concat(ToBytes("program"), Trailer(8)));
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    WriteFileBytes(dir_.File("prog"), Concat(ToBytes("program"), Trailer(0xFFFFFFFFu)));
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("out.cca")));
}

TEST_F(SfxTrailer, ShortFiles) {
    WriteFileBytes(dir_.File("prog"), ToBytes("ZQvt"));
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    WriteFileBytes(dir_.File("prog"), {});
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("missing"), dir_.File("out.cca")));
    // Just the trailer: an empty archive at offset 0.
    WriteFileBytes(dir_.File("prog"), Trailer(0));
    ASSERT_TRUE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    EXPECT_EQ(std::filesystem::file_size(dir_.File("out.cca")), 0u);
}

TEST_F(SfxTrailer, ReplacesOlderCopy) {
    const Bytes archive = ArchiveBuilder().Stored("All\\a", ToBytes("a")).Build();
    WriteFileBytes(dir_.File("prog"), Concat(Concat(ToBytes("p"), archive), Trailer(1)));
    WriteFileBytes(dir_.File("out.cca"), Random(500000, 3));
    ASSERT_TRUE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("out.cca")));
    EXPECT_EQ(ReadFileBytes(dir_.File("out.cca")), archive);
}

TEST_F(SfxTrailer, CopyThatCannotBeCreated) {
    const Bytes archive = ArchiveBuilder().Build();
    WriteFileBytes(dir_.File("prog"), Concat(archive, Trailer(0)));
    EXPECT_FALSE(cca::ExtractSfxArchive(dir_.File("prog"), dir_.File("no/such/dir/out.cca")));
}

TEST_F(SfxTrailer, PackerRefusesToAppendNonArchive) {
    WriteFileBytes(dir_.File("prog"), ToBytes("program"));
    WriteFileBytes(dir_.File("junk"), ToBytes("not an archive"));
    std::string error;
    EXPECT_FALSE(
        ccapack::AppendSfxArchive(dir_.File("prog"), dir_.File("junk"), dir_.File("sfx"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_.File("sfx")));
}

}  // namespace
