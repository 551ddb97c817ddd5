#include "pdb/palm_db_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace pdb {
namespace {

// Header field offsets.
constexpr size_t kOffName = 0;
constexpr size_t kOffAttributes = 32;
constexpr size_t kOffVersion = 34;
constexpr size_t kOffCreateDate = 36;
constexpr size_t kOffModifyDate = 40;
constexpr size_t kOffBackupDate = 44;
constexpr size_t kOffModnum = 48;
constexpr size_t kOffAppInfo = 52;
constexpr size_t kOffSortInfo = 56;
constexpr size_t kOffType = 60;
constexpr size_t kOffCreator = 64;
constexpr size_t kOffUniqueIdSeed = 68;
constexpr size_t kOffNextList = 72;
constexpr size_t kOffCount = 76;

// Conventional filler between the entry list and the first block.
constexpr size_t kFillerSize = 2;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

uint16_t Get16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
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

// The file counts from 1904 in 32 bits; the caller sees seconds since 1970.
int64_t DateFromFile(uint32_t v) {
    return int64_t(v) - kEpochOffset;
}
uint32_t DateToFile(int64_t t) {
    return uint32_t(uint64_t(t + kEpochOffset));
}

bool SeekTo(std::FILE* f, uint64_t offset) {
    return platform::SeekTo(f, offset);
}

bool ReadExact(std::FILE* f, uint8_t* buf, size_t n) {
    return std::fread(buf, 1, n, f) == n;
}
bool WriteExact(std::FILE* f, const uint8_t* buf, size_t n) {
    return n == 0 || std::fwrite(buf, 1, n, f) == n;
}

// The file keeps attributes and category in one byte. Bit 0x08 is the top category
// bit, except on a deleted or busy record, where the handheld uses it as "archived".
uint8_t RecordAttributes(uint8_t byte) {
    uint8_t attributes = byte & 0xF0;
    if (byte & (kRecAttrDeleted | kRecAttrBusy)) attributes |= byte & kRecAttrArchived;
    return attributes;
}
uint8_t AttributeByte(uint8_t attributes, uint8_t category) {
    uint8_t byte = uint8_t((attributes & 0xF0) | (category & 0x0F));
    if ((attributes & kRecAttrArchived) && (attributes & (kRecAttrDeleted | kRecAttrBusy))) {
        byte |= kRecAttrArchived;
    }
    return byte;
}

void SetMessage(std::string* message, const std::string& text) {
    if (message) *message = text;
}

}  // namespace

uint32_t FourCCFromText(const std::string& s) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | (i < s.size() ? uint8_t(s[i]) : 0);
    return v;
}

