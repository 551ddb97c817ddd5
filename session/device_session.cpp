#include "session/device_session.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "pdb/palm_db_file.h"
#include "platform/files.h"
#include "platform/path_rules.h"
#include "session/link/port_transport.h"

namespace {

constexpr uint32_t kRom30 = 0x03000000;
constexpr uint32_t kMaxEntrySize = 65536;
constexpr size_t kMemoAppInfoSize = 282;
constexpr int kCloseTries = 25;
constexpr int kButtonSettleMs = 40;
// The USB lookup's budget: three looks, 100 ms apart.
constexpr int kLookupBudgetMs = 250;
constexpr int kDlpErrDatabaseOpen = -7;
const char* const kShortCutsName = "Graffiti ShortCuts ";

// Socket descriptors are handed out as small positive numbers, one per socket made.
std::atomic<int> g_nNextDescriptor{1};

std::mutex g_reporterLock;
CDeviceSession::ErrorReporter g_reporter;

// perror's line, or the front end's reporter, with errno as it was.
void ReportError(const char* call) {
    const int err = errno;
    CDeviceSession::ErrorReporter reporter;
    {
        std::lock_guard<std::mutex> guard(g_reporterLock);
        reporter = g_reporter;
    }
    if (reporter) {
        reporter(call, err);
    } else {
        std::perror(call);
    }
    errno = err;
}

}  // namespace

void CDeviceSession::SetErrorReporter(ErrorReporter reporter) {
    std::lock_guard<std::mutex> guard(g_reporterLock);
    g_reporter = std::move(reporter);
}

CDeviceSession::CDeviceSession(const char* portName, bool deferListen, int rate)
    : CDeviceSession(portName, deferListen, rate, TransportFactory([](const std::string& name) {
                         return ports::CreatePortTransport(name);
                     })) {}

CDeviceSession::CDeviceSession(const char* portName, bool deferListen, int rate,
                               std::unique_ptr<hotsync::ITransport> transport) {
    CopyText(m_szPort, portName ? portName : "");
    Construct(deferListen, rate, std::move(transport));
}

CDeviceSession::CDeviceSession(const char* portName, bool deferListen, int rate,
                               const TransportFactory& factory) {
    CopyText(m_szPort, portName ? portName : "");
    std::unique_ptr<hotsync::ITransport> transport;
    if (factory) transport = factory(m_szPort);
    Construct(deferListen, rate, std::move(transport));
}

CDeviceSession::~CDeviceSession() {
    if (m_pSocket) m_pSocket->Close();
}

void CDeviceSession::Construct(bool deferListen, int rate,
                               std::unique_ptr<hotsync::ITransport> transport) {
    m_pSocket =
        hotsync::CSocket::Create(hotsync::kAfSlp, hotsync::kSockStream, hotsync::kProtoPadp);
    if (!m_pSocket) {
        m_nPortError = errno;
        ReportError("pi_socket");
        m_sd = -1;
        return;
    }
    m_sd = g_nNextDescriptor.fetch_add(1);

    hotsync::SocketAddress address;
    // The address only labels the socket and holds few characters; the transport already
    // has the whole name. A long device path must not fail as an "invalid argument".
    const bool addressOk = hotsync::MakeAddress(
        ports::BindName(m_szPort).substr(0, hotsync::kMaxPortNameLength), address);
    if (rate != 0) SetLinkRate(rate, false);

    int bound = -1;
    if (!addressOk) {
        errno = EINVAL;  // a port name longer than the address holds
    } else if (!transport) {
        errno = ENOENT;  // the name reaches no device
    } else {
        bound = m_pSocket->Bind(address, std::move(transport));
    }
    if (bound != 0) {
        m_nPortError = errno;
        ReportError("pi_bind");
        m_pSocket.reset();
        m_sd = -1;
        return;
    }
    if (deferListen) return;
    ListenAndAccept(true);
}

