// The desktop's side of recorded sessions with a real Palm OS 4.1 unit, replayed against
// the virtual handheld: every request it answers must come back in the recorded layout, over
// the serial stack and over NetSync (the network and USB recordings).
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/handheld/handheld_fixture.h"
#include "tests/handheld/trace_file.h"
#include "tests/hotsync/net_peer.h"

namespace handheld_test {
namespace {

struct Message {
    uint8_t xid = 0;
    uint8_t flags = 0;  // PADP flags of its first fragment
    std::vector<uint8_t> bytes;
};

struct Trace {
    std::vector<Message> desktop, handheld;
};

// Cuts one direction's byte stream into PADP messages; repeated packets count once.
std::vector<Message> Messages(const std::vector<uint8_t>& stream) {
    handheld::CSlpParser parser;
    parser.Feed(stream.data(), stream.size());
    std::vector<Message> out;
    handheld::SlpPacket p, last;
    bool haveLast = false, open = false;
    uint32_t total = 0;
    while (parser.Next(p)) {
        handheld::PadpHeader h;
        size_t offset = 0;
        if (p.type != 2 || !handheld::DecodePadp(p.body, h, offset) || h.type != 1) continue;
        if (haveLast && p.xid == last.xid && p.body == last.body) continue;
        last = p;
        haveLast = true;
        if (h.flags & 0x80) {
            out.push_back({p.xid, h.flags, {}});
            total = h.sizeOrOffset;
            open = true;
        }
        if (open)
            out.back().bytes.insert(out.back().bytes.end(), p.body.begin() + offset, p.body.end());
        if ((h.flags & 0x40) && open) {
            open = false;
            EXPECT_EQ(out.back().bytes.size(), total);
        }
    }
    return out;
}

// Cuts one direction's byte stream into NetSync frames.
std::vector<Message> Frames(const std::vector<uint8_t>& stream) {
    std::vector<Message> out;
    for (const tracefile::Frame& f : tracefile::NetFrames(stream))
        out.push_back({f.xid, 0, f.bytes});
    return out;
}

bool LoadTrace(const std::string& path, Trace& trace, bool netSync = false) {
    std::vector<uint8_t> read, write;
    if (!tracefile::ReadStreams(path, read, write)) return false;
    trace.desktop = netSync ? Frames(write) : Messages(write);
    trace.handheld = netSync ? Frames(read) : Messages(read);
    return true;
}

// Functions whose answers depend on what the handheld holds (names, lists, settings).
bool StateSized(uint8_t function) {
    return function == 0x10 || function == 0x15 || function == 0x16 || function == 0x36;
}

// The data of a request's first argument, whatever its wrapper.
std::vector<uint8_t> RequestArg(const std::vector<uint8_t>& req) {
    if (req.size() < 4) return {};
    size_t at = 4, size = req[3];
    if ((req[2] & 0xC0) == 0x80 && req.size() >= 6) {
        at = 6;
        size = Get16(req, 4);
    }
    if (at + size > req.size()) return {};
    return {req.begin() + static_cast<long>(at), req.begin() + static_cast<long>(at + size)};
}

// Gives the card what the recorded one had where the session reads it back: the databases
// its listings and first mentions show, and the blocks, records and resources read from
// them by their handles.
void PrepareCard(const Trace& trace, handheld::CVirtualHandheld& h) {
    std::map<std::string, handheld::HandheldDatabase> dbs;
    std::vector<std::string> order;
    std::set<std::string> named;  // only a name's first mention tells what was there
    std::map<uint8_t, std::string> handles;
    const auto existed = [&](const std::string& name) -> handheld::HandheldDatabase& {
        if (!dbs.count(name)) {
            order.push_back(name);
            dbs[name].info.name = name;
            dbs[name].info.type = 0x44415441;
        }
        return dbs[name];
    };
    for (size_t i = 0; i < trace.desktop.size(); ++i) {
        const auto& req = trace.desktop[i].bytes;
        auto it = std::find_if(trace.handheld.begin(), trace.handheld.end(), [&](const Message& m) {
            return m.xid == trace.desktop[i].xid && !m.bytes.empty() &&
                   m.bytes[0] == (req[0] | 0x80);
        });
        if (it == trace.handheld.end()) continue;
        Response answer;
        if (!DecodeResponse(it->bytes, answer) || answer.error != 0) {
            if (req[0] == 0x1A || req[0] == 0x17)
                named.insert(
                    std::string(reinterpret_cast<const char*>(RequestArg(req).data() + 2)));
            continue;
        }
        const auto arg = RequestArg(req);
        const std::vector<uint8_t> data =
            answer.args.empty() ? std::vector<uint8_t>{} : answer.args[0].second;
        switch (req[0]) {
            case 0x16: {  // ReadDBList: what it lists was there, in the ROM or in RAM
                const bool rom = !(arg.at(0) & 0x80);
                for (size_t at = 4, n = 0; n < data.at(3) && at + 44 < data.size(); ++n) {
                    const std::string name(reinterpret_cast<const char*>(&data[at + 44]));
                    if (named.insert(name).second) {
                        auto& db = existed(name);
                        db.info.attributes = uint16_t(Get16(data, at + 2) & 0x7FFF);
                        if (rom) db.info.attributes |= pdb::kAttrReadOnly;
                        db.info.type = Get32(data, at + 4);
                        db.info.creator = Get32(data, at + 8);
                        db.info.version = Get16(data, at + 12);
                    }
                    at += data[at];
                }
                break;
            }
            case 0x1A:  // DeleteDB or OpenDB found it the first time it was named
            case 0x17: {
                const std::string name(reinterpret_cast<const char*>(arg.data() + 2));
                if (named.insert(name).second) existed(name);
                if (req[0] == 0x17 && dbs.count(name) && !data.empty()) handles[data[0]] = name;
                break;
            }
            case 0x18:  // CreateDB: made in the session
                named.insert(std::string(reinterpret_cast<const char*>(arg.data() + 14)));
                break;
            case 0x1B:  // ReadAppBlock, ReadSortBlock: that database has this block
            case 0x1D:
                if (handles.count(arg.at(0))) {
                    auto& db = dbs[handles[arg[0]]];
                    (req[0] == 0x1B ? db.appInfo : db.sortInfo)
                        .assign(data.begin() + 2, data.end());
                }
                break;
            case 0x20:  // ReadRecord: and this record
                if (handles.count(arg.at(0)) && data.size() >= 10) {
                    auto& records = dbs[handles[arg[0]]].records;
                    if (Get16(data, 4) >= records.size()) {
                        records.push_back({std::vector<uint8_t>(data.begin() + 10, data.end()),
                                           data[8], data[9], Get32(data, 0)});
                    }
                }
                break;
            case 0x23:  // ReadResource: a resource database with this resource
                if (handles.count(arg.at(0)) && data.size() >= 10) {
                    auto& db = dbs[handles[arg[0]]];
                    db.info.attributes |= pdb::kAttrResDb;
                    if (Get16(data, 6) >= db.resources.size()) {
                        pdb::Resource res;
                        res.type = Get32(data, 0);
                        res.id = Get16(data, 4);
                        res.data.assign(data.begin() + 10, data.end());
                        db.resources.push_back(std::move(res));
                    }
                }
                break;
            default:
                break;
        }
    }
    for (const auto& name : order) h.AddDatabase(dbs[name]);
}

// Our answer against the recorded one: the same code, error and arguments, of the recorded
// sizes where the answer does not depend on what the card holds.
void ExpectRecordedLayout(uint8_t fn, const std::vector<uint8_t>& ours,
                          const std::vector<uint8_t>& recorded) {
    Response mine, theirs;
    ASSERT_TRUE(DecodeResponse(ours, mine));
    ASSERT_TRUE(DecodeResponse(recorded, theirs));
    EXPECT_EQ(mine.function, theirs.function);
    EXPECT_EQ(mine.error, theirs.error) << "function " << int(fn);
    ASSERT_EQ(mine.args.size(), theirs.args.size()) << "function " << int(fn);
    for (size_t a = 0; a < mine.args.size(); ++a) {
        EXPECT_EQ(mine.args[a].first, theirs.args[a].first);
        if (!StateSized(fn)) {
            EXPECT_EQ(mine.args[a].second.size(), theirs.args[a].second.size())
                << "function " << int(fn) << " argument " << a;
        }
    }
}

class TraceReplay : public HandheldTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TraceReplay, AnswersHaveTheRecordedLayout) {
    const std::string path = std::string(CC_SHARED_DIR) + "/traces/" + GetParam();
    Trace trace;
    if (!LoadTrace(path, trace)) GTEST_SKIP() << "no recorded sessions at " << path;
    ASSERT_GE(trace.desktop.size(), 2u);
    ASSERT_EQ(trace.handheld.at(0).bytes.at(0), 0x01);  // the recorded wakeup

