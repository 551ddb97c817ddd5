// Replays what real handhelds sent in recorded sessions: the desktop stack must take the
// recorded wakeup, the handheld's acknowledgements (with their stray bytes and long form)
// and every recorded answer. The replaying peer only adjusts transaction ids to ours.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>

#include "hotsync/dlp.h"
#include "hotsync/hotsync.h"
#include "peer.h"
#include "session/link/pipe_transport.h"

namespace hotsync {
namespace {

namespace fs = std::filesystem;

struct Trace {
    std::vector<uint8_t> read;   // bytes the desktop read from the handheld
    std::vector<uint8_t> write;  // bytes the desktop wrote
};

Trace LoadTrace(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string json = text.str();
    Trace trace;
    size_t pos = 0;
    while ((pos = json.find("\"type\"", pos)) != std::string::npos) {
        const bool isRead = json.compare(json.find('"', json.find(':', pos)) + 1, 4, "read") == 0;
        const size_t data = json.find("\"data\"", pos);
        const size_t open = json.find('"', json.find(':', data)) + 1;
        const size_t close = json.find('"', open);
        auto& out = isRead ? trace.read : trace.write;
        for (size_t i = open; i + 1 < close; i += 2) {
            out.push_back(uint8_t(std::stoi(json.substr(i, 2), nullptr, 16)));
        }
        pos = close;
    }
    return trace;
}

struct Message {
    std::vector<slp::Frame> frames;
    std::vector<uint8_t> data;  // reassembled
};

// The distinct data messages in a byte stream (repeats from retransmission removed).
std::vector<Message> Messages(const std::vector<uint8_t>& stream) {
    slp::CReceiver receiver;
    receiver.Feed(stream.data(), stream.size());
    std::vector<Message> messages;
    std::set<std::vector<uint8_t>> seen;
    slp::Frame frame;
    while (receiver.Next(frame)) {
        padp::Header header;
        size_t used = 0;
        if (frame.header.type != slp::kTypePadp || !wire::Decode(frame.body, header, &used) ||
            header.type != padp::kTypeData) {
            continue;
        }
        std::vector<uint8_t> key = frame.body;
        key.push_back(frame.header.xid);
        if (!seen.insert(key).second) continue;
        if ((header.flags & padp::kFlagFirst) || messages.empty()) messages.emplace_back();
        messages.back().frames.push_back(frame);
        messages.back().data.insert(messages.back().data.end(),
                                    frame.body.begin() + static_cast<std::ptrdiff_t>(used),
                                    frame.body.end());
    }
    return messages;
}

std::vector<uint8_t> WithXid(const slp::Frame& frame, uint8_t xid) {
    slp::Header header = frame.header;
    header.xid = xid;
    return slp::EncodeFrame(header, frame.body);
}

// The first ACK the handheld sent after its wakeup: the ACK of the desktop's init.
std::optional<slp::Frame> InitAck(const std::vector<uint8_t>& stream) {
    slp::CReceiver receiver;
    receiver.Feed(stream.data(), stream.size());
    slp::Frame frame;
    while (receiver.Next(frame)) {
        if (frame.header.type == slp::kTypePadp && frame.body.size() >= 4 &&
            frame.body[0] == padp::kTypeAck) {
            return frame;
        }
    }
    return std::nullopt;
}

// The requests a backup reads databases with, sent through their own calls: the recorded
// answers must decode into what they say.
bool ReadsDatabases(uint8_t function) {
    return function == dlp::ReadDbListRequest::kFunction ||
           function == dlp::ReadAppBlockRequest::kFunction ||
           function == dlp::ReadSortBlockRequest::kFunction ||
           function == dlp::ReadRecordByIndexRequest::kFunction ||
           function == dlp::ReadResourceByIndexRequest::kFunction;
}

void ReadAsRecorded(CSocket& socket, const std::vector<uint8_t>& request) {
    const uint8_t* a = request.data() + 4;  // the argument of a one-argument request
    int size = 0;
    switch (request[0]) {
        case dlp::ReadDbListRequest::kFunction: {
            DbListPage page;
            ASSERT_EQ(DlpReadDBList(socket, a[0], a[1], (a[2] << 8) | a[3], page), 0);
            ASSERT_FALSE(page.entries.empty());
            // A real unit's indexes: the card's, RAM and ROM in one count.
            EXPECT_EQ(page.lastIndex, page.entries.back().index);
            for (const DbInfo& db : page.entries) {
                EXPECT_FALSE(db.name.empty());
                EXPECT_LE(db.index, page.lastIndex);
                EXPECT_EQ((db.attributes & 0x0002) != 0, !(db.miscFlags & kDbMiscRamBased))
                    << db.name;
            }
            break;
        }
        case dlp::ReadAppBlockRequest::kFunction:
        case dlp::ReadSortBlockRequest::kFunction: {
            std::vector<uint8_t> block;
            const int r = request[0] == dlp::ReadAppBlockRequest::kFunction
                              ? DlpReadAppBlock(socket, a[0], block)
                              : DlpReadSortBlock(socket, a[0], block);
            EXPECT_TRUE(r == 0 ? !block.empty() : r == -5) << r;
            break;
        }
        case dlp::ReadRecordByIndexRequest::kFunction: {
            RecordData record;
            ASSERT_EQ(
                DlpReadRecordByIndex(socket, a[0], (a[2] << 8) | a[3], 0, 0xFFFF, record, size), 0);
            EXPECT_EQ(record.data.size(), size_t(size));
            EXPECT_NE(record.id, 0u);
            break;
        }
        case dlp::ReadResourceByIndexRequest::kFunction: {
            ResourceData resource;
            ASSERT_EQ(
                DlpReadResourceByIndex(socket, a[0], (a[2] << 8) | a[3], 0, 0xFFFF, resource, size),
                0);
            EXPECT_EQ(resource.data.size(), size_t(size));
            EXPECT_EQ(resource.index, (a[2] << 8) | a[3]);
            break;
        }
    }
}

class TraceReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(TraceReplay, DesktopStackTakesTheRecordedHandheld) {
    const fs::path path = fs::path(CC_SHARED_DIR) / "traces" / GetParam();
    if (!fs::exists(path)) GTEST_SKIP() << "no recorded sessions at " << path;
    const Trace trace = LoadTrace(path);
    const auto answers = Messages(trace.read);
    const auto requests = Messages(trace.write);
    ASSERT_GE(answers.size(), 2u);
    ASSERT_EQ(requests.size(), answers.size());  // the init, then one answer per request
    const auto initAck = InitAck(trace.read);
    ASSERT_TRUE(initAck);