bool CDeviceSession::IsHotSyncPressed() {
    m_bButtonSeen = 0;
    if (m_sd == -1 || !m_pSocket) return false;
    hotsync::ITransport* transport = m_pSocket->Transport();
    if (!transport) return false;
    // Handhelds that come to us (USB, network) are looked for; the lookup remembers the
    // device for the link.
    const int found = transport->LookForHandheld(kLookupBudgetMs);
    if (found >= 0) return found > 0;
    bool cts = false;
    if (transport->ReadModemStatus(cts)) {
        // The cradle raises CTS when the handheld begins; give the line time to settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(kButtonSettleMs));
        if (!transport->ReadModemStatus(cts)) return false;
        m_bButtonSeen = cts ? 1 : 0;
        return cts;
    }
    // No modem lines (a pseudo-terminal, a pipe): the handheld's first bytes stand in.
    if (transport->BytesWaiting() > 0) {
        m_bButtonSeen = 1;
        return true;
    }
    return false;
}

bool CDeviceSession::Accept() {
    if (m_sd == -1 || !m_pSocket) return false;
    return ListenAndAccept(false);
}

bool CDeviceSession::ListenAndAccept(bool closeOnFailure) {
    const auto fail = [&](const char* call) {
        ReportError(call);
        if (closeOnFailure) {
            m_pSocket->Close();
            m_pSocket.reset();
            m_sd = -1;
        }
        return false;
    };
    if (m_pSocket->State() == hotsync::SocketState::Bound && m_pSocket->Listen(1) != 0) {
        return fail("pi_listen");
    }
    if (m_pSocket->Accept() != 0) return fail("pi_accept");
    return true;
}

void CDeviceSession::SetLinkRate(int rate, bool applyNow) {
    if (!m_pSocket) {
        errno = 3;
        return;
    }
    if (rate == -1) {
        m_pSocket->SetEstablishRate(hotsync::kDefaultOfferRate, false);
    } else {
        m_pSocket->SetEstablishRate(rate, true);
    }
    if (applyNow) m_pSocket->ApplyLineRate();
}

int CDeviceSession::GetLinkRate() const {
    if (m_sd == -1 || !m_pSocket) return -1;
    return m_pSocket->LineRate();
}

void CDeviceSession::KeepAlive() {
    if (m_sd != -1 && m_pSocket) m_pSocket->Tickle();
}

bool CDeviceSession::CheckColor() {
    if (m_dwRomVersion < kRom30) {
        m_bColor = 0;
        return false;
    }
    if (m_pSocket) {
        uint32_t value = 0;
        if (hotsync::DlpReadFeature(*m_pSocket, hotsync::FourCC("psys"), 7, value) == 0) {
            m_dwDisplayFeature = value;
        }
    }
    m_bColor = m_dwDisplayFeature > 2 ? 1 : 0;
    return m_bColor != 0;
}

bool CDeviceSession::CheckProcessor() {
    if (m_dwRomVersion < kRom30) {
        m_bEzCpu = 0;
        m_bOldCpu = 1;
        return false;
    }
    uint32_t value = 0;
    if (!m_pSocket || hotsync::DlpReadFeature(*m_pSocket, hotsync::FourCC("psys"), 2, value) != 0) {
        m_bEzCpu = 0;
        m_bOldCpu = 0;
        return false;
    }
    const uint32_t h = value & 0xFFFF0000u;
    m_bEzCpu = (h == 0 || h == 0x00020000u) ? 1 : 0;
    m_bOldCpu = (h == 0 || h == 0x00010000u) ? 1 : 0;
    return m_bEzCpu != 0;
}

