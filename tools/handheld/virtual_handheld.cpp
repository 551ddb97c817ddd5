#include "tools/handheld/virtual_handheld.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "hotsync/timeline.h"
#include "platform/system.h"
#include "tools/handheld/device_link.h"
#include "tools/handheld/handheld_state.h"
#include "tools/handheld/netsync_device.h"

namespace handheld {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kCmpWakeup = 0x01, kCmpInit = 0x02, kCmpAbort = 0x03;
constexpr uint8_t kInitChangeRate = 0x80, kInitOneMinute = 0x40, kInitTwoMinutes = 0x20,
                  kInitLongForm = 0x10;
constexpr uint8_t kFirstLoopbackXid = 0x15;  // as recorded; any value serves

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// The host's local time as seconds since 1970: its local fields read as if they were UTC.
int64_t HostLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!platform::LocalTime(now, local)) return static_cast<int64_t>(now);
    return DaysFromCivil(local.tm_year + 1900, unsigned(local.tm_mon + 1),
                         unsigned(local.tm_mday)) *
               86400 +
           local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

int CmpMajor(const HandheldConfig& c) {
    return c.cmpMajor >= 0 ? c.cmpMajor : 1;
}
int CmpMinor(const HandheldConfig& c) {
    if (c.cmpMinor >= 0) return c.cmpMinor;
    if (c.dlpVersion <= 0x0100) return 0;
    if (c.dlpVersion == 0x0101) return 1;
    return 3;
}
// Units from DLP 1.2 on take long-form PADP; older ones never offer it.
bool OffersLongForm(const HandheldConfig& c) {
    return c.dlpVersion >= 0x0102;
}

}  // namespace

const char* SyncOutcomeName(SyncOutcome outcome) {
    switch (outcome) {
        case SyncOutcome::kCompleted:
            return "completed";
        case SyncOutcome::kAborted:
            return "aborted";
        case SyncOutcome::kLinkLost:
            return "link lost";
        case SyncOutcome::kBroken:
            return "cable pulled";
        case SyncOutcome::kStopped:
            return "stopped";
    }
    return "unknown";
}

// ---- State --------------------------------------------------------------------------

CVirtualHandheld::State::State(const HandheldConfig& c) : config(c) {
    user.name = c.userName;
    user.userId = c.userName.empty() ? 0 : c.userId;
    freeRam = c.freeRam;
    SetClock(c.clock != 0 ? c.clock : HostLocalTime());
    if (c.cardSize != 0) {
        card = std::make_unique<CCardVolume>(c.cardSize, c.cardLabel, c.cardReadOnly);
    }
}

int64_t CVirtualHandheld::State::Now() const {
    return clockBase +
           std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - clockAt).count();
}

void CVirtualHandheld::State::SetClock(int64_t seconds) {
    clockBase = seconds;
    clockAt = Clock::now();
}

CardDatabase* CVirtualHandheld::State::Find(const std::string& name) {
    for (auto& db : dbs) {
        if (db->db.info.name == name) return db.get();
    }
    return nullptr;
}

void CVirtualHandheld::State::CloseAll() {
    handles.clear();
    if (card) card->CloseAll();
    pendingWrite = {};
}

// ---- Set-up and inspection ------------------------------------------------------------

CVirtualHandheld::CVirtualHandheld(HandheldConfig config)
    : m_config(std::move(config)), m_state(std::make_unique<State>(m_config)) {}

CVirtualHandheld::~CVirtualHandheld() {
    Stop();
}

void CVirtualHandheld::AddDatabase(const HandheldDatabase& db) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    CardDatabase* existing = m_state->Find(db.info.name);
    if (!existing) {
        m_state->dbs.push_back(std::make_unique<CardDatabase>());
        existing = m_state->dbs.back().get();
        existing->localId = m_state->nextLocalId += 0x100;
    }
    existing->db = db;
    existing->db.info.name = db.info.name.substr(0, pdb::kMaxNameLength);
    existing->heldOpen = !m_config.openDbName.empty() && db.info.name == m_config.openDbName;
}

int CVirtualHandheld::LoadFile(const std::string& path, std::string* message) {
    int result = 0;
    std::string why;
    auto file = pdb::CPalmDbFile::Open(path, &result, &why);
    if (!file) {
        if (message) *message = path + ": " + why;
        return -1;
    }
    HandheldDatabase db;
    db.info = file->Info();
    file->GetAppInfo(db.appInfo);
    file->GetSortInfo(db.sortInfo);
    const int count = file->EntryCount();
    for (int i = 0; i < count; ++i) {
        int rc = 0;
        if (db.info.IsResourceDb()) {
            pdb::Resource res;
            rc = file->ReadResource(i, res);
            db.resources.push_back(std::move(res));
        } else {
            pdb::Record rec;
            rc = file->ReadRecord(i, rec);
            db.records.push_back(std::move(rec));
        }
        if (rc != pdb::kOk) {
            if (message) *message = path + ": entry " + std::to_string(i) + " cannot be read";
            return -1;
        }
    }
    AddDatabase(db);
    return 0;
}

