// The session's share of a whole-handheld backup and of its restore: listing the databases
// in RAM, reading one whole, and putting a backup copy back as it was.
#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "pdb/palm_db_file.h"
#include "session/device_session.h"

namespace {

constexpr int kDlpErrNotFound = -5;
constexpr int kDlpErrDatabaseOpen = -7;
constexpr int kDlpErrRecordDeleted = -11;
constexpr uint32_t kMaxEntrySize = 65536;
// Cards beyond these few do not exist on any handheld; a handheld claiming more is not
// believed.
constexpr int kMaxCards = 8;
// A card's database indexes are 16 bits.
constexpr size_t kMaxListed = 0xFFFF;
// Some units hang on reads near their largest record, so an answer is asked to leave room.
constexpr int kReadMargin = 100;
const char* const kShortCutsName = "Graffiti ShortCuts ";

// The handheld's negated error or our own failure, as a text for the summary.
std::string ResultText(int result) {
    return "error " + std::to_string(result < 0 ? -result : result);
}

// The most data one read asks for.
int ReadChunk(const hotsync::CSocket& socket) {
    const uint32_t largest = socket.MaxRecordSize();
    if (largest > uint32_t(kReadMargin) && largest <= 0xFFFF) return int(largest) - kReadMargin;
    return 0xFFFF - kReadMargin;
}

// Closes the database on every way out, unless the link is gone.
class CHandleGuard {
  public:
    CHandleGuard(hotsync::CSocket& socket, int handle) : m_socket(socket), m_handle(handle) {}
    ~CHandleGuard() {
        if (m_handle >= 0 && !m_socket.IsBroken()) hotsync::DlpCloseDB(m_socket, m_handle);
    }
    CHandleGuard(const CHandleGuard&) = delete;
    CHandleGuard& operator=(const CHandleGuard&) = delete;
    // Closes now; the close's result.
    int Close() {
        const int r = hotsync::DlpCloseDB(m_socket, m_handle);
        m_handle = -1;
        return r;
    }

  private:
    hotsync::CSocket& m_socket;
    int m_handle;
};

// One record whole: the first part by index, the rest by its id from where each part ended.
int ReadWholeRecord(hotsync::CSocket& socket, int handle, int index, hotsync::RecordData& record,
                    std::string& why) {
    const int chunk = ReadChunk(socket);
    int size = 0;
    int r = hotsync::DlpReadRecordByIndex(socket, handle, index, 0, chunk, record, size);
    if (r < 0) return r;
    if (record.data.size() > size_t(size)) {
        why = "record " + std::to_string(index) + " is longer than its size";
        return kReadBadAnswer;
    }
    while (record.data.size() < size_t(size)) {
        hotsync::RecordData part;
        int partSize = 0;
        r = hotsync::DlpReadRecordById(socket, handle, record.id,
                                       static_cast<int>(record.data.size()), chunk, part, partSize);
        if (r < 0) return r;
        if (part.id != record.id || partSize != size) {
            why = "asked for record " + std::to_string(record.id) + ", answered record " +
                  std::to_string(part.id);
            return kReadBadAnswer;
        }
        if (part.data.empty() || part.data.size() > size_t(size) - record.data.size()) {
            why = "record " + std::to_string(record.id) + " does not add up to its size";
            return kReadBadAnswer;
        }
        record.data.insert(record.data.end(), part.data.begin(), part.data.end());
    }
    return 0;
}

// One resource whole, likewise: the rest by its type and id.
int ReadWholeResource(hotsync::CSocket& socket, int handle, int index,
                      hotsync::ResourceData& resource, std::string& why) {
    const int chunk = ReadChunk(socket);
    int size = 0;
    int r = hotsync::DlpReadResourceByIndex(socket, handle, index, 0, chunk, resource, size);
    if (r < 0) return r;
    if (resource.data.size() > size_t(size)) {
        why = "resource " + std::to_string(index) + " is longer than its size";
        return kReadBadAnswer;
    }
    while (resource.data.size() < size_t(size)) {
        hotsync::ResourceData part;
        int partSize = 0;
        r = hotsync::DlpReadResourceByType(socket, handle, resource.type, resource.id,
                                           static_cast<int>(resource.data.size()), chunk, part,
                                           partSize);
        if (r < 0) return r;
        if (part.type != resource.type || part.id != resource.id || partSize != size ||
            part.data.empty() || part.data.size() > size_t(size) - resource.data.size()) {
            why = "resource " + pdb::FourCCToText(resource.type) + " " +
                  std::to_string(resource.id) + " does not add up to its size";
            return kReadBadAnswer;
        }
        resource.data.insert(resource.data.end(), part.data.begin(), part.data.end());
    }
    return 0;
}

}  // namespace

void CDeviceSession::SetPhaseName(const std::string& name) {
    std::lock_guard<std::mutex> guard(m_phaseLock);
    m_strPhaseName = name;
}

std::string CDeviceSession::PhaseName() const {
    std::lock_guard<std::mutex> guard(m_phaseLock);
    return m_strPhaseName;
}

