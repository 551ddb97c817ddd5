// Text to DOC conversion: output names, header and record 0, the text rules, failures, and
// every database read back by an independent DOC decoder.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/doc/text_to_doc.h"
#include "pdb/palm_db_file.h"

namespace {

using Bytes = std::string;

class CTempDir {
  public:
    CTempDir() {
        char tmpl[] = "/tmp/cc_doc_test_XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        if (made) m_strPath = made;
    }
    ~CTempDir() {
        if (!m_strPath.empty()) {
            ::chmod(m_strPath.c_str(), 0700);
            std::system(("rm -rf '" + m_strPath + "'").c_str());
        }
    }
    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

  private:
    std::string m_strPath;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.insert(n);
        }
        ::closedir(d);
    }
    return names;
}

uint32_t Be32(const std::vector<uint8_t>& d, size_t off) {
    return (uint32_t(d[off]) << 24) | (uint32_t(d[off + 1]) << 16) | (uint32_t(d[off + 2]) << 8) |
           d[off + 3];
}
uint16_t Be16(const std::vector<uint8_t>& d, size_t off) {
    return uint16_t((d[off] << 8) | d[off + 1]);
}

// What the converter should store for a text: no CR, and a NUL drops the rest of its line
// with the line's LF.
Bytes Expected(const Bytes& text) {
    Bytes out;
    bool skip = false;
    for (char c : text) {
        if (skip) {
            skip = c != '\n';
        } else if (c == '\0') {
            skip = true;
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

struct DocContents {
    pdb::DbInfo info;
    std::vector<uint8_t> header;
    std::vector<pdb::Record> records;  // text records
    Bytes text;
};

::testing::AssertionResult ReadDoc(const std::string& path, DocContents& doc) {
    int rc = 0;
    auto db = pdb::CPalmDbFile::Open(path, &rc);
    if (!db) return ::testing::AssertionFailure() << "cannot open " << path << ": " << rc;
    doc.info = db->Info();
    pdb::Record r;
    if (db->EntryCount() < 1 || db->ReadRecord(0, r) != pdb::kOk) {
        return ::testing::AssertionFailure() << "no record 0";
    }
    doc.header = r.data;
    for (int i = 1; i < db->EntryCount(); ++i) {
        if (db->ReadRecord(i, r) != pdb::kOk)
            return ::testing::AssertionFailure() << "record " << i;
        doc.records.push_back(r);
        doc.text.append(r.data.begin(), r.data.end());
    }
    return ::testing::AssertionSuccess();
}

// Converts a text written under name and reads the result back.
struct Converted {
    bool ok = false;
    std::string outPath;
    DocContents doc;
};

Converted ConvertBytes(const CTempDir& dir, const std::string& name, const Bytes& text) {
    Converted c;
    WriteFile(dir / name, text);
    c.ok = ConvertTextFile(dir / name, c.outPath);
    if (c.ok) {
        EXPECT_TRUE(ReadDoc(c.outPath, c.doc));
    }
    return c;
}

// ---- output names ------------------------------------------------------------------------

TEST(DocOutputName, ExtensionBecomesPdbAndNameDropsIt) {
    CTempDir dir;
    const Converted c = ConvertBytes(dir, "book.txt", "text\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.outPath, dir / "book.PDB");
    EXPECT_EQ(c.doc.info.name, "book");
}

TEST(DocOutputName, CounterReplacesExtensionWhenTaken) {
    CTempDir dir;
    WriteFile(dir / "book.PDB", "old");
    const Converted c = ConvertBytes(dir, "book.txt", "text\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.outPath, dir / "book.000");
    EXPECT_EQ(c.doc.info.name, "book");
    EXPECT_EQ(ReadFile(dir / "book.PDB"), "old");
}

TEST(DocOutputName, FirstFreeCounterAfterSeveralTaken) {
    CTempDir dir;
    WriteFile(dir / "book.PDB", "old");
    for (const char* ext : {"000", "001", "002", "003", "004"}) {
        WriteFile(dir / (std::string("book.") + ext), ext);
    }
    const Converted c = ConvertBytes(dir, "book.txt", "text\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.outPath, dir / "book.005");
    EXPECT_EQ(ReadFile(dir / "book.003"), "003");
}

TEST(DocOutputName, FailsWhenEveryCounterIsTakenAndLeavesNothing) {
    CTempDir dir;
    WriteFile(dir / "book.txt", "text\n");
    WriteFile(dir / "book.PDB", "");
    char ext[8];
    for (int i = 0; i <= 198; ++i) {
        std::snprintf(ext, sizeof ext, "%03d", i);
        WriteFile(dir / (std::string("book.") + ext), "");
    }
    const auto before = Listing(dir.Path());
    std::string out = "untouched";
    EXPECT_FALSE(ConvertTextFile(dir / "book.txt", out));
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(Listing(dir.Path()), before);

    // Freeing the last counter makes it the one used.
    ASSERT_EQ(::unlink((dir / "book.198").c_str()), 0);
    ASSERT_TRUE(ConvertTextFile(dir / "book.txt", out));
    EXPECT_EQ(out, dir / "book.198");
}

TEST(DocOutputName, UnreadableOrDanglingNamesCountAsTaken) {
    CTempDir dir;
    WriteFile(dir / "book.PDB", "private");
    ::chmod((dir / "book.PDB").c_str(), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "book.000").c_str()), 0);
    const Converted c = ConvertBytes(dir, "book.txt", "text\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.outPath, dir / "book.001");
    ::chmod((dir / "book.PDB").c_str(), 0600);
    EXPECT_EQ(ReadFile(dir / "book.PDB"), "private");
    EXPECT_FALSE(Exists(dir / "nowhere"));
}

TEST(DocOutputName, DotsOnlyCountInTheFileName) {
    CTempDir dir;
    ASSERT_EQ(::mkdir((dir / "v1.2").c_str(), 0700), 0);
    const Converted noExt = ConvertBytes(dir, "v1.2/README", "text\n");
    ASSERT_TRUE(noExt.ok);
    EXPECT_EQ(noExt.outPath, dir / "v1.2/README.PDB");
    EXPECT_EQ(noExt.doc.info.name, "README");

    const Converted twoDots = ConvertBytes(dir, "v1.2/notes.old.txt", "text\n");
    ASSERT_TRUE(twoDots.ok);
    EXPECT_EQ(twoDots.outPath, dir / "v1.2/notes.old.PDB");
    EXPECT_EQ(twoDots.doc.info.name, "notes.old");
}

TEST(DocOutputName, FortyCharacterNameGivesFirst31) {
    CTempDir dir;
    const std::string stem = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
    ASSERT_EQ(stem.size(), 40u);
    const Converted c = ConvertBytes(dir, stem + ".txt", "text\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.outPath, dir / (stem + ".PDB"));
    EXPECT_EQ(c.doc.info.name, stem.substr(0, 31));
}

// A text path in nested folders whose database path ("stem.PDB") is outLength characters.
std::string DeepTextPath(const CTempDir& dir, size_t outLength) {
    std::string path = dir.Path();
    while (outLength - path.size() > 200) {
        path += "/" + std::string(150, 'd');
        ::mkdir(path.c_str(), 0700);
    }
    const size_t stem = outLength - path.size() - 1 - 4;  // "/" and ".PDB"
    return path + "/" + std::string(stem, 's') + ".t";
}

TEST(DocOutputName, PathMustFitTheBuffer) {
    CTempDir dir;
    char out[doc::kOutPathSize];
    const std::string fits = DeepTextPath(dir, doc::kOutPathSize - 1);
    WriteFile(fits, "text\n");
    ASSERT_TRUE(Exists(fits));
    ASSERT_TRUE(ConvertTextFile(fits.c_str(), out));
    EXPECT_EQ(std::string(out).size(), doc::kOutPathSize - 1);
    EXPECT_EQ(std::string(out), fits.substr(0, fits.size() - 1) + "PDB");

    const std::string tooLong = DeepTextPath(dir, doc::kOutPathSize);
    WriteFile(tooLong, "text\n");
    ASSERT_TRUE(Exists(tooLong));
    const std::string folder = tooLong.substr(0, tooLong.find_last_of('/'));
    const auto before = Listing(folder);
    EXPECT_FALSE(ConvertTextFile(tooLong.c_str(), out));
    EXPECT_EQ(Listing(folder), before);
}

// ---- header and record 0 -----------------------------------------------------------------

TEST(DocHeader, DatabaseFieldsAndRawDates) {
    CTempDir dir;
    const int64_t before = int64_t(std::time(nullptr));
    const Converted c = ConvertBytes(dir, "book.txt", "text\n");
    const int64_t after = int64_t(std::time(nullptr));
    ASSERT_TRUE(c.ok);
    const pdb::DbInfo& info = c.doc.info;
    EXPECT_EQ(pdb::FourCCToText(info.type), "TEXt");
    EXPECT_EQ(pdb::FourCCToText(info.creator), "REAd");
    EXPECT_EQ(info.attributes, 0);
    EXPECT_EQ(info.version, 0);
    EXPECT_EQ(info.modnum, 0u);
    EXPECT_GE(info.createDate, before);
    EXPECT_LE(info.createDate, after);
    EXPECT_EQ(info.modifyDate, info.createDate);

    // The backup date is the file's raw 0 ("never"), not 1 January 1970.
    const Bytes raw = ReadFile(c.outPath);
    ASSERT_GE(raw.size(), pdb::kHeaderSize);
    EXPECT_EQ(raw.substr(44, 4), Bytes(4, '\0'));
    EXPECT_EQ(raw.substr(52, 8), Bytes(8, '\0'));  // no app info, no sort info
}

TEST(DocHeader, RecordZeroCompletedBigEndian) {
    CTempDir dir;
    const Bytes text(3 * 4096 + 10, 'q');
    const Converted c = ConvertBytes(dir, "book.txt", text);
    ASSERT_TRUE(c.ok);
    const auto& h = c.doc.header;
    ASSERT_EQ(h.size(), 16u);
    EXPECT_EQ(Be16(h, 0), 1);  // uncompressed
    EXPECT_EQ(Be16(h, 2), 0);
    EXPECT_EQ(Be32(h, 4), 3u * 4096 + 10);
    EXPECT_EQ(Be16(h, 8), 4);
    EXPECT_EQ(Be16(h, 10), 4096);
    EXPECT_EQ(Be32(h, 12), 0u);
    ASSERT_EQ(c.doc.records.size(), 4u);
    for (const auto& r : c.doc.records) {
        EXPECT_EQ(r.attributes, 0);
        EXPECT_EQ(r.category, 0);
        EXPECT_EQ(r.uid, 0u);
    }
    EXPECT_EQ(c.doc.records.back().data.size(), 10u);
}

// ---- text rules --------------------------------------------------------------------------

TEST(DocText, ExactlyTwoRecordsOfText) {
    CTempDir dir;
    std::string text;
    for (int i = 0; i < 8192; ++i) text += char('a' + i % 26);
    const Converted c = ConvertBytes(dir, "book.txt", text);
    ASSERT_TRUE(c.ok);
    ASSERT_EQ(c.doc.records.size(), 2u);
    EXPECT_EQ(c.doc.records[0].data.size(), 4096u);
    EXPECT_EQ(c.doc.records[1].data.size(), 4096u);
    EXPECT_EQ(Be16(c.doc.header, 8), 2);
    EXPECT_EQ(Be32(c.doc.header, 4), 8192u);
    EXPECT_EQ(c.doc.text, text);
}

TEST(DocText, EmptyTextGivesOnlyRecordZero) {
    CTempDir dir;
    const Converted c = ConvertBytes(dir, "book.txt", "");
    ASSERT_TRUE(c.ok);
    EXPECT_TRUE(c.doc.records.empty());
    EXPECT_EQ(Be16(c.doc.header, 8), 0);
    EXPECT_EQ(Be32(c.doc.header, 4), 0u);
}

TEST(DocText, CrLfBecomesLfAndCountsOneByte) {
    CTempDir dir;
    std::string text, plain;
    for (int i = 0; i < 10; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
        plain += "line " + std::to_string(i) + "\n";
    }
    const Converted c = ConvertBytes(dir, "book.txt", text);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.doc.text, plain);
    EXPECT_EQ(Be32(c.doc.header, 4), plain.size());
}

TEST(DocText, StrayCrIsDropped) {
    CTempDir dir;
    const Converted c = ConvertBytes(dir, "book.txt", "over\rwritten\r\rend\r");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.doc.text, "overwrittenend");
}

TEST(DocText, CrAcrossARecordBoundaryDoesNotLeaveAGap) {
    CTempDir dir;
    // 4,095 letters, CR LF: the record fills with the LF, not the CR.
    const Bytes text = Bytes(4095, 'a') + "\r\n" + "next";
    const Converted c = ConvertBytes(dir, "book.txt", text);
    ASSERT_TRUE(c.ok);
    ASSERT_EQ(c.doc.records.size(), 2u);
    EXPECT_EQ(c.doc.records[0].data.back(), '\n');
    EXPECT_EQ(c.doc.text, Bytes(4095, 'a') + "\nnext");
}

TEST(DocText, NulDropsTheRestOfItsLine) {
    CTempDir dir;
    const Converted c = ConvertBytes(dir, "book.txt", Bytes("keep\0lost\nnext\n\0\nlast", 22));
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.doc.text, "keepnext\nlast");
}

TEST(DocText, NulInALongLineDropsTheWholeRestOfThatLine) {
    CTempDir dir;
    // The line is longer than one read buffer; everything after the NUL up to its LF goes.
    const Bytes text = "head" + Bytes(1, '\0') + Bytes(10000, 'z') + "\ntail\n";
    const Converted c = ConvertBytes(dir, "book.txt", text);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.doc.text, "headtail\n");
}

TEST(DocText, CtrlZIsAnOrdinaryByte) {
    CTempDir dir;
    const Bytes text = "before\x1a after\n\x1a";
    const Converted c = ConvertBytes(dir, "book.txt", text);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.doc.text, text);
}

// ---- failures ----------------------------------------------------------------------------

TEST(DocFailure, EmptyOrNullPathFails) {
    std::string out;
    EXPECT_FALSE(ConvertTextFile(std::string(), out));
    char buf[doc::kOutPathSize];
    EXPECT_FALSE(ConvertTextFile(nullptr, buf));
    EXPECT_FALSE(ConvertTextFile("", buf));
}

TEST(DocFailure, MissingTextDirectoryOrDeviceCreatesNothing) {
    CTempDir dir;
    ASSERT_EQ(::mkdir((dir / "folder.txt").c_str(), 0700), 0);
    std::string out;
    EXPECT_FALSE(ConvertTextFile(dir / "missing.txt", out));
    EXPECT_FALSE(ConvertTextFile(dir / "folder.txt", out));
    EXPECT_FALSE(ConvertTextFile(std::string("/dev/zero"), out));  // would never end
    EXPECT_EQ(Listing(dir.Path()), std::set<std::string>{"folder.txt"});
}

// Converts in a child whose files may not grow past limit bytes, so that writes of the
// spool and of the database fail there. 1 when the conversion succeeded, 0 when not.
int ConvertWithFileSizeLimit(const std::string& textPath, rlim_t limit) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        std::string out;
        ::_exit(ConvertTextFile(textPath, out) ? 1 : 0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(DocFailure, RefusedRecordsAreLeftOutOfTheCounts) {
    CTempDir dir;
    WriteFile(dir / "book.txt", Bytes(200000, 'w'));
    // Record 0 and 15 text records fit 64 KB of spool; the full records after them are
    // refused, and the short last one fits again.
    ASSERT_EQ(ConvertWithFileSizeLimit(dir / "book.txt", 65536), 1);
    DocContents doc;
    ASSERT_TRUE(ReadDoc(dir / "book.PDB", doc));
    const size_t tail = 200000 % 4096;
    ASSERT_EQ(doc.records.size(), 16u);
    EXPECT_EQ(doc.records.back().data.size(), tail);
    EXPECT_EQ(Be16(doc.header, 8), 16);
    EXPECT_EQ(Be32(doc.header, 4), 15u * 4096 + tail);
    EXPECT_EQ(doc.text.size(), 15u * 4096 + tail);
}

TEST(DocFailure, WriteFailureAtCloseDeletesTheDatabase) {
    CTempDir dir;
    WriteFile(dir / "book.txt", Bytes(200000, 'w'));
    WriteFile(dir / "book.PDB", "taken");
    // Ten records fit the spool, but not the file with its header and entry list.
    EXPECT_EQ(ConvertWithFileSizeLimit(dir / "book.txt", 16 + 10 * 4096 + 50), 0);
    EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"book.txt", "book.PDB"}));
    EXPECT_EQ(ReadFile(dir / "book.PDB"), "taken");
}