int CDeviceSession::InstallDatabase(pdb::CPalmDbFile& file) {
    if (!m_pSocket) return kInstallLinkBroken;
    hotsync::CSocket& sock = *m_pSocket;
    pdb::DbInfo& info = file.Info();

    // 1. Counters, the name as the handheld keeps it, the byte count so far.
    m_nFileBytesDone = 0;
    m_nFileBytesTotal = 0;
    if (info.name.size() > pdb::kMaxNameLength) info.name.resize(pdb::kMaxNameLength);
    const std::string name = info.name;
    const uint64_t bytesBefore = sock.BytesSent();
    const int v = DlpVersion();

    // 2. Any database of that name goes first; an open one is closed before it can be.
    if (hotsync::DlpDeleteDB(sock, 0, name) == kDlpErrDatabaseOpen) {
        int handle = -1;
        if (hotsync::DlpOpenDB(sock, 0, hotsync::kOpenRead, name, handle) == 0 && handle >= 0) {
            hotsync::DlpCloseDB(sock, handle);
        }
        hotsync::DlpCloseAllDBs(sock);
        hotsync::DlpDeleteDB(sock, 0, name);
    }

    // 3. The shortcuts database must be marked open and takes effect after a reset.
    bool reset = false;
    int attributes = info.attributes;
    if (name == kShortCutsName) {
        attributes |= pdb::kAttrOpen;
        reset = true;
    }

    // 4.
    int handle = -1;
    if (hotsync::DlpCreateDB(sock, info.creator, info.type, 0, attributes, info.version, name,
                             handle) != 0) {
        // A link that broke here cannot carry the next files either.
        return sock.IsBroken() ? kInstallLinkBroken : kInstallCreateFailed;
    }

    // 5. Newer handhelds expect the memo application's block at its full size.
    std::vector<uint8_t> appInfo;
    file.GetAppInfo(appInfo);
    if (v > hotsync::kDlpVersion10 && name == "MemoDB" && !appInfo.empty() &&
        appInfo.size() < kMemoAppInfoSize) {
        appInfo.resize(kMemoAppInfoSize, 0);
    }

    // 6.
    if (info.creator == pdb::MakeFourCC("ptch") ||
        (info.attributes & pdb::kAttrResetAfterInstall) != 0) {
        reset = true;
    }

    // 7.
    if (!appInfo.empty()) hotsync::DlpWriteAppBlock(sock, handle, appInfo);

    const int n = file.EntryCount();
    const bool resourceDb = info.IsResourceDb();

    // 8.1 / 9.1 Size scan: nothing is written when an entry cannot be sent at all.
    uint32_t total = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t size = 0;
        if (file.EntrySize(i, size) != pdb::kOk) continue;
        total += size;
        if (size > kMaxEntrySize) {
            std::fputs(resourceDb ? "Database contains resource over 64K!\n"
                                  : "Database contains record over 64K!\n",
                       stderr);
            m_nFileBytesTotal = total;
            return CleanUp(handle, name, kInstallTooLarge);
        }
    }
    m_nFileBytesTotal = total;

    // The result of a failed write: 3 when the handheld said its memory is full.
    const auto writeFailure = [&](int r) {
        return (r == hotsync::kErrPeerMemory || sock.LastMemoryError()) ? kInstallMemoryFull : r;
    };

    int entriesWritten = 0;
    if (resourceDb) {
        // 8.2
        uint32_t lastType = 0;
        for (int i = 0; i < n; ++i) {
            pdb::Resource res;
            if (file.ReadResource(i, res) != pdb::kOk) {
                // A truncated file: never installed in part, never taken for a lost link.
                return CleanUp(handle, name, kInstallUnreadable);
            }
            lastType = res.type;
            if (res.data.empty()) continue;
            const int r = hotsync::DlpWriteResource(sock, handle, res.type, res.id, res.data);
            if (r < 0) return CleanUp(handle, name, writeFailure(r));
            if (m_bCancel) return CleanUp(handle, name, 0);
            ++entriesWritten;
            m_nFileBytesDone += static_cast<uint32_t>(res.data.size());
        }
        // 8.3
        m_nFileBytesDone = m_nFileBytesTotal.load();
        if (lastType == pdb::MakeFourCC("boot")) reset = true;
    } else {
        // 9.2
        for (int i = 0; i < n; ++i) {
            pdb::Record rec;
            if (file.ReadRecord(i, rec) != pdb::kOk) {
                return CleanUp(handle, name, kInstallUnreadable);
            }
            // DLP 1.0 cannot store deleted or archived records.
            if (v == hotsync::kDlpVersion10 &&
                (rec.attributes & (pdb::kRecAttrDeleted | pdb::kRecAttrArchived)) != 0) {
                continue;
            }
            const int r = hotsync::DlpWriteRecord(sock, handle, rec.attributes, rec.uid,
                                                  rec.category, rec.data);
            if (r < 0) return CleanUp(handle, name, writeFailure(r));
            if (m_bCancel) return CleanUp(handle, name, 0);
            ++entriesWritten;
            m_nFileBytesDone += static_cast<uint32_t>(rec.data.size());
        }
        m_nFileBytesDone = m_nFileBytesTotal.load();
    }

    // 10. Finish.
    if (reset) hotsync::DlpResetSystem(sock);
    m_nBytesSent += static_cast<int32_t>(sock.BytesSent() - bytesBefore);
    hotsync::DlpResetSyncFlags(sock, handle);
    if (v > hotsync::kDlpVersion10) {
        // The backup copy then carries the handheld's own values.
        hotsync::DbInfo found;
        if (hotsync::DlpFindDBByHandle(sock, handle, found) == 0) {
            info.type = found.type;
            info.creator = found.creator;
            info.version = static_cast<uint16_t>(found.version);
            info.modnum = found.modificationNumber;
            info.createDate = found.creationDate;
            info.modifyDate = found.modificationDate;
            info.backupDate = found.backupDate;
        }
    }
    // Handhelds without FindDB count the entries while the database is still open.
    const bool findDb = v >= hotsync::kDlpVersion12;
    if (!findDb && CountCheck(handle, name, entriesWritten, false) != 0) {
        if (sock.IsBroken()) return kInstallLinkBroken;
        return CleanUp(handle, name, kInstallVerifyFailed);
    }
    const int r = hotsync::DlpCloseDB(sock, handle);
    if (r != 0 && sock.IsBroken()) return kInstallLinkBroken;
    if (r != 0) return r;

    // What arrived: the entries counted, and with the option every byte read back.
    int checked = findDb ? CountCheck(-1, name, entriesWritten, true) : 0;
    if (checked == 0 && m_bVerify) {
        checked = ReadBack(file, name, v == hotsync::kDlpVersion10);
        if (checked == 0) ++m_nVerified;
    }
    if (sock.IsBroken()) return kInstallLinkBroken;
    if (checked != 0) {
        hotsync::DlpDeleteDB(sock, 0, name);
        return sock.IsBroken() ? kInstallLinkBroken : kInstallVerifyFailed;
    }
    return 0;
}

