// The desktop's side of recorded sessions with a real Palm OS 4.1 unit, replayed against
// the virtual handheld: every request it answers must come back in the recorded layout.
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/handheld/handheld_fixture.h"

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

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

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

bool LoadTrace(const std::string& path, Trace& trace) {
    std::ifstream in(path);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    std::vector<uint8_t> read, write;
    size_t pos = 0;
    while ((pos = text.find("\"type\"", pos)) != std::string::npos) {
        const size_t q1 = text.find('"', text.find(':', pos) + 1);
        const size_t q2 = text.find('"', q1 + 1);
        const std::string type = text.substr(q1 + 1, q2 - q1 - 1);
        const size_t d = text.find("\"data\"", q2);
        const size_t d1 = text.find('"', text.find(':', d) + 1);
        const size_t d2 = text.find('"', d1 + 1);
        const auto bytes = FromHex(text.substr(d1 + 1, d2 - d1 - 1));
        auto& dest = type == "read" ? read : write;
        dest.insert(dest.end(), bytes.begin(), bytes.end());
        pos = d2;
    }
    trace.desktop = Messages(write);
    trace.handheld = Messages(read);
    return true;
}

// Functions whose answers depend on what the handheld holds (names, lists, settings).
bool StateSized(uint8_t function) {
    return function == 0x10 || function == 0x15 || function == 0x16 || function == 0x36;
}

class TraceReplay : public HandheldTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TraceReplay, AnswersHaveTheRecordedLayout) {
    const std::string path = std::string(CC_SHARED_DIR) + "/traces/" + GetParam();
    Trace trace;
    if (!LoadTrace(path, trace)) GTEST_SKIP() << "no recorded sessions at " << path;
    ASSERT_GE(trace.desktop.size(), 2u);
    ASSERT_EQ(trace.handheld.at(0).bytes.at(0), 0x01);  // the recorded wakeup

    // Give the card what the recorded one had where the session reads it back.
    prepare = [&trace](handheld::CVirtualHandheld& h) {
        std::map<std::string, handheld::HandheldDatabase> dbs;
        std::set<std::string> named;  // only a name's first mention tells what was there
        for (size_t i = 0; i < trace.desktop.size(); ++i) {
            const auto& req = trace.desktop[i].bytes;
            auto it =
                std::find_if(trace.handheld.begin(), trace.handheld.end(), [&](const Message& m) {
                    return m.xid == trace.desktop[i].xid && m.bytes[0] == (req[0] | 0x80);
                });
            if (it == trace.handheld.end()) continue;
            const bool ok = Get16(it->bytes, 2) == 0;
            if (req[0] == 0x1A || req[0] == 0x17 || req[0] == 0x18) {
                const std::string name(
                    reinterpret_cast<const char*>(&req[req[0] == 0x18 ? 18 : 6]));
                // DeleteDB or OpenDB found it the first time it was named.
                if (!named.insert(name).second || req[0] == 0x18 || !ok) continue;
                dbs[name].info.name = name;
                dbs[name].info.type = 0x44415441;
            }
            if (!ok) continue;
            if (req[0] == 0x1B) {  // ReadAppBlock: that database has this block
                for (auto& [name, db] : dbs)
                    db.appInfo.assign(it->bytes.begin() + 10, it->bytes.end());
            }
            if (req[0] == 0x20) {  // ReadRecord: and this record
                const auto& r = it->bytes;
                const size_t a = (r[4] & 0x80) ? 8 : 6;
                for (auto& [name, db] : dbs) {
                    db.records.push_back(
                        {std::vector<uint8_t>(r.begin() + static_cast<long>(a + 10), r.end()),
                         r[a + 8], r[a + 9], Get32(r, a)});
                }
            }
        }
        for (const auto& [name, db] : dbs) h.AddDatabase(db);
    };
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
        EXPECT_EQ(desk->lastDataFlags & 0xD0, recorded->flags & 0xD0) << "function " << int(fn);
        Response mine, theirs;
        ASSERT_TRUE(DecodeResponse(ours, mine));
        ASSERT_TRUE(DecodeResponse(recorded->bytes, theirs));
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
        ++compared;
    }
    EXPECT_GE(compared, 2);
    ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    EXPECT_EQ(hh->Outcomes().at(0), handheld::SyncOutcome::kCompleted);
}

INSTANTIATE_TEST_SUITE_P(Recorded, TraceReplay,
                         ::testing::Values("no-op-test.serial-net.json",
                                           "device-info-test.serial-net.json",
                                           "create-delete-db-test.serial-net.json",
                                           "read-memo-test.serial-net.json",
                                           "write-db-test.serial-net.json"));

}  // namespace
}  // namespace handheld_test