    prepare = [&trace](handheld::CVirtualHandheld& h) { PrepareCard(trace, h); };
    handheld::HandheldConfig c = FastConfig();
    c.maxBaud = Get32(trace.handheld[0].bytes, 6);
    StartHandheld(c);

    ASSERT_TRUE(desk->AcceptWakeup(wakeup, 5000));
    EXPECT_EQ(wakeup, trace.handheld[0].bytes);
    const Message& init = trace.desktop[0];
    ASSERT_EQ(init.bytes[0], 0x02);
    ASSERT_TRUE(desk->Send(init.xid, init.bytes));
    EXPECT_EQ(desk->lastAckExtra.size(), 2u);  // the recorded unit's stray bytes
    int compared = 0;
    for (size_t i = 1; i < trace.desktop.size(); ++i) {
        const Message& req = trace.desktop[i];
        const uint8_t fn = req.bytes[0];
        auto recorded = std::find_if(
            trace.handheld.begin(), trace.handheld.end(),
            [&](const Message& m) { return m.xid == req.xid && m.bytes[0] == (fn | 0x80); });
        ASSERT_NE(recorded, trace.handheld.end()) << "no recorded answer to " << int(fn);
        ASSERT_TRUE(desk->Send(req.xid, req.bytes)) << "request " << i;
        std::vector<uint8_t> ours;
        uint8_t xid = 0;
        ASSERT_TRUE(desk->Receive(ours, xid, 5000)) << "no answer to function " << int(fn);
        EXPECT_EQ(xid, req.xid);
        // The flags of an answer in one fragment (of a longer one only the last is seen).
        if (recorded->flags & 0x40) {
            EXPECT_EQ(desk->lastDataFlags & 0xD0, recorded->flags & 0xD0) << "function " << int(fn);
        }
        ExpectRecordedLayout(fn, ours, recorded->bytes);
        ++compared;
    }
    EXPECT_GE(compared, 2);
    ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    EXPECT_EQ(hh->Outcomes().at(0), handheld::SyncOutcome::kCompleted);
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, TraceReplay,
    ::testing::Values("no-op-test.serial-net.json", "device-info-test.serial-net.json",
                      "list-db-test.serial-net.json", "create-delete-db-test.serial-net.json",
                      "read-db-test.serial-net.json", "read-memo-test.serial-net.json",
                      "write-db-test.serial-net.json"));

// The NetSync recordings: the handheld's hello (byte for byte), its handshake answers and
// its answers in the recorded layouts, each under the desktop's transaction id.
class NetTraceReplay : public HandheldTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NetTraceReplay, AnswersHaveTheRecordedLayout) {
    const std::string path = std::string(CC_SHARED_DIR) + "/traces/" + GetParam();
    Trace trace;
    if (!LoadTrace(path, trace, true)) GTEST_SKIP() << "no recorded sessions at " << path;
    ASSERT_GE(trace.desktop.size(), 3u);
    ASSERT_EQ(trace.handheld.size(), trace.desktop.size() + 1);
    prepare = [&trace](handheld::CVirtualHandheld& h) { PrepareCard(trace, h); };
    handheld::HandheldConfig c = FastConfig();
    c.netSync = true;
    c.usb = std::string(GetParam()).find(".usb.") != std::string::npos;
    StartHandheld(c);

