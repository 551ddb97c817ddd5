// The one connection to a handheld, and the state of one install run over it.
//
// The window makes the session per port and speed (bound, not yet listening), polls it
// for the HotSync button, lets it accept the handheld, and hands it to the install
// worker; after the run it closes and deletes it. The run's fields are shared by the
// window's thread and the worker without locks, each with one writer at a time; the
// ones the other thread reads while they change are atomics of the same width.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hotsync/hotsync.h"
#include "session/card_writer.h"
#include "session/slot_list.h"

namespace pdb {
class CPalmDbFile;
}

// Results of InstallDatabase besides 0 and the handheld's negated DLP errors.
inline constexpr int kInstallMemoryFull = 3;     // the handheld's memory is full
inline constexpr int kInstallLinkBroken = 4;     // the link broke; nothing more can be sent
inline constexpr int kInstallCreateFailed = 10;  // the database could not be created
inline constexpr int kInstallUnreadable = 11;    // an entry of the file could not be read
inline constexpr int kInstallTooLarge = -20;     // a record or resource over 64 KB
// Results of ReadDatabase besides 0, kInstallLinkBroken and the handheld's negated errors.
inline constexpr int kReadBadAnswer = 12;  // the handheld's answers contradict each other
inline constexpr int kReadCancelled = 13;  // the run was stopped while reading

// A database as the handheld lists it, with the card it is on.
struct ListedDatabase {
    hotsync::DbInfo info;
    int card = 0;
};

// What the handheld holds after the install is not what was sent (then removed again).
inline constexpr int kInstallVerifyFailed = 36;

// Where a run's files go.
enum RunDestination : int {
    kDestinationRam = 0,   // the handheld's memory
    kDestinationCard = 1,  // the memory card
    kDestinationAuto = 2,  // memory first, the card for what does not fit
};

// The handheld's user record, as the worker keeps it for one run.
struct UserRecord {
    uint32_t userId = 0;
    uint32_t viewerId = 0;
    uint32_t lastSyncPc = 0;
    time_t successfulSyncDate = 0;  // seconds since 1970, local time
    time_t lastSyncDate = 0;        // non-zero once read in this run
    std::string userName;           // up to 127 characters
};

class CDeviceSession {
  public:
    // Makes the transport for a port name (a device path, "COMn", ...); null when the
    // name reaches no device.
    using TransportFactory =
        std::function<std::unique_ptr<hotsync::ITransport>(const std::string& portName)>;

    // Where link set-up failures go: the failing call's name and errno. Unset: the error
    // output in perror form. A front end that retries a port may pass on repeats.
    using ErrorReporter = std::function<void(const char* call, int err)>;
    static void SetErrorReporter(ErrorReporter reporter);

    // Creates the socket, binds it to the port and, unless deferListen, accepts at once.
    // rate: 0 keeps the initial 9,600 bit/s, -1 offers 57,600 or the handheld's lower
    // maximum, anything else is offered as it is. Failures go to the error output in
    // perror form and leave m_sd at -1.
    CDeviceSession(const char* portName, bool deferListen, int rate);
    // The same over a transport of the caller's (an in-process pipe in tests).
    CDeviceSession(const char* portName, bool deferListen, int rate,
                   std::unique_ptr<hotsync::ITransport> transport);
    CDeviceSession(const char* portName, bool deferListen, int rate,
                   const TransportFactory& factory);
    ~CDeviceSession();
    CDeviceSession(const CDeviceSession&) = delete;
    CDeviceSession& operator=(const CDeviceSession&) = delete;

