// The desktop stack against a scripted handheld on an in-process pipe: handshake, DLP
// exchanges, fragmentation, retransmission, duplicates, bad packets, broken links and
// the per-socket lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "hotsync/dlp.h"
#include "hotsync/hotsync.h"
#include "link_fixture.h"
#include "peer.h"
#include "session/link/pipe_transport.h"

namespace hotsync {
namespace {

// ---- handshake ----------------------------------------------------------------------------

TEST_F(LinkTest, ForcedRateIsOfferedAboveTheAnnouncedMaximum) {
    socket->SetEstablishRate(256000, true);
    const cmp::Packet init = Connect(CPeer::Wakeup(57600));
    EXPECT_EQ(init.type, cmp::kTypeInit);
    EXPECT_EQ(init.baudRate, 256000u);
    EXPECT_TRUE(init.flags & cmp::kInitChangeRate);
    EXPECT_EQ(socket->LineRate(), 256000);
    EXPECT_EQ(socket->AnnouncedMaxRate(), 57600);
    EXPECT_EQ(socket->State(), SocketState::Connected);
}

TEST_F(LinkTest, DefaultRateIsLoweredToTheAnnouncedMaximum) {
    socket->SetEstablishRate(kDefaultOfferRate, false);
    const cmp::Packet init = Connect(CPeer::Wakeup(38400));
    EXPECT_EQ(init.baudRate, 38400u);
    EXPECT_EQ(socket->LineRate(), 38400);
}

TEST_F(LinkTest, NoRateSetStaysAt9600) {
    const cmp::Packet init = Connect(CPeer::Wakeup(115200, 0));
    EXPECT_EQ(init.baudRate, 9600u);
    EXPECT_FALSE(init.flags & cmp::kInitChangeRate);
    EXPECT_FALSE(init.flags & cmp::kInitLongPadp);  // the wakeup did not offer it
    EXPECT_EQ(socket->LineRate(), 9600);
}

// The pause after the init lets the handheld's UART settle at a new rate; a line that
// stays at 9,600 bit/s goes on at once.
TEST_F(LinkTest, PauseAfterTheInitOnlyWhenTheRateChanges) {
    LinkTimeouts t = FastTimeouts();
    t.rateSettleMs = 1000;
    socket->SetTimeouts(t);
    auto start = Clock::now();
    Connect(CPeer::Wakeup(115200, 0));
    EXPECT_LT(MsSince(start), 900);

    socket->SetEndOfSyncSent(true);
    socket->Close();
    SetUp();
    socket->SetTimeouts(t);
    socket->SetEstablishRate(115200, true);
    start = Clock::now();
    Connect(CPeer::Wakeup(115200, 0));
    EXPECT_GE(MsSince(start), 1000);
}

TEST_F(LinkTest, WrongCmpMajorVersionIsRefusedWithAnAbort) {
    auto hh = std::async(std::launch::async,
                         [&] { return peer->Handshake(CPeer::Wakeup(57600, 0, 2, 0)); });
    errno = 0;
    EXPECT_EQ(socket->Accept(), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    auto answer = hh.get();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->type, cmp::kTypeAbort);
    EXPECT_EQ(answer->flags, cmp::kAbortVersionMismatch);
    EXPECT_EQ(socket->State(), SocketState::Listening);
}

TEST_F(LinkTest, AcceptGivesUpWhenNoWakeupComes) {
    const auto start = Clock::now();
    errno = 0;
    EXPECT_EQ(socket->Accept(), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(socket->State(), SocketState::Listening);
}

TEST_F(LinkTest, RepeatedWakeupsAndNoiseDoNotDisturbTheHandshake) {
    auto hh = std::async(std::launch::async, [&] {
        const std::vector<uint8_t> noise = {0x00, 0x55, 0xBE, 0xEF, 0x12};
        peer->WriteRaw(noise);
        slp::Header loopback;
        loopback.type = slp::kTypeLoopback;
        peer->WriteRaw(slp::EncodeFrame(loopback, {}));
        const auto wakeup = wire::Encode(CPeer::Wakeup(57600));
        // Three copies, as a handheld repeats its wakeup until it sees an answer.
        for (int i = 0; i < 3; ++i) peer->Send(padp::kTypeData, 0xC0, 10, 0xFF, wakeup);
        int wakeupAcks = 0;
        for (;;) {
            auto packet = peer->ReadPacket(2000);
            if (!packet) return -1;
            if (packet->header.type == padp::kTypeAck && packet->xid == 0xFF) ++wakeupAcks;
            if (packet->header.type == padp::kTypeData) {
                peer->Ack(*packet);
                return wakeupAcks;
            }
        }
    });
    socket->SetEstablishRate(kDefaultOfferRate, false);
    EXPECT_EQ(socket->Accept(), 0);
    EXPECT_GE(hh.get(), 1);
    EXPECT_EQ(socket->ReceiveErrors(), 0);  // noise before a signature is not an error
}

// ---- requests and answers ---------------------------------------------------------------

TEST_F(LinkTest, ErrorsAndShortAnswersAreReported) {
    Connect();
    auto served = Serve({0x9A, 0x00, 0x00, 0x07});  // DeleteDB: database open
    EXPECT_EQ(DlpDeleteDB(*socket, 0, "MemoDB"), -7);
    EXPECT_EQ(served.get(), dlp::Encode(dlp::DeleteDbRequest{0, 0, "MemoDB"}));

    served = Serve({0x97, 0x00, 0x00, 0x00});  // OpenDB success without its handle
    int handle = -1;
    EXPECT_EQ(DlpOpenDB(*socket, 0, kOpenRead, "MemoDB", handle), kDlpErrShortAnswer);
    served.get();

    served = Serve({0xB8, 0x01, 0x00, 0x00, 0x20, 0x02, 0x00, 0x01});  // feature cut short
    uint32_t value = 0;
    EXPECT_EQ(DlpReadFeature(*socket, FourCC("psys"), 2, value), kDlpErrShortAnswer);
    served.get();

    served = Serve({0x99, 0x00, 0x00, 0x00});  // answer to another request
    EXPECT_EQ(DlpResetSystem(*socket), kDlpErrBadResponse);
    served.get();
    EXPECT_FALSE(socket->IsBroken());
}

TEST_F(LinkTest, OversizedRecordIsRefusedBeforeSending) {
    Connect();
    std::vector<uint8_t> data(65528, 0x11);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(DlpWriteRecord(*socket, 1, 0, 0, 0, data), kDlpErrDataTooLarge);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Data too large\n");
    EXPECT_FALSE(peer->ReadPacket(200));  // nothing went out

    data.resize(65527);
    auto served = Serve({0xA1, 0x01, 0x00, 0x00, 0x20, 0x04, 0x00, 0x00, 0x12, 0x34});
    uint32_t newId = 0;
    EXPECT_EQ(DlpWriteRecord(*socket, 1, 0x40, 0, 3, data, &newId), 0);
    EXPECT_EQ(newId, 0x1234u);
    const auto request = served.get();
    ASSERT_EQ(request.size(), 2u + 4u + 8u + 65527u);
    EXPECT_EQ(request[2], 0xA0);  // small wrapper
}

TEST_F(LinkTest, LargeResourceTravelsInLongFormFragments) {
    Connect(CPeer::Wakeup(57600, 0x10));
    std::vector<uint8_t> data(65536);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    auto served = Serve({0xA4, 0x00, 0x00, 0x00});
    EXPECT_EQ(DlpWriteResource(*socket, 2, FourCC("tAIB"), 1000, data), 0);
    const auto request = served.get();

    dlp::WriteResourceRequest expected;
    expected.handle = 2;
    expected.type = FourCC("tAIB");
    expected.id = 1000;
    expected.size = 0xFFFF;
    expected.data = data;
    EXPECT_EQ(request, dlp::Encode(expected));
    // 65,536 + 18 header bytes: 65 fragments of 1024, then 18 bytes.
    ASSERT_EQ(peer->fragments.size(), 65u);
    EXPECT_EQ(peer->fragments.front().header.flags, padp::kFlagFirst | padp::kFlagLong);
    EXPECT_EQ(peer->fragments.front().header.sizeOrOffset, 65554u);
    EXPECT_EQ(peer->fragments[1].header.flags, padp::kFlagLong);
    EXPECT_EQ(peer->fragments[1].header.sizeOrOffset, 1024u);
    EXPECT_EQ(peer->fragments.back().header.flags, padp::kFlagLast | padp::kFlagLong);
    EXPECT_EQ(peer->fragments.back().header.sizeOrOffset, 64u * 1024u);
    for (const auto& fragment : peer->fragments) EXPECT_LE(fragment.data.size(), 1024u);
}

TEST_F(LinkTest, LargeResourceWithoutLongFormIsRefused) {
    Connect(CPeer::Wakeup(57600, 0));
    std::vector<uint8_t> data(65536, 1);
    EXPECT_EQ(DlpWriteResource(*socket, 2, FourCC("code"), 1, data), kDlpErrDataTooLarge);
    EXPECT_FALSE(socket->IsBroken());
}

TEST_F(LinkTest, FragmentedAnswerIsReassembled) {
    Connect();
    // ReadRecord answer: small wrapper of 3,010 bytes, record id 9, index 4, size 3,000.
    std::vector<uint8_t> answer = {0xA0, 0x01, 0x00, 0x00, 0xA0, 0x00, 0x0B, 0xC2, 0x00,
                                   0x00, 0x00, 0x09, 0x00, 0x04, 0x0B, 0xB8, 0x40, 0x02};
    for (int i = 0; i < 3000; ++i) answer.push_back(uint8_t(i));
    auto served = Serve(answer);
    RecordData record;
    EXPECT_EQ(DlpReadRecordByIndex(*socket, 1, 4, record), 0);
    served.get();
    EXPECT_EQ(record.id, 9u);
    EXPECT_EQ(record.index, 4);
    EXPECT_EQ(record.attributes, 0x40);
    EXPECT_EQ(record.category, 2);
    ASSERT_EQ(record.data.size(), 3000u);
    EXPECT_EQ(record.data[2999], uint8_t(2999));
}

// ---- reliability --------------------------------------------------------------------------

TEST_F(LinkTest, LostAndCorruptedPacketsAreSentAgain) {
    Connect();
    auto hh = std::async(std::launch::async, [&] {
        // Ignore the first copy of the request (lost), then answer the second with a
        // corrupted ACK first, which must be dropped.
        auto first = peer->ReadData(2000);
        auto second = peer->ReadData(2000);
        if (!first || !second || first->xid != second->xid) return false;
        auto badAck = CPeer::Frame(padp::kTypeAck, 0xD0, second->header.sizeOrOffset, second->xid);
        badAck[badAck.size() - 1] ^= 0x5A;
        peer->WriteRaw(badAck);
        auto third = peer->ReadData(2000);
        if (!third) return false;
        peer->Ack(*third);
        return peer->SendMessage(std::vector<uint8_t>{0xAE, 0x00, 0x00, 0x00}, third->xid);
    });
    EXPECT_EQ(DlpOpenConduit(*socket), 0);
    EXPECT_TRUE(hh.get());
    EXPECT_GE(socket->ReceiveErrors(), 1);
    EXPECT_FALSE(socket->IsBroken());
}

TEST_F(LinkTest, RepeatedAnswerIsAcknowledgedButDeliveredOnce) {
    Connect();
    auto hh2 = std::async(std::launch::async, [&] {
        uint8_t xid = 0;
        if (!peer->ReceiveMessage(2000, &xid)) return -1;
        const std::vector<uint8_t> answer = {0xA9, 0x00, 0x00, 0x00};
        peer->SendMessage(answer, xid);
        peer->Send(padp::kTypeData, padp::kFlagFirst | padp::kFlagLast | padp::kFlagLong, 4, xid,
                   answer);
        int acks = 0;
        std::optional<uint8_t> next;
        while (auto packet = peer->ReadPacket(300)) {
            if (packet->header.type == padp::kTypeAck && packet->xid == xid) ++acks;
            if (packet->header.type == padp::kTypeData) {
                peer->Ack(*packet);
                next = packet->xid;
            }
        }
        // Answer the next request only now, so that its own answer is what it gets.
        if (next) peer->SendMessage(std::vector<uint8_t>{0xAE, 0x00, 0x00, 0x00}, *next);
        return acks;
    });
    EXPECT_EQ(DlpResetSystem(*socket), 0);
    // Give the repeat time to arrive while idle, then the next request must get its
    // own answer, not the repeat.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(DlpOpenConduit(*socket), 0);
    EXPECT_EQ(hh2.get(), 1);
}

TEST_F(LinkTest, AnswerInPlaceOfALostAckCompletesTheRequest) {
    Connect();
    auto hh = std::async(std::launch::async, [&] {
        auto request = peer->ReadData(2000);
        if (!request) return false;
        // No ACK: the answer comes straight away under the request's xid.
        return peer->SendMessage(std::vector<uint8_t>{0xAE, 0x00, 0x00, 0x00}, request->xid);
    });
    EXPECT_EQ(DlpOpenConduit(*socket), 0);
    EXPECT_TRUE(hh.get());
}

TEST_F(LinkTest, MemoryErrorFlagFailsTheRequestButKeepsTheLink) {
    Connect();
    auto hh = std::async(std::launch::async, [&] {
        auto request = peer->ReadData(2000);
        if (!request) return false;
        peer->Ack(*request, padp::kFlagMemError);
        uint8_t xid = 0;
        if (!peer->ReceiveMessage(2000, &xid)) return false;
        return peer->SendMessage(std::vector<uint8_t>{0xA7, 0x00, 0x00, 0x00}, xid);
    });
    std::vector<uint8_t> data(100, 3);
    EXPECT_EQ(DlpWriteRecord(*socket, 1, 0, 0, 0, data), kErrPeerMemory);
    EXPECT_TRUE(socket->LastMemoryError());
    EXPECT_FALSE(socket->IsBroken());
    EXPECT_EQ(DlpResetSyncFlags(*socket, 1), 0);
    EXPECT_FALSE(socket->LastMemoryError());
    EXPECT_TRUE(hh.get());
}

TEST_F(LinkTest, BadPacketsAreDroppedAndCounted) {
    Connect();
    auto hh = std::async(std::launch::async, [&] {
        uint8_t xid = 0;
        if (!peer->ReceiveMessage(2000, &xid)) return false;
        const std::vector<uint8_t> answer = {0xAE, 0x00, 0x00, 0x00};
        auto good = CPeer::Frame(padp::kTypeData, 0xD0, 4, xid, answer);

        auto wrongSignature = good;
        wrongSignature[2] = 0xEE;
        auto wrongChecksum = good;
        wrongChecksum[9] ^= 1;
        auto wrongCrc = good;
        wrongCrc[good.size() - 2] ^= 1;
        auto unknownPadpType = CPeer::Frame(0x06, 0xC0, 4, xid, answer);
        auto oversizedFragment =
            CPeer::Frame(padp::kTypeData, 0xC0, 1100, xid, std::vector<uint8_t>(1100, 0));
        slp::Header system;
        system.type = slp::kTypeSystem;
        auto systemPacket = slp::EncodeFrame(system, std::vector<uint8_t>{1, 2, 3});
        auto truncated = std::vector<uint8_t>(good.begin(), good.begin() + 14);
        auto tooShortBody = slp::EncodeFrame(slp::Header{}, std::vector<uint8_t>{1});

        for (const auto* bad : {&wrongSignature, &wrongChecksum, &wrongCrc, &unknownPadpType,
                                &oversizedFragment, &systemPacket, &tooShortBody, &truncated}) {
            peer->WriteRaw(*bad);
        }
        return peer->SendMessage(answer, xid);
    });
    EXPECT_EQ(DlpOpenConduit(*socket), 0);
    EXPECT_TRUE(hh.get());
    EXPECT_GE(socket->ReceiveErrors(), 7);
    EXPECT_FALSE(socket->IsBroken());
}

TEST_F(LinkTest, SilentHandheldBreaksTheLinkAndLaterRequestsFailAtOnce) {
    Connect();
    const auto start = Clock::now();
    EXPECT_EQ(DlpOpenConduit(*socket), kErrLinkBroken);
    const auto took = MsSince(start);
    EXPECT_GE(took, 3 * 100 - 20);  // all tries were made
    EXPECT_LT(took, 2000);
    EXPECT_TRUE(socket->IsBroken());

    const auto again = Clock::now();
    EXPECT_EQ(DlpEndOfSync(*socket, 0), kErrLinkBroken);
    EXPECT_EQ(socket->Tickle(), kErrLinkBroken);
    EXPECT_LT(MsSince(again), 50);
}

TEST_F(LinkTest, HandheldThatNeverAnswersBreaksTheLinkAfterTheReceiveTimeout) {
    Connect();
    auto hh =
        std::async(std::launch::async, [&] { return peer->ReceiveMessage(2000).has_value(); });
    const auto start = Clock::now();
    EXPECT_EQ(DlpOpenConduit(*socket), kErrLinkBroken);
    EXPECT_GE(MsSince(start), 600 - 20);
    EXPECT_TRUE(hh.get());
    EXPECT_TRUE(socket->IsBroken());
}

TEST_F(LinkTest, TicklesKeepAWaitingRequestAlive) {
    Connect();
    auto hh = std::async(std::launch::async, [&] {
        uint8_t xid = 0;
        if (!peer->ReceiveMessage(2000, &xid)) return false;
        // Busy for twice the receive time-out, tickling every 200 ms.
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            peer->Send(padp::kTypeTickle, 0xC0, 0, xid);
        }
        return peer->SendMessage(std::vector<uint8_t>{0xAE, 0x00, 0x00, 0x00}, xid);
    });
    EXPECT_EQ(DlpOpenConduit(*socket), 0);
    EXPECT_TRUE(hh.get());
}

TEST_F(LinkTest, DesktopTickleIsASinglePacketWithoutAck) {
    Connect();
    const auto sentBefore = socket->BytesSent();
    EXPECT_EQ(socket->Tickle(), 0);
    auto packet = peer->ReadPacket(500);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->header.type, padp::kTypeTickle);
    EXPECT_EQ(packet->header.flags, 0xC0);
    EXPECT_EQ(packet->header.sizeOrOffset, 0u);
    EXPECT_EQ(socket->BytesSent() - sentBefore, 16u);  // header 10, PADP 4, CRC 2
    EXPECT_FALSE(peer->ReadPacket(300));               // nothing follows: no ACK is awaited
}

TEST_F(LinkTest, TwoThreadsNeverInterleaveOnTheLink) {
    Connect();
    std::atomic<bool> stop{false};
    // The handheld checks that a new request never starts before it answered the last one.
    auto hh = std::async(std::launch::async, [&] {
        int served = 0;
        bool awaitingAnswer = false;
        while (!stop.load()) {
            auto packet = peer->ReadPacket(200);
            if (!packet) continue;
            if (packet->header.type == padp::kTypeTickle) {
                if (awaitingAnswer) return -1;  // a tickle inside an exchange
                continue;
            }
            if (packet->header.type != padp::kTypeData) continue;
            if (awaitingAnswer) return -1;
            peer->Ack(*packet);
            awaitingAnswer = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::vector<uint8_t> answer = {uint8_t(packet->data[0] | 0x80), 0, 0, 0};
            awaitingAnswer = false;  // cleared before sending: the answer ends the exchange
            if (!peer->SendMessage(answer, packet->xid)) return -1;
            ++served;
        }
        return served;
    });
    std::atomic<int> failures{0};
    auto worker = [&](bool tickles) {
        for (int i = 0; i < 20; ++i) {
            if ((tickles ? DlpResetSyncFlags(*socket, 1) : DlpOpenConduit(*socket)) != 0) {
                ++failures;
            }
            if (tickles && socket->Tickle() != 0) ++failures;
        }
    };
    std::thread a(worker, false);
    std::thread b(worker, true);
    a.join();
    b.join();
    stop = true;
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(hh.get(), 40);
}

// ---- version and close --------------------------------------------------------------------

TEST_F(LinkTest, VersionAsksReadSysInfoOnce) {
    Connect(CPeer::Wakeup(57600, 0x10, 1, 3));
    auto served = Serve({0x92, 0x02, 0x00, 0x00, 0x20, 0x0E, 0x04, 0x10, 0x30, 0x00, 0x00, 0x00,
                         0x01, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x21, 0x0C, 0x00, 0x01,
                         0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xE1});
    EXPECT_EQ(socket->Version(), kDlpVersion12);
    served.get();
    EXPECT_EQ(socket->Version(), kDlpVersion12);  // no second request: it would time out
    EXPECT_EQ(socket->MaxRecordSize(), 0xFFE1u);
}

TEST_F(LinkTest, OldHandheldVersionComesFromItsWakeup) {
    Connect(CPeer::Wakeup(57600, 0, 1, 0));
    auto served = Serve({0x92, 0x01, 0x00, 0x00, 0x20, 0x0E, 0x01, 0x00, 0x30, 0x00,
                         0x00, 0x00, 0x01, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00});
    EXPECT_EQ(socket->Version(), kDlpVersion10);
    served.get();
}

TEST_F(LinkTest, CloseSendsEndOfSyncOnlyWhenNotSentYet) {
    Connect();
    auto served = Serve({0xAF, 0x00, 0x00, 0x00});
    EXPECT_EQ(socket->Close(), 0);
    EXPECT_EQ(served.get(), dlp::Encode(dlp::EndOfSyncRequest{0}));
    EXPECT_EQ(socket->State(), SocketState::Closed);
    EXPECT_EQ(DlpOpenConduit(*socket), kErrNotConnected);
}

TEST_F(LinkTest, CloseAfterMarkedEndOfSyncSendsNothing) {
    Connect();
    socket->SetEndOfSyncSent(true);
    EXPECT_EQ(socket->Close(), 0);
    EXPECT_FALSE(peer->ReadPacket(200));
}

TEST_F(LinkTest, CloseFromAnotherThreadEndsAWaitingRequest) {
    Connect();
    auto hh =
        std::async(std::launch::async, [&] { return peer->ReceiveMessage(2000).has_value(); });
    LinkTimeouts slow = FastTimeouts();
    slow.receiveMs = 30000;
    socket->SetTimeouts(slow);
    auto request = std::async(std::launch::async, [&] { return DlpOpenConduit(*socket); });
    EXPECT_TRUE(hh.get());
    const auto start = Clock::now();
    socket->Close();
    EXPECT_EQ(request.get(), kErrLinkBroken);
    EXPECT_LT(MsSince(start), 2000);
}

// ---- sockets ------------------------------------------------------------------------------

TEST(SocketSetup, RefusesOtherKindsAndBadAddresses) {
    errno = 0;
    EXPECT_FALSE(CSocket::Create(2, kSockStream, kProtoPadp));
    EXPECT_EQ(errno, EINVAL);
    SocketAddress address;
    EXPECT_TRUE(MakeAddress("/dev/pts/1234", address));  // 13 characters
    EXPECT_EQ(address.PortName(), "/dev/pts/1234");
    EXPECT_FALSE(MakeAddress("/dev/pts/12345", address));
    EXPECT_EQ(sizeof(SocketAddress), kAddressSize);

    auto socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
    ASSERT_TRUE(socket);
    ASSERT_TRUE(MakeAddress("COM1", address));
    errno = 0;
    EXPECT_EQ(socket->Bind(address, nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(socket->Listen(1), -1);
    EXPECT_EQ(socket->Accept(), -1);
    EXPECT_EQ(socket->Version(), -1);
    EXPECT_EQ(socket->Tickle(), kErrNotConnected);
    EXPECT_EQ(socket->PortHandle(), -1);
}

}  // namespace
}  // namespace hotsync