int CVirtualHandheld::LoadRomFile(const std::string& path, std::string* message) {
    auto header = pdb::CPalmDbFile::Open(path);
    if (LoadFile(path, message) != 0 || !header) return -1;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    CardDatabase* db = m_state->Find(header->Info().name.substr(0, pdb::kMaxNameLength));
    if (!db) return -1;
    db->inRom = true;
    db->db.info.attributes |= pdb::kAttrReadOnly;
    return 0;
}

void CVirtualHandheld::HardReset() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    State& s = *m_state;
    s.CloseAll();
    std::erase_if(s.dbs, [](const std::unique_ptr<CardDatabase>& db) { return !db->InRom(); });
    s.user = UserInfo{};
    s.netSync = State::NetSyncInfo{};
    s.freeRam = m_config.freeRam;
    s.bytesStored = 0;
}

std::vector<HandheldDatabase> CVirtualHandheld::Databases() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    std::vector<HandheldDatabase> out;
    for (const auto& db : m_state->dbs) out.push_back(db->db);
    return out;
}

std::optional<HandheldDatabase> CVirtualHandheld::FindDatabase(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    CardDatabase* db = m_state->Find(name);
    if (!db) return std::nullopt;
    return db->db;
}

std::vector<RequestLogEntry> CVirtualHandheld::Requests() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->log;
}

std::string CVirtualHandheld::RequestsJson() const {
    const auto log = Requests();
    std::string out = "[";
    for (size_t i = 0; i < log.size(); ++i) {
        const auto& e = log[i];
        out += i ? ",\n " : "\n ";
        out += "{\"sync\":" + std::to_string(e.sync) + ",\"function\":\"" + JsonEscape(e.name) +
               "\",\"code\":" + std::to_string(e.function) + ",\"args\":" + e.argsJson +
               ",\"result\":" + std::to_string(e.result) + "}";
    }
    out += log.empty() ? "]\n" : "\n]\n";
    return out;
}

std::vector<SyncOutcome> CVirtualHandheld::Outcomes() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->outcomes;
}

int CVirtualHandheld::SyncsDone() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return static_cast<int>(m_state->outcomes.size());
}

int CVirtualHandheld::ResetCount() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->resets;
}

UserInfo CVirtualHandheld::User() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->user;
}

int64_t CVirtualHandheld::Clock() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->Now();
}

LinkStats CVirtualHandheld::Stats() const {
    std::lock_guard<std::mutex> lock(m_state->statsMutex);
    return m_state->stats;
}

int64_t CVirtualHandheld::BytesStored() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->bytesStored;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> CVirtualHandheld::CardFiles() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    if (!m_state->card) return out;
    for (auto& file : m_state->card->Files()) out.emplace_back(file.path, std::move(file.data));
    return out;
}

std::string SafeFileName(const std::string& name, bool resourceDb) {
    std::string out;
    for (unsigned char c : name) {
        const bool unsafe =
            c < 0x20 || c >= 0x7F ||
            std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos;
        out.push_back(unsafe ? '_' : static_cast<char>(c));
    }
    if (out.empty() || out == "." || out == "..") out = std::string(out.size() + 1, '_');
    return out + (resourceDb ? ".prc" : ".pdb");
}

int CVirtualHandheld::WriteOut(const std::string& dir, std::string* message) const {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const auto dbs = Databases();
    for (const auto& db : dbs) {
        const std::string path = dir + "/" + SafeFileName(db.info.name, db.info.IsResourceDb());
        int result = 0;
        auto file = pdb::CPalmDbFile::Create(path, db.info, &result);
        if (!file) {
            if (message) *message = "cannot create " + path;
            return -1;
        }
        if (!db.appInfo.empty()) file->SetAppInfo(db.appInfo);
        if (!db.sortInfo.empty()) file->SetSortInfo(db.sortInfo);
        for (const auto& rec : db.records) file->AppendRecord(rec);
        for (const auto& res : db.resources) file->AppendResource(res);
        if (file->Close() != pdb::kOk) {
            if (message) *message = "cannot write " + path;
            return -1;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->card && m_state->card->WriteOut(dir + "/card", message) != 0) return -1;
    }
    std::ofstream json(dir + "/requests.json", std::ios::binary | std::ios::trunc);
    json << RequestsJson();
    json.close();
    if (!json) {
        if (message) *message = "cannot write " + dir + "/requests.json";
        return -1;
    }
    return 0;
}