    // Whether the handheld has started a HotSync on the port. Serial: the clear-to-send
    // line after 40 ms; on a port without modem lines, bytes waiting on the line. USB: the
    // handheld's HotSync function found on the bus (up to three looks, 100 ms apart).
    // Network: a connection waiting, or a wakeup answered.
    bool IsHotSyncPressed();
    // Listens and accepts the handheld at the chosen rate. False (m_sd unchanged) on
    // failure, so the window may poll again.
    bool Accept();
    void SetLinkRate(int rate, bool applyNow);
    // The agreed line rate in bit/s; -1 without a socket.
    int GetLinkRate() const;
    // Sends the link layer's keep-alive.
    void KeepAlive();
    // Display feature ('psys', 7) above 2 means colour; ROM before 3.0 has none.
    bool CheckColor();
    // Processor id ('psys', 2) with its lower 16 bits cleared: 0 or 0x20000 is
    // DragonballEZ class, 0 or 0x10000 the first Dragonball. An unreadable feature sets
    // both flags false: a processor we cannot identify is claimed to be neither.
    bool CheckProcessor();

    // Installs one Palm database file opened for reading. 0 when installed (also after
    // a cancel: the partial database is then removed), else one of the kInstall...
    // results or a negative protocol answer (-16: not enough space).
    int InstallDatabase(pdb::CPalmDbFile& file);
    // Puts the file at path on the memory card chosen by m_strCard (/PALM/Launcher/ and
    // its file name), its length confirmed. 0, a kCard... result, kInstallUnreadable,
    // kInstallVerifyFailed or kInstallLinkBroken.
    int InstallToCard(const std::string& path);
    // Writes a copy of the opened file at path, filling version with the text of its last
    // 'tver' resource (at most capacity - 1 characters; emptied first when capacity is
    // not 0). False only when the copy cannot be created.
    static bool WriteBackupCopy(pdb::CPalmDbFile& file, const std::string& path,
                                std::string& version, size_t capacity);
    // "MThd" at offset 0 and header length 6 (low byte at offset 7) in the first 10 bytes.
    static bool IsMidiFile(const char* path);

    // ---- whole-handheld backup and restore (device_session_backup.cpp) ----
    // The databases in RAM on every card, in the handheld's order. 0, or the failure that
    // ended the listing (kInstallLinkBroken when the link broke).
    int ListRamDatabases(std::vector<ListedDatabase>& databases);
    // Reads a listed database whole into a file created for writing: its app info and sort
    // info blocks and every record (with attributes, category and unique id; deleted ones
    // hold nothing and are left out) or every resource. Progress counts entries in
    // m_nFileBytesDone of m_nFileBytesTotal. 0, kReadBadAnswer, kReadCancelled,
    // kInstallLinkBroken, or the handheld's negated refusal; why says what went wrong.
    int ReadDatabase(const ListedDatabase& database, pdb::CPalmDbFile& out, std::string& why);
    // Puts a backup copy back onto card 0 as it was: every record with its attributes,
    // category and unique id, both blocks, and (DLP 1.2 and later) its attributes and dates.
    // Sync flags are kept. reset is set when the database asks for a reset. Results as
    // InstallDatabase's.
    int RestoreDatabase(pdb::CPalmDbFile& file, bool& reset);

    // Ends the use of the port; the install list is emptied.
    void Close();

    // ---- requests of the install run (0 or a negative result) ----
    int OpenConduit();
    int SetSysDateTime(time_t localTime);
    int ReadUserInfo(UserRecord& record);
    int WriteUserInfo(const UserRecord& record);
    // Reads the ROM version into m_dwRomVersion.
    int ReadSysInfo();
    // Card 0's RAM size and free RAM in bytes. Safe from the window's thread while the
    // worker sends keep-alives: the link serialises the two.
    int ReadStorageInfo(uint32_t& freeBytes, uint32_t& totalBytes);
    int EndOfSync(int status);

    // The handheld's DLP version (0x0100 for DLP 1.0); -1 without a connection.
    int DlpVersion();
    // The link broke (retries or the receive time-out exhausted).
    bool IsLinkBroken() const;
    // The socket record, for tests and tools; null without a socket.
    hotsync::CSocket* Socket() const { return m_pSocket.get(); }
    // Shortens the link's time-outs (tests).
    void SetLinkTimeouts(const hotsync::LinkTimeouts& timeouts);

