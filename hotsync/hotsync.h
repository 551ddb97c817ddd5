// The HotSync stack, desktop side: sockets over a byte transport (SLP framing, PADP
// reliability, the CMP handshake) and the DLP requests an installer needs.
//
// No process-wide state: every socket owns its transport, its counters and one lock.
// Every DLP request and every tickle holds that lock for the whole exchange, so a request
// from one thread and keep-alives from another never interleave on the link.
//
// Results of the DLP calls: 0 on success, the handheld's DLP error code negated (e.g. -7
// "database open", -16 "not enough space"), or one of the kDlpErr... / kErr... values below.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "hotsync/transport.h"

namespace hotsync {

// ---- socket constants -------------------------------------------------------------------

constexpr int kAfSlp = 0x51;       // address family: serial link protocol
constexpr int kSockStream = 0x10;  // socket type: stream
constexpr int kProtoPadp = 0x52;   // protocol: packet assembly/disassembly

constexpr size_t kAddressSize = 16;  // family (2) + port name with its NUL (14)
constexpr size_t kMaxPortNameLength = 13;

constexpr int kInitialRate = 9600;  // every session starts here
constexpr int kDefaultOfferRate = 57600;

// DLP versions as Version() reports them.
constexpr int kDlpVersion10 = 0x0100;
constexpr int kDlpVersion11 = 0x0101;
constexpr int kDlpVersion12 = 0x0102;

// ---- result codes besides the negated DLP errors ----------------------------------------

constexpr int kDlpErrShortAnswer = -128;   // the answer carries less data than expected
constexpr int kDlpErrBadResponse = -129;   // wrong function code or malformed arguments
constexpr int kDlpErrBadArgument = -130;   // refused before sending (name too long, ...)
constexpr int kDlpErrDataTooLarge = -131;  // record of 65,528 bytes or more
constexpr int kErrLinkBroken = -200;       // retries or receive time-out exhausted, or aborted
constexpr int kErrPeerMemory = -201;       // the handheld ACKed with its memory-error flag
constexpr int kErrNotConnected = -202;     // no accepted connection on this socket

// Largest record data WriteRecord accepts (its argument must fit a 16-bit length).
constexpr size_t kMaxRecordData = 65527;

// ---- addresses --------------------------------------------------------------------------

// The 16-byte bind address: a 16-bit family (kAfSlp) and the port name, NUL-terminated.
struct SocketAddress {
    uint16_t family = kAfSlp;
    std::array<char, kAddressSize - 2> name{};

    // The port name as text (up to the NUL).
    std::string PortName() const;
};

// Fills an address for a port name ("COM1", "/dev/pts/3", "USB"). Returns false when the
// name is longer than 13 characters (the address is then left empty).
bool MakeAddress(const std::string& portName, SocketAddress& address);

// ---- link timing ------------------------------------------------------------------------

// Time-outs and retries of the link layer. The defaults are those real handhelds expect;
// tests shorten them so that a silent peer is detected quickly.
struct LinkTimeouts {
    int ackWaitMs = 2000;    // wait for the ACK of one fragment before sending it again
    int sendTries = 10;      // tries per fragment before the link counts as broken
    int receiveMs = 30000;   // wait for the next packet of an awaited message
    int acceptMs = 30000;    // Accept: wait for the wakeup (the button was already seen)
    int rateSettleMs = 100;  // pause after switching the port to the agreed rate
};

// ---- the socket -------------------------------------------------------------------------

enum class SocketState { Created, Bound, Listening, Connected, Closed };

class CSocket {
  public:
    // Makes a socket. Only (kAfSlp, kSockStream, kProtoPadp) is supported; anything else
    // returns null with errno = EINVAL.
    static std::unique_ptr<CSocket> Create(int family, int type, int protocol);

    ~CSocket();  // closes (see Close)
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    // Binds to a port and opens the transport that reaches it (the caller picks the
    // transport for the port name, see session/link/port_transport.h) at 9,600 bit/s.
    // Returns 0, or -1 with errno set: EINVAL for a bad address or state, 2 (ENOENT) when
    // the transport is missing or cannot be opened.
    int Bind(const SocketAddress& address, std::unique_ptr<ITransport> transport);

    // Starts listening at 9,600 bit/s (the rate Bind set; a port switched since is set back).
    // Backlog must be 1. Returns 0 or -1.
    int Listen(int backlog);

