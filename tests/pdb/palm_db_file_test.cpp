#include "pdb/palm_db_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using pdb::CPalmDbFile;
using pdb::DbInfo;

namespace {

class TempDir {
  public:
    std::string operator/(const std::string& name) const { return m_folder.File(name); }
    const std::string& path() const { return m_folder.Path(); }

  private:
    testsupport::CTempFolder m_folder{"cc-pdb"};
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
}

DbInfo SampleInfo(bool resource) {
    DbInfo info;
    info.name = "Round Trip";
    info.attributes = resource ? pdb::kAttrResDb | pdb::kAttrBackup : pdb::kAttrBackup;
    info.version = 3;
    info.createDate = 1000000000;
    info.modifyDate = 1100000000;
    info.backupDate = -pdb::kEpochOffset;  // never
    info.modnum = 42;
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("Test");
    info.uniqueIdSeed = 0x123456;
    return info;
}

void ExpectSameInfo(const DbInfo& a, const DbInfo& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.createDate, b.createDate);
    EXPECT_EQ(a.modifyDate, b.modifyDate);
    EXPECT_EQ(a.backupDate, b.backupDate);
    EXPECT_EQ(a.modnum, b.modnum);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.creator, b.creator);
    EXPECT_EQ(a.uniqueIdSeed, b.uniqueIdSeed);
}

// Copies every field and entry of one file into a new one, as a backup copy does.
void CopyDatabase(const std::string& from, const std::string& to) {
    auto in = CPalmDbFile::Open(from);
    ASSERT_TRUE(in) << from;
    auto out = CPalmDbFile::Create(to, in->Info());
    ASSERT_TRUE(out) << to;
    std::vector<uint8_t> block;
    ASSERT_EQ(in->GetAppInfo(block), pdb::kOk);
    out->SetAppInfo(block);
    ASSERT_EQ(in->GetSortInfo(block), pdb::kOk);
    out->SetSortInfo(block);
    for (int i = 0; i < in->EntryCount(); ++i) {
        if (in->Info().IsResourceDb()) {
            pdb::Resource r;
            ASSERT_EQ(in->ReadResource(i, r), pdb::kOk);
            ASSERT_EQ(out->AppendResource(r), pdb::kOk);
        } else {
            pdb::Record r;
            ASSERT_EQ(in->ReadRecord(i, r), pdb::kOk);
            ASSERT_EQ(out->AppendRecord(r), pdb::kOk);
        }
    }
    ASSERT_EQ(out->Close(), pdb::kOk);
}

std::string Shared(const std::string& rel) {
    return std::string(CC_SHARED_DIR) + "/" + rel;
}

}  // namespace

TEST(PalmDbFile, FourCharacterCodes) {
    EXPECT_EQ(pdb::MakeFourCC("appl"), 0x6170706Cu);
    EXPECT_EQ(pdb::FourCCFromText("appl"), 0x6170706Cu);
    EXPECT_EQ(pdb::FourCCFromText("ab"), 0x61620000u);
    EXPECT_EQ(pdb::FourCCToText(0x6170706C), "appl");
    EXPECT_EQ(pdb::FourCCToText(0).size(), 4u);
}