    // ---- fields, in this order ----
    int m_sd = -1;
    uint32_t m_dwDisplayFeature = 0;
    uint8_t m_bButtonSeen = 0;
    std::atomic<uint8_t> m_bCancel{0};
    std::atomic<int32_t> m_nError{0};
    std::atomic<int32_t> m_bPictureWait{0};
    std::atomic<int32_t> m_nBytesSent{0};
    std::atomic<int32_t> m_nFailed{0};
    int m_bBackup = 0;
    char m_szUserDir[512] = {};
    // The handheld's user name when the run read its user record; empty otherwise. Lets
    // the window offer that name for a new desktop user.
    char m_szUserName[128] = {};
    int m_bSetTime = 0;
    char m_szPort[255] = {};
    char m_szMessage[257] = {};
    CSlotList m_files;
    uint8_t m_bColor = 0;
    uint8_t m_bEzCpu = 0;
    uint8_t m_bOldCpu = 0;
    uint32_t m_dwRomVersion = 0;
    std::atomic<uint32_t> m_nFileBytesDone{0};
    std::atomic<uint32_t> m_nFileBytesTotal{0};
    // Bytes read from the link by ReadDatabase calls of this session.
    std::atomic<int64_t> m_nBytesRead{0};
    // Why the port did not open (errno of the bind); 0 when it did.
    int m_nPortError = 0;

    // ---- whole-handheld backup and restore of the run (ours) ----
    // Set before the worker starts: back up every database in RAM (all of them read again
    // with m_bFullBackup, else only those changed since their copy), into m_strBackupDir
    // when it is set (ending in "/"), else into the desktop user's Backup folder; and restore
    // these files before the install pass.
    int m_bBackupAll = 0;
    int m_bFullBackup = 0;
    std::string m_strBackupDir;
    std::vector<std::string> m_listRestore;
    // Where the run stands while it backs up or restores, for the window's progress line.
    enum Phase : int { kPhaseInstall, kPhaseListing, kPhaseBackup, kPhaseRestore };
    std::atomic<int> m_nPhase{kPhaseInstall};
    std::atomic<int> m_nPhaseIndex{0};  // 0-based
    std::atomic<int> m_nPhaseCount{0};
    void SetPhaseName(const std::string& name);
    std::string PhaseName() const;
    // What the backup and the restore did, line by line, for the end of the run; written by
    // the worker, read by the window once it has ended.
    std::vector<std::string> m_listReport;
    // ---- where the run's files go, and what became of them ----
    int m_nDestination = kDestinationRam;
    // Read every record and resource back after an install and compare the bytes.
    int m_bVerify = 0;
    std::string m_strCard;   // "N" or a label; empty: the first card
    int m_nOnCard = 0;       // files written to the card
    int m_nMovedToCard = 0;  // ... of them because the memory was short
    int m_nKeptInRam = 0;    // sounds and pictures kept in memory though the card was chosen
    int m_nVerified = 0;     // files read back (or measured, on the card) and found equal

  private:
    void Construct(bool deferListen, int rate, std::unique_ptr<hotsync::ITransport> transport);
    // Accept, optionally closing the socket on failure (the constructor's form).
    bool ListenAndAccept(bool closeOnFailure);
    // The database at the handle is removed unless the link broke; returns the result.
    int CleanUp(int handle, const std::string& name, int result);
    // After the install: the handheld holds the database with as many entries as were
    // written (by FindDB, or ReadOpenDBInfo on the handle for handhelds without it), and
    // with m_bVerify every entry equal to the file's. 0 or kInstallVerifyFailed.
    int CountCheck(int handle, const std::string& name, int expected, bool closed);
    int ReadBack(pdb::CPalmDbFile& file, const std::string& name, bool skipsDeleted);

    std::unique_ptr<CCardWriter> m_pCardWriter;

    std::unique_ptr<hotsync::CSocket> m_pSocket;
    mutable std::mutex m_phaseLock;
    std::string m_strPhaseName;
};

// Puts a text into a fixed buffer, cut to its capacity less the terminator.
template <size_t N>
void CopyText(char (&buffer)[N], const std::string& text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    text.copy(buffer, n);
    buffer[n] = '\0';
}