std::string FourCCToText(uint32_t code) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[size_t(i)] = char((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

CPalmDbFile::~CPalmDbFile() {
    Close();
}

std::unique_ptr<CPalmDbFile> CPalmDbFile::Open(const std::string& path, int* result,
                                               std::string* message) {
    auto fail = [&](int code, const std::string& text) -> std::unique_ptr<CPalmDbFile> {
        if (result) *result = code;
        SetMessage(message, path + ": " + text);
        return nullptr;
    };
    if (path.empty()) return fail(kErrOpen, "no file name");

    const platform::EntryInfo entry = platform::Stat(path);
    if (entry.kind == platform::EntryKind::kMissing) return fail(kErrOpen, std::strerror(errno));
    if (entry.kind != platform::EntryKind::kFile) return fail(kErrOpen, "not a regular file");

    std::unique_ptr<CPalmDbFile> db(new CPalmDbFile());
    db->m_strPath = path;
    db->m_pFile = platform::OpenFile(path, "rb");
    if (!db->m_pFile) return fail(kErrOpen, std::strerror(errno));

    if (std::fseek(db->m_pFile, 0, SEEK_END) != 0) return fail(kErrOpen, "cannot seek");
    const int64_t end = platform::TellPosition(db->m_pFile);
    if (end < 0) return fail(kErrOpen, "cannot tell the size");
    db->m_nFileSize = uint64_t(end);

    std::array<uint8_t, kHeaderSize> h{};
    if (db->m_nFileSize < kHeaderSize || !SeekTo(db->m_pFile, 0) ||
        !ReadExact(db->m_pFile, h.data(), h.size())) {
        return fail(kErrFormat, "too short for a Palm database header");
    }

    DbInfo& info = db->m_info;
    const char* name = reinterpret_cast<const char*>(h.data() + kOffName);
    info.name.assign(name, strnlen(name, kMaxNameLength));
    info.attributes = Get16(&h[kOffAttributes]);
    info.version = Get16(&h[kOffVersion]);
    info.createDate = DateFromFile(Get32(&h[kOffCreateDate]));
    info.modifyDate = DateFromFile(Get32(&h[kOffModifyDate]));
    info.backupDate = DateFromFile(Get32(&h[kOffBackupDate]));
    info.modnum = Get32(&h[kOffModnum]);
    info.type = Get32(&h[kOffType]);
    info.creator = Get32(&h[kOffCreator]);
    info.uniqueIdSeed = Get32(&h[kOffUniqueIdSeed]);
    db->m_nAppInfoOffset = Get32(&h[kOffAppInfo]);
    db->m_nSortInfoOffset = Get32(&h[kOffSortInfo]);
    if (Get32(&h[kOffNextList]) != 0) return fail(kErrFormat, "chained entry lists");

    const size_t count = Get16(&h[kOffCount]);
    const size_t entrySize = info.IsResourceDb() ? kResourceEntrySize : kRecordEntrySize;
    const uint64_t listEnd = kHeaderSize + uint64_t(count) * entrySize;
    if (listEnd > db->m_nFileSize) return fail(kErrFormat, "entry list runs past the end");

    // The list is bounded by the file size checked above, so this cannot be absurd.
    std::vector<uint8_t> list(count * entrySize);
    if (!ReadExact(db->m_pFile, list.data(), list.size())) {
        return fail(kErrFormat, "cannot read the entry list");
    }
    db->m_entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = list.data() + i * entrySize;
        Entry& e = db->m_entries[i];
        if (info.IsResourceDb()) {
            e.type = Get32(p);
            e.id = Get16(p + 4);
            e.offset = Get32(p + 6);
        } else {
            e.offset = Get32(p);
            e.attrByte = p[4];
            e.uid = (uint32_t(p[5]) << 16) | (uint32_t(p[6]) << 8) | p[7];
        }
    }

    // Blocks must lie between the entry list and the file's end, in their order.
    auto blockOk = [&](uint64_t off) {
        return off == 0 || (off >= listEnd && off <= db->m_nFileSize);
    };
    if (!blockOk(db->m_nAppInfoOffset) || !blockOk(db->m_nSortInfoOffset)) {
        return fail(kErrFormat, "app or sort info offset outside the file");
    }
    if (db->m_nAppInfoOffset && db->m_nSortInfoOffset &&
        db->m_nSortInfoOffset < db->m_nAppInfoOffset) {
        return fail(kErrFormat, "sort info before app info");
    }

    if (result) *result = kOk;
    return db;
}

std::unique_ptr<CPalmDbFile> CPalmDbFile::Create(const std::string& path, const DbInfo& info,
                                                 int* result) {
    auto fail = [&](int code) -> std::unique_ptr<CPalmDbFile> {
        if (result) *result = code;
        return nullptr;
    };
    if (path.empty()) return fail(kErrOpen);
    std::unique_ptr<CPalmDbFile> db(new CPalmDbFile());
    db->m_bWriter = true;
    db->m_strPath = path;
    db->m_info = info;
    db->m_pFile = platform::OpenFile(path, "wb");
    if (!db->m_pFile) return fail(kErrOpen);
    db->m_pSpool = platform::OpenTempSpool();
    if (!db->m_pSpool) {
        std::fclose(db->m_pFile);
        db->m_pFile = nullptr;
        platform::RemoveFile(path);
        return fail(kErrWrite);
    }
    if (result) *result = kOk;
    return db;
}

int CPalmDbFile::Close() {
    int rc = kOk;
    if (m_bWriter && m_pFile) {
        rc = WriteOut();
        if (std::fclose(m_pFile) != 0) rc = kErrWrite;
        m_pFile = nullptr;
    }
    if (m_pFile) std::fclose(m_pFile);
    if (m_pSpool) std::fclose(m_pSpool);
    m_pFile = nullptr;
    m_pSpool = nullptr;
    return rc;
}

int CPalmDbFile::EntryCount() const {
    return static_cast<int>(m_entries.size());
}

int CPalmDbFile::EntryRange(int index, uint64_t& begin, uint64_t& end) const {
    if (m_bWriter) return kErrMode;
    if (!m_pFile) return kErrRead;
    if (index < 0 || size_t(index) >= m_entries.size()) return kErrIndex;
    const size_t entrySize = m_info.IsResourceDb() ? kResourceEntrySize : kRecordEntrySize;
    const uint64_t listEnd = kHeaderSize + m_entries.size() * entrySize;
    begin = m_entries[size_t(index)].offset;
    end = size_t(index) + 1 < m_entries.size() ? m_entries[size_t(index) + 1].offset : m_nFileSize;
    // An entry is whole when it lies after the list and inside the file.
    if (begin < listEnd || begin > end || end > m_nFileSize) return kErrRead;
    return kOk;
}

int CPalmDbFile::ReadBytes(uint64_t begin, uint64_t end, std::vector<uint8_t>& out) const {
    out.assign(size_t(end - begin), 0);
    if (out.empty()) return kOk;
    if (!SeekTo(m_pFile, begin) || !ReadExact(m_pFile, out.data(), out.size())) {
        out.clear();
        return kErrRead;
    }
    return kOk;
}

int CPalmDbFile::EntrySize(int index, uint32_t& size) const {
    uint64_t begin = 0, end = 0;
    const int rc = EntryRange(index, begin, end);
    if (rc != kOk) return rc;
    size = uint32_t(end - begin);
    return kOk;
}

int CPalmDbFile::GetAppInfo(std::vector<uint8_t>& out) const {
    out.clear();
    if (m_bWriter) {
        out = m_appInfo;
        return kOk;
    }
    if (!m_pFile) return kErrRead;
    if (m_nAppInfoOffset == 0) return kOk;
    uint64_t end = m_nFileSize;
    if (m_nSortInfoOffset)
        end = m_nSortInfoOffset;
    else if (!m_entries.empty())
        end = m_entries.front().offset;
    if (end < m_nAppInfoOffset || end > m_nFileSize) return kErrRead;
    return ReadBytes(m_nAppInfoOffset, end, out);
}

int CPalmDbFile::GetSortInfo(std::vector<uint8_t>& out) const {
    out.clear();
    if (m_bWriter) {
        out = m_sortInfo;
        return kOk;
    }
    if (!m_pFile) return kErrRead;
    if (m_nSortInfoOffset == 0) return kOk;
    const uint64_t end = m_entries.empty() ? m_nFileSize : m_entries.front().offset;
    if (end < m_nSortInfoOffset || end > m_nFileSize) return kErrRead;
    return ReadBytes(m_nSortInfoOffset, end, out);
}

int CPalmDbFile::SetAppInfo(const std::vector<uint8_t>& data) {
    if (!m_bWriter) return kErrMode;
    m_appInfo = data;
    return kOk;
}

int CPalmDbFile::SetSortInfo(const std::vector<uint8_t>& data) {
    if (!m_bWriter) return kErrMode;
    m_sortInfo = data;
    return kOk;
}

int CPalmDbFile::ReadRecord(int index, Record& out) const {
    uint64_t begin = 0, end = 0;
    int rc = EntryRange(index, begin, end);
    if (rc != kOk) return rc;
    rc = ReadBytes(begin, end, out.data);
    if (rc != kOk) return rc;
    const Entry& e = m_entries[size_t(index)];
    out.attributes = RecordAttributes(e.attrByte);
    out.category = e.attrByte & 0x0F;
    out.uid = e.uid;
    return kOk;
}

int CPalmDbFile::ReadResource(int index, Resource& out) const {
    uint64_t begin = 0, end = 0;
    int rc = EntryRange(index, begin, end);
    if (rc != kOk) return rc;
    rc = ReadBytes(begin, end, out.data);
    if (rc != kOk) return rc;
    const Entry& e = m_entries[size_t(index)];
    out.type = e.type;
    out.id = e.id;
    return kOk;
}

int CPalmDbFile::ReadResourcePrefix(int index, size_t maxBytes, Resource& out) const {
    uint64_t begin = 0, end = 0;
    int rc = EntryRange(index, begin, end);
    if (rc != kOk) return rc;
    if (end - begin > maxBytes) end = begin + maxBytes;
    rc = ReadBytes(begin, end, out.data);
    if (rc != kOk) return rc;
    const Entry& e = m_entries[size_t(index)];
    out.type = e.type;
    out.id = e.id;
    return kOk;
}

int CPalmDbFile::AppendEntry(const Entry& entry, const uint8_t* data, size_t size) {
    if (!m_bWriter) return kErrMode;
    if (!m_pSpool) return kErrWrite;
    if (m_entries.size() >= kMaxEntries || m_nSpoolSize + size > kMaxFileSize) return kErrTooMany;
    // Unbuffered positioned writes: a failure belongs to the entry being appended, never to
    // an earlier one whose bytes were still in a buffer.
    if (!platform::WriteAt(m_pSpool, data, size, m_nSpoolSize)) return kErrWrite;
    m_entries.push_back(entry);
    m_entries.back().offset = m_nSpoolSize;
    m_entries.back().size = size;
    m_nSpoolSize += size;
    return kOk;
}

int CPalmDbFile::AppendRecord(const uint8_t* data, size_t size, uint8_t attributes,
                              uint8_t category, uint32_t uid) {
    Entry e;
    e.attrByte = AttributeByte(attributes, category);
    e.uid = uid & 0xFFFFFF;
    return AppendEntry(e, data, size);
}

int CPalmDbFile::AppendResource(const uint8_t* data, size_t size, uint32_t type, uint16_t id) {
    Entry e;
    e.type = type;
    e.id = id;
    return AppendEntry(e, data, size);
}

int CPalmDbFile::ReplaceEntryData(int index, const uint8_t* data, size_t size) {
    if (!m_bWriter) return kErrMode;
    if (!m_pSpool) return kErrWrite;
    if (index < 0 || size_t(index) >= m_entries.size()) return kErrIndex;
    const Entry& e = m_entries[size_t(index)];
    if (e.size != size) return kErrSize;
    if (!platform::WriteAt(m_pSpool, data, size, e.offset)) return kErrWrite;
    return kOk;
}

int CPalmDbFile::WriteOut() {
    const bool res = m_info.IsResourceDb();
    const size_t entrySize = res ? kResourceEntrySize : kRecordEntrySize;
    const uint64_t listEnd = kHeaderSize + m_entries.size() * entrySize;
    uint64_t offset = listEnd + kFillerSize;
    const uint64_t appOffset = m_appInfo.empty() ? 0 : offset;
    offset += m_appInfo.size();
    const uint64_t sortOffset = m_sortInfo.empty() ? 0 : offset;
    offset += m_sortInfo.size();
    const uint64_t dataStart = offset;
    if (dataStart + m_nSpoolSize > kMaxFileSize) return kErrTooMany;

    std::array<uint8_t, kHeaderSize> h{};
    std::memcpy(h.data() + kOffName, m_info.name.data(),
                std::min(m_info.name.size(), kMaxNameLength));
    Put16(&h[kOffAttributes], m_info.attributes);
    Put16(&h[kOffVersion], m_info.version);
    Put32(&h[kOffCreateDate], DateToFile(m_info.createDate));
    Put32(&h[kOffModifyDate], DateToFile(m_info.modifyDate));
    Put32(&h[kOffBackupDate], DateToFile(m_info.backupDate));
    Put32(&h[kOffModnum], m_info.modnum);
    Put32(&h[kOffAppInfo], uint32_t(appOffset));
    Put32(&h[kOffSortInfo], uint32_t(sortOffset));
    Put32(&h[kOffType], m_info.type);
    Put32(&h[kOffCreator], m_info.creator);
    Put32(&h[kOffUniqueIdSeed], m_info.uniqueIdSeed);
    Put16(&h[kOffCount], uint16_t(m_entries.size()));

    std::vector<uint8_t> list(m_entries.size() * entrySize + kFillerSize, 0);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        uint8_t* p = list.data() + i * entrySize;
        const uint32_t dataOffset = uint32_t(dataStart + e.offset);
        if (res) {
            Put32(p, e.type);
            Put16(p + 4, e.id);
            Put32(p + 6, dataOffset);
        } else {
            Put32(p, dataOffset);
            p[4] = e.attrByte;
            p[5] = uint8_t(e.uid >> 16);
            p[6] = uint8_t(e.uid >> 8);
            p[7] = uint8_t(e.uid);
        }
    }

    if (!SeekTo(m_pFile, 0) || !WriteExact(m_pFile, h.data(), h.size()) ||
        !WriteExact(m_pFile, list.data(), list.size()) ||
        !WriteExact(m_pFile, m_appInfo.data(), m_appInfo.size()) ||
        !WriteExact(m_pFile, m_sortInfo.data(), m_sortInfo.size())) {
        return kErrWrite;
    }
    if (m_nSpoolSize > 0 && !platform::CopyBytes(m_pSpool, m_nSpoolSize, m_pFile)) {
        return kErrWrite;
    }
    return std::fflush(m_pFile) == 0 ? kOk : kErrWrite;
}

}  // namespace pdb
