// The packer: what it writes reads back whole; what the reader would not take is refused.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"
#include "tools/ccapack/cca_packer.h"

using namespace ccatest;

namespace {

// Walks the raw bytes of a written archive and checks every compressed chunk's framing.
void ExpectChunksWithinLimits(const Bytes& bytes) {
    size_t pos = cca::kHeaderSize;
    const size_t end = cca::GetU32(bytes.data() + cca::kEndOffsetPos);
    ASSERT_EQ(end, bytes.size());
    while (pos < end) {
        ASSERT_LE(pos + cca::kMemberHeaderSize, end);
        const uint16_t method = cca::GetU16(&bytes[pos + cca::kMemberMethodPos]);
        const uint32_t stored = cca::GetU32(&bytes[pos + cca::kMemberSizePos]);
        pos += cca::kMemberHeaderSize;
        while (bytes.at(pos) != 0) ++pos;
        ++pos;
        const size_t dataEnd = pos + stored;
        ASSERT_LE(dataEnd, end);
        if (method == cca::kMethodZlib) {
            while (pos < dataEnd) {
                const uint32_t len = cca::GetU32(&bytes[pos]);
                EXPECT_LE(len, cca::kBufferSize);
                Bytes out(cca::kBufferSize);
                uLongf n = out.size();
                EXPECT_EQ(uncompress(out.data(), &n, &bytes[pos + 4], len), Z_OK);
                pos += 4 + len;
            }
            EXPECT_EQ(pos, dataEnd);
        }
        pos = dataEnd;
    }
}

class CcaPacker : public ::testing::Test {
  protected:
    void OpenArchive() {
        reader_.SetDestDir(out_.Dir());
        ASSERT_TRUE(reader_.Open(dir_.File("a.cca")));
    }
    TempDir dir_;
    TempDir out_;
    ccapack::CCcaPacker packer_;
    CCcaArchive reader_;
    std::string error_;
};

TEST_F(CcaPacker, RoundTripEveryMethodAndSize) {
    struct Case {
        std::string name;
        Bytes content;
        uint16_t method;
    };
    std::vector<Case> cases;
    int i = 0;
    for (uint16_t method : {cca::kMethodStored, cca::kMethodZlib, cca::kMethodSkipped}) {
        for (const Bytes& content : {Bytes{}, ToBytes("x"), Text(cca::kBufferSize),
                                     Text(cca::kBufferSize + 1), Random(200000, 9), Text(300000)}) {
            cases.push_back({"m" + std::to_string(i++) + ".bin", content, method});
        }
    }
    for (const Case& c : cases) {
        ASSERT_TRUE(packer_.AddData("All", c.name, c.content, c.method, error_)) << error_;
    }
    ASSERT_TRUE(packer_.Write(dir_.File("a.cca"), error_)) << error_;
    ExpectChunksWithinLimits(ReadFileBytes(dir_.File("a.cca")));
    OpenArchive();
    ASSERT_EQ(reader_.GetMemberCount(), cases.size());
    for (const Case& c : cases) {
        ASSERT_TRUE(reader_.Extract(c.name)) << c.name;
        EXPECT_EQ(reader_.GetError(), 0) << c.name;
        const Bytes expected = c.method == cca::kMethodSkipped ? Bytes{} : c.content;
        EXPECT_EQ(ReadFileBytes(out_.File(c.name)), expected) << c.name;
    }
}

TEST_F(CcaPacker, FilesFromDiskWithGroupsReadmeAndLicense) {
    WriteFileBytes(dir_.File("app.prc"), Random(5000, 1));
    WriteFileBytes(dir_.File("grey.prc"), Random(4000, 2));
    WriteFileBytes(dir_.File("read.txt"), ToBytes("Read me first.\n"));
    WriteFileBytes(dir_.File("lic.txt"), ToBytes("Licence text.\n"));
    ASSERT_TRUE(packer_.AddFile("Color", dir_.File("app.prc"), "", cca::kMethodZlib, error_))
        << error_;
    ASSERT_TRUE(
        packer_.AddFile("NonC", dir_.File("grey.prc"), "app.prc", cca::kMethodStored, error_))
        << error_;
    ASSERT_TRUE(packer_.SetReadme(dir_.File("read.txt"), error_));
    ASSERT_TRUE(packer_.SetLicense(dir_.File("lic.txt"), error_));
    ASSERT_TRUE(packer_.Write(dir_.File("a.cca"), error_)) << error_;
    OpenArchive();
    ASSERT_EQ(reader_.GetMemberCount(), 4u);
    EXPECT_FALSE(reader_.GetMember(0).m_bHasGroup);
    EXPECT_EQ(reader_.GetMember(0).m_strFileName, "README");
    EXPECT_EQ(reader_.GetMember(1).m_strFileName, "LICENSE");
    EXPECT_EQ(reader_.GetMember(2).m_strGroup, "Color");
    EXPECT_EQ(reader_.GetMember(3).m_strGroup, "NonC");
    EXPECT_FALSE(reader_.ReadOptions(out_.Dir()));  // no options given, no OPTIONS member
    ASSERT_TRUE(reader_.Extract("README"));
    EXPECT_EQ(ReadFileBytes(out_.File("README")), ToBytes("Read me first.\n"));
    ASSERT_TRUE(reader_.ExtractMember(reader_.SelectMembers(true).at(0)));
    EXPECT_EQ(ReadFileBytes(out_.File("app.prc")), ReadFileBytes(dir_.File("app.prc")));
    ASSERT_TRUE(reader_.ExtractMember(reader_.SelectMembers(false).at(0)));
    EXPECT_EQ(ReadFileBytes(out_.File("app.prc")), ReadFileBytes(dir_.File("grey.prc")));
}

TEST_F(CcaPacker, OptionsReadBack) {
    ccapack::PackOptions options;
    options.strTitle = std::string(29, 'T');
    options.strPassword = "k";
    options.bNeedColor = true;
    options.bNeedEzCpu = true;
    options.strOsVersion = "3.5";
    ASSERT_TRUE(packer_.SetOptions(options, error_)) << error_;
    ASSERT_TRUE(packer_.AddData("All", "a.prc", ToBytes("a"), cca::kMethodZlib, error_));
    ASSERT_TRUE(packer_.Write(dir_.File("a.cca"), error_)) << error_;
    OpenArchive();
    ASSERT_TRUE(reader_.ReadOptions(out_.Dir()));
    EXPECT_EQ(reader_.GetTitle(), options.strTitle);
    EXPECT_FALSE(reader_.GetPassword().empty());
    EXPECT_TRUE(reader_.GetNeedColor());
    EXPECT_TRUE(reader_.GetNeedEzCpu());
    EXPECT_EQ(reader_.GetOsVersion(), 0x03500000u);
    EXPECT_TRUE(out_.Files().empty());
}

TEST_F(CcaPacker, ForcedEmptyOptions) {
    ccapack::PackOptions options;
    options.bForceOptions = true;
    ASSERT_TRUE(packer_.SetOptions(options, error_));
    ASSERT_TRUE(packer_.Write(dir_.File("a.cca"), error_));
    OpenArchive();
    ASSERT_TRUE(reader_.ReadOptions(out_.Dir()));
    EXPECT_EQ(reader_.GetTitle(), "");
    EXPECT_EQ(reader_.GetPassword(), "");
    EXPECT_EQ(reader_.GetOsVersion(), 0u);
}

TEST_F(CcaPacker, RefusesOptionsThatReadBackWrongly) {
    auto refused = [&](ccapack::PackOptions o) {
        std::string e;
        return !packer_.SetOptions(o, e) && !e.empty();
    };
    ccapack::PackOptions o;
    o.strTitle = std::string(30, 't');
    EXPECT_TRUE(refused(o));
    o.strTitle = "two\nlines";
    EXPECT_TRUE(refused(o));
    o.strTitle = "Get Pass=now";
    EXPECT_TRUE(refused(o));
    o = {};
    o.strPassword = "NeedColor=1";
    EXPECT_TRUE(refused(o));
    o.strPassword = std::string(30, 'p');
    EXPECT_TRUE(refused(o));
    for (const char* v : {"3", "3.16", "0.5", "x.y", "256.0", "3.5.1", "-3.5", ".5", "3."}) {
        o = {};
        o.strOsVersion = v;
        EXPECT_TRUE(refused(o)) << v;
    }
    o = {};
    o.strOsVersion = "255.15";
    EXPECT_FALSE(refused(o));
}

TEST_F(CcaPacker, RefusesMembersTheReaderWouldNotInstall) {
    const Bytes d = ToBytes("d");
    EXPECT_FALSE(packer_.AddData("all", "a", d, 1, error_));
    EXPECT_FALSE(packer_.AddData("Other", "a", d, 1, error_));
    EXPECT_FALSE(packer_.AddData("", "a", d, 1, error_));
    for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b", "/abs", "..\\..\\x"}) {
        EXPECT_FALSE(packer_.AddData("All", name, d, 1, error_)) << name;
    }
    EXPECT_FALSE(packer_.AddData("All", std::string(508, 'n'), d, 1, error_));  // 4+508+1 > 512
    EXPECT_TRUE(packer_.AddData("All", std::string(507, 'n'), d, 1, error_)) << error_;
    EXPECT_FALSE(packer_.AddData("All", "m", d, 2, error_));
    EXPECT_FALSE(packer_.AddData("All", "readme", d, 1, error_));
    EXPECT_FALSE(packer_.AddData("Color", "OPTIONS", d, 1, error_));
    EXPECT_FALSE(packer_.AddFile("All", dir_.File("missing"), "", 1, error_));
    EXPECT_EQ(packer_.GetMemberCount(), 1u);
}

