// Installs a 4 MB record database into the virtual handheld over network HotSync on the
// loopback address, through the device session as a run does, and prints the throughput
// (target: at least 20 MB/s; NetSync has no stop-and-wait acknowledgements, so only the
// handheld and the socket limit it).
//
// Usage: netsync_bench [record size in bytes, default 65000] [installs, default 5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "pdb/palm_db_file.h"
#include "session/device_session.h"
#include "session/link/net_transport.h"
#include "tools/handheld/tcp_client_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

constexpr size_t kPayloadBytes = 4u << 20;
constexpr double kTargetMBps = 20.0;

bool WriteDatabase(const std::string& path, size_t recordSize) {
    pdb::DbInfo info;
    info.name = "Bench Net Data";
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("BnNt");
    info.version = 1;
    auto file = pdb::CPalmDbFile::Create(path, info);
    if (!file) return false;
    for (size_t done = 0, n = 0; done < kPayloadBytes; ++n) {
        pdb::Record record;
        record.data.resize(std::min(recordSize, kPayloadBytes - done));
        for (size_t i = 0; i < record.data.size(); ++i) record.data[i] = uint8_t(i * 13 + n);
        done += record.data.size();
        if (file->AppendRecord(record) != pdb::kOk) return false;
    }
    return file->Close() == pdb::kOk;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t recordSize = argc > 1 ? size_t(std::strtoul(argv[1], nullptr, 10)) : 65000;
    const int installs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (recordSize == 0 || recordSize > hotsync::kMaxRecordData || installs < 1) {
        std::fprintf(stderr, "usage: netsync_bench [record size 1..%zu] [installs]\n",
                     hotsync::kMaxRecordData);
        return 2;
    }
    const auto dir = std::filesystem::temp_directory_path() / "cc-netsync-bench";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "bench.pdb").string();
    if (!WriteDatabase(path, recordSize)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    CDeviceSession session("net:127.0.0.1:0", true, -1);
    auto* listener = session.Socket()
                         ? dynamic_cast<ports::CNetListenTransport*>(session.Socket()->Transport())
                         : nullptr;
    if (session.m_sd == -1 || !listener) return 1;
    handheld::HandheldConfig config;
    config.netSync = true;
    config.ramSize = 256u << 20;
    config.freeRam = 250u << 20;
    handheld::CTcpClientTransport line("127.0.0.1", listener->ListeningPort());
    handheld::CVirtualHandheld device(config);
    device.Start(line);
    bool pressed = false;
    for (int i = 0; i < 500 && !pressed; ++i) {
        pressed = session.IsHotSyncPressed();
        if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!pressed || !session.Accept() || session.ReadSysInfo() != 0) {
        std::fprintf(stderr, "the handheld did not connect\n");
        return 1;
    }

    std::printf("install of %zu bytes in records of %zu bytes over loopback NetSync\n",
                kPayloadBytes, recordSize);
    std::printf("%8s %9s %10s %12s\n", "install", "seconds", "MB/s", "bytes sent");
    std::vector<double> rates;
    bool ok = true;
    for (int i = 1; i <= installs && ok; ++i) {
        auto file = pdb::CPalmDbFile::Open(path);
        const int32_t sentBefore = session.m_nBytesSent;
        const auto start = std::chrono::steady_clock::now();
        ok = file && session.InstallDatabase(*file) == 0;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!ok) break;
        const double rate = double(kPayloadBytes) / seconds / 1e6;
        rates.push_back(rate);
        std::printf("%8d %9.3f %10.1f %12d\n", i, seconds, rate, session.m_nBytesSent - sentBefore);
    }
    session.EndOfSync(hotsync::kEndNormal);
    session.Close();
    device.WaitForSyncs(1, 5000);
    device.Stop();
    std::filesystem::remove_all(dir);
    if (!ok) {
        std::printf("install failed\n");
        return 1;
    }
    std::sort(rates.begin(), rates.end());
    const double median = rates[rates.size() / 2];
    std::printf("median %.1f MB/s (1 MB = 10^6 bytes); target %.0f MB/s: %s\n", median, kTargetMBps,
                median >= kTargetMBps ? "met" : "NOT met");
    return median >= kTargetMBps ? 0 : 1;
}
