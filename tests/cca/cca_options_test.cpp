// The OPTIONS member, the OS version encoding and the requirement checks.
#include <gtest/gtest.h>

#include <memory>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"

using namespace ccatest;

namespace {

class CcaOptions : public ::testing::Test {
  protected:
    // Reads options from an archive whose OPTIONS member holds text; true when ReadOptions was.
    bool Read(const std::string& text, bool zlib = false) {
        ArchiveBuilder builder;
        builder.Stored("All\\a.prc", ToBytes("a"));
        if (zlib) {
            builder.Zlib("OPTIONS", ToBytes(text));
        } else {
            builder.Stored("OPTIONS", ToBytes(text));
        }
        // A new object (options keep their values otherwise), the old one's file closed before
        // the file is written again.
        archive_ = std::make_unique<CCcaArchive>();
        WriteFileBytes(dir_.File("a.cca"), builder.Build());
        archive_->SetDestDir(dir_.Dir());
        EXPECT_TRUE(archive_->Open(dir_.File("a.cca")));
        return archive_->ReadOptions(dir_.Dir());
    }
    TempDir dir_;
    std::unique_ptr<CCcaArchive> archive_ = std::make_unique<CCcaArchive>();
};

TEST_F(CcaOptions, AllKeys) {
    ASSERT_TRUE(
        Read("Title=My Game\r\nPass=xsecret\nNeedColor=1\nNeedCpu=1\nOSVersion=3.5\n", true));
    EXPECT_EQ(archive_->GetTitle(), "My Game");
    EXPECT_EQ(archive_->GetPassword(), "secret\n");
    EXPECT_TRUE(archive_->GetNeedColor());
    EXPECT_TRUE(archive_->GetNeedEzCpu());
    EXPECT_EQ(archive_->GetOsVersion(), 0x03500000u);
    // The extracted OPTIONS file is gone; the other member was not extracted.
    EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"a.cca"}));
}

TEST_F(CcaOptions, DefaultsWithoutKeys) {
    ASSERT_TRUE(Read("nothing of interest\n"));
    EXPECT_EQ(archive_->GetTitle(), "");
    EXPECT_EQ(archive_->GetPassword(), "");
    EXPECT_FALSE(archive_->GetNeedColor());
    EXPECT_FALSE(archive_->GetNeedEzCpu());
    EXPECT_EQ(archive_->GetOsVersion(), 0u);
}

TEST_F(CcaOptions, NoOptionsMember) {
    WriteFileBytes(dir_.File("a.cca"), ArchiveBuilder().Stored("All\\a.prc", ToBytes("a")).Build());
    ASSERT_TRUE(archive_->Open(dir_.File("a.cca")));
    EXPECT_FALSE(archive_->ReadOptions(dir_.Dir()));
}

TEST_F(CcaOptions, OptionsThatDoNotExtract) {
    Bytes data = ArchiveBuilder::Chunk(ToBytes("Title=x\n"));
    data.back() ^= 0xFF;  // Adler-32 trailer
    WriteFileBytes(dir_.File("a.cca"),
                   ArchiveBuilder()
                       .Add({0, cca::kMethodZlib, "OPTIONS", false, data, uint32_t(data.size()), 0})
                       .Build());
    ASSERT_TRUE(archive_->Open(dir_.File("a.cca")));
    EXPECT_FALSE(archive_->ReadOptions(dir_.Dir()));
    EXPECT_EQ(archive_->GetTitle(), "");
}

TEST_F(CcaOptions, TitleCutAt29AndAtLineBreak) {
    ASSERT_TRUE(Read("Title=" + std::string(40, 't') + "\n"));
    EXPECT_EQ(archive_->GetTitle(), std::string(29, 't'));
    ASSERT_TRUE(Read("Title=ab\rcd\n"));
    EXPECT_EQ(archive_->GetTitle(), "ab");
}