// ---- Running --------------------------------------------------------------------------

void CVirtualHandheld::PressHotSync() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->pressed = true;
    }
    m_state->changed.notify_all();
}

bool CVirtualHandheld::WaitForSyncs(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<int>(m_state->outcomes.size()) >= count || m_state->done;
    }) && static_cast<int>(m_state->outcomes.size()) >= count;
}

bool CVirtualHandheld::WaitDone(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_state->done; });
}

bool CVirtualHandheld::Start(hotsync::ITransport& transport) {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->running || m_thread.joinable()) return false;
        m_state->running = true;
    }
    m_thread = std::thread([this, &transport] { m_exitCode = Run(transport); });
    return true;
}

void CVirtualHandheld::Stop() {
    m_state->stop = true;
    m_state->changed.notify_all();
    Join();
}

void CVirtualHandheld::Join() {
    if (m_thread.joinable()) m_thread.join();
}

namespace {

// One press of the button and the sync it starts.
class CSyncRunner {
  public:
    CSyncRunner(CVirtualHandheld::State& state, CDeviceLink& link, CDlpServer& server)
        : s(state), m_link(link), m_server(server) {}

    // Wakes the desktop. kOk when it answered, kTimeout when none did in time.
    LinkStatus Wake() {
        timeline::Mark("handheld.press");
        m_link.Reset();
        m_link.SetRate(9600);
        uint8_t xid = kFirstLoopbackXid;
        for (int i = 0; i < s.config.loopbackPackets; ++i) {
            const LinkStatus st = m_link.SendLoopback(xid++);
            if (st != LinkStatus::kOk) return st;
        }
        const auto c = s.config;
        std::vector<uint8_t> wakeup{kCmpWakeup,
                                    static_cast<uint8_t>(OffersLongForm(c) ? kInitLongForm : 0),
                                    static_cast<uint8_t>(CmpMajor(c)),
                                    static_cast<uint8_t>(CmpMinor(c)),
                                    0,
                                    0,
                                    static_cast<uint8_t>(c.maxBaud >> 24),
                                    static_cast<uint8_t>(c.maxBaud >> 16),
                                    static_cast<uint8_t>(c.maxBaud >> 8),
                                    static_cast<uint8_t>(c.maxBaud)};
        const auto deadline = Clock::now() + std::chrono::seconds(c.timeoutSec);
        while (true) {
            const LinkStatus st = m_link.SendWakeup(wakeup, std::max(50, c.wakeupIntervalMs));
            if (st != LinkStatus::kTimeout) return st;
            if (Clock::now() >= deadline) return LinkStatus::kTimeout;
        }
    }

    SyncOutcome Sync() {
        const auto c = s.config;
        int receiveMs = c.receiveTimeoutMs;
        // The connection handshake: an INIT (or an ABORT).
        while (true) {
            std::vector<uint8_t> msg;
            uint8_t xid = 0;
            bool full = false;
            const LinkStatus st = m_link.Receive(msg, xid, full, receiveMs, true);
            if (st != LinkStatus::kOk) return Outcome(st);
            if (msg.empty()) continue;
            if (msg[0] == kCmpAbort) return SyncOutcome::kAborted;
            if (msg[0] != kCmpInit || msg.size() < 10) continue;
            const uint8_t flags = msg[1];
            const uint32_t rate = (uint32_t(msg[6]) << 24) | (uint32_t(msg[7]) << 16) |
                                  (uint32_t(msg[8]) << 8) | msg[9];
            if (flags & kInitOneMinute) receiveMs = std::max(receiveMs, 60000);
            if (flags & kInitTwoMinutes) receiveMs = std::max(receiveMs, 120000);
            // The ACK has left at the old rate; now retune the UART.
            if ((flags & kInitChangeRate) && rate != 0) m_link.SetRate(static_cast<int>(rate));
            m_link.SetLongForm((flags & kInitLongForm) && OffersLongForm(c));
            timeline::Mark("handheld.rate");
            break;
        }
        // DLP until EndOfSync.
        for (bool first = true;; first = false) {
            std::vector<uint8_t> request;
            uint8_t xid = 0;
            bool full = false;
            LinkStatus st = m_link.Receive(request, xid, full, receiveMs);
            if (st != LinkStatus::kOk) return Outcome(st);
            if (first) timeline::Mark("handheld.request");
            if (full && c.fullStyle == FullStyle::kPadp) {
                m_server.LogDropped(request);  // the message could not be taken
                continue;
            }
            bool end = false;
            const std::vector<uint8_t> reply = m_server.Handle(request, end);
            // A desktop that is done may hang up before its last ACK: few tries then.
            st = m_link.Send(reply, xid, end ? std::min(3, c.retries) : 0);
            if (end) timeline::Mark("handheld.end");
            if (end)
                return st == LinkStatus::kBroken ? SyncOutcome::kBroken : SyncOutcome::kCompleted;
            if (st != LinkStatus::kOk) return Outcome(st);
        }
    }