int CDeviceSession::CountCheck(int handle, const std::string& name, int expected, bool closed) {
    hotsync::CSocket& sock = *m_pSocket;
    if (closed) {
        hotsync::DbSizes sizes;
        const int r = hotsync::DlpFindDBSizes(sock, 0, name, sizes);
        if (r == 0) return int(sizes.recordCount) == expected ? 0 : kInstallVerifyFailed;
        // Only "not found" says the database is missing. A handheld that reports DLP 1.2 but
        // knows no FindDB, or answers it without the sizes, is asked the other way: open the
        // database and count, rather than remove a good install.
        if (r == hotsync::kDlpErrNotFound || sock.IsBroken()) return kInstallVerifyFailed;
        int reopened = -1;
        if (hotsync::DlpOpenDB(sock, 0, hotsync::kOpenRead, name, reopened) != 0) {
            return kInstallVerifyFailed;
        }
        const int result = CountCheck(reopened, name, expected, false);
        hotsync::DlpCloseDB(sock, reopened);
        return result;
    }
    int count = -1;
    if (hotsync::DlpReadOpenDBInfo(sock, handle, count) != 0) return kInstallVerifyFailed;
    return count == expected ? 0 : kInstallVerifyFailed;
}

int CDeviceSession::ReadBack(pdb::CPalmDbFile& file, const std::string& name, bool skipsDeleted) {
    hotsync::CSocket& sock = *m_pSocket;
    int handle = -1;
    if (hotsync::DlpOpenDB(sock, 0, hotsync::kOpenRead, name, handle) != 0) {
        return kInstallVerifyFailed;
    }
    const bool resourceDb = file.Info().IsResourceDb();
    const int n = file.EntryCount();
    int result = 0;
    // The handheld's entries are those written, in order: empty resources and, on DLP
    // 1.0, deleted or archived records were left out.
    for (int i = 0, at = 0; i < n && result == 0; ++i) {
        if (resourceDb) {
            pdb::Resource res;
            if (file.ReadResource(i, res) != pdb::kOk) {
                result = kInstallUnreadable;
                break;
            }
            if (res.data.empty()) continue;
            hotsync::ResourceData back;
            const bool same = hotsync::DlpReadResourceByIndex(sock, handle, at++, back) == 0 &&
                              back.type == res.type && back.id == res.id && back.data == res.data;
            if (!same) result = kInstallVerifyFailed;
        } else {
            pdb::Record rec;
            if (file.ReadRecord(i, rec) != pdb::kOk) {
                result = kInstallUnreadable;
                break;
            }
            if (skipsDeleted &&
                (rec.attributes & (pdb::kRecAttrDeleted | pdb::kRecAttrArchived)) != 0) {
                continue;
            }
            hotsync::RecordData back;
            const bool same = hotsync::DlpReadRecordByIndex(sock, handle, at++, back) == 0 &&
                              back.data == rec.data;
            if (!same) result = kInstallVerifyFailed;
        }
    }
    hotsync::DlpCloseDB(sock, handle);
    return result;
}

