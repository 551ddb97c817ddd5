// Internal: the handheld's state shared by the sync loop, the DLP server and the
// inspection accessors. One mutex guards the card, the log and the counters of a
// sync; the link's counters have their own so that packet code never waits on a reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/handheld/card_volume.h"
#include "tools/handheld/virtual_handheld.h"

namespace handheld {

struct CardDatabase {
    HandheldDatabase db;
    uint32_t localId = 0;
    bool heldOpen = false;  // open by an application: deletion answers "open"
    bool inRom = false;     // loaded into ROM
    // In ROM: listed with ROM, read-only, kept by a hard reset. Read-only databases stand
    // for those in ROM too.
    bool InRom() const { return inRom || (db.info.attributes & pdb::kAttrReadOnly) != 0; }
};

struct OpenDatabase {
    CardDatabase* db = nullptr;
    uint8_t mode = 0;
    size_t nextModified = 0;  // where ReadNextModifiedRec looks on
};

struct CVirtualHandheld::State {
    explicit State(const HandheldConfig& config);

    const HandheldConfig& config;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;         // a sync ended, Run ended, the button pressed
    std::vector<std::unique_ptr<CardDatabase>> dbs;  // card order = DB index
    std::map<uint8_t, OpenDatabase> handles;
    UserInfo user;
    // Network HotSync settings, kept only to be read back.
    struct NetSyncInfo {
        uint8_t lanSyncOn = 0;
        std::string hostName, hostAddress, subnetMask;
    } netSync;
    int64_t clockBase = 0;  // handheld seconds at clockAt
    std::chrono::steady_clock::time_point clockAt;
    int64_t bytesStored = 0;
    int64_t freeRam = 0;
    bool resetPending = false;
    int resets = 0;
    std::vector<RequestLogEntry> log;
    std::vector<SyncOutcome> outcomes;
    std::vector<std::string> syncLogText;
    uint32_t nextLocalId = 0x00040000;
    int currentSync = 0;
    uint8_t lastHandle = 0;
    size_t findCursor = 0;  // FindDB by type and creator continues here
    bool pressed = false;
    bool running = false;
    bool done = false;
    bool loaded = false;

    // The memory card, and a VFSFileWrite whose data message comes next.
    std::unique_ptr<CCardVolume> card;
    struct PendingWrite {
        bool active = false;
        uint32_t fileRef = 0;
        uint32_t length = 0;
    } pendingWrite;
    int64_t cardBytes = 0;  // written to the card so far
    int writesSeen = 0;     // record and resource writes, for the lost-write fault

    std::mutex statsMutex;
    LinkStats stats;
    std::atomic<bool> stop{false};

    int64_t Now() const;  // handheld clock, seconds since 1970
    void SetClock(int64_t seconds);
    CardDatabase* Find(const std::string& name);
    void CloseAll();
};

// The DLP request server over the card. Handle() takes one request message and gives the
// response message; it logs the request.
class CDlpServer {
  public:
    explicit CDlpServer(CVirtualHandheld::State& state) : m_state(state) {}
    std::vector<uint8_t> Handle(const std::vector<uint8_t>& request, bool& endOfSync);
    // Logs a request that was dropped unanswered.
    void LogDropped(const std::vector<uint8_t>& request);
    // For the PADP layer: the data bytes a write request carries, from its first fragment
    // (size bytes of a message of total bytes); -1 when it is no write or cannot be told.
    static int64_t WriteDataSize(const uint8_t* data, size_t size, uint32_t total);
    // The same for the next message: -1 while a card write's data is awaited (the card
    // answers a full volume itself).
    int64_t IncomingWriteSize(const uint8_t* data, size_t size, uint32_t total) const;
    bool IsMemoryFull(int64_t dataBytes) const;

  private:
    CVirtualHandheld::State& m_state;
};

// Dates on the wire (DlpDateTime) from and to seconds since 1970; 0 = "no date".
void EncodeDlpDate(int64_t seconds, uint8_t out[8]);
int64_t DecodeDlpDate(const uint8_t in[8]);

std::string JsonEscape(const std::string& text);

}  // namespace handheld
