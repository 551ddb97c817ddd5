// Palm database files (.prc, .pdb, .pqa): reader and writer.
//
// A file is opened either for reading (Open) or for writing (Create), never both.
// The reader checks the header and entry list at open and reads each entry's data
// only when asked; an entry whose offsets do not fit the file fails on its own read,
// so a truncated file still gives every entry that is whole.
// The writer keeps only the entry list in memory and spools entry data to an
// anonymous temporary file; the real file is written when it is closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace pdb {

// Seconds between 1 January 1904 (the handheld's epoch) and 1 January 1970.
inline constexpr int64_t kEpochOffset = 2082844800;

inline constexpr size_t kHeaderSize = 78;
inline constexpr size_t kRecordEntrySize = 8;
inline constexpr size_t kResourceEntrySize = 10;
inline constexpr size_t kMaxNameLength = 31;
inline constexpr size_t kMaxEntries = 0xFFFF;

// Database attribute bits.
inline constexpr uint16_t kAttrResDb = 0x0001;
inline constexpr uint16_t kAttrReadOnly = 0x0002;
inline constexpr uint16_t kAttrAppInfoDirty = 0x0004;
inline constexpr uint16_t kAttrBackup = 0x0008;
inline constexpr uint16_t kAttrOkToInstallNewer = 0x0010;
inline constexpr uint16_t kAttrResetAfterInstall = 0x0020;
inline constexpr uint16_t kAttrCopyPrevention = 0x0040;
inline constexpr uint16_t kAttrStream = 0x0080;
inline constexpr uint16_t kAttrHidden = 0x0100;
inline constexpr uint16_t kAttrOpen = 0x8000;

// Record attribute bits (high nibble of the entry's attribute byte).
inline constexpr uint8_t kRecAttrDeleted = 0x80;
inline constexpr uint8_t kRecAttrDirty = 0x40;
inline constexpr uint8_t kRecAttrBusy = 0x20;
inline constexpr uint8_t kRecAttrSecret = 0x10;
inline constexpr uint8_t kRecAttrArchived = 0x08;

// Results: 0 is success, every failure is negative.
enum Result : int {
    kOk = 0,
    kErrOpen = -1,     // the file cannot be opened or created
    kErrFormat = -2,   // not a Palm database file (header or entry list unusable)
    kErrIndex = -3,    // no entry with that index
    kErrRead = -4,     // the entry's bytes are not (all) in the file
    kErrWrite = -5,    // writing the file or the spool failed
    kErrMode = -6,     // a read on a file being written, or the other way round
    kErrTooMany = -7,  // more than 65,535 entries, or a file past 4 GB
    kErrSize = -8,     // replacement data of another size
};

// Four-character codes are stored big-endian: 'appl' is 0x6170706C.
constexpr uint32_t MakeFourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}
uint32_t FourCCFromText(const std::string& s);  // first four characters, NUL-padded
std::string FourCCToText(uint32_t code);        // always four characters

// The header. Dates are seconds since 1970 (the file's 1904-based value minus kEpochOffset).
struct DbInfo {
    std::string name;  // at most 31 characters are stored
    uint16_t attributes = 0;
    uint16_t version = 0;
    int64_t createDate = 0;
    int64_t modifyDate = 0;
    int64_t backupDate = 0;
    uint32_t modnum = 0;
    uint32_t type = 0;
    uint32_t creator = 0;
    uint32_t uniqueIdSeed = 0;

    bool IsResourceDb() const { return (attributes & kAttrResDb) != 0; }
};

struct Record {
    std::vector<uint8_t> data;
    // High nibble of the file's attribute byte, plus kRecAttrArchived for a deleted or
    // busy record whose 0x08 bit is set (there that bit is not a category bit).
    uint8_t attributes = 0;
    uint8_t category = 0;  // low nibble
    uint32_t uid = 0;      // 24 bits
};

struct Resource {
    std::vector<uint8_t> data;
    uint32_t type = 0;
    uint16_t id = 0;
};