    hotsync::testing::CNetPeer peer(*m_pipe.desktop);
    auto hello = peer.ReadFrame(5000);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->header.xid, 0xFF);
    EXPECT_EQ(hello->payload, trace.handheld[0].bytes);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(peer.WriteFrame(trace.desktop[i].xid, trace.desktop[i].bytes));
        auto answer = peer.ReadFrame(5000);
        ASSERT_TRUE(answer) << "handshake " << i;
        EXPECT_EQ(answer->header.xid, trace.desktop[i].xid);
        // Its contents vary between sessions of the same unit: its size and kind do not.
        const auto& recorded = trace.handheld[i + 1].bytes;
        ASSERT_EQ(answer->payload.size(), recorded.size()) << "handshake " << i;
        EXPECT_EQ(answer->payload[0], recorded[0]) << "handshake " << i;
    }
    for (size_t i = 2; i < trace.desktop.size(); ++i) {
        const Message& req = trace.desktop[i];
        const uint8_t fn = req.bytes[0];
        ASSERT_TRUE(peer.WriteFrame(req.xid, req.bytes));
        auto answer = peer.ReadFrame(5000);
        ASSERT_TRUE(answer) << "no answer to function " << int(fn);
        EXPECT_EQ(answer->header.xid, req.xid);
        ExpectRecordedLayout(fn, answer->payload, trace.handheld[i + 1].bytes);
    }
    ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    EXPECT_EQ(hh->Outcomes().at(0), handheld::SyncOutcome::kCompleted);
}

INSTANTIATE_TEST_SUITE_P(Recorded, NetTraceReplay,
                         ::testing::Values("no-op-test.net.json", "device-info-test.net.json",
                                           "list-db-test.net.json", "read-memo-test.net.json",
                                           "create-delete-db-test.net.json",
                                           "sync-db-test.net.json", "read-db-test.usb.json",
                                           "write-db-test.usb.json"));

}  // namespace
}  // namespace handheld_test