int CDeviceSession::InstallToCard(const std::string& path) {
    m_nFileBytesDone = 0;
    m_nFileBytesTotal = 0;
    if (!m_pSocket) return kInstallLinkBroken;
    hotsync::CSocket& sock = *m_pSocket;
    std::vector<uint8_t> data;
    {
        // A plain file only: a FIFO would never end, and on Windows a device name is no file.
        const platform::FilePtr f(platform::OpenPlainFile(path));
        if (!f) return kInstallUnreadable;
        // A card file's length travels in 32 bits: a longer file is not even read.
        const int64_t length = platform::FileSize(f.get());
        if (length < 0 || uint64_t(length) > 0xFFFFFFFFu) return kInstallUnreadable;
        data.reserve(size_t(length));
        uint8_t buffer[65536];
        size_t got = 0;
        while (data.size() <= 0xFFFFFFFFu &&
               (got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) {
            data.insert(data.end(), buffer, buffer + got);
        }
        const bool failed = std::ferror(f.get()) != 0;
        if (failed || data.size() > 0xFFFFFFFFu) return kInstallUnreadable;
    }
    if (!m_pCardWriter) m_pCardWriter = std::make_unique<CCardWriter>(sock);
    const int selected = m_pCardWriter->Select(ParseCardSelector(m_strCard));
    if (selected != 0) return selected;

    m_nFileBytesTotal = static_cast<uint32_t>(data.size());
    const uint64_t bytesBefore = sock.BytesSent();
    // The card's name is the desktop file's own name, whatever the system's separators.
    const std::string name = path.substr(platform::FileNameStart(path));
    const int r = m_pCardWriter->Write(
        name, data, [this](uint32_t n) { m_nFileBytesDone += n; }, m_bCancel);
    m_nBytesSent += static_cast<int32_t>(sock.BytesSent() - bytesBefore);
    if (r == 0 && !m_bCancel) {
        ++m_nOnCard;
        if (m_bVerify) ++m_nVerified;
    }
    return r;
}

int CDeviceSession::CleanUp(int handle, const std::string& name, int result) {
    // 11. Nothing can be sent over a broken link; the partial database stays.
    if (!m_pSocket || m_pSocket->IsBroken()) return kInstallLinkBroken;
    hotsync::DlpCloseDB(*m_pSocket, handle);
    hotsync::DlpDeleteDB(*m_pSocket, 0, name);
    if (m_pSocket->IsBroken()) return kInstallLinkBroken;
    return result;
}

bool CDeviceSession::WriteBackupCopy(pdb::CPalmDbFile& file, const std::string& path,
                                     std::string& version, size_t capacity) {
    auto copy = pdb::CPalmDbFile::Create(path, file.Info());
    if (!copy) return false;
    if (capacity != 0) version.clear();

    std::vector<uint8_t> block;
    if (file.GetAppInfo(block) == pdb::kOk && !block.empty()) copy->SetAppInfo(block);
    if (file.GetSortInfo(block) == pdb::kOk && !block.empty()) copy->SetSortInfo(block);

    const int n = file.EntryCount();
    if (file.Info().IsResourceDb()) {
        for (int i = 0; i < n; ++i) {
            pdb::Resource res;
            if (file.ReadResource(i, res) != pdb::kOk) break;
            copy->AppendResource(res);
            if (capacity != 0 && res.type == pdb::MakeFourCC("tver")) {
                // The version is a text; stop at its terminator, and always leave room
                // for one in a buffer of that capacity.
                std::string text(res.data.begin(), res.data.end());
                text = text.substr(0, text.find('\0'));
                if (text.size() > capacity - 1) text.resize(capacity - 1);
                version = text;
            }
        }
    } else {
        for (int i = 0; i < n; ++i) {
            pdb::Record rec;
            if (file.ReadRecord(i, rec) != pdb::kOk) break;
            copy->AppendRecord(rec);
        }
    }
    // A copy that could not be written out is no backup: no log line may claim it.
    return copy->Close() == pdb::kOk;
}

bool CDeviceSession::IsMidiFile(const char* path) {
    if (!path) return false;
    std::FILE* f = platform::OpenFile(path, "rb");
    if (!f) return false;
    unsigned char head[10] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got < 8) return false;
    return head[0] == 'M' && head[1] == 'T' && head[2] == 'h' && head[3] == 'd' && head[7] == 6;
}