TEST_F(CcaPacker, SameNameOnlyAsColourAndGreyVariants) {
    const Bytes d = ToBytes("d");
    ASSERT_TRUE(packer_.AddData("Color", "x.prc", d, 1, error_));
    EXPECT_TRUE(packer_.AddData("NonC", "x.prc", d, 1, error_)) << error_;
    EXPECT_FALSE(packer_.AddData("Color", "x.prc", d, 1, error_));
    EXPECT_FALSE(packer_.AddData("All", "x.prc", d, 1, error_));
    ASSERT_TRUE(packer_.AddData("All", "y.prc", d, 1, error_));
    EXPECT_FALSE(packer_.AddData("NonC", "y.prc", d, 1, error_));
    EXPECT_TRUE(packer_.AddData("All", "Y.prc", d, 1, error_));  // other case, other file
}

TEST_F(CcaPacker, AtMost512Members) {
    std::string readme = dir_.File("r");
    WriteFileBytes(readme, ToBytes("r"));
    ASSERT_TRUE(packer_.SetReadme(readme, error_));
    for (int i = 0; i < 511; ++i) {
        ASSERT_TRUE(packer_.AddData("All", "m" + std::to_string(i), {}, 0, error_)) << i;
    }
    EXPECT_FALSE(packer_.AddData("All", "one-more", {}, 0, error_));
    EXPECT_FALSE(packer_.SetLicense(readme, error_));
    ASSERT_TRUE(packer_.Write(dir_.File("a.cca"), error_));
    OpenArchive();
    EXPECT_EQ(reader_.GetMemberCount(), 512u);
}