TEST_F(CcaOptions, PasswordEmptyAndOneCharacter) {
    ASSERT_TRUE(Read("Pass=\n"));
    EXPECT_EQ(archive_->GetPassword(), "");
    ASSERT_TRUE(Read("Pass=q\n"));
    EXPECT_EQ(archive_->GetPassword(), "\n");  // the value is the line end
    ASSERT_TRUE(Read("Pass=q\r\n"));
    EXPECT_EQ(archive_->GetPassword(), "\r\n");
    // At the very end of the file, without a line break, nothing is behind the column.
    ASSERT_TRUE(Read("Title=t\nPass="));
    EXPECT_EQ(archive_->GetPassword(), "");
    ASSERT_TRUE(Read("Pass=" + std::string(40, 'p') + "\n"));
    EXPECT_EQ(archive_->GetPassword(), std::string(29, 'p'));
}

TEST_F(CcaOptions, KeyAnywhereValueAtFixedColumn) {
    // "NeedColor=" found, but column 10 of this line is not the value.
    ASSERT_TRUE(Read("  NeedColor=1\n"));
    EXPECT_FALSE(archive_->GetNeedColor());
    ASSERT_TRUE(Read("xxxxxxxxxx1NeedColor=0\n"));
    EXPECT_TRUE(archive_->GetNeedColor());
    // A title line that also holds "Pass=" sets both from column 6.
    ASSERT_TRUE(Read("Title=Pass=word\n"));
    EXPECT_EQ(archive_->GetTitle(), "Pass=word");
    EXPECT_EQ(archive_->GetPassword(), "Pass=word\n");
    // Keys are case-sensitive.
    ASSERT_TRUE(Read("needcolor=1\ntitle=lower\n"));
    EXPECT_FALSE(archive_->GetNeedColor());
    EXPECT_EQ(archive_->GetTitle(), "");
}

TEST_F(CcaOptions, LastLineOfAKeyWins) {
    ASSERT_TRUE(
        Read("NeedColor=1\nNeedColor=0\nTitle=one\nTitle=two\nOSVersion=4.0\nOSVersion=3.1\n"));
    EXPECT_FALSE(archive_->GetNeedColor());
    EXPECT_EQ(archive_->GetTitle(), "two");
    EXPECT_EQ(archive_->GetOsVersion(), 0x03100000u);
}

TEST_F(CcaOptions, LongLinesAreReadIn511CharacterPieces) {
    // The key after the 511th character starts a piece of its own and is read from there.
    ASSERT_TRUE(Read(std::string(511, 'x') + "NeedCpu=1\n"));
    EXPECT_TRUE(archive_->GetNeedEzCpu());
    ASSERT_TRUE(Read(std::string(510, 'x') + "NeedCpu=1\n"));
    EXPECT_FALSE(archive_->GetNeedEzCpu());
}

TEST_F(CcaOptions, OsVersionWithoutDotIsNoRequirement) {
    ASSERT_TRUE(Read("OSVersion=3\n"));
    EXPECT_EQ(archive_->GetOsVersion(), 0u);
    std::string message = "path";
    EXPECT_EQ(archive_->CheckRequirements(false, false, 0x01000000, message), 0);
}

TEST_F(CcaOptions, OptionsMemberInOtherCaseReadsNothing) {
    // Listed as "options": found ignoring case, but extraction wants the exact name.
    WriteFileBytes(dir_.File("a.cca"),
                   ArchiveBuilder().Stored("options", ToBytes("Title=hidden\n")).Build());
    WriteFileBytes(dir_.File("OPTIONS"), ToBytes("Title=someone else's\n"));
    ASSERT_TRUE(archive_->Open(dir_.File("a.cca")));
    EXPECT_TRUE(archive_->ReadOptions(dir_.Dir()));
    EXPECT_EQ(archive_->GetTitle(), "");
    // A file the archive did not write is neither read nor deleted.
    EXPECT_EQ(ReadFileBytes(dir_.File("OPTIONS")), ToBytes("Title=someone else's\n"));
}

TEST_F(CcaOptions, ReadOptionsSetsDestination) {
    TempDir other;
    WriteFileBytes(dir_.File("a.cca"),
                   ArchiveBuilder().Stored("OPTIONS", ToBytes("Title=t\n")).Build());
    archive_->SetDestDir(dir_.Dir());
    ASSERT_TRUE(archive_->Open(dir_.File("a.cca")));
    ASSERT_TRUE(archive_->ReadOptions(other.Dir()));
    EXPECT_EQ(archive_->GetTitle(), "t");
    EXPECT_EQ(archive_->GetDestDir(), other.Dir());
    EXPECT_TRUE(other.Files().empty());
}