TEST(DocFailure, CharBufferGetsThePathOnlyOnSuccess) {
    CTempDir dir;
    WriteFile(dir / "a.txt", "text");
    char out[doc::kOutPathSize] = "unchanged";
    EXPECT_FALSE(ConvertTextFile((dir / "b.txt").c_str(), out));
    EXPECT_STREQ(out, "unchanged");
    ASSERT_TRUE(ConvertTextFile((dir / "a.txt").c_str(), out));
    EXPECT_EQ(std::string(out), dir / "a.PDB");
}

// ---- hostile text ------------------------------------------------------------------------

TEST(DocHostile, BinaryGarbageLongLinesAndNoNewline) {
    CTempDir dir;
    std::mt19937 rng(1234);
    Bytes garbage(300000, '\0');
    for (char& b : garbage) b = char(rng() & 0xFF);
    const Bytes longLine = Bytes(200000, 'L');
    Bytes nulStorm(50000, '\0');
    for (size_t i = 0; i < nulStorm.size(); i += 97) nulStorm[i] = '\n';

    for (const Bytes& text : {garbage, longLine, nulStorm, Bytes("no newline at all")}) {
        const Converted c = ConvertBytes(dir, "hostile.txt", text);
        ASSERT_TRUE(c.ok);
        EXPECT_EQ(c.doc.text, Expected(text));
        EXPECT_EQ(Be32(c.doc.header, 4), Expected(text).size());
        ::unlink(c.outPath.c_str());
    }
}