TEST(PalmDbFile, RecordDatabaseRoundTrip) {
    TempDir dir;
    const DbInfo info = SampleInfo(false);
    const std::vector<uint8_t> app = Pattern(282, 1), sort = Pattern(17, 2);
    std::vector<pdb::Record> records;
    for (int i = 0; i < 5; ++i) {
        pdb::Record r;
        r.data = Pattern(size_t(i) * 300, uint8_t(i));  // the first is empty
        r.attributes = uint8_t(i % 2 ? pdb::kRecAttrDirty : pdb::kRecAttrSecret);
        r.category = uint8_t(i * 3 % 16);
        r.uid = 0xABCDE0u + uint32_t(i);
        records.push_back(r);
    }
    {
        auto db = CPalmDbFile::Create(dir / "r.pdb", info);
        ASSERT_TRUE(db);
        EXPECT_EQ(db->SetAppInfo(app), pdb::kOk);
        EXPECT_EQ(db->SetSortInfo(sort), pdb::kOk);
        for (const auto& r : records) ASSERT_EQ(db->AppendRecord(r), pdb::kOk);
        EXPECT_EQ(db->ReadRecord(0, records[0]), pdb::kErrMode);
        ASSERT_EQ(db->Close(), pdb::kOk);
    }
    auto db = CPalmDbFile::Open(dir / "r.pdb");
    ASSERT_TRUE(db);
    ExpectSameInfo(db->Info(), info);
    std::vector<uint8_t> block;
    ASSERT_EQ(db->GetAppInfo(block), pdb::kOk);
    EXPECT_EQ(block, app);
    ASSERT_EQ(db->GetSortInfo(block), pdb::kOk);
    EXPECT_EQ(block, sort);
    ASSERT_EQ(db->EntryCount(), 5);
    for (int i = 0; i < 5; ++i) {
        pdb::Record r;
        ASSERT_EQ(db->ReadRecord(i, r), pdb::kOk);
        EXPECT_EQ(r.data, records[size_t(i)].data);
        EXPECT_EQ(r.attributes, records[size_t(i)].attributes);
        EXPECT_EQ(r.category, records[size_t(i)].category);
        EXPECT_EQ(r.uid, records[size_t(i)].uid);
    }
    pdb::Record none;
    EXPECT_EQ(db->ReadRecord(5, none), pdb::kErrIndex);
    EXPECT_EQ(db->ReadRecord(-1, none), pdb::kErrIndex);

    // Standard layout: header, list, two filler bytes, app info, sort info, data.
    const auto bytes = ReadAll(dir / "r.pdb");
    const size_t first = 78 + 5 * 8 + 2;
    ASSERT_GE(bytes.size(), first + app.size() + sort.size());
    EXPECT_EQ(bytes[78 + 40], 0);
    EXPECT_EQ(bytes[78 + 41], 0);
    EXPECT_EQ((bytes[52] << 24 | bytes[53] << 16 | bytes[54] << 8 | bytes[55]), int(first));
    EXPECT_EQ(bytes.size(), first + app.size() + sort.size() + 300 + 600 + 900 + 1200);
}

TEST(PalmDbFile, ResourceDatabaseRoundTripWithLargestResource) {
    TempDir dir;
    DbInfo info = SampleInfo(true);
    info.type = pdb::MakeFourCC("appl");
    std::vector<pdb::Resource> resources = {
        {Pattern(65536, 9), pdb::MakeFourCC("code"), 1},
        {{}, pdb::MakeFourCC("tSTR"), 1000},
        {{'3', '.', '5', 0}, pdb::MakeFourCC("tver"), 1000},
    };
    {
        auto db = CPalmDbFile::Create(dir / "a.prc", info);
        ASSERT_TRUE(db);
        for (const auto& r : resources) ASSERT_EQ(db->AppendResource(r), pdb::kOk);
        ASSERT_EQ(db->Close(), pdb::kOk);
    }
    auto db = CPalmDbFile::Open(dir / "a.prc");
    ASSERT_TRUE(db);
    ExpectSameInfo(db->Info(), info);
    std::vector<uint8_t> block{1};
    ASSERT_EQ(db->GetAppInfo(block), pdb::kOk);
    EXPECT_TRUE(block.empty());
    ASSERT_EQ(db->EntryCount(), 3);
    for (int i = 0; i < 3; ++i) {
        pdb::Resource r;
        ASSERT_EQ(db->ReadResource(i, r), pdb::kOk);
        EXPECT_EQ(r.data, resources[size_t(i)].data);
        EXPECT_EQ(r.type, resources[size_t(i)].type);
        EXPECT_EQ(r.id, resources[size_t(i)].id);
        uint32_t size = 0;
        ASSERT_EQ(db->EntrySize(i, size), pdb::kOk);
        EXPECT_EQ(size, resources[size_t(i)].data.size());
    }
}

