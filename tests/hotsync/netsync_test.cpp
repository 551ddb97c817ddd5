// NetSync, desktop side: the frame and wakeup layouts, telling the framings apart, the
// handshake and requests over a real loopback listener, and hostile or broken peers: refused
// or timed out, never served with more than the frame limit allocated, and the listener goes
// on serving the next one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <future>
#include <new>
#include <thread>

#include "hotsync/dlp.h"
#include "hotsync/framing.h"
#include "hotsync/hotsync.h"
#include "hotsync/netsync.h"
#include "net_peer.h"
#include "session/link/net_transport.h"
#include "tools/handheld/tcp_client_transport.h"

// The largest single allocation while watched: a peer must never make the desktop take
// more than the frame limit. (With the replacement operators in this file GCC sees free()
// meet memory from a new-expression where it inlines them, and warns where nothing is wrong.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<bool> g_bWatchAllocations{false};
std::atomic<size_t> g_nLargestAllocation{0};
}  // namespace

void* operator new(std::size_t size) {
    if (g_bWatchAllocations.load(std::memory_order_relaxed)) {
        size_t seen = g_nLargestAllocation.load();
        while (size > seen && !g_nLargestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace hotsync {
namespace {

using testing::CNetPeer;
using testing::NetFrame;

TEST(NetSyncWire, FrameAndWakeupLayouts) {
    // The recorded frame carrying a ReadSysInfo request under transaction 3.
    const std::vector<uint8_t> request = {0x12, 0x01, 0x20, 0x04, 0x00, 0x01, 0x00, 0x04};
    std::vector<uint8_t> frame =
        wire::Encode(netsync::Header{netsync::kTypeData, 3, uint32_t(request.size())});
    EXPECT_EQ(frame, (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x08}));

    // A wakeup is answered with the same datagram as a reply; nothing else is.
    std::vector<uint8_t> wakeup = {0xFA, 0xDE, 0x01, 0x07, 192, 168, 1, 20, 255, 255, 255, 0};
    const std::string host = "desk";
    wakeup.insert(wakeup.end(), host.begin(), host.end());
    wakeup.push_back(0);
    auto reply = netsync::AnswerWakeup(wakeup);
    ASSERT_TRUE(reply);
    std::vector<uint8_t> expected = wakeup;
    expected[2] = netsync::kWakeupReply;
    EXPECT_EQ(*reply, expected);
    EXPECT_FALSE(netsync::AnswerWakeup(*reply));  // a reply is no request
    wakeup[0] = 0xFB;
    EXPECT_FALSE(netsync::AnswerWakeup(wakeup));
    EXPECT_FALSE(netsync::AnswerWakeup(std::vector<uint8_t>{0xFA, 0xDE, 0x01}));
    // The Tungsten T2 writes its magic the other way round: answered in kind.
    wakeup[0] = 0xDE;
    wakeup[1] = 0xFA;
    reply = netsync::AnswerWakeup(wakeup);
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::vector<uint8_t>(reply->begin(), reply->begin() + 3),
              (std::vector<uint8_t>{0xDE, 0xFA, netsync::kWakeupReply}));
}

TEST(FramingDetection, FirstBytesTellTheStacksApart) {
    size_t start = 0;
    // A loopback SLP packet behind line noise.
    const std::vector<uint8_t> slp = {0x00, 0x17, 0xBE, 0xEF, 0xED, 0x03, 0x03,
                                      0x03, 0x00, 0x00, 0x15, 0xB8, 0x00, 0x00};
    EXPECT_EQ(DetectFraming(slp, start), Framing::kSerial);
    EXPECT_EQ(start, 2u);
    // The handheld's hello in a frame, and without its header.
    const std::vector<uint8_t> net = {0x01, 0xFF, 0x00, 0x00, 0x00, 0x16, 0x90, 0x01};
    EXPECT_EQ(DetectFraming(net, start), Framing::kNetSync);
    EXPECT_EQ(start, 0u);
    const std::vector<uint8_t> bare = {0x42, 0x90, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x20, 0};
    EXPECT_EQ(DetectFraming(bare, start), Framing::kNetSync);
    EXPECT_EQ(start, 1u);
    // Beginnings wait for more; a signature with a wrong checksum is noise.
    EXPECT_EQ(DetectFraming(std::vector<uint8_t>{0x00, 0xBE, 0xEF}, start), Framing::kDetect);
    EXPECT_EQ(start, 1u);
    const std::vector<uint8_t> damaged = {0xBE, 0xEF, 0xED, 0x03, 0x03, 0x03, 0, 0, 0x15, 0x00};
    EXPECT_EQ(DetectFraming(damaged, start), Framing::kDetect);
    EXPECT_EQ(start, damaged.size());
    // A network HotSync announcement, either way round, comes before NetSync frames.
    for (uint8_t first : {uint8_t(0xFA), uint8_t(0xDE)}) {
        const uint8_t second = first == 0xFA ? 0xDE : 0xFA;
        EXPECT_EQ(DetectFraming(std::vector<uint8_t>{first, second, 0x01}, start),
                  Framing::kNetSync);
        EXPECT_EQ(DetectFraming(std::vector<uint8_t>{first, second}, start), Framing::kDetect);
        EXPECT_EQ(DetectFraming(std::vector<uint8_t>{first, second, 0x02, 0}, start),
                  Framing::kDetect);  // a reply is none
    }
}

LinkTimeouts Fast() {
    LinkTimeouts t;
    t.receiveMs = 1000;
    t.acceptMs = 1000;
    return t;
}

class NetSyncDesktop : public ::testing::Test {
  protected:
    void SetUp() override {
        auto transport =
            std::make_unique<ports::CNetListenTransport>(ports::NetEndpoint{"127.0.0.1", 0});
        listener = transport.get();
        socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
        socket->SetTimeouts(Fast());
        SocketAddress address;
        ASSERT_TRUE(MakeAddress("NET", address));
        ASSERT_EQ(socket->Bind(address, std::move(transport)), 0);
        ASSERT_EQ(socket->Listen(1), 0);
        ASSERT_NE(listener->ListeningPort(), 0);
    }

    std::unique_ptr<handheld::CTcpClientTransport> Dial() {
        auto line =
            std::make_unique<handheld::CTcpClientTransport>("127.0.0.1", listener->ListeningPort());
        EXPECT_EQ(line->Open(), 0);
        return line;
    }

    // Accept against a peer that plays `script`; the errno of a failed accept, 0 on success.
    int AcceptWith(const std::function<void(CNetPeer&, ITransport&)>& script) {
        auto line = Dial();
        CNetPeer peer(*line);
        auto played = std::async(std::launch::async, [&] { script(peer, *line); });
        errno = 0;
        const int result = socket->Accept();
        const int error = result == 0 ? 0 : errno;
        played.get();
        if (result != 0) {
            // The desktop hung up on the peer.
            std::vector<uint8_t> rest;
            EXPECT_FALSE(peer.ReadExact(rest, 1, 1000));
        }
        return error;
    }

    ports::CNetListenTransport* listener = nullptr;
    std::unique_ptr<CSocket> socket;
};

TEST_F(NetSyncDesktop, HandshakeRequestsAndTickles) {
    auto line = Dial();
    CNetPeer peer(*line);
    EXPECT_EQ(listener->LookForHandheld(250), 1);  // the waiting connection is the press
    std::vector<NetFrame> desktop;
    auto played = std::async(std::launch::async, [&] {
        if (!peer.Handshake(&desktop)) return std::string("handshake");
        auto request = peer.ReadFrame();
        if (!request) return std::string("no request");
        // A tickle of the handheld's is skipped on the way to the answer.
        peer.WriteFrame(0xFF, {}, netsync::kTypeTickle);
        const std::vector<uint8_t> answer = {0xAF, 0x00, 0x00, 0x00};
        peer.WriteFrame(request->header.xid, answer);
        return request->header.xid == 3 && request->payload == dlp::Encode(dlp::EndOfSyncRequest{0})
                   ? std::string()
                   : std::string("request");
    });
    ASSERT_EQ(socket->Accept(), 0);
    EXPECT_EQ(DlpEndOfSync(*socket, kEndNormal), 0);
    EXPECT_EQ(played.get(), "");
    ASSERT_EQ(desktop.size(), 2u);
    EXPECT_EQ(desktop[0].header.xid, 1);
    EXPECT_EQ(desktop[0].payload,
              std::vector<uint8_t>(netsync::kDesktopHello.begin(), netsync::kDesktopHello.end()));
    EXPECT_EQ(desktop[1].header.xid, 2);
    EXPECT_EQ(desktop[1].payload.size(), netsync::kDesktopConfirm.size());
    EXPECT_EQ(socket->State(), SocketState::Connected);
    EXPECT_FALSE(socket->IsBroken());

    // Our keep-alive is a bare tickle frame.
    ASSERT_EQ(socket->Tickle(), 0);
    std::vector<uint8_t> tickle;
    ASSERT_TRUE(peer.ReadExact(tickle, 6, 1000));
    EXPECT_EQ(tickle, (std::vector<uint8_t>{0x02, 0xFF, 0, 0, 0, 0}));
}

// A unit that says its wakeup on the connection before its hello, with either magic.
TEST_F(NetSyncDesktop, AnnouncementBeforeTheHelloIsPassedOver) {
    for (const uint8_t first : {uint8_t(0xDE), uint8_t(0xFA)}) {
        const uint8_t second = first == 0xDE ? 0xFA : 0xDE;
        EXPECT_EQ(AcceptWith([&](CNetPeer& peer, ITransport&) {
                      peer.Write(std::vector<uint8_t>{first, second, 0x01, 0x00, 10, 0, 0, 2, 255,
                                                      255, 255, 0, 'T', '2', 0});
                      peer.Handshake(nullptr);
                  }),
                  0);
        socket->Close();
        SetUp();
    }
    // One whose name never ends is refused, not read for ever.
    EXPECT_NE(AcceptWith([&](CNetPeer& peer, ITransport&) {
                  std::vector<uint8_t> endless = {0xDE, 0xFA, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
                  endless.resize(endless.size() + netsync::kMaxHostName + 1, 'x');
                  peer.Write(endless);
              }),
              0);
}

TEST_F(NetSyncDesktop, HostilePeersAreRefusedAndTheNextOneServed) {
    const auto header = [](uint8_t type, uint32_t length) {
        return wire::Encode(netsync::Header{type, 0xFF, length});
    };
    g_nLargestAllocation = 0;
    g_bWatchAllocations = true;
    // A frame length of 4 GB: refused unread.
    EXPECT_EQ(AcceptWith([&](CNetPeer& p, ITransport&) { p.Write(header(1, 0xFFFFFFFFu)); }),
              ECONNREFUSED);
    // Just over the limit: the same.
    EXPECT_EQ(
        AcceptWith([&](CNetPeer& p, ITransport&) { p.Write(header(1, netsync::kMaxPayload + 1)); }),
        ECONNREFUSED);
    // A hello of the wrong size.
    EXPECT_EQ(AcceptWith([](CNetPeer& p, ITransport&) {
                  p.WriteFrame(0xFF, std::vector<uint8_t>(21, 0x90));
              }),
              ECONNREFUSED);
    // Garbage instead of frames.
    EXPECT_EQ(AcceptWith([](CNetPeer& p, ITransport&) {
                  const std::string text = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
                  p.Write(std::vector<uint8_t>(text.begin(), text.end()));
              }),
              ECONNREFUSED);
    // Gone in the middle of the hello.
    EXPECT_EQ(AcceptWith([&](CNetPeer& p, ITransport& line) {
                  auto bytes = header(1, 22);
                  bytes.insert(bytes.end(), 10, 0x90);
                  p.Write(bytes);
                  line.Close();
              }),
              EPIPE);
    g_bWatchAllocations = false;
    EXPECT_LT(g_nLargestAllocation.load(), size_t(64 * 1024));

    // Connects and never speaks: timed out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(AcceptWith([](CNetPeer&, ITransport&) {}), ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(socket->State(), SocketState::Listening);

    // The next handheld is served.
    EXPECT_EQ(AcceptWith([](CNetPeer& p, ITransport&) { p.Handshake(); }), 0);
    EXPECT_EQ(socket->State(), SocketState::Connected);
}

TEST_F(NetSyncDesktop, PeerThatHangsUpInTheMiddleOfAnAnswerBreaksTheLink) {
    auto line = Dial();
    CNetPeer peer(*line);
    auto played = std::async(std::launch::async, [&] {
        if (!peer.Handshake()) return false;
        auto request = peer.ReadFrame();
        if (!request) return false;
        auto head = wire::Encode(netsync::Header{netsync::kTypeData, request->header.xid, 100});
        head.insert(head.end(), 10, 0x80);
        peer.Write(head);
        line->Close();
        return true;
    });
    ASSERT_EQ(socket->Accept(), 0);
    SysInfo info;
    EXPECT_EQ(DlpReadSysInfo(*socket, info), kErrLinkBroken);
    EXPECT_TRUE(played.get());
    EXPECT_TRUE(socket->IsBroken());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DlpOpenConduit(*socket), kErrLinkBroken);  // at once
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(NetSyncDesktop, AnswerOverTheFrameLimitBreaksTheLinkUnread) {
    auto line = Dial();
    CNetPeer peer(*line);
    auto played = std::async(std::launch::async, [&] {
        if (!peer.Handshake()) return false;
        auto request = peer.ReadFrame();
        return request && peer.Write(wire::Encode(netsync::Header{
                              netsync::kTypeData, request->header.xid, 0x7FFFFFFF}));
    });
    ASSERT_EQ(socket->Accept(), 0);
    g_nLargestAllocation = 0;
    g_bWatchAllocations = true;
    SysInfo info;
    EXPECT_EQ(DlpReadSysInfo(*socket, info), kErrLinkBroken);
    g_bWatchAllocations = false;
    EXPECT_TRUE(played.get());
    EXPECT_LT(g_nLargestAllocation.load(), size_t(64 * 1024));
}

TEST_F(NetSyncDesktop, WakeupIsAnsweredAndCountsAsThePress) {
    ASSERT_NE(listener->WakeupPort(), 0);
    EXPECT_EQ(listener->LookForHandheld(0), 0);
    // The handheld's wakeups, then its connection.
    handheld::CTcpClientTransport line("127.0.0.1", listener->ListeningPort(), 3, 300);
    auto dialled = std::async(std::launch::async, [&] { return line.Open(); });
    bool pressed = false;
    for (int i = 0; i < 100 && !pressed; ++i) {
        pressed = listener->LookForHandheld(0) == 1;
        if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(pressed);
    EXPECT_EQ(dialled.get(), 0);
    EXPECT_EQ(line.WakeupsAnswered(), 1);
}

TEST(NetPortNames, ParseAsAddressAndPort) {
    const auto net = ports::ParseNetPort("NET");
    ASSERT_TRUE(net);
    EXPECT_EQ(net->host, "127.0.0.1");  // loopback unless opened to the network
    EXPECT_EQ(net->port, 14238);
    const auto all = ports::ParseNetPort("net:0.0.0.0:14238");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->host, "0.0.0.0");
    const auto v6 = ports::ParseNetPort("NET:[::1]:15000");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, 15000);
    const auto noPort = ports::ParseNetPort("net:pc.local");
    ASSERT_TRUE(noPort);
    EXPECT_EQ(noPort->port, 14238);
    for (const char* bad : {"net:", "net::14238", "net:host:", "net:host:65536", "net:host:12x",
                            "net:::1:14238", "net:[::1", "network", "NET2", "USB"}) {
        EXPECT_FALSE(ports::ParseNetPort(bad)) << bad;
    }
    // An address in use is a busy port.
    ports::CNetListenTransport first({"127.0.0.1", 0});
    ASSERT_EQ(first.Open(), 0);
    ports::CNetListenTransport second({"127.0.0.1", first.ListeningPort()});
    errno = 0;
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace hotsync