// ---- an independent reader ---------------------------------------------------------------

// Decodes a DOC database with Debian's txt2pdbdoc; false when it fails.
bool DecodeWithTxt2PdbDoc(const std::string& pdbPath, const std::string& textPath) {
    const std::string cmd = std::string("'") + CC_TXT2PDBDOC + "' -d '" + pdbPath + "' '" +
                            textPath + "' >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

class DocDecoder : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(CC_TXT2PDBDOC).empty()) GTEST_SKIP() << "txt2pdbdoc not installed";
    }

    void CheckRoundTrip(const std::string& textPath) {
        SCOPED_TRACE(textPath);
        const Bytes text = ReadFile(textPath);
        std::string out;
        ASSERT_TRUE(ConvertTextFile(textPath, out));
        const std::string decoded = m_dir / "decoded.out";
        ASSERT_TRUE(DecodeWithTxt2PdbDoc(out, decoded));
        Bytes noCr;
        for (char ch : text)
            if (ch != '\r') noCr += ch;
        EXPECT_EQ(ReadFile(decoded), noCr);
        ::unlink(out.c_str());
        ::unlink(decoded.c_str());
    }

    CTempDir m_dir;
};

TEST_F(DocDecoder, SampleTexts) {
    const std::string folder = std::string(CC_SHARED_DIR) + "/samples/text";
    const auto names = Listing(folder);
    if (names.empty()) GTEST_SKIP() << "no sample texts in " << folder;
    // Converted beside a copy, so the shared folder stays untouched.
    for (const std::string& name : names) {
        WriteFile(m_dir / name, ReadFile(folder + "/" + name));
        CheckRoundTrip(m_dir / name);
    }
}

TEST_F(DocDecoder, GeneratedTexts) {
    std::mt19937 rng(42);
    std::vector<Bytes> texts = {"",
                                "x",
                                Bytes(4096, 'a'),
                                Bytes(8192, 'b'),
                                Bytes(8193, 'c'),
                                "one\r\ntwo\r\nstray\rcr\r\n",
                                "ctrl-z \x1a inside\n"};
    Bytes prose;
    while (prose.size() < 200000) {
        const int len = int(rng() % 120);
        for (int i = 0; i < len; ++i) prose += char(' ' + rng() % 95);
        prose += (rng() % 2) ? "\r\n" : "\n";
    }
    texts.push_back(prose);
    Bytes high;  // every byte but NUL, in all positions
    for (int i = 0; i < 70000; ++i) high += char(1 + rng() % 255);
    texts.push_back(high);
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string path = m_dir / ("gen" + std::to_string(i) + ".txt");
        WriteFile(path, texts[i]);
        CheckRoundTrip(path);
    }
}

}  // namespace