TEST(PalmDbFile, EmptyDatabaseAndLongName) {
    TempDir dir;
    DbInfo info = SampleInfo(false);
    info.name = std::string(40, 'N');
    {
        auto db = CPalmDbFile::Create(dir / "e.pdb", info);
        ASSERT_TRUE(db);
        ASSERT_EQ(db->Close(), pdb::kOk);
        EXPECT_EQ(db->Close(), pdb::kOk);  // twice is harmless
    }
    EXPECT_EQ(ReadAll(dir / "e.pdb").size(), 80u);
    auto db = CPalmDbFile::Open(dir / "e.pdb");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->Info().name, std::string(31, 'N'));
    EXPECT_EQ(db->EntryCount(), 0);
}

TEST(PalmDbFile, DatesCountFrom1904InTheFile) {
    TempDir dir;
    DbInfo info = SampleInfo(false);
    info.createDate = 0;                   // 1970 is 2,082,844,800 in the file
    info.modifyDate = -pdb::kEpochOffset;  // 0 in the file
    info.backupDate = 978307200;           // 2001-01-01
    {
        auto db = CPalmDbFile::Create(dir / "d.pdb", info);
        ASSERT_TRUE(db);
        ASSERT_EQ(db->Close(), pdb::kOk);
    }
    const auto b = ReadAll(dir / "d.pdb");
    auto u32 = [&](size_t o) {
        return uint32_t(b[o] << 24 | b[o + 1] << 16 | b[o + 2] << 8 | b[o + 3]);
    };
    EXPECT_EQ(u32(36), 2082844800u);
    EXPECT_EQ(u32(40), 0u);
    EXPECT_EQ(u32(44), uint32_t(978307200 + 2082844800ll));

    // A header changed in memory after open is what a copy stores.
    auto in = CPalmDbFile::Open(dir / "d.pdb");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->Info().createDate, 0);
    in->Info().createDate -= pdb::kEpochOffset;
    auto out = CPalmDbFile::Create(dir / "copy.pdb", in->Info());
    ASSERT_TRUE(out);
    ASSERT_EQ(out->Close(), pdb::kOk);
    const auto c = ReadAll(dir / "copy.pdb");
    EXPECT_EQ(uint32_t(c[36] << 24 | c[37] << 16 | c[38] << 8 | c[39]), 0u);
}

TEST(PalmDbFile, ReplaceEntryDataInPlace) {
    TempDir dir;
    auto db = CPalmDbFile::Create(dir / "p.pdb", SampleInfo(false));
    ASSERT_TRUE(db);
    const std::vector<uint8_t> zero(16, 0), done = Pattern(16, 5);
    ASSERT_EQ(db->AppendRecord(zero.data(), zero.size(), 0, 0, 0), pdb::kOk);
    ASSERT_EQ(db->AppendRecord(Pattern(4096, 1).data(), 4096, 0, 0, 0), pdb::kOk);
    EXPECT_EQ(db->ReplaceEntryData(0, done.data(), 15), pdb::kErrSize);
    EXPECT_EQ(db->ReplaceEntryData(2, done.data(), 16), pdb::kErrIndex);
    ASSERT_EQ(db->ReplaceEntryData(0, done.data(), 16), pdb::kOk);
    ASSERT_EQ(db->Close(), pdb::kOk);
    auto in = CPalmDbFile::Open(dir / "p.pdb");
    ASSERT_TRUE(in);
    pdb::Record r;
    ASSERT_EQ(in->ReadRecord(0, r), pdb::kOk);
    EXPECT_EQ(r.data, done);
    ASSERT_EQ(in->ReadRecord(1, r), pdb::kOk);
    EXPECT_EQ(r.data, Pattern(4096, 1));
}