    // Everything the handheld sent up to the end of its first wakeup, as it was on the line.
    const auto wakeupBytes =
        slp::EncodeFrame(answers[0].frames[0].header, answers[0].frames[0].body);
    const auto wakeupAt =
        std::search(trace.read.begin(), trace.read.end(), wakeupBytes.begin(), wakeupBytes.end());
    ASSERT_NE(wakeupAt, trace.read.end());
    const std::vector<uint8_t> prefix(trace.read.begin(),
                                      wakeupAt + static_cast<std::ptrdiff_t>(wakeupBytes.size()));

    auto pipe = ports::CreatePipePair();
    testing::CPeer peer(*pipe.handheld);
    auto socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
    LinkTimeouts timeouts;
    timeouts.ackWaitMs = 300;
    timeouts.receiveMs = 3000;
    timeouts.acceptMs = 3000;
    timeouts.rateSettleMs = 0;
    socket->SetTimeouts(timeouts);
    SocketAddress address;
    MakeAddress("COM1", address);
    ASSERT_EQ(socket->Bind(address, std::move(pipe.desktop)), 0);
    ASSERT_EQ(socket->Listen(1), 0);
    socket->SetEstablishRate(kDefaultOfferRate, false);

    auto handheld = std::async(std::launch::async, [&]() -> std::string {
        peer.WriteRaw(prefix);
        auto init = peer.ReadData(3000);
        if (!init || init->data.empty() || init->data[0] != cmp::kTypeInit) return "no init";
        peer.WriteRaw(WithXid(*initAck, init->xid));
        peer.longForm = true;
        for (size_t i = 1; i < answers.size(); ++i) {
            uint8_t xid = 0;
            if (!peer.ReceiveMessage(3000, &xid))
                return "request " + std::to_string(i) + " missing";
            for (const auto& frame : answers[i].frames) {
                const auto bytes = WithXid(frame, xid);
                padp::Header header;
                wire::Decode(frame.body, header);
                bool acked = false;
                for (int attempt = 0; attempt < 3 && !acked; ++attempt) {
                    peer.WriteRaw(bytes);
                    while (auto packet = peer.ReadPacket(1000)) {
                        if (packet->header.type == padp::kTypeAck && packet->xid == xid &&
                            packet->header.sizeOrOffset == header.sizeOrOffset) {
                            acked = true;
                            break;
                        }
                    }
                }
                if (!acked) return "answer " + std::to_string(i) + " not acknowledged";
            }
        }
        return "";
    });

