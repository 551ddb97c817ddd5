// The recorded USB sessions of a real handheld, replayed through the Windows USB logic: the
// desktop's frames go out and the virtual handheld's answers come back through the vendor
// driver's pipes, or through WinUSB's bulk pipes, each over the fake of its driver. Every
// frame must arrive whole and in order: the handheld's hello as recorded, each answer under
// the request's transaction id and for the request's function.
#include <gtest/gtest.h>

#include "session/link/fake_win_usb_drivers.h"
#include "session/link/pipe_transport.h"
#include "session/link/usb_transport.h"
#include "session/link/vendor_usb_transport.h"
#include "session/link/winusb_backend.h"
#include "tests/handheld/trace_file.h"
#include "tests/hotsync/net_peer.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

struct Replay {
    const char* trace;
    bool vendorDriver;
};

class WinUsbTraceReplay : public ::testing::TestWithParam<Replay> {};

TEST_P(WinUsbTraceReplay, EveryFrameCrossesWhole) {
    const std::string path = std::string(CC_SHARED_DIR) + "/traces/" + GetParam().trace;
    std::vector<uint8_t> read, write;
    if (!tracefile::ReadStreams(path, read, write)) {
        GTEST_SKIP() << "no recorded sessions at " << path;
    }
    const auto desktop = tracefile::NetFrames(write);
    const auto handheld = tracefile::NetFrames(read);
    ASSERT_GE(desktop.size(), 3u);
    ASSERT_EQ(handheld.size(), desktop.size() + 1);

    handheld::HandheldConfig config;
    config.netSync = config.usb = true;
    config.timeoutSec = 8;
    config.receiveTimeoutMs = 4000;
    config.wakeupIntervalMs = 200;
    auto pipe = ports::CreatePipePair();
    handheld::CVirtualHandheld hh(config);
    ASSERT_TRUE(hh.Start(*pipe.handheld));
    auto bus = std::make_shared<ports::CFakeUsbBus>();
    bus->Plug(ports::FakeUsbDevice{}
                  .WithConnectionInfo({{0, 1}, {2, 2}})
                  .WithExtConnectionInfo(2, 2)
                  .WithBytesAvailable(),
              std::move(pipe.desktop));
    std::unique_ptr<hotsync::ITransport> usb;
    if (GetParam().vendorDriver) {
        usb = std::make_unique<ports::CVendorUsbTransport>(ports::CreateFakeVendorUsbDriver(bus));
    } else {
        usb = std::make_unique<ports::CUsbTransport>(
            ports::CreateWinUsbBackend(ports::CreateFakeWinUsbDriver(bus)));
    }
    ASSERT_EQ(usb->Open(), 0);
    ASSERT_EQ(usb->LookForHandheld(2000), 1);
    ASSERT_EQ(usb->Connect(2000), 1);

    hotsync::testing::CNetPeer peer(*usb);
    const auto hello = peer.ReadFrame(5000);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->payload, handheld[0].bytes);
    for (size_t i = 0; i < desktop.size(); ++i) {
        ASSERT_TRUE(peer.WriteFrame(desktop[i].xid, desktop[i].bytes)) << "frame " << i;
        const auto answer = peer.ReadFrame(5000);
        ASSERT_TRUE(answer) << "no answer to frame " << i;
        EXPECT_EQ(answer->header.xid, desktop[i].xid);
        ASSERT_FALSE(answer->payload.empty());
        // The handshake's answers, then the answer to each request's function.
        const auto& recorded = handheld[i + 1].bytes;
        ASSERT_FALSE(recorded.empty());
        EXPECT_EQ(answer->payload[0], recorded[0]) << "frame " << i;
        if (i < 2) {
            EXPECT_EQ(answer->payload.size(), recorded.size()) << "handshake " << i;
        }
    }
    ASSERT_TRUE(hh.WaitForSyncs(1, 5000));
    EXPECT_EQ(hh.Outcomes().at(0), handheld::SyncOutcome::kCompleted);
    usb->Close();
    hh.Stop();
}

INSTANTIATE_TEST_SUITE_P(Recorded, WinUsbTraceReplay,
                         ::testing::Values(Replay{"read-db-test.usb.json", true},
                                           Replay{"read-db-test.usb.json", false},
                                           Replay{"write-db-test.usb.json", true},
                                           Replay{"write-db-test.usb.json", false}),
                         [](const auto& p) {
                             std::string name = p.param.trace;
                             name = name.substr(0, name.find('.'));
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name + (p.param.vendorDriver ? "_VendorDriver" : "_WinUsb");
                         });

}  // namespace