TEST(CcaOsVersion, Encoding) {
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("3.5"), 0x03500000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("3.5\r\n"), 0x03500000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("4.0"), 0x04000000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("10.2"), 0x0A200000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("3.17"), 0x03100000u);  // minor & 15
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("3."), 0x03000000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion(".5"), 0x00500000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("3.5.1"), 0x03500000u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("v3.5"), 0x00500000u);  // no leading digits: 0
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("3"), 0u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion(""), 0u);
    EXPECT_EQ(CCcaArchive::EncodeOsVersion("256.0"), 0u);  // only bits 31-24 hold the major
    // Overlong digit runs wrap instead of misbehaving.
    (void)CCcaArchive::EncodeOsVersion(std::string(100, '9') + "." + std::string(100, '9'));
}

TEST(CcaOsVersion, Formatting) {
    EXPECT_EQ(CCcaArchive::FormatOsVersion(0x03500000u), "3.5");
    EXPECT_EQ(CCcaArchive::FormatOsVersion(0x03503000u), "3.5");
    EXPECT_EQ(CCcaArchive::FormatOsVersion(0xFFF00000u), "255.15");
}

class CcaRequirements : public CcaOptions {};

TEST_F(CcaRequirements, OsVersion35AgainstRoms) {
    ASSERT_TRUE(Read("OSVersion=3.5\n"));
    std::string message = "/tmp/a.cca";
    EXPECT_EQ(archive_->CheckRequirements(true, true, 0x03503000, message), 0);
    EXPECT_EQ(message, "/tmp/a.cca");
    EXPECT_EQ(archive_->CheckRequirements(true, true, 0x03500000, message), 0);
    EXPECT_EQ(archive_->CheckRequirements(true, true, 0x03100000, message), cca::kErrNeedOsVersion);
    EXPECT_EQ(message, "3.5");
}

TEST_F(CcaRequirements, UnsignedComparison) {
    ASSERT_TRUE(Read("OSVersion=200.0\n"));
    std::string message = "p";
    EXPECT_EQ(archive_->CheckRequirements(true, true, 0x05000000, message), cca::kErrNeedOsVersion);
    EXPECT_EQ(message, "200.0");
    EXPECT_EQ(archive_->CheckRequirements(true, true, 0xC8000000, message), 0);
}

TEST_F(CcaRequirements, ColourAndProcessor) {
    ASSERT_TRUE(Read("NeedColor=1\n"));
    std::string message = "/tmp/a.cca";
    EXPECT_EQ(archive_->CheckRequirements(false, true, 0x04000000, message), cca::kErrNeedColor);
    EXPECT_EQ(message, "/tmp/a.cca");
    EXPECT_EQ(archive_->CheckRequirements(true, false, 0x04000000, message), 0);

    ASSERT_TRUE(Read("NeedCpu=1\n"));
    EXPECT_EQ(archive_->CheckRequirements(true, false, 0x04000000, message), cca::kErrNeedEzCpu);
    EXPECT_EQ(message, "/tmp/a.cca");
}

TEST_F(CcaRequirements, LaterFailureReplacesEarlier) {
    ASSERT_TRUE(Read("NeedColor=1\nNeedCpu=1\nOSVersion=3.5\n"));
    std::string message = "/tmp/a.cca";
    EXPECT_EQ(archive_->CheckRequirements(false, false, 0x03500000, message), cca::kErrNeedEzCpu);
    EXPECT_EQ(message, "/tmp/a.cca");
    EXPECT_EQ(archive_->CheckRequirements(false, true, 0x03100000, message),
              cca::kErrNeedOsVersion);
    EXPECT_EQ(message, "3.5");
}

TEST_F(CcaRequirements, ColourAndOsVersionBothFailGives53Only) {
    ASSERT_TRUE(Read("NeedColor=1\nOSVersion=3.5\n"));
    std::string message = "/tmp/a.cca";
    EXPECT_EQ(archive_->CheckRequirements(false, true, 0x03100000, message),
              cca::kErrNeedOsVersion);
    EXPECT_EQ(message, "3.5");
}

}  // namespace
