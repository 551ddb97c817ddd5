// The virtual handheld: a Palm OS handheld played in software. It speaks the device
// side of the serial HotSync stack (SLP framing, PADP reliability, the CMP handshake,
// DLP answers), or of NetSync (network HotSync, and most USB handhelds), over any
// hotsync::ITransport, serves the desktop's requests from an
// in-memory card 0, and can inject faults (memory full, a pulled cable, lost or
// corrupted packets, a paced line, a stall). It is the peer of the end-to-end tests,
// the benchmarks and the demo program cc-handheld.
//
// Typical in-process use:
//     auto pipe = ports::CreatePipePair();
//     handheld::HandheldConfig config;          // defaults: ROM 4.1, DLP 1.2, 115,200 bit/s
//     config.maxBaud = 57600;
//     handheld::CVirtualHandheld hh(config);
//     hh.Start(*pipe.handheld);                 // presses HotSync at once (pressAfterMs = 0)
//     ... run the desktop stack on *pipe.desktop ...
//     hh.WaitForSyncs(1, 10000);
//     hh.Stop();                                // also done by the destructor
//     auto db = hh.FindDatabase("MemoDB");  auto log = hh.Requests();
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hotsync/transport.h"
#include "pdb/palm_db_file.h"

namespace handheld {

// What happens when the memory-full fault hits a write request.
enum class FullStyle {
    kBoth,  // ACK the request's packets with the PADP memory-error flag and answer DLP error 16
    kPadp,  // flag the ACKs and drop the request unanswered (the message "could not be taken")
    kDlp,   // plain ACKs, answer DLP error 16 ("not enough space")
};

struct HandheldConfig {
    // Identity.
    uint32_t romVersion = 0x04103000;  // 4.1 release
    uint16_t dlpVersion = 0x0102;      // major << 8 | minor: 0x0100, 0x0101, 0x0102, 0x0104
    int cmpMajor = -1, cmpMinor = -1;  // -1: follow the DLP version (1.0/1.1, else 1.3)
    uint32_t displayFeature = 8;       // 'psys' 7: 8 for a colour display (--color), 2 grey
    uint32_t cpuId = 0x00020000;       // 'psys' 2
    uint32_t maxBaud = 115200;         // announced in the wakeup
    std::string userName = "Virtual User";
    uint32_t userId = 1;
    uint32_t ramSize = 8u * 1024 * 1024;  // card 0 RAM in bytes
    uint32_t freeRam = 7u * 1024 * 1024;  // free storage at start; shrinks as data is written
    uint32_t romSize = 2u * 1024 * 1024;
    uint32_t maxRecordSize = 0xFFE1;  // announced in ReadSysInfo (DLP 1.2+)
    int64_t clock = 0;                // handheld clock at start, seconds since 1970 (0: host time)

    // Card contents at start.
    std::vector<std::string> loadFiles;  // .pdb/.prc files preloaded at start
    std::string openDbName;   // answers "open" (DLP error 7) to deletion until a close-all
    bool cancelSync = false;  // OpenConduit answers "cancel sync" (error 0x12)
    std::vector<std::string> romFiles;  // .pdb/.prc files preloaded as databases in ROM
    int hardResetAfterSync = 0;         // after this sync RAM and the user are wiped (0: never)

    // The link: the serial stack unless netSync is set.
    bool netSync = false;  // NetSync frames; each press opens the transport (a network
                           // handheld connects) and the sync's end closes it again
    bool usb = false;      // as a USB handheld: NetSync header and payload in transfers of
                           // their own, the recorded USB blobs, and the line kept at the end