int CDeviceSession::ListRamDatabases(std::vector<ListedDatabase>& databases) {
    databases.clear();
    if (!m_pSocket) return kInstallLinkBroken;
    hotsync::CSocket& sock = *m_pSocket;
    for (int card = 0; card < kMaxCards; ++card) {
        // Card 0 is always there; another card is asked for only when the handheld has it.
        if (card > 0) {
            hotsync::CardInfo info;
            if (hotsync::DlpReadStorageInfo(sock, card, info) != 0 || info.card != card) break;
        }
        // The next answer starts after the last index of this one, until the handheld
        // answers "not found" (as the public desktops ask, whatever "more" said). An index
        // that does not move on, an answer without entries or more entries than a card has
        // indexes end the list, so a handheld that repeats itself cannot keep us here.
        int start = 0;
        for (;;) {
            hotsync::DbListPage page;
            const int r = hotsync::DlpReadDBList(
                sock, hotsync::kDbListRam | hotsync::kDbListMultiple, card, start, page);
            if (r == kDlpErrNotFound) break;
            if (r < 0) return sock.IsBroken() ? kInstallLinkBroken : r;
            for (hotsync::DbInfo& info : page.entries) {
                databases.push_back(ListedDatabase{std::move(info), card});
            }
            if (databases.size() > kMaxListed) return kReadBadAnswer;
            if (page.entries.empty() || page.lastIndex < start || page.lastIndex >= 0xFFFF) break;
            start = page.lastIndex + 1;
        }
    }
    return 0;
}

int CDeviceSession::ReadDatabase(const ListedDatabase& database, pdb::CPalmDbFile& out,
                                 std::string& why) {
    why.clear();
    if (!m_pSocket) return kInstallLinkBroken;
    hotsync::CSocket& sock = *m_pSocket;
    m_nFileBytesDone = 0;
    m_nFileBytesTotal = 0;
    const auto failed = [&](int r) {
        if (sock.IsBroken()) return kInstallLinkBroken;
        if (why.empty()) why = ResultText(r);
        return r;
    };

    int handle = -1;
    // Secret records are part of the database, so they are asked for too.
    int r = hotsync::DlpOpenDB(sock, database.card, hotsync::kOpenRead | hotsync::kOpenSecret,
                               database.info.name, handle);
    if (r < 0) return failed(r);
    const uint64_t bytesBefore = sock.BytesRead();
    CHandleGuard guard(sock, handle);

    int count = 0;
    r = hotsync::DlpReadOpenDBInfo(sock, handle, count);
    if (r < 0) return failed(r);
    m_nFileBytesTotal = static_cast<uint32_t>(count);

    std::vector<uint8_t> block;
    r = hotsync::DlpReadAppBlock(sock, handle, block);
    if (r == 0 && !block.empty()) out.SetAppInfo(block);
    if (r < 0 && r != kDlpErrNotFound) return failed(r);
    r = hotsync::DlpReadSortBlock(sock, handle, block);
    if (r == 0 && !block.empty()) out.SetSortInfo(block);
    if (r < 0 && r != kDlpErrNotFound) return failed(r);

    const bool resourceDb = (database.info.attributes & pdb::kAttrResDb) != 0;
    std::set<uint32_t> ids;
    std::set<std::pair<uint32_t, int>> resources;
    for (int i = 0; i < count; ++i) {
        if (m_bCancel) return kReadCancelled;
        if (resourceDb) {
            hotsync::ResourceData res;
            r = ReadWholeResource(sock, handle, i, res, why);
            if (r != 0) return failed(r);
            // Two entries under one type and id would install as one.
            if (!resources.insert({res.type, res.id}).second) {
                why = "resource " + pdb::FourCCToText(res.type) + " " + std::to_string(res.id) +
                      " answered twice";
                return kReadBadAnswer;
            }
            if (out.AppendResource(res.data.data(), res.data.size(), res.type,
                                   static_cast<uint16_t>(res.id)) != pdb::kOk) {
                why = "cannot write the copy";
                return kReadBadAnswer;
            }
        } else {
            hotsync::RecordData rec;
            r = ReadWholeRecord(sock, handle, i, rec, why);
            // A deleted record keeps only its id until the next sync: nothing to copy.
            if (r == kDlpErrRecordDeleted) continue;
            if (r != 0) return failed(r);
            if ((rec.attributes & pdb::kRecAttrDeleted) &&
                !(rec.attributes & pdb::kRecAttrArchived)) {
                continue;
            }
            // Two records under one id would restore as one.
            if (rec.id != 0 && !ids.insert(rec.id).second) {
                why = "record " + std::to_string(rec.id) + " answered twice";
                return kReadBadAnswer;
            }
            if (out.AppendRecord(rec.data.data(), rec.data.size(), uint8_t(rec.attributes),
                                 uint8_t(rec.category & 0x0F), rec.id & 0xFFFFFF) != pdb::kOk) {
                why = "cannot write the copy";
                return kReadBadAnswer;
            }
        }
        m_nFileBytesDone = static_cast<uint32_t>(i + 1);
    }
    m_nBytesRead += static_cast<int64_t>(sock.BytesRead() - bytesBefore);
    r = guard.Close();
    return r < 0 ? failed(r) : 0;
}