TEST(PalmDbFile, ArchivedBitOnlyOnDeletedOrBusyRecords) {
    TempDir dir;
    auto db = CPalmDbFile::Create(dir / "a.pdb", SampleInfo(false));
    ASSERT_TRUE(db);
    const uint8_t x = 1;
    // deleted + archived, a live record of category 8, busy + archived in category 3
    ASSERT_EQ(db->AppendRecord(&x, 1, pdb::kRecAttrDeleted | pdb::kRecAttrArchived, 0, 1),
              pdb::kOk);
    ASSERT_EQ(db->AppendRecord(&x, 1, pdb::kRecAttrDirty, 8, 2), pdb::kOk);
    ASSERT_EQ(db->AppendRecord(&x, 1, pdb::kRecAttrBusy | pdb::kRecAttrArchived, 3, 3), pdb::kOk);
    ASSERT_EQ(db->Close(), pdb::kOk);
    auto in = CPalmDbFile::Open(dir / "a.pdb");
    ASSERT_TRUE(in);
    pdb::Record r;
    ASSERT_EQ(in->ReadRecord(0, r), pdb::kOk);
    EXPECT_EQ(r.attributes, pdb::kRecAttrDeleted | pdb::kRecAttrArchived);
    ASSERT_EQ(in->ReadRecord(1, r), pdb::kOk);
    EXPECT_EQ(r.attributes, pdb::kRecAttrDirty);
    EXPECT_EQ(r.category, 8);
    ASSERT_EQ(in->ReadRecord(2, r), pdb::kOk);
    EXPECT_EQ(r.attributes, pdb::kRecAttrBusy | pdb::kRecAttrArchived);
    EXPECT_EQ(r.category & 0x07, 3);
}

TEST(PalmDbFile, CreateFailsWhenTheFolderIsMissing) {
    int rc = 0;
    EXPECT_FALSE(CPalmDbFile::Create("/nonexistent-folder/x.pdb", SampleInfo(false), &rc));
    EXPECT_EQ(rc, pdb::kErrOpen);
}

// ---- bad input ----

TEST(PalmDbFileBadInput, UnopenableFiles) {
    TempDir dir;
    int rc = 0;
    std::string message;
    EXPECT_FALSE(CPalmDbFile::Open(dir / "missing.pdb", &rc, &message));
    EXPECT_EQ(rc, pdb::kErrOpen);
    EXPECT_NE(message.find("missing.pdb"), std::string::npos);
    EXPECT_FALSE(CPalmDbFile::Open(dir.path(), &rc));  // a directory
    EXPECT_EQ(rc, pdb::kErrOpen);
    WriteAll(dir / "zero.pdb", {});
    EXPECT_FALSE(CPalmDbFile::Open(dir / "zero.pdb", &rc));
    EXPECT_EQ(rc, pdb::kErrFormat);
    EXPECT_FALSE(CPalmDbFile::Open(""));
}

TEST(PalmDbFileBadInput, EveryTruncationOpensCleanlyOrFails) {
    TempDir dir;
    {
        auto db = CPalmDbFile::Create(dir / "full.pdb", SampleInfo(false));
        ASSERT_TRUE(db);
        db->SetAppInfo(Pattern(50, 3));
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(db->AppendRecord(Pattern(100, uint8_t(i)).data(), 100, 0, 0, uint32_t(i)),
                      pdb::kOk);
        ASSERT_EQ(db->Close(), pdb::kOk);
    }
    const auto full = ReadAll(dir / "full.pdb");
    const size_t firstData = 78 + 4 * 8 + 2 + 50;
    for (size_t len = 0; len < full.size(); ++len) {
        WriteAll(dir / "cut.pdb", std::vector<uint8_t>(full.begin(), full.begin() + long(len)));
        auto db = CPalmDbFile::Open(dir / "cut.pdb");
        // Up to the app info block the header points past the end: damaged.
        if (len < 78 + 4 * 8 + 2) {
            EXPECT_FALSE(db) << len;
            continue;
        }
        ASSERT_TRUE(db) << len;
        // Entries that lie wholly before the cut are read; the last whole-looking one
        // may be short, as nothing in the file says where it ended.
        for (int i = 0; i < 4; ++i) {
            pdb::Record r;
            const int rc = db->ReadRecord(i, r);
            const size_t begin = firstData + size_t(i) * 100;
            if (begin + 100 <= len && i < 3) {
                EXPECT_EQ(rc, pdb::kOk) << len << " entry " << i;
                EXPECT_EQ(r.data, Pattern(100, uint8_t(i)));
            } else if (begin > len) {
                EXPECT_EQ(rc, pdb::kErrRead) << len << " entry " << i;
            }
        }
        std::vector<uint8_t> app;
        const int rc = db->GetAppInfo(app);
        if (len >= firstData) {
            EXPECT_EQ(rc, pdb::kOk);
        }
    }
}

