// Recorded NetSync sessions with a real handheld, replayed against our desktop: the
// handheld's bytes go in as they were recorded (over loopback TCP, or through the fake USB
// bus for the USB recordings), our desktop sends the recorded requests, and what it writes
// must be the recorded bytes: the same frames, transaction ids and handshake blobs (apart
// from the address in its hello, which no handheld reads).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "hotsync/dlp.h"
#include "hotsync/hotsync.h"
#include "net_peer.h"
#include "session/link/fake_usb_backend.h"
#include "session/link/net_transport.h"
#include "session/link/pipe_transport.h"
#include "session/link/usb_transport.h"
#include "tools/handheld/tcp_client_transport.h"

namespace hotsync {
namespace {

namespace fs = std::filesystem;
using testing::CNetPeer;

struct Event {
    bool read = false;  // bytes the desktop read from the handheld
    std::vector<uint8_t> data;
};

std::vector<Event> LoadEvents(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string json = text.str();
    std::vector<Event> events;
    size_t pos = 0;
    while ((pos = json.find("\"type\"", pos)) != std::string::npos) {
        Event event;
        event.read = json.compare(json.find('"', json.find(':', pos)) + 1, 4, "read") == 0;
        const size_t data = json.find("\"data\"", pos);
        const size_t open = json.find('"', json.find(':', data)) + 1;
        const size_t close = json.find('"', open);
        for (size_t i = open; i + 1 < close; i += 2) {
            event.data.push_back(uint8_t(std::stoi(json.substr(i, 2), nullptr, 16)));
        }
        events.push_back(std::move(event));
        pos = close;
    }
    return events;
}

std::vector<std::vector<uint8_t>> Payloads(const std::vector<Event>& events, bool read) {
    std::vector<uint8_t> stream;
    for (const Event& e : events) {
        if (e.read == read) stream.insert(stream.end(), e.data.begin(), e.data.end());
    }
    std::vector<std::vector<uint8_t>> payloads;
    for (size_t at = 0; at + netsync::kHeaderSize <= stream.size();) {
        netsync::Header header;
        wire::Decode(std::span<const uint8_t>(stream).subspan(at), header);
        at += netsync::kHeaderSize;
        payloads.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                              stream.begin() + static_cast<std::ptrdiff_t>(at + header.length));
        at += header.length;
    }
    return payloads;
}

// Bytes 30 to 33 of the desktop's hello: an address that differs between desktops.
constexpr size_t kHelloAddressAt = netsync::kHeaderSize + 30;

class NetTraceReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(NetTraceReplay, DesktopWritesTheRecordedBytes) {
    const fs::path path = fs::path(CC_SHARED_DIR) / "traces" / GetParam();
    if (!fs::exists(path)) GTEST_SKIP() << "no recorded sessions at " << path;
    const auto events = LoadEvents(path);
    const auto requests = Payloads(events, false);
    const auto answers = Payloads(events, true);
    ASSERT_GE(requests.size(), 3u);
    ASSERT_EQ(answers.size(), requests.size() + 1);  // the handheld's hello comes first

    // The desktop's port and the handheld's end of the line.
    const bool usb = GetParam().find(".usb.") != std::string::npos;
    std::unique_ptr<ITransport> desktopEnd, handheldEnd;
    auto bus = std::make_shared<ports::CFakeUsbBus>();
    ports::CNetListenTransport* listener = nullptr;
    if (usb) {
        auto pipe = ports::CreatePipePair();
        bus->Plug(ports::FakeUsbDevice{}.WithExtConnectionInfo(2, 2).WithBytesAvailable(),
                  std::move(pipe.desktop));
        handheldEnd = std::move(pipe.handheld);
        desktopEnd = std::make_unique<ports::CUsbTransport>(ports::CreateFakeUsbBackend(bus));
    } else {
        auto net = std::make_unique<ports::CNetListenTransport>(ports::NetEndpoint{"127.0.0.1", 0});
        listener = net.get();
        desktopEnd = std::move(net);
    }
    auto socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
    LinkTimeouts timeouts;
    timeouts.receiveMs = 3000;
    timeouts.acceptMs = 3000;
    socket->SetTimeouts(timeouts);
    SocketAddress address;
    ASSERT_TRUE(MakeAddress(usb ? "USB" : "NET", address));
    ASSERT_EQ(socket->Bind(address, std::move(desktopEnd)), 0);
    ASSERT_EQ(socket->Listen(1), 0);
    if (!usb) {
        auto line =
            std::make_unique<handheld::CTcpClientTransport>("127.0.0.1", listener->ListeningPort());
        ASSERT_EQ(line->Open(), 0);
        handheldEnd = std::move(line);
    }

    // The handheld: its recorded bytes in their order, and the desktop's checked on the way.
    auto handheld = std::async(std::launch::async, [&]() -> std::string {
        CNetPeer peer(*handheldEnd);
        size_t written = 0;  // offset in the desktop's stream
        for (const Event& e : events) {
            if (e.read) {
                if (!peer.Write(e.data)) return "cannot write";
                continue;
            }
            std::vector<uint8_t> ours;
            if (!peer.ReadExact(ours, e.data.size(), 3000)) {
                return "desktop silent at byte " + std::to_string(written);
            }
            for (size_t i = 0; i < ours.size(); ++i, ++written) {
                const bool ignored = written >= kHelloAddressAt && written < kHelloAddressAt + 4;
                if (!ignored && ours[i] != e.data[i]) {
                    return "desktop byte " + std::to_string(written) + " differs";
                }
            }
        }
        return "";
    });

    ASSERT_EQ(socket->Accept(), 0);
    for (size_t i = 2; i < requests.size(); ++i) {
        const uint8_t function = requests[i].at(0);
        SCOPED_TRACE("request " + std::to_string(i) + " function " + std::to_string(function));
        if (function == dlp::EndOfSyncRequest::kFunction) {
            ASSERT_EQ(DlpEndOfSync(*socket, kEndNormal), 0);
            continue;
        }
        std::vector<uint8_t> answer;
        ASSERT_EQ(socket->Exchange(requests[i], answer), 0);
        EXPECT_EQ(answer, answers[i + 1]);
    }
    EXPECT_EQ(handheld.get(), "");
    EXPECT_TRUE(socket->EndOfSyncSent());
    EXPECT_FALSE(socket->IsBroken());
    socket->Close();
}

INSTANTIATE_TEST_SUITE_P(Recorded, NetTraceReplay,
                         ::testing::Values("no-op-test.net.json", "device-info-test.net.json",
                                           "list-db-test.net.json", "read-memo-test.net.json",
                                           "create-delete-db-test.net.json",
                                           "sync-db-test.net.json", "read-db-test.usb.json",
                                           "write-db-test.usb.json"),
                         [](const auto& p) {
                             std::string name = p.param.substr(0, p.param.rfind('.'));
                             for (char& c : name) {
                                 if (c == '-' || c == '.') c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace hotsync