    ASSERT_EQ(socket->Accept(), 0);
    // Asked for the default rate: 57,600 unless the handheld announces less.
    EXPECT_GE(socket->AnnouncedMaxRate(), 57600);
    EXPECT_EQ(socket->LineRate(), 57600);
    for (size_t i = 1; i < requests.size(); ++i) {
        const uint8_t function = requests[i].data.at(0);
        SCOPED_TRACE("request " + std::to_string(i) + " function " + std::to_string(function));
        if (function == dlp::ReadSysInfoRequest::kFunction) {
            SysInfo info;
            ASSERT_EQ(DlpReadSysInfo(*socket, info), 0);
            EXPECT_EQ(info.romVersion >> 24, 4u);
            EXPECT_EQ(info.dlpVersion, kDlpVersion12);
            EXPECT_EQ(info.maxRecordSize, 0xFFE1u);
        } else if (function == dlp::ReadUserInfoRequest::kFunction) {
            UserInfo user;
            ASSERT_EQ(DlpReadUserInfo(*socket, user), 0);
        } else if (function == dlp::EndOfSyncRequest::kFunction) {
            ASSERT_EQ(DlpEndOfSync(*socket, kEndNormal), 0);
            EXPECT_TRUE(socket->EndOfSyncSent());
        } else if (ReadsDatabases(function)) {
            ReadAsRecorded(*socket, requests[i].data);
        } else {
            std::vector<uint8_t> answer;
            ASSERT_EQ(socket->Exchange(requests[i].data, answer), 0);
            dlp::Response response;
            ASSERT_TRUE(dlp::DecodeResponse(answer, response));
            EXPECT_EQ(response.header.function, function | dlp::kResponseBit);
            EXPECT_EQ(answer, answers[i].data);
        }
    }
    EXPECT_EQ(handheld.get(), "");
    EXPECT_FALSE(socket->IsBroken());
    EXPECT_EQ(socket->Version(), kDlpVersion12);
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, TraceReplay,
    ::testing::Values("no-op-test.serial-net.json", "device-info-test.serial-net.json",
                      "list-db-test.serial-net.json", "create-delete-db-test.serial-net.json",
                      "read-db-test.serial-net.json", "read-memo-test.serial-net.json",
                      "write-db-test.serial-net.json"),
    [](const auto& param) {
        std::string name = param.param.substr(0, param.param.find('.'));
        for (char& c : name) {
            if (c == '-') c = '_';
        }
        return name;
    });

}  // namespace
}  // namespace hotsync
