#include "formats/doc/text_to_doc.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "pdb/palm_db_file.h"
#include "platform/files.h"
#include "platform/path_rules.h"

namespace doc {
namespace {

constexpr char kExtension[] = "PDB";
constexpr uint8_t kNul = 0x00;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Deletes the database file on every path that does not end in success.
class CRemoveOnFailure {
  public:
    explicit CRemoveOnFailure(std::string path) : m_strPath(std::move(path)) {}
    ~CRemoveOnFailure() {
        if (!m_bKeep) platform::RemoveFile(m_strPath);
    }
    CRemoveOnFailure(const CRemoveOnFailure&) = delete;
    CRemoveOnFailure& operator=(const CRemoveOnFailure&) = delete;
    void Keep() { m_bKeep = true; }

  private:
    std::string m_strPath;
    bool m_bKeep = false;
};

// A name is taken when anything answers to it, even a dangling link or a file we may not
// read: only a name that does not exist at all may be written.
bool NameTaken(const std::string& path) {
    if (platform::StatEntry(path).kind != platform::EntryKind::kMissing) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

// Everything up to and including the dot that starts the last component's extension.
std::string PathStem(const std::string& textPath) {
    const size_t nameStart = platform::FileNameStart(textPath);
    const size_t dot = textPath.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return textPath + ".";
    return textPath.substr(0, dot + 1);
}

// Output path for a counter: -1 gives the "PDB" extension, 0 .. 198 give "000" .. "198".
std::string CandidatePath(const std::string& stem, int counter) {
    if (counter < 0) return stem + kExtension;
    const char digits[] = {char('0' + counter / 100 % 10), char('0' + counter / 10 % 10),
                           char('0' + counter % 10), '\0'};
    return stem + digits;
}

// Claims a free output name: the file is created empty and exclusively, so a name that
// turned up since it was tested is never overwritten. Empty when none is left.
std::string ClaimOutputPath(const std::string& textPath) {
    const std::string stem = PathStem(textPath);
    for (int counter = -1; counter <= kLastCounter; ++counter) {
        const std::string candidate = CandidatePath(stem, counter);
        if (candidate.size() + 1 > kOutPathSize) return {};
        if (NameTaken(candidate)) continue;
        if (std::FILE* f = platform::CreateNewFile(candidate)) {
            std::fclose(f);
            return candidate;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

// Opens the text for reading. Only a regular file qualifies: a device or a pipe could feed
// the converter without end.
std::FILE* OpenText(const std::string& textPath) {
    return platform::OpenPlainFile(textPath);
}

using HeaderRecord = std::array<uint8_t, kHeaderRecordSize>;

HeaderRecord EncodeHeaderRecord(uint32_t textLength, uint16_t recordCount) {
    HeaderRecord r{};
    Put16(&r[kOffVersion], kVersionUncompressed);
    Put16(&r[kOffReserved], 0);
    Put32(&r[kOffTextLength], textLength);
    Put16(&r[kOffRecordCount], recordCount);
    Put16(&r[kOffRecordSize], uint16_t(kRecordSize));
    Put32(&r[kOffPosition], 0);
    return r;
}

// The last component of the output path without its last extension, cut to 31 characters.
std::string DatabaseNameFor(const std::string& outPath) {
    std::string name = outPath.substr(platform::FileNameStart(outPath));
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    if (name.size() > pdb::kMaxNameLength) name.resize(pdb::kMaxNameLength);
    return name;
}

pdb::DbInfo MakeDbInfo(const std::string& outPath) {
    pdb::DbInfo info;
    info.name = DatabaseNameFor(outPath);
    info.attributes = 0;
    info.version = 0;
    info.type = pdb::MakeFourCC(kTypeText);
    info.creator = pdb::MakeFourCC(kCreatorReader);
    const int64_t now = int64_t(std::time(nullptr));
    info.createDate = now;
    info.modifyDate = now;
    info.backupDate = -pdb::kEpochOffset;  // stored as 0: never backed up
    info.modnum = 0;
    return info;
}

// Collects text bytes into 4,096-byte records and appends each full one.
class CRecordSink {
  public:
    explicit CRecordSink(pdb::CPalmDbFile& db) : m_db(db) {}

    void Put(const uint8_t* data, size_t size) {
        while (size > 0) {
            const size_t n = std::min(size, kRecordSize - m_nFill);
            std::memcpy(m_buffer.data() + m_nFill, data, n);
            m_nFill += n;
            data += n;
            size -= n;
            if (m_nFill == kRecordSize) Flush();
        }
    }

    // Appends what the buffer holds. A record the writer refuses is left out of the counts;
    // the buffer starts again empty either way.
    void Flush() {
        if (m_nFill == 0) return;
        if (m_db.AppendRecord(m_buffer.data(), m_nFill, 0, 0, 0) == pdb::kOk) {
            ++m_nRecords;
            m_nTextLength += uint32_t(m_nFill);
        }
        m_nFill = 0;
    }

    uint32_t TextLength() const { return m_nTextLength; }
    uint16_t Records() const { return m_nRecords; }

  private:
    pdb::CPalmDbFile& m_db;
    std::array<uint8_t, kRecordSize> m_buffer{};
    size_t m_nFill = 0;
    uint32_t m_nTextLength = 0;  // at most 65,534 records of 4,096 bytes: fits
    uint16_t m_nRecords = 0;     // the writer holds at most 65,535 entries, record 0 included
};

// Position of the first c in [from, end), or end.
const uint8_t* Find(const uint8_t* from, const uint8_t* end, uint8_t c) {
    const void* p = std::memchr(from, c, size_t(end - from));
    return p ? static_cast<const uint8_t*>(p) : end;
}

// Streams the text into the sink: CR bytes are dropped, and a NUL drops the rest of its
// line up to and including the line's LF. Runs between those bytes are copied whole.
// False on a read error.
bool StreamText(std::FILE* text, CRecordSink& sink) {
    std::array<uint8_t, kLineBufferSize> line;
    bool skipLine = false;
    for (;;) {
        const size_t got = std::fread(line.data(), 1, line.size(), text);
        if (got == 0) return !std::ferror(text);
        const uint8_t* p = line.data();
        const uint8_t* const end = p + got;
        const uint8_t* nextCr = nullptr;  // found lazily, kept while still ahead
        const uint8_t* nextNul = nullptr;
        while (p < end) {
            if (skipLine) {
                const uint8_t* lf = Find(p, end, kLf);
                skipLine = lf == end;
                p = lf == end ? end : lf + 1;
                continue;
            }
            if (!nextCr || nextCr < p) nextCr = Find(p, end, kCr);
            if (!nextNul || nextNul < p) nextNul = Find(p, end, kNul);
            const uint8_t* stop = std::min(nextCr, nextNul);
            sink.Put(p, size_t(stop - p));
            if (stop == end) break;
            skipLine = stop == nextNul;
            p = stop + 1;
        }
    }
}

}  // namespace

}  // namespace doc

bool ConvertTextFile(const std::string& strTextPath, std::string& strOutPath) {
    using namespace doc;
    if (strTextPath.empty()) return false;

    const platform::FilePtr text(OpenText(strTextPath));
    if (!text) return false;

    const std::string outPath = ClaimOutputPath(strTextPath);
    if (outPath.empty()) return false;
    CRemoveOnFailure removeOnFailure(outPath);

    auto db = pdb::CPalmDbFile::Create(outPath, MakeDbInfo(outPath));
    if (!db) return false;

    // Record 0 goes first with zero counts and is completed once the text is in.
    HeaderRecord header = EncodeHeaderRecord(0, 0);
    if (db->AppendRecord(header.data(), header.size(), 0, 0, 0) != pdb::kOk) return false;

    CRecordSink sink(*db);
    if (!StreamText(text.get(), sink)) return false;
    sink.Flush();

    header = EncodeHeaderRecord(sink.TextLength(), sink.Records());
    if (db->ReplaceEntryData(0, header.data(), header.size()) != pdb::kOk) return false;
    if (db->Close() != pdb::kOk) return false;

    removeOnFailure.Keep();
    strOutPath = outPath;
    return true;
}

bool ConvertTextFile(const char* pszTextPath, char* pszOutPath) {
    if (!pszTextPath || !pszOutPath) return false;
    std::string outPath;
    if (!ConvertTextFile(std::string(pszTextPath), outPath)) return false;
    // The output path was chosen to fit the buffer.
    std::memcpy(pszOutPath, outPath.c_str(), outPath.size() + 1);
    return true;
}