TEST(PalmDbFileBadInput, HostileHeaders) {
    TempDir dir;
    std::vector<uint8_t> h(78, 0);
    std::memcpy(h.data(), "Hostile", 7);
    // An absurd entry count with no list behind it.
    h[76] = 0xFF;
    h[77] = 0xFF;
    WriteAll(dir / "count.pdb", h);
    int rc = 0;
    EXPECT_FALSE(CPalmDbFile::Open(dir / "count.pdb", &rc));
    EXPECT_EQ(rc, pdb::kErrFormat);

    // Two records, offsets out of order and past the end.
    std::vector<uint8_t> f(78 + 16 + 2 + 10, 0);
    std::memcpy(f.data(), "Order", 5);
    f[77] = 2;
    auto put32 = [&](size_t o, uint32_t v) {
        f[o] = uint8_t(v >> 24);
        f[o + 1] = uint8_t(v >> 16);
        f[o + 2] = uint8_t(v >> 8);
        f[o + 3] = uint8_t(v);
    };
    put32(78, 100);  // second's offset is smaller: first has a negative size
    put32(78 + 8, 96);
    WriteAll(dir / "order.pdb", f);
    auto db = CPalmDbFile::Open(dir / "order.pdb");
    ASSERT_TRUE(db);
    pdb::Record r;
    EXPECT_EQ(db->ReadRecord(0, r), pdb::kErrRead);
    EXPECT_EQ(db->ReadRecord(1, r), pdb::kOk);
    EXPECT_EQ(r.data.size(), 10u);

    put32(78, 96);
    put32(78 + 8, 0xFFFFFFF0u);  // far past the end of the file
    WriteAll(dir / "past.pdb", f);
    db = CPalmDbFile::Open(dir / "past.pdb");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->ReadRecord(0, r), pdb::kErrRead);
    EXPECT_EQ(db->ReadRecord(1, r), pdb::kErrRead);

    put32(78 + 8, 20);  // an offset inside the header
    WriteAll(dir / "inside.pdb", f);
    db = CPalmDbFile::Open(dir / "inside.pdb");
    ASSERT_TRUE(db);
    EXPECT_EQ(db->ReadRecord(1, r), pdb::kErrRead);

    put32(52, 0xFFFFFF00u);  // app info past the end
    WriteAll(dir / "app.pdb", f);
    EXPECT_FALSE(CPalmDbFile::Open(dir / "app.pdb", &rc));
    EXPECT_EQ(rc, pdb::kErrFormat);
}

TEST(PalmDbFileBadInput, RandomBytesNeverCrash) {
    TempDir dir;
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes(size_t(rng() % 400));
        for (auto& b : bytes) b = uint8_t(rng());
        if (bytes.size() > 77 && round % 2) {
            bytes[76] = 0;
            bytes[77] = uint8_t(rng() % 8);
            bytes[72] = bytes[73] = bytes[74] = bytes[75] = 0;
        }
        WriteAll(dir / "rand.pdb", bytes);
        auto db = CPalmDbFile::Open(dir / "rand.pdb");
        if (!db) continue;
        std::vector<uint8_t> block;
        db->GetAppInfo(block);
        db->GetSortInfo(block);
        for (int i = 0; i < db->EntryCount(); ++i) {
            pdb::Record r;
            pdb::Resource s;
            db->ReadRecord(i, r);
            db->ReadResource(i, s);
            EXPECT_LE(r.data.size(), bytes.size());
            EXPECT_LE(s.data.size(), bytes.size());
        }
    }
}