    // All within LinkTimeouts::acceptMs: takes the handheld's connection from the transport
    // (the USB device found, the network connection) and tells its framing when the port
    // carries either. Serial stack: waits for the wakeup, refuses a CMP major version other
    // than 1 with an abort packet, offers the rate (see SetEstablishRate), sends the init
    // packet, switches the port to the offered rate and, when that changes the
    // rate, waits LinkTimeouts::rateSettleMs.
    // NetSync: the handshake; the line rate then reads as the rate asked for. On success the
    // socket itself becomes the connected socket and 0 is returned; on failure -1 with errno
    // set (ETIMEDOUT: no wakeup or handshake, ECONNREFUSED: version or handshake refused,
    // EPIPE: transport failed) and the socket keeps listening (a refused network peer is
    // hung up on), so the caller may try again.
    int Accept();

    // Ends the connection: when connected, not broken and no end of sync was sent yet,
    // sends EndOfSync(0) first; then sets the port back to 9,600 bit/s and closes the
    // transport. Safe to call from another thread while a request waits (it interrupts
    // the transport). Idempotent. Returns 0.
    int Close();

    // The handheld's DLP version (0x0100 for DLP 1.0, 0x0101, 0x0102 ...). Asks the
    // handheld with ReadSysInfo when no answer has told it yet; a handheld too old to
    // report it counts as 1.0 or 1.1 from its CMP version. -1 when not connected.
    int Version();

    // Sends a keep-alive (PADP tickle; never acknowledged). 0, or a negative result.
    int Tickle();

    // The rate the init packet offers. mayExceedAnnounced = false lowers it to the
    // handheld's announced maximum (the "-1 → 57,600" choice); true forces it. Not
    // called at all: 9,600 is offered.
    void SetEstablishRate(int bitsPerSecond, bool mayExceedAnnounced);
    int EstablishRate() const;  // 0 when never set
    bool EstablishRateForced() const;

    // Switches the port to the current line rate now. Returns 0 or -1.
    int ApplyLineRate();

    // Link time-outs of this socket (defaults as in LinkTimeouts).
    void SetTimeouts(const LinkTimeouts& timeouts);
    LinkTimeouts Timeouts() const;

    // ---- the socket record ----
    SocketState State() const { return m_state.load(); }
    const SocketAddress& Address() const { return m_address; }
    int LineRate() const { return m_lineRate.load(); }               // bit/s
    int AnnouncedMaxRate() const { return m_announcedRate.load(); }  // from the wakeup; 0 before
    int CmpVersion() const { return m_cmpVersion.load(); }           // major << 8 | minor
    uint64_t BytesSent() const { return m_bytesSent.load(); }        // whole frames written
    uint64_t BytesRead() const { return m_bytesRead.load(); }        // bytes taken from the port
    int ReceiveErrors() const { return m_receiveErrors.load(); }     // bad or timed-out receives
    bool IsBroken() const { return m_broken.load(); }
    bool EndOfSyncSent() const { return m_endOfSyncSent.load(); }
    void SetEndOfSyncSent(bool sent) { m_endOfSyncSent.store(sent); }
    // The memory-error flag the handheld set on its last PADP acknowledgement.
    bool LastMemoryError() const { return m_memoryError.load(); }
    // Largest record the handheld allocates (from ReadSysInfo); 0 = unknown (64 KB rule).
    uint32_t MaxRecordSize() const { return m_maxRecordSize.load(); }
    // The transport (for the modem status of the HotSync button poll); null before Bind.
    ITransport* Transport() const { return m_transport.get(); }
    // The port's native handle (a file descriptor for serial ports), -1 when none.
    int PortHandle() const;

    // ---- used by the DLP layer ----
    // Sends one request message and receives the answer, holding the socket's lock.
    // Returns 0 or a negative result (kErrLinkBroken, kErrPeerMemory, kErrNotConnected).
    int Exchange(std::span<const uint8_t> request, std::vector<uint8_t>& response);
    // Records what ReadSysInfo learnt (version 0 = not reported).
    void NoteHandheldVersion(int dlpVersion, uint32_t maxRecordSize);

  private:
    CSocket();
    int ExchangeLocked(std::span<const uint8_t> request, std::vector<uint8_t>& response);
    int ExchangeNetSync(std::span<const uint8_t> request, std::vector<uint8_t>& response);
    // Takes the handheld's connection from the transport and tells its framing; readAhead
    // receives the bytes read for that. 0, or -1 with errno set.
    int TakeHandheld(std::chrono::steady_clock::time_point deadline, Framing& framing,
                     std::vector<uint8_t>& readAhead);
    int AcceptNetSync(std::chrono::steady_clock::time_point deadline,
                      std::span<const uint8_t> readAhead);
    int VersionFromCmp() const;