    static SyncOutcome Outcome(LinkStatus st) {
        switch (st) {
            case LinkStatus::kAborted:
                return SyncOutcome::kAborted;
            case LinkStatus::kBroken:
                return SyncOutcome::kBroken;
            case LinkStatus::kStopped:
                return SyncOutcome::kStopped;
            default:
                return SyncOutcome::kLinkLost;
        }
    }

  private:
    CVirtualHandheld::State& s;
    CDeviceLink& m_link;
    CDlpServer& m_server;
};

}  // namespace

int CVirtualHandheld::Run(hotsync::ITransport& transport) {
    State& s = *m_state;
    auto finish = [&](int code) {
        // The exit code is in place before anyone waiting for "done" can read it.
        m_exitCode = code;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.done = true;
            s.running = false;
        }
        s.changed.notify_all();
        return code;
    };
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.running = true;
        s.done = false;
    }
    bool loaded = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        loaded = s.loaded;
        s.loaded = true;
    }
    if (!loaded) {
        for (const auto& path : m_config.loadFiles) {
            std::string why;
            if (LoadFile(path, &why) != 0) {
                std::fprintf(stderr, "cc-handheld: cannot load %s\n", why.c_str());
                return finish(1);
            }
        }
        for (const auto& path : m_config.romFiles) {
            std::string why;
            if (LoadRomFile(path, &why) != 0) {
                std::fprintf(stderr, "cc-handheld: cannot load %s into ROM\n", why.c_str());
                return finish(1);
            }
        }
    }

    CDeviceLink link(transport, m_config, s.stop, s.stats, s.statsMutex);
    CDlpServer server(s);
    link.SetMemoryFullTest([&server](const uint8_t* data, size_t size, uint32_t total) {
        return server.IsMemoryFull(server.IncomingWriteSize(data, size, total));
    });
    CSyncRunner runner(s, link, server);
    CNetSyncDevice net(transport, m_config, s.stop, s.stats, s.statsMutex);

    auto lastEnd = Clock::now();
    for (int sync = 1; sync <= std::max(1, m_config.syncs); ++sync) {
        // Wait for the press.
        const auto giveUp = Clock::now() + std::chrono::seconds(m_config.timeoutSec);
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            const auto autoPress = lastEnd + std::chrono::milliseconds(m_config.pressAfterMs);
            while (!s.pressed && !s.stop) {
                const auto now = Clock::now();
                if (m_config.pressAfterMs >= 0 && now >= autoPress) break;
                if (now >= giveUp) {
                    lock.unlock();
                    std::fprintf(stderr, "cc-handheld: HotSync was not pressed within %d s\n",
                                 m_config.timeoutSec);
                    return finish(1);
                }
                s.changed.wait_for(lock, std::chrono::milliseconds(50));
            }
            s.pressed = false;
            s.currentSync = sync;
            s.lastHandle = 0;
        }
        if (s.stop) return finish(3);

        const LinkStatus woke = m_config.netSync ? net.Wake() : runner.Wake();
        SyncOutcome outcome = SyncOutcome::kCompleted;
        if (woke == LinkStatus::kTimeout || woke == LinkStatus::kLost) {
            std::fprintf(stderr, "cc-handheld: no desktop answered within %d s\n",
                         m_config.timeoutSec);
            return finish(1);
        }
        if (woke != LinkStatus::kOk) {
            outcome = CSyncRunner::Outcome(woke);
        } else {
            outcome = m_config.netSync ? net.Sync(server) : runner.Sync();
        }
        if (m_config.netSync) net.HangUp();

        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.CloseAll();  // the sync's databases are closed when it ends
        }
        if (!m_config.outDir.empty()) {
            std::string why;
            if (WriteOut(m_config.outDir, &why) != 0) {
                std::fprintf(stderr, "cc-handheld: %s\n", why.c_str());
            }
        }
        // Before the sync counts as ended, so whoever waits for it finds RAM wiped.
        if (sync == m_config.hardResetAfterSync) HardReset();
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.resetPending && outcome != SyncOutcome::kStopped) {
                s.resetPending = false;
                ++s.resets;
            }
            s.outcomes.push_back(outcome);
        }
        s.changed.notify_all();
        if (outcome == SyncOutcome::kStopped) return finish(3);
        if (outcome == SyncOutcome::kBroken) break;  // the cable is gone
        lastEnd = Clock::now();
    }
    return finish(0);
}

}  // namespace handheld