// ---- real files no one here wrote ----

struct SampleFact {
    const char* file;
    const char* name;
    const char* type;
    const char* creator;
    int count;
    size_t appInfo;
};

TEST(PalmDbFileSamples, HeadersAndEntryCounts) {
    const SampleFact facts[] = {
        {"meminfo.prc", "Mem Info", "appl", "MemI", 9, 0},
        {"mulg.prc", "Mulg", "appl", "Mulg", 25, 0},
        {"mulg.pdb", "Classic Mulg", "Levl", "Mulg", 18, 0},
        {"nostreak.prc", "No Streak Hack", "HACK", "NStr", 6, 0},
        {"PBrickLib.prc", "PBrick Library", "libr", "PLib", 2, 0},
        {"nettest.prc", "NetTest", "appl", "SPCK", 5, 0},
        {"MiniGolf_lowres.prc", "MiniGolf", "appl", "CGLF", 61, 0},
        {"MemoDB.pdb", "MemoDB", "DATA", "memo", 5, 282},
        {"ToDoDB.pdb", "ToDoDB", "DATA", "todo", 3, 282},
        {"AddressDB-PalmV-FR.pdb", "AddressDB", "DATA", "addr", 2, 638},
        {"ExpenseDB.pdb", "ExpenseDB", "DATA", "exps", 0, 392},
        {"bookmark_test.pdb", "Bookmark Test", "TEXt", "REAd", 4, 0},
        {"asyoulik_txt2pdbdoc.pdb", "As You Like It", "TEXt", "REAd", 32, 0},
    };
    if (!fs::exists(Shared("samples/palm"))) GTEST_SKIP() << "no shared samples";
    for (const auto& f : facts) {
        SCOPED_TRACE(f.file);
        std::string message;
        auto db =
            CPalmDbFile::Open(Shared(std::string("samples/palm/") + f.file), nullptr, &message);
        ASSERT_TRUE(db) << message;
        EXPECT_EQ(db->Info().name, f.name);
        EXPECT_EQ(pdb::FourCCToText(db->Info().type), f.type);
        EXPECT_EQ(pdb::FourCCToText(db->Info().creator), f.creator);
        EXPECT_EQ(db->EntryCount(), f.count);
        std::vector<uint8_t> app;
        ASSERT_EQ(db->GetAppInfo(app), pdb::kOk);
        EXPECT_EQ(app.size(), f.appInfo);
        for (int i = 0; i < db->EntryCount(); ++i) {
            uint32_t size = 0;
            EXPECT_EQ(db->EntrySize(i, size), pdb::kOk) << i;
        }
    }
    // The DOC file from another tool has no filler after its list; its header record
    // says how much text follows.
    auto doc = CPalmDbFile::Open(Shared("samples/palm/asyoulik_txt2pdbdoc.pdb"));
    ASSERT_TRUE(doc);
    pdb::Record r0;
    ASSERT_EQ(doc->ReadRecord(0, r0), pdb::kOk);
    ASSERT_EQ(r0.data.size(), 16u);
    EXPECT_EQ(r0.data[0] << 8 | r0.data[1], 2);
    EXPECT_EQ(uint32_t(r0.data[4] << 24 | r0.data[5] << 16 | r0.data[6] << 8 | r0.data[7]),
              125179u);
}

TEST(PalmDbFileSamples, CopiesAreByteIdenticalInTheirEntries) {
    if (!fs::exists(Shared("samples/palm"))) GTEST_SKIP() << "no shared samples";
    TempDir dir;
    for (const auto& entry : fs::directory_iterator(Shared("samples/palm"))) {
        SCOPED_TRACE(entry.path().string());
        const std::string copy = dir / entry.path().filename().string();
        CopyDatabase(entry.path().string(), copy);
        auto a = CPalmDbFile::Open(entry.path().string());
        auto b = CPalmDbFile::Open(copy);
        ASSERT_TRUE(a && b);
        ExpectSameInfo(a->Info(), b->Info());
        ASSERT_EQ(a->EntryCount(), b->EntryCount());
        for (int i = 0; i < a->EntryCount(); ++i) {
            pdb::Resource x, y;
            ASSERT_EQ(a->ReadResource(i, x), pdb::kOk);
            ASSERT_EQ(b->ReadResource(i, y), pdb::kOk);
            EXPECT_EQ(x.data, y.data);
        }
    }
}

