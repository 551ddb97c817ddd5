// A desktop socket on one end of an in-process pipe and a scripted handheld (CPeer) on the
// other, for tests that play the handheld's answers byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "hotsync/dlp.h"
#include "hotsync/hotsync.h"
#include "peer.h"
#include "session/link/pipe_transport.h"

namespace hotsync {

using testing::CPeer;
using Clock = std::chrono::steady_clock;

inline LinkTimeouts FastTimeouts() {
    LinkTimeouts t;
    t.ackWaitMs = 100;
    t.sendTries = 3;
    t.receiveMs = 600;
    t.acceptMs = 1500;
    t.rateSettleMs = 0;
    return t;
}

inline int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A DLP answer to the function: the error word and, without an error, argument 0x20.
inline std::vector<uint8_t> Answer(uint8_t function, uint16_t error, std::vector<uint8_t> arg0 = {},
                                   bool withArg = true) {
    std::vector<uint8_t> out{uint8_t(function | 0x80), uint8_t(withArg && !error ? 1 : 0),
                             uint8_t(error >> 8), uint8_t(error)};
    if (!withArg || error) return out;
    std::vector<dlp::Argument> args{{0x20, std::move(arg0)}};
    const std::vector<uint8_t> request = dlp::EncodeRequest(0, args);
    out.insert(out.end(), request.begin() + 2, request.end());  // the wrapped argument
    return out;
}

inline std::vector<uint8_t> Be32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto pipe = ports::CreatePipePair();
        handheldEnd = std::move(pipe.handheld);
        peer = std::make_unique<CPeer>(*handheldEnd);
        socket = CSocket::Create(kAfSlp, kSockStream, kProtoPadp);
        ASSERT_TRUE(socket);
        socket->SetTimeouts(FastTimeouts());
        SocketAddress address;
        ASSERT_TRUE(MakeAddress("COM1", address));
        ASSERT_EQ(socket->Bind(address, std::move(pipe.desktop)), 0);
        ASSERT_EQ(socket->Listen(1), 0);
    }

    // Handshake with the given wakeup; returns the desktop's CMP answer.
    cmp::Packet Connect(const cmp::Packet& wakeup = CPeer::Wakeup(57600, 0x10)) {
        auto hh = std::async(std::launch::async, [&] { return peer->Handshake(wakeup); });
        EXPECT_EQ(socket->Accept(), 0);
        auto answer = hh.get();
        EXPECT_TRUE(answer.has_value());
        return answer.value_or(cmp::Packet{});
    }

    // Serves one request with the given answer (raw DLP response bytes).
    std::future<std::vector<uint8_t>> Serve(std::vector<uint8_t> answer) {
        return std::async(std::launch::async, [this, answer] {
            uint8_t xid = 0;
            auto request = peer->ReceiveMessage(2000, &xid);
            if (!request) return std::vector<uint8_t>{};
            peer->SendMessage(answer, xid);
            return *request;
        });
    }

    std::unique_ptr<ITransport> handheldEnd;
    std::unique_ptr<CPeer> peer;
    std::unique_ptr<CSocket> socket;
};

}  // namespace hotsync
