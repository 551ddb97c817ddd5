#include "bench/soak/soak_run.h"

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/transfer_monitor.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"
#include "tools/handheld/pty_transport.h"
#include "tools/handheld/virtual_handheld.h"
#include "ui/console/console_app.h"

namespace soak {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 10;
constexpr int kMaxRunSeconds = 300;
constexpr int kAcceptMs = 5000;
constexpr int kLongStallMs = 60000;

// The run's own folder, removed with everything in it.
class CTempDir {
  public:
    CTempDir() {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/cc-soak-XXXXXX";
        if (mkdtemp(tmpl.data())) m_path = tmpl + "/";
    }
    ~CTempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// ---- The files ----------------------------------------------------------------------------

bool WriteRecordDb(const std::string& path, const RecordSpec& layout) {
    pdb::DbInfo info;
    info.name = "Soak Records";
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("Soak");
    auto db = pdb::CPalmDbFile::Create(path, info);
    if (!db) return false;
    db->SetAppInfo(layout.appInfo);
    for (size_t i = 0; i < layout.records.size(); ++i) {
        const auto& data = layout.records[i];
        db->AppendRecord(data.data(), data.size(), 0, layout.categories[i], 0);
    }
    return db->Close() == pdb::kOk;
}

bool WriteResourceDb(const std::string& path, const ResourceSpec& layout) {
    pdb::DbInfo info;
    info.name = "Soak Program";
    info.attributes = pdb::kAttrResDb;
    info.type = pdb::MakeFourCC("appl");
    info.creator = pdb::MakeFourCC("Soak");
    auto db = pdb::CPalmDbFile::Create(path, info);
    if (!db) return false;
    for (size_t i = 0; i < layout.resources.size(); ++i) {
        const auto& data = layout.resources[i];
        db->AppendResource(data.data(), data.size(), pdb::MakeFourCC("code"), uint16_t(i));
    }
    return db->Close() == pdb::kOk;
}

// ---- The card against the files ------------------------------------------------------------

enum class State { kAbsent, kComplete, kPartial };

const char* StateName(State s) {
    return s == State::kAbsent ? "absent" : s == State::kComplete ? "complete" : "partial";
}

// What a database file puts on the handheld: its entries as the session sends them.
struct Expected {
    pdb::DbInfo info;
    std::vector<uint8_t> appInfo;
    std::vector<pdb::Record> records;
    std::vector<pdb::Resource> resources;  // empty ones are not sent
    std::vector<int64_t> writes;           // data bytes of each write request, in order
};

std::optional<Expected> ReadExpected(const std::string& path) {
    auto file = pdb::CPalmDbFile::Open(path);
    if (!file) return std::nullopt;
    Expected e;
    e.info = file->Info();
    file->GetAppInfo(e.appInfo);
    if (!e.appInfo.empty()) e.writes.push_back(int64_t(e.appInfo.size()));
    for (int i = 0; i < file->EntryCount(); ++i) {
        if (e.info.IsResourceDb()) {
            pdb::Resource r;
            if (file->ReadResource(i, r) != pdb::kOk) return std::nullopt;
            if (r.data.empty()) continue;
            e.writes.push_back(int64_t(r.data.size()));
            e.resources.push_back(std::move(r));
        } else {
            pdb::Record r;
            if (file->ReadRecord(i, r) != pdb::kOk) return std::nullopt;
            e.writes.push_back(int64_t(r.data.size()));
            e.records.push_back(std::move(r));
        }
    }
    return e;
}

State StateOnCard(const std::optional<handheld::HandheldDatabase>& db, const Expected& e) {
    if (!db) return State::kAbsent;
    const auto& got = *db;
    const bool same = got.info.type == e.info.type && got.info.creator == e.info.creator &&
                      (got.info.attributes & 0x7FFF) == (e.info.attributes & 0x7FFF) &&
                      got.appInfo == e.appInfo && got.records.size() == e.records.size() &&
                      got.resources.size() == e.resources.size() &&
                      std::equal(got.records.begin(), got.records.end(), e.records.begin(),
                                 [](const pdb::Record& a, const pdb::Record& b) {
                                     return a.data == b.data && a.category == b.category;
                                 }) &&
                      std::equal(got.resources.begin(), got.resources.end(), e.resources.begin(),
                                 [](const pdb::Resource& a, const pdb::Resource& b) {
                                     return a.data == b.data && a.type == b.type && a.id == b.id;
                                 });
    return same ? State::kComplete : State::kPartial;
}

// Which files a handheld that takes at most `limit` data bytes refuses: a write fails when
// the bytes stored so far and its own would pass the limit, and a refused file stores no more.
std::vector<bool> SimulateFull(const std::vector<Expected>& files, int64_t limit) {
    std::vector<bool> fails;
    int64_t stored = 0;
    for (const Expected& e : files) {
        bool failed = false;
        for (int64_t n : e.writes) {
            if (stored + n > limit) {
                failed = true;
                break;
            }
            stored += n;
        }
        fails.push_back(failed);
    }
    return fails;
}

// ---- The window ---------------------------------------------------------------------------

class CSoakView final : public ITransferView {
  public:
    CSoakView(CDeviceSession& session, bool answerOk) : m_session(session), m_bOk(answerOk) {}
    void SetStatus(const std::string&) override {}
    void SetCaption(const std::string&) override {}
    void SetProgress(int, int) override {}
    void SetElapsed(const std::string&) override {}
    bool AskOkCancel(const std::string& text) override {
        codes.push_back(m_session.m_nError.load());
        texts.push_back(text);
        return m_bOk;
    }
    std::vector<int> codes;
    std::vector<std::string> texts;