TEST_F(CcaPacker, FailedWriteLeavesNoFile) {
    WriteFileBytes(dir_.File("src"), ToBytes("s"));
    ASSERT_TRUE(packer_.AddFile("All", dir_.File("src"), "", 1, error_));
    std::filesystem::remove(dir_.File("src"));
    EXPECT_FALSE(packer_.Write(dir_.File("a.cca"), error_));
    EXPECT_FALSE(error_.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_.File("a.cca")));
    EXPECT_FALSE(packer_.Write(dir_.File("no/dir/a.cca"), error_));
}

// The command-line program.
class CcaPackerCli : public ::testing::Test {
  protected:
    int Run(const std::string& args) {
        const std::string cmd = std::string(CC_CCAPACK_PATH) + " " + args + " >" +
                                dir_.File("stdout") + " 2>" + dir_.File("stderr");
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Stdout() {
        const Bytes b = ReadFileBytes(dir_.File("stdout"));
        return std::string(b.begin(), b.end());
    }
    std::string Q(const std::string& name) { return "'" + dir_.File(name) + "'"; }
    TempDir dir_;
};

TEST_F(CcaPackerCli, HelpAndUsage) {
    EXPECT_EQ(Run("--help"), 0);
    EXPECT_NE(Stdout().find("Usage:"), std::string::npos);
    EXPECT_EQ(Run(""), 2);
    EXPECT_EQ(Run("--bogus"), 2);
    EXPECT_EQ(Run("-o " + Q("a.cca") + " -m 7 x"), 2);
    EXPECT_EQ(Run("-o " + Q("a.cca") + " --os-version 3"), 2);
}

TEST_F(CcaPackerCli, PackListAndInstallVariants) {
    WriteFileBytes(dir_.File("c.prc"), Random(70000, 4));
    WriteFileBytes(dir_.File("g.prc"), Text(9000));
    WriteFileBytes(dir_.File("common.pdb"), Text(100));
    WriteFileBytes(dir_.File("readme.txt"), ToBytes("hello\n"));
    ASSERT_EQ(Run("-o " + Q("a.cca") + " -t 'My Title' --need-color --os-version 3.5 --readme " +
                  Q("readme.txt") + " -g Color -n app.prc " + Q("c.prc") +
                  " -g NonC -m 0 -n app.prc " + Q("g.prc") + " -g All " + Q("common.pdb")),
              0);
    ASSERT_EQ(Run("--list " + Q("a.cca")), 0);
    const std::string listing = Stdout();
    EXPECT_NE(listing.find("Color    app.prc"), std::string::npos) << listing;
    EXPECT_NE(listing.find("NonC     app.prc"), std::string::npos) << listing;
    EXPECT_NE(listing.find("title: My Title"), std::string::npos) << listing;
    EXPECT_NE(listing.find("OS version: 3.5"), std::string::npos) << listing;

    TempDir out;
    CCcaArchive reader;
    reader.SetDestDir(out.Dir());
    ASSERT_TRUE(reader.Open(dir_.File("a.cca")));
    ASSERT_TRUE(reader.ReadOptions(out.Dir()));
    EXPECT_TRUE(reader.GetNeedColor());
    for (bool colour : {true, false}) {
        std::vector<std::string> names;
        for (const CCcaMember& m : reader.SelectMembers(colour)) {
            ASSERT_TRUE(reader.ExtractMember(m));
            names.push_back(m.m_strFileName);
        }
        EXPECT_EQ(names, (std::vector<std::string>{"app.prc", "common.pdb"}));
        EXPECT_EQ(ReadFileBytes(out.File("app.prc")),
                  ReadFileBytes(dir_.File(colour ? "c.prc" : "g.prc")));
    }
}

TEST_F(CcaPackerCli, RefusalsFailWithoutOutput) {
    WriteFileBytes(dir_.File("x"), ToBytes("x"));
    EXPECT_EQ(Run("-o " + Q("a.cca") + " -g Colour " + Q("x")), 1);
    EXPECT_EQ(Run("-o " + Q("a.cca") + " -n ../x " + Q("x")), 1);
    EXPECT_EQ(Run("-o " + Q("a.cca") + " " + Q("x") + " " + Q("x")), 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("a.cca")));
}

TEST_F(CcaPackerCli, SelfExtractingProgram) {
    WriteFileBytes(dir_.File("prog"), Random(3000, 8));
    WriteFileBytes(dir_.File("x"), ToBytes("x"));
    ASSERT_EQ(Run("-o " + Q("a.cca") + " " + Q("x")), 0);
    ASSERT_EQ(Run("--sfx " + Q("prog") + " -o " + Q("sfx") + " " + Q("a.cca")), 0);
    const Bytes sfx = ReadFileBytes(dir_.File("sfx"));
    ASSERT_GE(sfx.size(), 8u);
    EXPECT_EQ(std::string(sfx.end() - 4, sfx.end()), "ZQvt");
    EXPECT_EQ(cca::GetU32(&sfx[sfx.size() - 8]), 3000u);
    EXPECT_EQ(Run("--sfx " + Q("prog") + " -o " + Q("sfx2") + " " + Q("x")), 1);
}

}  // namespace