class CPalmDbFile {
  public:
    ~CPalmDbFile();
    CPalmDbFile(const CPalmDbFile&) = delete;
    CPalmDbFile& operator=(const CPalmDbFile&) = delete;

    // Opens an existing file for reading. On failure returns null and, when given,
    // sets *result (kErrOpen or kErrFormat) and *message to a readable reason.
    static std::unique_ptr<CPalmDbFile> Open(const std::string& path, int* result = nullptr,
                                             std::string* message = nullptr);
    // Creates a file for writing with the given header; the destination is created
    // (and truncated) now, so a missing folder fails here, and written at Close.
    static std::unique_ptr<CPalmDbFile> Create(const std::string& path, const DbInfo& info,
                                               int* result = nullptr);

    // Writes the file when it was created for writing; releases everything.
    // Returns kOk or kErrWrite. Closing twice is harmless. The destructor closes too.
    int Close();

    bool IsWriter() const { return m_bWriter; }
    const std::string& Path() const { return m_strPath; }

    // The header as read at open (or given at create). It may be changed in memory:
    // a writer stores the changed values at Close.
    DbInfo& Info() { return m_info; }
    const DbInfo& Info() const { return m_info; }

    // Entries in the file (reader) or appended so far (writer).
    int EntryCount() const;

    // App info and sort info blocks: empty when the file has none.
    int GetAppInfo(std::vector<uint8_t>& out) const;
    int GetSortInfo(std::vector<uint8_t>& out) const;
    int SetAppInfo(const std::vector<uint8_t>& data);  // writer only
    int SetSortInfo(const std::vector<uint8_t>& data);

    // Reader: entry by index. A record on a resource database (or the other way
    // round) is read all the same, as the entry list holds it.
    int ReadRecord(int index, Record& out) const;
    int ReadResource(int index, Resource& out) const;
    // The same reading at most maxBytes from the start of the resource's data, so that a
    // hostile file cannot make a small look-up read a huge entry.
    int ReadResourcePrefix(int index, size_t maxBytes, Resource& out) const;
    // The size of an entry without reading its data; kErrRead when it is not whole.
    int EntrySize(int index, uint32_t& size) const;

    // Writer.
    int AppendRecord(const uint8_t* data, size_t size, uint8_t attributes, uint8_t category,
                     uint32_t uid);
    int AppendRecord(const Record& r) {
        return AppendRecord(r.data.data(), r.data.size(), r.attributes, r.category, r.uid);
    }
    int AppendResource(const uint8_t* data, size_t size, uint32_t type, uint16_t id);
    int AppendResource(const Resource& r) {
        return AppendResource(r.data.data(), r.data.size(), r.type, r.id);
    }
    // Replaces the data of an entry already appended by data of the same size.
    int ReplaceEntryData(int index, const uint8_t* data, size_t size);

  private:
    CPalmDbFile() = default;

    struct Entry {
        uint64_t offset = 0;   // reader: file offset; writer: spool offset
        uint64_t size = 0;     // writer only; the reader derives it
        uint32_t type = 0;     // resource type
        uint16_t id = 0;       // resource id
        uint8_t attrByte = 0;  // record attribute byte (attributes | category)
        uint32_t uid = 0;
    };

    int AppendEntry(const Entry& entry, const uint8_t* data, size_t size);
    int EntryRange(int index, uint64_t& begin, uint64_t& end) const;
    int ReadBytes(uint64_t begin, uint64_t end, std::vector<uint8_t>& out) const;
    int WriteOut();

    bool m_bWriter = false;
    std::string m_strPath;
    std::FILE* m_pFile = nullptr;   // reader: the file; writer: the destination
    std::FILE* m_pSpool = nullptr;  // writer: entry data so far
    uint64_t m_nFileSize = 0;       // reader
    uint64_t m_nSpoolSize = 0;      // writer
    DbInfo m_info;
    uint64_t m_nAppInfoOffset = 0, m_nSortInfoOffset = 0;  // reader; 0 = none
    std::vector<uint8_t> m_appInfo, m_sortInfo;            // writer
    std::vector<Entry> m_entries;
};

}  // namespace pdb