  private:
    CDeviceSession& m_session;
    bool m_bOk;
};

class CDoneFlag final : public IInstallDoneSink {
  public:
    void PostInstallDone() override { m_bDone = true; }
    bool Done() const { return m_bDone.load(); }

  private:
    std::atomic<bool> m_bDone{false};
};

handheld::HandheldConfig HandheldFor(const Plan& plan, const Timing& t) {
    handheld::HandheldConfig c;
    c.pressAfterMs = 0;
    c.timeoutSec = 10;
    c.wakeupIntervalMs = 300;
    c.loopbackPackets = plan.loopbackPackets;
    c.ackTimeoutMs = t.ackWaitMs;
    c.retries = t.tries;
    c.receiveTimeoutMs = t.handheldReceiveMs;
    c.tickleIntervalMs = 1000;
    switch (plan.fault) {
        case Fault::kLost:
            c.dropEvery = plan.every;
            break;
        case Fault::kCorrupt:
            c.corruptEvery = plan.every;
            break;
        case Fault::kBreak:
            c.breakAfterBytes = plan.atByte;
            break;
        case Fault::kMemoryFull:
        case Fault::kAnswerCancel:
            c.fullAfterBytes = plan.fullAt;
            c.fullStyle = plan.fullStyle;
            break;
        case Fault::kStall:
            c.stallAfterBytes = plan.atByte;
            c.stallTickles = plan.stallTickles;
            // With tickles the desktop may wait it out; without, it gives up long before.
            c.stallMs = plan.stallTickles ? t.receiveMs + 2000 : kLongStallMs;
            break;
        case Fault::kCancel:
            break;
    }
    return c;
}

// ---- Checks -------------------------------------------------------------------------------

std::string Shape(const std::vector<State>& states) {
    std::string s;
    for (State st : states) s += std::string(s.empty() ? "" : " ") + StateName(st);
    return s;
}

// Complete files, then at most one partial one (only when allowed), then absent ones.
bool PrefixShape(const std::vector<State>& states, bool partialAllowed) {
    size_t i = 0;
    while (i < states.size() && states[i] == State::kComplete) ++i;
    if (i < states.size() && states[i] == State::kPartial) {
        if (!partialAllowed) return false;
        ++i;
    }
    for (; i < states.size(); ++i) {
        if (states[i] != State::kAbsent) return false;
    }
    return true;
}

void Check(const Plan& plan, const std::vector<Expected>& files, const std::vector<State>& states,
           handheld::SyncOutcome outcome, bool outcomeKnown, RunResult& r) {
    auto problem = [&r](const std::string& text) { r.problems.push_back(text); };
    const bool allComplete =
        std::all_of(states.begin(), states.end(), [](State s) { return s == State::kComplete; });
    const bool noneLeft =
        std::all_of(states.begin(), states.end(), [](State s) { return s == State::kAbsent; });
    const bool linkFault = plan.fault == Fault::kBreak || plan.fault == Fault::kStall;
    const std::string shape = "card: " + Shape(states);

    // Every run.
    if (!r.connected) {
        if (!linkFault) problem("no connection without a link fault");
        if (r.result != -1) problem("result " + std::to_string(r.result) + " without a handheld");
        if (!noneLeft) problem("databases without a connection; " + shape);
        return;
    }
    if (int(r.messages.size()) != r.failed) {
        problem(std::to_string(r.messages.size()) + " messages for m_nFailed " +
                std::to_string(r.failed));
    }
    for (int code : r.messages) {
        if (code != kRunErrMemoryFull && code != kRunErrConnectionLost) {
            problem("message for run error " + std::to_string(code));
        }
    }
    const int expectedResult = r.cancelled ? -2 : 0;
    if (r.result != expectedResult) {
        problem("result " + std::to_string(r.result) + ", expected " +
                std::to_string(expectedResult));
    }
    if (r.linkBroken && !linkFault && plan.fault != Fault::kCancel) {
        problem("the link broke without a link fault");
    }
    if (!linkFault && outcomeKnown && outcome != handheld::SyncOutcome::kCompleted) {
        problem(std::string("the handheld's sync ended ") + handheld::SyncOutcomeName(outcome));
    }

    switch (plan.fault) {
        case Fault::kLost:
        case Fault::kCorrupt:
            if (!allComplete || !r.messages.empty()) {
                problem("not everything installed despite retransmission; " + shape);
            }
            break;
        case Fault::kBreak:
        case Fault::kStall:
            if (!r.linkBroken) {
                if (!allComplete || !r.messages.empty()) {
                    problem("the link held but not everything installed; " + shape);
                }
            } else {
                if (!PrefixShape(states, true)) problem("files after a lost link; " + shape);
                if (r.messages.size() > 1 ||
                    (!r.messages.empty() && r.messages[0] != kRunErrConnectionLost)) {
                    problem("a lost link reported otherwise than once as connection lost");
                }
                if (r.messages.empty() && !allComplete) {
                    problem("a lost link not reported; " + shape);
                }
            }
            break;
        case Fault::kCancel:
            if (!PrefixShape(states, false))
                problem("a stopped run left a partial database; " + shape);
            if (!r.messages.empty()) problem("messages in a stopped run");
            if (!r.cancelled && !allComplete) problem("not everything installed; " + shape);
            break;
        case Fault::kMemoryFull:
        case Fault::kAnswerCancel: {
            std::vector<bool> fails = SimulateFull(files, plan.fullAt);
            if (plan.fault == Fault::kAnswerCancel) {
                // Cancel in the first message ends the run after that file.
                const auto first = std::find(fails.begin(), fails.end(), true);
                if (first != fails.end()) std::fill(first, fails.end(), true);
            }
            std::vector<State> expected;
            int refused = 0;
            for (size_t i = 0; i < fails.size(); ++i) {
                expected.push_back(fails[i] ? State::kAbsent : State::kComplete);
                refused += fails[i] ? 1 : 0;
            }
            const int messages =
                plan.fault == Fault::kAnswerCancel ? std::min(refused, 1) : refused;
            if (states != expected) {
                problem("card after memory full: " + Shape(states) + ", expected " +
                        Shape(expected));
            }
            if (int(r.messages.size()) != messages) {
                problem(std::to_string(r.messages.size()) + " messages, expected " +
                        std::to_string(messages));
            }
            for (int code : r.messages) {
                if (code != kRunErrMemoryFull)
                    problem("memory full reported as " + std::to_string(code));
            }
            break;
        }
    }
}

// A worker that not even closing its link ends still uses this run's objects: the process
// cannot go on, as the console leaves such a worker to the process's exit.
[[noreturn]] void Abandon(const Plan& plan, const char* why) {
    std::printf("FAILED seed %llu (%s): %s, and the worker could not be ended; soak stopped\n",
                static_cast<unsigned long long>(plan.seed), FaultName(plan.fault), why);
    std::fflush(stdout);
    std::_Exit(1);
}

}  // namespace

RunResult RunOnce(const Plan& plan, const Timing& timing) {
    RunResult r;
    const auto start = Clock::now();
    CTempDir dir;
    if (dir.Path().empty()) {
        r.problems.push_back("no temporary folder");
        return r;
    }

    // The files, queued as the console queues them (the text becomes a DOC database).
    const std::string sources[] = {dir.Path() + "records.pdb", dir.Path() + "program.prc",
                                   dir.Path() + "soak.txt"};
    if (!WriteRecordDb(sources[0], plan.records) || !WriteResourceDb(sources[1], plan.resources)) {
        r.problems.push_back("the databases could not be written");
        return r;
    }
    std::ofstream(sources[2], std::ios::binary) << plan.text;
    console::CInstallList list;
    for (int index : plan.order) {
        if (!list.AddFile(sources[index])) {
            r.problems.push_back("not queued: " + sources[index]);
            return r;
        }
    }
    std::vector<Expected> files;
    for (const std::string& path : list.Paths()) {
        auto e = ReadExpected(path);
        if (!e) {
            r.problems.push_back("unreadable queued file " + path);
            list.DeleteTempFiles();
            return r;
        }
        files.push_back(std::move(*e));
    }

    handheld::CPtyTransport pty;
    if (pty.Open() != 0) {
        r.problems.push_back("no pseudo-terminal");
        list.DeleteTempFiles();
        return r;
    }
    handheld::CVirtualHandheld hh(HandheldFor(plan, timing));
    hh.Start(pty);

    {
        CDeviceSession session(pty.SlavePath().c_str(), true, 115200);
        hotsync::LinkTimeouts t;
        t.ackWaitMs = timing.ackWaitMs;
        t.sendTries = timing.tries;
        t.receiveMs = timing.receiveMs;
        t.acceptMs = kAcceptMs;
        t.rateSettleMs = 0;
        session.SetLinkTimeouts(t);

        // The window's poll: the button, then the handshake.
        bool pressed = false;
        for (auto until = Clock::now() + std::chrono::seconds(10);
             session.m_sd != -1 && !pressed && Clock::now() < until;) {
            pressed = session.IsHotSyncPressed();
            if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        }
        r.connected = pressed && session.Accept();
        r.result = -1;

        if (r.connected) {
            CSoakView view(session, plan.fault != Fault::kAnswerCancel);
            CTransferMonitor monitor(view, {}, [](int) {});
            CDoneFlag done;
            CInstallRun run;
            monitor.Start();
            run.Start(session, list.Paths(), false, false, &done);

            int64_t lastLine = -1;
            auto lastActivity = Clock::now();
            bool hung = false;
            while (!done.Done()) {
                const auto now = Clock::now();
                if (plan.fault == Fault::kCancel && session.Socket() &&
                    int64_t(session.Socket()->BytesSent()) >= plan.atByte) {
                    r.cancelled = true;  // the user's stop, as the console does it
                    if (!run.Stop(session)) Abandon(plan, "stopped");
                    break;
                }
                monitor.OnTimer(session);
                const auto stats = hh.Stats();
                const int64_t line = stats.bytesSent + stats.bytesReceived;
                if (line != lastLine) {
                    lastLine = line;
                    lastActivity = now;
                } else if (now - lastActivity > std::chrono::milliseconds(timing.IdleLimitMs())) {
                    hung = true;
                }
                if (now - start > std::chrono::seconds(kMaxRunSeconds)) hung = true;
                if (hung) {
                    r.problems.push_back("hung: nothing on the line for " +
                                         std::to_string(timing.IdleLimitMs()) + " ms");
                    if (!run.Stop(session)) Abandon(plan, "hung");
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
            }
            if (done.Done() && !r.cancelled && !hung) {
                run.Join();
                monitor.OnInstallDone(session);
                r.result = 0;
            } else if (r.cancelled) {
                r.result = -2;
            }
            r.failed = session.m_nFailed;
            r.messages = view.codes;
            r.linkBroken = session.IsLinkBroken();
            if (session.m_nError != 0) r.problems.push_back("a run error left pending");
            for (size_t i = 0; i < view.texts.size(); ++i) {
                if (view.codes[i] == kRunErrMemoryFull &&
                    view.texts[i].rfind("Device full", 0) != 0) {
                    r.problems.push_back("memory full shown as \"" + view.texts[i] + "\"");
                }
            }
        }
        session.Close();
        g_pSession = nullptr;
    }

    // The handheld ends its sync (or, when the desktop gave up on it, is stopped), then its
    // card is read.
    hh.WaitForSyncs(1, r.linkBroken || !r.connected ? 200 : 3000);
    hh.Stop();
    const auto outcomes = hh.Outcomes();
    std::vector<State> states;
    for (const Expected& e : files) states.push_back(StateOnCard(hh.FindDatabase(e.info.name), e));
    for (const auto& db : hh.Databases()) {
        const bool ours = std::any_of(files.begin(), files.end(), [&db](const Expected& e) {
            return e.info.name == db.info.name;
        });
        if (!ours) r.problems.push_back("a database nobody sent: " + db.info.name);
    }
    list.DeleteTempFiles();
    Check(plan, files, states, outcomes.empty() ? handheld::SyncOutcome::kStopped : outcomes[0],
          !outcomes.empty(), r);
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

}  // namespace soak