int CDeviceSession::RestoreDatabase(pdb::CPalmDbFile& file, bool& reset) {
    if (!m_pSocket) return kInstallLinkBroken;
    hotsync::CSocket& sock = *m_pSocket;
    const pdb::DbInfo& info = file.Info();
    const std::string name = info.name.substr(0, pdb::kMaxNameLength);
    const bool resourceDb = info.IsResourceDb();
    const int v = DlpVersion();
    m_nFileBytesDone = 0;
    m_nFileBytesTotal = 0;
    const uint64_t bytesBefore = sock.BytesSent();

    // Nothing is sent for a copy that cannot be sent whole.
    uint32_t total = 0;
    for (int i = 0; i < file.EntryCount(); ++i) {
        uint32_t size = 0;
        if (file.EntrySize(i, size) != pdb::kOk) return kInstallUnreadable;
        if (size > (resourceDb ? kMaxEntrySize : hotsync::kMaxRecordData)) return kInstallTooLarge;
        total += size;
    }
    m_nFileBytesTotal = total;

    // The database it replaces goes first; one open on the handheld is closed before.
    if (hotsync::DlpDeleteDB(sock, 0, name) == kDlpErrDatabaseOpen) {
        hotsync::DlpCloseAllDBs(sock);
        hotsync::DlpDeleteDB(sock, 0, name);
    }
    // "Open" in a copy means the database was in use when it was read, not that it is now;
    // the shortcuts database is the one that must be marked so and takes effect after a reset.
    int attributes = info.attributes & ~pdb::kAttrOpen;
    if (name == kShortCutsName) {
        attributes |= pdb::kAttrOpen;
        reset = true;
    }
    if (info.creator == pdb::MakeFourCC("ptch") ||
        (info.attributes & pdb::kAttrResetAfterInstall)) {
        reset = true;
    }
    int handle = -1;
    if (hotsync::DlpCreateDB(sock, info.creator, info.type, 0, attributes, info.version, name,
                             handle) != 0) {
        return sock.IsBroken() ? kInstallLinkBroken : kInstallCreateFailed;
    }

    const auto writeFailure = [&](int r) {
        return (r == hotsync::kErrPeerMemory || sock.LastMemoryError()) ? kInstallMemoryFull : r;
    };
    std::vector<uint8_t> block;
    if (file.GetAppInfo(block) == pdb::kOk && !block.empty()) {
        const int r = hotsync::DlpWriteAppBlock(sock, handle, block);
        if (r < 0) return CleanUp(handle, name, writeFailure(r));
    }
    if (file.GetSortInfo(block) == pdb::kOk && !block.empty()) {
        const int r = hotsync::DlpWriteSortBlock(sock, handle, block);
        if (r < 0) return CleanUp(handle, name, writeFailure(r));
    }

    for (int i = 0; i < file.EntryCount(); ++i) {
        int r = 0;
        size_t size = 0;
        if (resourceDb) {
            pdb::Resource res;
            if (file.ReadResource(i, res) != pdb::kOk)
                return CleanUp(handle, name, kInstallUnreadable);
            if (i + 1 == file.EntryCount() && res.type == pdb::MakeFourCC("boot")) reset = true;
            // The handheld keeps no empty resources.
            if (res.data.empty()) continue;
            r = hotsync::DlpWriteResource(sock, handle, res.type, res.id, res.data);
            size = res.data.size();
        } else {
            pdb::Record rec;
            if (file.ReadRecord(i, rec) != pdb::kOk)
                return CleanUp(handle, name, kInstallUnreadable);
            // DLP 1.0 cannot store deleted or archived records.
            if (v == hotsync::kDlpVersion10 &&
                (rec.attributes & (pdb::kRecAttrDeleted | pdb::kRecAttrArchived)) != 0) {
                continue;
            }
            r = hotsync::DlpWriteRecord(sock, handle, rec.attributes, rec.uid, rec.category,
                                        rec.data);
            size = rec.data.size();
        }
        if (r < 0) return CleanUp(handle, name, writeFailure(r));
        if (m_bCancel) return CleanUp(handle, name, 0);
        m_nFileBytesDone += static_cast<uint32_t>(size);
    }

    // Writing set the dates to now; the copy's are put back, with the attribute bits that
    // creating a database does not take.
    if (v >= hotsync::kDlpVersion12) {
        hotsync::DbInfoChange change;
        change.setAttributes = attributes & ~(pdb::kAttrResDb | pdb::kAttrOpen);
        change.creationDate = static_cast<time_t>(info.createDate);
        change.modificationDate = static_cast<time_t>(info.modifyDate);
        change.backupDate = static_cast<time_t>(info.backupDate);
        hotsync::DlpSetDBInfo(sock, handle, change);
    }
    m_nBytesSent += static_cast<int32_t>(sock.BytesSent() - bytesBefore);
    const int r = hotsync::DlpCloseDB(sock, handle);
    if (r != 0 && sock.IsBroken()) return kInstallLinkBroken;
    return r;
}
