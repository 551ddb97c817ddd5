#include "tests/support/worker_harness.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/transfer_monitor.h"
#include "resources/strings/string_table.h"
#include "session/link/fake_win_usb_drivers.h"
#include "session/link/net_transport.h"
#include "session/link/usb_transport.h"
#include "session/link/vendor_usb_transport.h"
#include "session/link/winusb_backend.h"
#include "tests/session/db_builder.h"
#include "tools/handheld/tcp_client_transport.h"

namespace testsupport {

void CWorkerRunFixture::SetUp() {
    resources::SetLanguage(resources::Language::kEnglish);
    m_dir = testdb::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    config.pressAfterMs = 0;
    config.ackTimeoutMs = 300;
    config.retries = 3;
    config.receiveTimeoutMs = 3000;
    config.timeoutSec = 10;
}

void CWorkerRunFixture::TearDown() {
    if (m_session) m_session->Close();
    if (m_hh) m_hh->Stop();
    g_pSession = nullptr;
    g_pUserLibrary = m_savedLibrary;
    std::filesystem::remove_all(m_dir);
}

const char* RunLinkName(RunLink link) {
    switch (link) {
        case RunLink::kPipe:
            return "Pipe";
        case RunLink::kNet:
            return "Net";
        case RunLink::kUsbNetSync:
            return "UsbNetSync";
        case RunLink::kUsbSerial:
            return "UsbSerial";
        case RunLink::kUsbVendorDriver:
            return "UsbVendorDriver";
        case RunLink::kUsbWinUsb:
            return "UsbWinUsb";
    }
    return "?";
}

void CWorkerRunFixture::Connect() {
    m_pipe = ports::CreatePipePair();
    switch (link) {
        case RunLink::kPipe:
            m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
            ASSERT_TRUE(m_hh->Start(*m_pipe.handheld));
            m_session =
                std::make_unique<CDeviceSession>("pipe", true, 115200, std::move(m_pipe.desktop));
            break;
        case RunLink::kNet: {
            m_session = std::make_unique<CDeviceSession>("net:127.0.0.1:0", true, 115200);
            ASSERT_NE(m_session->m_sd, -1);
            auto* listener =
                dynamic_cast<ports::CNetListenTransport*>(m_session->Socket()->Transport());
            ASSERT_TRUE(listener);
            config.netSync = true;
            m_netLine = std::make_unique<handheld::CTcpClientTransport>("127.0.0.1",
                                                                        listener->ListeningPort());
            m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
            ASSERT_TRUE(m_hh->Start(*m_netLine));
            break;
        }
        case RunLink::kUsbNetSync:
        case RunLink::kUsbSerial: {
            const bool netSync = link == RunLink::kUsbNetSync;
            config.netSync = config.usb = netSync;
            m_bus = std::make_shared<ports::CFakeUsbBus>();
            ports::FakeUsbDevice device;
            if (netSync) {
                device.WithExtConnectionInfo(2, 2).WithBytesAvailable();
            } else {
                device.vendorId = 0x082D;  // a Visor: the serial stack over USB
                device.productId = 0x0100;
                device.WithConnectionInfo({{0, 1}, {2, 2}}).WithBytesAvailable();
            }
            m_bus->Plug(device, std::move(m_pipe.desktop));
            m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
            ASSERT_TRUE(m_hh->Start(*m_pipe.handheld));
            auto bus = m_bus;
            m_session =
                std::make_unique<CDeviceSession>("USB", true, 115200, [bus](const std::string&) {
                    return std::make_unique<ports::CUsbTransport>(ports::CreateFakeUsbBackend(bus));
                });
            break;
        }
        case RunLink::kUsbVendorDriver:
        case RunLink::kUsbWinUsb: {
            config.netSync = config.usb = true;
            m_bus = std::make_shared<ports::CFakeUsbBus>();
            m_bus->Plug(ports::FakeUsbDevice{}
                            .WithConnectionInfo({{0, 1}, {2, 2}})
                            .WithExtConnectionInfo(2, 2)
                            .WithBytesAvailable(),
                        std::move(m_pipe.desktop));
            m_hh = std::make_unique<handheld::CVirtualHandheld>(config);
            ASSERT_TRUE(m_hh->Start(*m_pipe.handheld));
            auto bus = m_bus;
            const bool vendor = link == RunLink::kUsbVendorDriver;
            m_session = std::make_unique<CDeviceSession>(
                "USB", true, 115200,
                [bus, vendor](const std::string&) -> std::unique_ptr<hotsync::ITransport> {
                    if (vendor) {
                        return std::make_unique<ports::CVendorUsbTransport>(
                            ports::CreateFakeVendorUsbDriver(bus));
                    }
                    return std::make_unique<ports::CUsbTransport>(
                        ports::CreateWinUsbBackend(ports::CreateFakeWinUsbDriver(bus)));
                });
            break;
        }
    }
    ASSERT_NE(m_session->m_sd, -1);
    hotsync::LinkTimeouts t;
    t.ackWaitMs = 300;
    t.sendTries = 3;
    t.receiveMs = 3000;
    t.acceptMs = 5000;
    t.rateSettleMs = 0;
    m_session->SetLinkTimeouts(t);
    bool pressed = false;
    for (int i = 0; i < 250 && !pressed; ++i) {
        pressed = m_session->IsHotSyncPressed();
        if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(pressed);
    ASSERT_TRUE(m_session->Accept());
    view.session = m_session.get();
}

void CWorkerRunFixture::Run(const std::vector<std::string>& files, bool backup, bool setTime,
                            const std::function<void(CInstallRun&)>& onTick) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    CTransferMonitor monitor(view, {}, [](int) {});
    monitor.SetPictureConverter(pictureConverter);
    CInstallRun run;
    monitor.Start();
    run.Start(*m_session, files, backup, setTime, &m_done, placement);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (m_done.posts == 0 && std::chrono::steady_clock::now() < deadline) {
        if (onTick) onTick(run);
        if (m_done.posts != 0) break;
        monitor.OnTransferTimer(*m_session);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(m_done.posts, 1) << "the worker did not end";
    run.Join();
    monitor.OnInstallDone(*m_session);
    failed = m_session->m_nFailed;
    bytesSent = m_session->m_nBytesSent;
    m_session->Close();
    m_hh->WaitForSyncs(1, 5000);
    requests = m_hh->Requests();
}

int CWorkerRunFixture::CountRequests(const std::string& name, const std::string& argsPart) const {
    int n = 0;
    for (const auto& r : requests) {
        if (r.name == name && r.argsJson.find(argsPart) != std::string::npos) ++n;
    }
    return n;
}

void ExpectSameAsFile(const handheld::HandheldDatabase& db, const std::string& path, bool dlp10) {
    auto file = pdb::CPalmDbFile::Open(path);
    ASSERT_TRUE(file) << path;
    const pdb::DbInfo& info = file->Info();
    EXPECT_EQ(db.info.name, info.name.substr(0, 31));
    EXPECT_EQ(db.info.type, info.type);
    EXPECT_EQ(db.info.creator, info.creator);
    EXPECT_EQ(db.info.version, info.version);
    EXPECT_EQ(db.info.attributes & 0x7FFF, info.attributes & 0x7FFF);
    std::vector<uint8_t> appInfo;
    file->GetAppInfo(appInfo);
    if (db.info.name != "MemoDB") {
        EXPECT_EQ(db.appInfo, appInfo);
    }
    if (info.IsResourceDb()) {
        std::vector<pdb::Resource> expected;
        for (int i = 0; i < file->EntryCount(); ++i) {
            pdb::Resource r;
            ASSERT_EQ(file->ReadResource(i, r), pdb::kOk);
            if (!r.data.empty()) expected.push_back(r);
        }
        ASSERT_EQ(db.resources.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(db.resources[i].type, expected[i].type) << i;
            EXPECT_EQ(db.resources[i].id, expected[i].id) << i;
            EXPECT_EQ(db.resources[i].data, expected[i].data) << i;
        }
    } else {
        std::vector<pdb::Record> expected;
        for (int i = 0; i < file->EntryCount(); ++i) {
            pdb::Record r;
            ASSERT_EQ(file->ReadRecord(i, r), pdb::kOk);
            if (dlp10 && (r.attributes & (pdb::kRecAttrDeleted | pdb::kRecAttrArchived))) continue;
            expected.push_back(r);
        }
        ASSERT_EQ(db.records.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(db.records[i].data, expected[i].data) << i;
            EXPECT_EQ(db.records[i].category, expected[i].category) << i;
            if (expected[i].uid != 0) {
                EXPECT_EQ(db.records[i].uid, expected[i].uid) << i;
            }
        }
    }
}

void ExpectSameEntries(pdb::CPalmDbFile& got, const std::string& sourcePath) {
    auto src = pdb::CPalmDbFile::Open(sourcePath);
    ASSERT_TRUE(src);
    EXPECT_EQ(got.Info().name, src->Info().name);
    EXPECT_EQ(got.Info().type, src->Info().type);
    EXPECT_EQ(got.Info().creator, src->Info().creator);
    EXPECT_EQ(got.Info().version, src->Info().version);
    EXPECT_EQ(got.Info().IsResourceDb(), src->Info().IsResourceDb());
    std::vector<uint8_t> a, b;
    got.GetAppInfo(a);
    src->GetAppInfo(b);
    EXPECT_EQ(a, b);
    ASSERT_EQ(got.EntryCount(), src->EntryCount());
    for (int i = 0; i < src->EntryCount(); ++i) {
        if (src->Info().IsResourceDb()) {
            pdb::Resource x, y;
            ASSERT_EQ(got.ReadResource(i, x), pdb::kOk);
            ASSERT_EQ(src->ReadResource(i, y), pdb::kOk);
            EXPECT_EQ(x.type, y.type);
            EXPECT_EQ(x.id, y.id);
            EXPECT_EQ(x.data, y.data) << i;
        } else {
            pdb::Record x, y;
            ASSERT_EQ(got.ReadRecord(i, x), pdb::kOk);
            ASSERT_EQ(src->ReadRecord(i, y), pdb::kOk);
            EXPECT_EQ(x.data, y.data) << i;
            EXPECT_EQ(x.category, y.category);
        }
    }
}

std::vector<std::unique_ptr<pdb::CPalmDbFile>> CardFiles(const std::string& dir) {
    std::vector<std::unique_ptr<pdb::CPalmDbFile>> files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() == ".json") continue;
        if (auto f = pdb::CPalmDbFile::Open(e.path().string())) files.push_back(std::move(f));
    }
    return files;
}

}  // namespace testsupport