    // Sessions.
    int pressAfterMs = 0;         // first press (and each later one) this long after start/previous
                                  // sync; -1: only PressHotSync() presses
    int syncs = 1;                // Run() returns after this many syncs
    int timeoutSec = 60;          // no desktop answering the wakeup for this long ends Run()
    int wakeupIntervalMs = 1000;  // wakeup repetition while unanswered
    int loopbackPackets = 10;     // empty loopback packets before the first wakeup of a press
    bool strayAckBytes = true;    // the ACK of the INIT carries two stray bytes, as recorded
    int ackTimeoutMs = 2000;      // PADP: wait for an ACK
    int retries = 10;             // PADP: tries per fragment
    int receiveTimeoutMs = 30000;  // waiting for the next request (an INIT may stretch it)
    int tickleIntervalMs = 3000;   // tickles sent while busy (a stall with tickles)
    std::string outDir;            // after each sync: every database and requests.json

    // The memory card in the expansion slot (none when cardSize is 0). Handhelds from
    // Palm OS 4 on have an expansion manager; older ROMs answer its requests "illegal".
    uint64_t cardSize = 0;
    std::string cardLabel = "CARD";
    bool cardReadOnly = false;

    // Faults (0: off, unless said otherwise).
    int64_t breakAfterBytes = 0;  // pulls the cable after this many bytes (both directions)
    int64_t fullAfterBytes = -1;  // memory full once this many data bytes were written (-1 off)
    FullStyle fullStyle = FullStyle::kBoth;
    int corruptEvery = 0;         // every Nth packet in each direction arrives corrupted
    int dropEvery = 0;            // every Nth packet in each direction is lost
    int lineRate = 0;             // pace the line at this many bit/s (bytes at rate/10 per s);
                                  // -1: pace at the rate currently agreed
    int64_t stallAfterBytes = 0;  // stop answering after this many bytes ...
    int stallMs = 40000;          // ... for this long
    bool stallTickles = false;    // ... sending tickles meanwhile

    // Tests: sees every request message and may change the answer before it is sent.
    std::function<void(const std::vector<uint8_t>& request, std::vector<uint8_t>& answer)>
        reviseAnswer;
    // Every Nth record or resource write is answered as written but not kept.
    int loseWriteEvery = 0;
    // The card is taken out once this many bytes were written to it (-1 off). Memory full
    // (fullAfterBytes) fills the card too, after as many bytes on it.
    int64_t cardPullAfterBytes = -1;
};

// How a sync ended.
enum class SyncOutcome {
    kCompleted,  // EndOfSync answered
    kAborted,    // the desktop sent a CMP or PADP abort
    kLinkLost,   // retries or the receive time-out exhausted, or the transport failed
    kBroken,     // the injected cable pull
    kStopped,    // Stop() was called
};
const char* SyncOutcomeName(SyncOutcome outcome);

// One request served (or refused).
struct RequestLogEntry {
    int sync = 0;          // 1-based
    uint8_t function = 0;  // DLP function code
    std::string name;      // "WriteRecord"
    std::string argsJson;  // a JSON object with the key arguments, e.g. {"handle":1,"id":7}
    int result = 0;        // DLP error answered (0 success); -1 when no answer was sent
};

// A database on card 0.
struct HandheldDatabase {
    pdb::DbInfo info;  // dates: seconds since 1970 (0 = never)
    std::vector<uint8_t> appInfo, sortInfo;
    std::vector<pdb::Record> records;      // record databases
    std::vector<pdb::Resource> resources;  // resource databases
};

struct UserInfo {
    uint32_t userId = 0, viewerId = 0, lastSyncPc = 0;
    int64_t lastSuccessfulSync = 0, lastSync = 0;  // seconds since 1970, 0 = never
    std::string name;
    std::vector<uint8_t> password;
};

// Counters of the link, over the handheld's lifetime.
struct LinkStats {
    int64_t bytesSent = 0, bytesReceived = 0;
    int packetsSent = 0, packetsReceived = 0;
    int badPackets = 0;       // dropped for signature, checksum, CRC, length or type
    int retransmissions = 0;  // our fragments sent again for want of an ACK
    int duplicates = 0;       // desktop packets received again and only re-ACKed
    int ticklesReceived = 0, ticklesSent = 0;
    int memoryErrorAcks = 0;  // ACKs sent with the memory-error flag
    int wakeupsSent = 0;
    int currentRate = 9600;  // the line rate in use
};

class CVirtualHandheld {
  public:
    explicit CVirtualHandheld(HandheldConfig config = {});
    ~CVirtualHandheld();  // stops and joins
    CVirtualHandheld(const CVirtualHandheld&) = delete;
    CVirtualHandheld& operator=(const CVirtualHandheld&) = delete;