void CDeviceSession::Close() {
    if (m_pSocket) {
        // Wakes a poll or a read that another thread may be blocked in.
        if (hotsync::ITransport* transport = m_pSocket->Transport()) transport->Interrupt();
        for (int i = 0; i < kCloseTries && m_pSocket->State() != hotsync::SocketState::Closed;
             ++i) {
            // The run has ended the sync itself, or it cannot be ended any more.
            m_pSocket->SetEndOfSyncSent(true);
            m_pSocket->Close();
        }
    }
    m_files.Clear();
}

int CDeviceSession::OpenConduit() {
    return m_pSocket ? hotsync::DlpOpenConduit(*m_pSocket) : hotsync::kErrNotConnected;
}

int CDeviceSession::SetSysDateTime(time_t localTime) {
    return m_pSocket ? hotsync::DlpSetSysDateTime(*m_pSocket, localTime)
                     : hotsync::kErrNotConnected;
}

int CDeviceSession::ReadUserInfo(UserRecord& record) {
    if (!m_pSocket) return hotsync::kErrNotConnected;
    hotsync::UserInfo info;
    const int r = hotsync::DlpReadUserInfo(*m_pSocket, info);
    if (r != 0) return r;
    record.userId = info.userId;
    record.viewerId = info.viewerId;
    record.lastSyncPc = info.lastSyncPc;
    record.successfulSyncDate = info.successfulSyncDate;
    record.lastSyncDate = info.lastSyncDate;
    record.userName = info.userName.substr(0, 127);
    return 0;
}

int CDeviceSession::WriteUserInfo(const UserRecord& record) {
    if (!m_pSocket) return hotsync::kErrNotConnected;
    hotsync::UserInfo info;
    info.userId = record.userId;
    info.viewerId = record.viewerId;
    info.lastSyncPc = record.lastSyncPc;
    info.successfulSyncDate = record.successfulSyncDate;
    info.lastSyncDate = record.lastSyncDate;
    info.userName = record.userName;
    return hotsync::DlpWriteUserInfo(*m_pSocket, info);
}

int CDeviceSession::ReadSysInfo() {
    if (!m_pSocket) return hotsync::kErrNotConnected;
    hotsync::SysInfo info;
    const int r = hotsync::DlpReadSysInfo(*m_pSocket, info);
    if (r == 0) m_dwRomVersion = info.romVersion;
    return r;
}

int CDeviceSession::ReadStorageInfo(uint32_t& freeBytes, uint32_t& totalBytes) {
    if (!m_pSocket) return hotsync::kErrNotConnected;
    hotsync::CardInfo card;
    const int r = hotsync::DlpReadStorageInfo(*m_pSocket, 0, card);
    if (r < 0) return r;
    freeBytes = card.ramFree;
    totalBytes = card.ramSize;
    return 0;
}

int CDeviceSession::EndOfSync(int status) {
    return m_pSocket ? hotsync::DlpEndOfSync(*m_pSocket, status) : hotsync::kErrNotConnected;
}

int CDeviceSession::DlpVersion() {
    return m_pSocket ? m_pSocket->Version() : -1;
}

bool CDeviceSession::IsLinkBroken() const {
    return m_pSocket && m_pSocket->IsBroken();
}

void CDeviceSession::SetLinkTimeouts(const hotsync::LinkTimeouts& timeouts) {
    if (m_pSocket) m_pSocket->SetTimeouts(timeouts);
}