namespace {

std::string RunPerlReader(const std::string& path) {
    const std::string cmd = "perl '" + std::string(CC_SOURCE_DIR) +
                            "/tests/pdb/palm_pdb_dump.pl' '" + path + "' 2>/dev/null";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

std::string OurView(const std::string& path) {
    auto db = CPalmDbFile::Open(path);
    if (!db) return "open failed";
    const DbInfo& i = db->Info();
    std::ostringstream s;
    std::vector<uint8_t> app, sort;
    db->GetAppInfo(app);
    db->GetSortInfo(sort);
    s << "name=" << i.name << "\ntype=" << pdb::FourCCToText(i.type)
      << "\ncreator=" << pdb::FourCCToText(i.creator) << "\nattributes=" << i.attributes
      << "\nversion=" << i.version << "\nmodnum=" << i.modnum << "\nappinfo=" << app.size()
      << "\nsortinfo=" << sort.size() << "\ncount=" << db->EntryCount() << "\n";
    for (int n = 0; n < db->EntryCount(); ++n) {
        if (i.IsResourceDb()) {
            pdb::Resource r;
            db->ReadResource(n, r);
            s << "resource type=" << pdb::FourCCToText(r.type) << " id=" << r.id
              << " size=" << r.data.size() << "\n";
        } else {
            pdb::Record r;
            db->ReadRecord(n, r);
            s << "record attr=" << int(r.attributes & 0xF0) << " cat=" << int(r.category)
              << " uid=" << r.uid << " size=" << r.data.size() << "\n";
        }
    }
    return s.str();
}

bool HavePalmPerl() {
    return std::system("perl -MPalm::PDB -e1 >/dev/null 2>&1") == 0;
}

}  // namespace

// Debian's Palm::PDB, an independent reader, sees in our copies what we wrote.
TEST(PalmDbFileSamples, IndependentReaderAgreesWithOurCopies) {
    if (!fs::exists(Shared("samples/palm"))) GTEST_SKIP() << "no shared samples";
    if (!HavePalmPerl()) GTEST_SKIP() << "Palm::PDB not installed";
    TempDir dir;
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(Shared("samples/palm"))) {
        SCOPED_TRACE(entry.path().string());
        const std::string copy = dir / entry.path().filename().string();
        CopyDatabase(entry.path().string(), copy);
        // Palm::PDB reads category only for records that are not deleted or busy.
        std::string theirs = RunPerlReader(copy);
        EXPECT_EQ(theirs, OurView(copy));
        ++checked;
    }
    EXPECT_GE(checked, 13);
}

TEST(PalmDbFileSamples, IndependentReaderAgreesWithWrittenFiles) {
    if (!HavePalmPerl()) GTEST_SKIP() << "Palm::PDB not installed";
    TempDir dir;
    DbInfo info = SampleInfo(false);
    info.name = "Written Here";
    {
        auto db = CPalmDbFile::Create(dir / "w.pdb", info);
        ASSERT_TRUE(db);
        db->SetAppInfo(Pattern(40, 1));
        db->SetSortInfo(Pattern(8, 2));
        for (int i = 0; i < 3; ++i)
            db->AppendRecord(Pattern(size_t(i) * 10, 1).data(), size_t(i) * 10, pdb::kRecAttrDirty,
                             uint8_t(i), uint32_t(100 + i));
        ASSERT_EQ(db->Close(), pdb::kOk);
    }
    EXPECT_EQ(RunPerlReader(dir / "w.pdb"), OurView(dir / "w.pdb"));
}