    const HandheldConfig& Config() const { return m_config; }

    // Card set-up before Run/Start. LoadFile returns 0, or -1 with a reason.
    int LoadFile(const std::string& path, std::string* message = nullptr);
    void AddDatabase(const HandheldDatabase& db);  // replaces one of the same name
    // A database in ROM: listed with the ROM's, read-only, and kept by a hard reset.
    int LoadRomFile(const std::string& path, std::string* message = nullptr);
    // What a hard reset (or flat batteries) does: every database in RAM and the user's
    // name, id and sync record are gone; ROM stays.
    void HardReset();

    // Loads config.loadFiles, then serves config.syncs syncs on the transport in the
    // calling thread. Returns 0 after the syncs (whatever their outcome), 1 when no
    // desktop answered a wakeup within config.timeoutSec or a preload failed, 3 when Stop()
    // ended it. The transport is used as it is (already open) and not closed, except by
    // the cable-pull fault.
    int Run(hotsync::ITransport& transport);

    // Run on a thread of its own. The transport must outlive Join(). False when running.
    bool Start(hotsync::ITransport& transport);
    // Presses the HotSync button (needed when config.pressAfterMs is -1).
    void PressHotSync();
    // Waits until at least count syncs have ended (any outcome). False on time-out.
    bool WaitForSyncs(int count, int timeoutMs) const;
    // Waits until Run has returned. False on time-out.
    bool WaitDone(int timeoutMs) const;
    // Asks Run to end (within about 100 ms) and joins the thread.
    void Stop();
    void Join();
    int ExitCode() const { return m_exitCode.load(); }

    // Inspection; safe from any thread at any time (copies).
    std::vector<HandheldDatabase> Databases() const;
    std::optional<HandheldDatabase> FindDatabase(const std::string& name) const;
    std::vector<RequestLogEntry> Requests() const;
    std::string RequestsJson() const;  // the text written to requests.json
    std::vector<SyncOutcome> Outcomes() const;
    int SyncsDone() const;
    int ResetCount() const;  // resets honoured at the end of a sync
    UserInfo User() const;
    int64_t Clock() const;  // the handheld's clock now, seconds since 1970
    LinkStats Stats() const;
    int64_t BytesStored() const;  // data bytes written by the desktop so far

    // The files on the memory card, with their paths ("/PALM/Launcher/x.prc").
    std::vector<std::pair<std::string, std::vector<uint8_t>>> CardFiles() const;

    // Writes every database as dir/<name>.pdb|.prc, the card's files under dir/card/, and
    // dir/requests.json. 0 or -1.
    int WriteOut(const std::string& dir, std::string* message = nullptr) const;

    // Internal state, shared with the implementation files.
    struct State;

  private:
    HandheldConfig m_config;
    std::unique_ptr<State> m_state;
    std::thread m_thread;
    std::atomic<int> m_exitCode{-1};
};

// The file name a database is written under: unsafe characters become '_'.
std::string SafeFileName(const std::string& name, bool resourceDb);

// Command line of cc-handheld.
struct ProgramOptions {
    HandheldConfig config;
    bool pty = false;
    std::string net;     // --net HOST:PORT: connect to a desktop's NetSync port
    int netWakeups = 0;  // --net-wakeup: UDP wakeups before each connection
    bool stay = false;   // --stay: the line stays open after the syncs, until stopped
    bool help = false;
};
// Parses the arguments (argv[0] is the program). 0, or 2 with a message naming the bad option.
int ParseProgramOptions(int argc, const char* const* argv, ProgramOptions& out,
                        std::string& message);
// The --help text.
std::string ProgramUsage();

}  // namespace handheld
