// A virtual handheld on one end of an in-process pipe and a minimal desktop on the other.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "session/link/pipe_transport.h"
#include "tests/handheld/mini_desktop.h"
#include "tools/handheld/virtual_handheld.h"

namespace handheld_test {

// Short timers so that fault tests take moments, not minutes.
inline handheld::HandheldConfig FastConfig() {
    handheld::HandheldConfig c;
    c.wakeupIntervalMs = 200;
    c.loopbackPackets = 2;
    c.ackTimeoutMs = 300;
    c.receiveTimeoutMs = 5000;
    c.timeoutSec = 10;
    c.clock = 3900000000LL - 2082844800LL;  // a fixed clock: 2027-08-02
    return c;
}

class HandheldTest : public ::testing::Test {
  protected:
    void StartHandheld(const handheld::HandheldConfig& config) {
        m_pipe = ports::CreatePipePair();
        hh = std::make_unique<handheld::CVirtualHandheld>(config);
        prepare(*hh);
        ASSERT_TRUE(hh->Start(*m_pipe.handheld));
        desk = std::make_unique<CMiniDesktop>(*m_pipe.desktop);
        desk->ackWaitMs = 500;
    }
    // Wakeup, INIT; the wakeup's CMP bytes are kept in wakeup.
    void Connect(uint32_t rate = 0, uint8_t flags = 0x10) {
        ASSERT_TRUE(desk->AcceptWakeup(wakeup, 5000));
        ASSERT_TRUE(desk->Init(rate, flags));
    }
    Response Call(const std::vector<uint8_t>& request) {
        std::vector<uint8_t> bytes;
        Response r;
        EXPECT_TRUE(desk->Call(request, bytes)) << "no answer to function " << int(request[0]);
        EXPECT_TRUE(DecodeResponse(bytes, r));
        EXPECT_EQ(r.function, request[0] | 0x80);
        return r;
    }
    void EndSync() {
        const Response r = Call(Request(0x2F, 0x20, {0, 0}));
        EXPECT_EQ(r.error, 0);
        ASSERT_TRUE(hh->WaitForSyncs(1, 5000));
    }
    void TearDown() override {
        if (hh) hh->Stop();
    }
    // Runs on the handheld before it starts (preloading databases).
    std::function<void(handheld::CVirtualHandheld&)> prepare = [](auto&) {};

    ports::PipePair m_pipe;
    std::unique_ptr<handheld::CVirtualHandheld> hh;
    std::unique_ptr<CMiniDesktop> desk;
    std::vector<uint8_t> wakeup;
};

// Request arguments of the install path.
inline std::vector<uint8_t> CreateDbArg(const std::string& name, uint32_t creator, uint32_t type,
                                        uint16_t attributes, uint16_t version = 1) {
    std::vector<uint8_t> a;
    Put32(a, creator);
    Put32(a, type);
    a.push_back(0);
    a.push_back(0);
    Put16(a, attributes);
    Put16(a, version);
    PutStr(a, name);
    return a;
}
inline std::vector<uint8_t> NameArg(const std::string& name, uint8_t first = 0,
                                    uint8_t second = 0) {
    std::vector<uint8_t> a{first, second};
    PutStr(a, name);
    return a;
}
inline std::vector<uint8_t> WriteRecordArg(uint8_t handle, uint32_t id, uint8_t attributes,
                                           uint8_t category, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> a{handle, 0x80};
    Put32(a, id);
    a.push_back(attributes);
    a.push_back(category);
    a.insert(a.end(), data.begin(), data.end());
    return a;
}
inline std::vector<uint8_t> WriteResourceArg(uint8_t handle, uint32_t type, uint16_t id,
                                             const std::vector<uint8_t>& data) {
    std::vector<uint8_t> a{handle, 0};
    Put32(a, type);
    Put16(a, id);
    Put16(a, static_cast<uint16_t>(data.size()));
    a.insert(a.end(), data.begin(), data.end());
    return a;
}

}  // namespace handheld_test