    struct Link;  // the protocol layers and their state, guarded by m_lock

    mutable std::mutex m_lock;
    LinkTimeouts m_timeouts;  // guarded by m_lock
    std::unique_ptr<ITransport> m_transport;
    std::unique_ptr<Link> m_link;
    SocketAddress m_address;
    std::atomic<SocketState> m_state{SocketState::Created};
    std::atomic<int> m_lineRate{kInitialRate};
    std::atomic<int> m_establishRate{0};
    std::atomic<bool> m_establishForced{false};
    std::atomic<int> m_announcedRate{0};
    std::atomic<int> m_cmpVersion{0};
    std::atomic<int> m_dlpVersion{0};
    std::atomic<uint32_t> m_maxRecordSize{0};
    std::atomic<uint64_t> m_bytesSent{0};
    std::atomic<uint64_t> m_bytesRead{0};
    std::atomic<int> m_receiveErrors{0};
    std::atomic<bool> m_broken{false};
    std::atomic<bool> m_endOfSyncSent{false};
    std::atomic<bool> m_memoryError{false};
    std::atomic<bool> m_closing{false};
};

// ---- DLP data ---------------------------------------------------------------------------
// Dates are seconds since 1970 in local time (the handheld's clock has no zone); 0 means
// "no date".

struct UserInfo {
    uint32_t userId = 0;
    uint32_t viewerId = 0;
    uint32_t lastSyncPc = 0;
    time_t successfulSyncDate = 0;
    time_t lastSyncDate = 0;
    std::string userName;           // up to 127 characters read; at most 40 are written
    std::vector<uint8_t> password;  // encrypted, as the handheld keeps it (not used)
};

struct SysInfo {
    uint32_t romVersion = 0;  // major in bits 31-24, minor in 23-20
    uint32_t locale = 0;
    std::vector<uint8_t> productId;
    int dlpVersion = 0;  // major << 8 | minor; 0 when the handheld did not say (1.0/1.1)
    int compatVersion = 0;
    uint32_t maxRecordSize = 0;
};

struct CardInfo {
    int card = 0;
    int version = 0;
    time_t creationDate = 0;
    uint32_t romSize = 0;
    uint32_t ramSize = 0;
    uint32_t ramFree = 0;
    std::string name;
    std::string manufacturer;
};

// What FindDB reports about a database (by-handle form, attributes option).
struct DbInfo {
    int card = 0;
    uint32_t localId = 0;
    uint32_t openRef = 0;
    int miscFlags = 0;
    int attributes = 0;
    uint32_t type = 0;
    uint32_t creator = 0;
    int version = 0;
    uint32_t modificationNumber = 0;
    time_t creationDate = 0;
    time_t modificationDate = 0;
    time_t backupDate = 0;
    int index = 0;
    std::string name;
};

// What FindDB's size option reports about a database.
struct DbSizes {
    uint32_t recordCount = 0;  // records or resources
    uint32_t totalBytes = 0;
    uint32_t dataBytes = 0;
};

struct ResourceData {
    uint32_t type = 0;
    int id = 0;
    int index = 0;
    std::vector<uint8_t> data;
};

// ---- expansion cards and VFS ----

// A mounted volume, as VFSVolumeInfo describes it.
struct VolumeInfo {
    uint32_t attributes = 0;  // kVolumeAttr...
    uint32_t fsType = 0;      // 'vfat'
    uint32_t fsCreator = 0;
    uint32_t mountClass = 0;
    int slotLibRef = 0;
    int slotRef = 0;
    uint32_t mediaType = 0;  // 'sdig', 'mstk', ...
};
constexpr uint32_t kVolumeAttrSlotBased = 0x1;
constexpr uint32_t kVolumeAttrReadOnly = 0x2;
constexpr uint32_t kVolumeAttrHidden = 0x4;

// VFSFileOpen modes.
constexpr int kVfsModeRead = 0x02;
constexpr int kVfsModeWrite = 0x05;
constexpr int kVfsModeReadWrite = 0x07;

// Longest file or directory name on a volume (without its NUL).
constexpr size_t kMaxVfsName = 255;
// Volume and slot lists are taken up to this many entries; the rest is ignored.
constexpr size_t kMaxVolumes = 16;

// Expansion and VFS failures as the calls return them (the handheld's code negated).
constexpr int kDlpErrIllegalRequest = -0x02;  // no such request: no expansion manager
constexpr int kDlpErrNotFound = -0x05;
constexpr int kDlpErrAlreadyExists = -0x09;
constexpr int kExpErrCardNotPresent = -0x2903;
constexpr int kExpErrCardReadOnly = -0x2907;
constexpr int kExpErrEnumerationEmpty = -0x290D;
constexpr int kVfsErrFileBadRef = -0x2A03;
constexpr int kVfsErrPermissionDenied = -0x2A05;
constexpr int kVfsErrFileAlreadyExists = -0x2A06;
constexpr int kVfsErrFileNotFound = -0x2A08;
constexpr int kVfsErrVolumeBadRef = -0x2A09;
constexpr int kVfsErrBadName = -0x2A0E;
constexpr int kVfsErrVolumeFull = -0x2A0F;

struct RecordData {
    uint32_t id = 0;
    int index = 0;
    int attributes =
        0;  // DLP form: 0x80 deleted, 0x40 dirty, 0x20 busy, 0x10 secret, 0x08 archived
    int category = 0;
    std::vector<uint8_t> data;
};

// OpenDB modes.
constexpr int kOpenRead = 0x80;
constexpr int kOpenWrite = 0x40;
constexpr int kOpenReadWrite = 0xC0;
constexpr int kOpenExclusive = 0x20;
constexpr int kOpenSecret = 0x10;

// EndOfSync status.
constexpr int kEndNormal = 0;
constexpr int kEndOutOfMemory = 1;
constexpr int kEndUserCancel = 2;
constexpr int kEndOther = 3;

// ---- DLP requests -----------------------------------------------------------------------
// A broken link fails every request at once with kErrLinkBroken.

int DlpOpenConduit(CSocket& socket);
int DlpSetSysDateTime(CSocket& socket, time_t localTime);
int DlpReadUserInfo(CSocket& socket, UserInfo& info);
// Writes every field, all marked as modified.
int DlpWriteUserInfo(CSocket& socket, const UserInfo& info);
// Also tells the socket the handheld's DLP version and record limit.
int DlpReadSysInfo(CSocket& socket, SysInfo& info);
int DlpReadStorageInfo(CSocket& socket, int card, CardInfo& info);
// Marks the socket's end of sync as sent when it succeeds.
int DlpEndOfSync(CSocket& socket, int status);

int DlpOpenDB(CSocket& socket, int card, int mode, const std::string& name, int& handle);
// Creator before type, as on the wire. The database is left open with the handle.
int DlpCreateDB(CSocket& socket, uint32_t creator, uint32_t type, int card, int attributes,
                int version, const std::string& name, int& handle);
int DlpDeleteDB(CSocket& socket, int card, const std::string& name);
int DlpCloseDB(CSocket& socket, int handle);
int DlpCloseAllDBs(CSocket& socket);  // 0x19 with argument 0x21

int DlpWriteAppBlock(CSocket& socket, int handle, std::span<const uint8_t> block);
// Data of kMaxRecordData + 1 (65,528) bytes or more: "Data too large\n" on stderr and
// kDlpErrDataTooLarge, nothing sent. newId (optional) receives the id the handheld used.
int DlpWriteRecord(CSocket& socket, int handle, int attributes, uint32_t id, int category,
                   std::span<const uint8_t> data, uint32_t* newId = nullptr);
// Up to 65,536 bytes (a long argument and long-form PADP when the handheld takes them).
int DlpWriteResource(CSocket& socket, int handle, uint32_t type, int id,
                     std::span<const uint8_t> data);
int DlpReadRecordByIndex(CSocket& socket, int handle, int index, RecordData& record);
int DlpResetSyncFlags(CSocket& socket, int handle);
int DlpResetSystem(CSocket& socket);
int DlpReadFeature(CSocket& socket, uint32_t creator, int number, uint32_t& value);
// FindDB by open handle (0x39, argument 0x21, option 0x80).
int DlpFindDBByHandle(CSocket& socket, int handle, DbInfo& info);

// ---- reading whole databases, and what restoring them needs ---------------------------
// A backup lists the handheld's databases, reads each one whole and writes it back later.

// ReadDBList search flags.
constexpr int kDbListRam = 0x80;
constexpr int kDbListRom = 0x40;
constexpr int kDbListMultiple = 0x20;  // several entries per answer (DLP 1.2 and later)
// DbInfo::miscFlags.
constexpr int kDbMiscExcludedFromSync = 0x80;
constexpr int kDbMiscRamBased = 0x40;  // DLP 1.2 and later

// One answer of ReadDBList: its entries, the index of the last one, and whether more follow.
struct DbListPage {
    std::vector<DbInfo> entries;
    int lastIndex = 0;
    bool more = false;
};
// Asks for entries from start on; kDbListMultiple is dropped before DLP 1.2. The end of
// the list answers -5 (not found).
int DlpReadDBList(CSocket& socket, int flags, int card, int start, DbListPage& page);

// The whole app info or sort info block; -5 when the database has none.
int DlpReadAppBlock(CSocket& socket, int handle, std::vector<uint8_t>& block);
int DlpReadSortBlock(CSocket& socket, int handle, std::vector<uint8_t>& block);
int DlpWriteSortBlock(CSocket& socket, int handle, std::span<const uint8_t> block);

// Part of a record: at most count bytes from offset; size receives the size of the whole
// record, which may be more than one answer carries.
int DlpReadRecordByIndex(CSocket& socket, int handle, int index, int offset, int count,
                         RecordData& record, int& size);
int DlpReadRecordById(CSocket& socket, int handle, uint32_t id, int offset, int count,
                      RecordData& record, int& size);

// Part of a resource, as for records.
int DlpReadResourceByIndex(CSocket& socket, int handle, int index, int offset, int count,
                           ResourceData& resource, int& size);
int DlpReadResourceByType(CSocket& socket, int handle, uint32_t type, int id, int offset, int count,
                          ResourceData& resource, int& size);

// The number of records or resources of an open database.
int DlpReadOpenDBInfo(CSocket& socket, int handle, int& entries);

// What SetDBInfo changes (DLP 1.2 and later): attribute bits to clear and to set, and each
// other field unless it is 0 (a date), or empty (the name).
struct DbInfoChange {
    int clearAttributes = 0;
    int setAttributes = 0;
    int version = 0;
    time_t creationDate = 0;
    time_t modificationDate = 0;
    time_t backupDate = 0;
    uint32_t type = 0;
    uint32_t creator = 0;
    std::string name;
};
int DlpSetDBInfo(CSocket& socket, int handle, const DbInfoChange& change);
// Verification. FindDB by name with its size option (DLP 1.2); ReadOpenDBInfo for older
// handhelds, by open handle; a resource read back by its index.
int DlpFindDBSizes(CSocket& socket, int card, const std::string& name, DbSizes& sizes);
int DlpReadResourceByIndex(CSocket& socket, int handle, int index, ResourceData& resource);

// Expansion cards and VFS. Lists are cut at kMaxVolumes; a list that claims more entries
// than it carries is a short answer.
int DlpExpSlotEnumerate(CSocket& socket, std::vector<int>& slotRefs);
// 0 when a card is in the slot.
int DlpExpCardPresent(CSocket& socket, int slotRef);
int DlpVFSVolumeEnumerate(CSocket& socket, std::vector<int>& volRefs);
int DlpVFSVolumeInfo(CSocket& socket, int volRef, VolumeInfo& info);
// The label up to its NUL (or to the end of an answer without one), at most kMaxVfsName.
int DlpVFSVolumeGetLabel(CSocket& socket, int volRef, std::string& label);
int DlpVFSVolumeSize(CSocket& socket, int volRef, uint32_t& used, uint32_t& total);
// Paths: kDlpErrBadArgument, nothing sent, for an empty path or one with a NUL.
int DlpVFSDirCreate(CSocket& socket, int volRef, const std::string& path);
int DlpVFSFileCreate(CSocket& socket, int volRef, const std::string& path);
int DlpVFSFileOpen(CSocket& socket, int volRef, const std::string& path, int mode,
                   uint32_t& fileRef);
int DlpVFSFileResize(CSocket& socket, uint32_t fileRef, uint32_t size);
// Writes the data (the request, then the data as a message of its own); written receives
// what the handheld took, which may be less (the rest is then sent again). More than was
// sent is a bad response. At most kMaxVfsWrite bytes per call.
int DlpVFSFileWrite(CSocket& socket, uint32_t fileRef, std::span<const uint8_t> data,
                    uint32_t& written);
int DlpVFSFileClose(CSocket& socket, uint32_t fileRef);
int DlpVFSFileDelete(CSocket& socket, int volRef, const std::string& path);
int DlpVFSFileSize(CSocket& socket, uint32_t fileRef, uint32_t& size);

// The largest VFSFileWrite: its data message must stay below the 16-bit PADP size.
constexpr size_t kMaxVfsWrite = 0xFFFF;

// Four-character code from text ("psys" -> 0x70737973).
constexpr uint32_t FourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

}  // namespace hotsync
