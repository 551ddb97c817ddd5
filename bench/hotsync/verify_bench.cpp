// What the checks after an install cost: a 200 KB record database installed through the
// device session into the virtual handheld on a line paced at 115,200 bit/s, with the
// count check alone (always done) and with the full read-back ("Verify after install").
// The count check is timed on its own, request by request, on the same line.
//
// Usage: verify_bench [record size in bytes, default 4096]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench/hotsync/record_size_arg.h"
#include "hotsync/hotsync.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"
#include "session/link/pipe_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

constexpr size_t kPayloadBytes = 200 * 1024;
constexpr int kRate = 115200;
constexpr double kCheckTarget = 0.02;
constexpr int kCheckRepeats = 10;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool WriteDatabase(const std::string& path, size_t recordSize) {
    pdb::DbInfo info;
    info.name = "Bench Data";
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("BnCh");
    auto file = pdb::CPalmDbFile::Create(path, info);
    if (!file) return false;
    for (size_t done = 0; done < kPayloadBytes; done += recordSize) {
        pdb::Record record;
        record.data.resize(std::min(recordSize, kPayloadBytes - done));
        for (size_t i = 0; i < record.data.size(); ++i) record.data[i] = uint8_t(i * 13 + done);
        if (file->AppendRecord(record) != pdb::kOk) return false;
    }
    return file->Close() == pdb::kOk;
}

struct Timing {
    bool ok = false;
    double install = 0;  // one InstallDatabase, checks included
    double check = 0;    // one count check (FindDB with sizes), alone
};

Timing Measure(const std::string& path, bool verify) {
    Timing t;
    auto pipe = ports::CreatePipePair();
    handheld::HandheldConfig config;
    config.maxBaud = kRate;
    config.lineRate = -1;  // paced at the agreed rate
    config.loopbackPackets = 0;
    config.ramSize = 16u << 20;
    config.freeRam = 15u << 20;
    handheld::CVirtualHandheld device(config);
    if (!device.Start(*pipe.handheld)) return t;
    CDeviceSession session("pipe", true, kRate, std::move(pipe.desktop));
    bool pressed = false;
    for (int i = 0; i < 500 && !pressed; ++i) {
        pressed = session.IsHotSyncPressed();
        if (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!pressed || !session.Accept()) return t;
    session.m_bVerify = verify ? 1 : 0;
    auto file = pdb::CPalmDbFile::Open(path);
    const auto start = Clock::now();
    t.ok = file && session.InstallDatabase(*file) == 0;
    t.install = SecondsSince(start);
    hotsync::DbSizes sizes;
    const auto checkStart = Clock::now();
    for (int i = 0; i < kCheckRepeats && t.ok; ++i) {
        t.ok = hotsync::DlpFindDBSizes(*session.Socket(), 0, "Bench Data", sizes) == 0;
    }
    t.check = SecondsSince(checkStart) / kCheckRepeats;
    session.EndOfSync(0);
    session.Close();
    device.WaitForSyncs(1, 5000);
    device.Stop();
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    size_t recordSize = 0;
    if (!RecordSizeArg(argc, argv, recordSize)) return 2;
    const std::string path =
        (std::filesystem::temp_directory_path() / "cc-verify-bench.pdb").string();
    if (!WriteDatabase(path, recordSize)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("install of %zu payload bytes in records of %zu bytes at %d bit/s\n", kPayloadBytes,
                recordSize, kRate);
    const Timing plain = Measure(path, false);
    const Timing full = Measure(path, true);
    std::filesystem::remove(path);
    if (!plain.ok || !full.ok) {
        std::printf("install failed\n");
        return 1;
    }
    const double without = plain.install - plain.check;
    const double checkShare = plain.check / without;
    const double fullShare = (full.install - without) / without;
    std::printf("install without checks      %8.2f s\n", without);
    std::printf("count check (one request)   %8.3f s  %+6.2f %%  (target below %.0f %%: %s)\n",
                plain.check, checkShare * 100, kCheckTarget * 100,
                checkShare < kCheckTarget ? "met" : "NOT met");
    std::printf("with full read-back         %8.2f s  %+6.1f %%  (%.2f times the install)\n",
                full.install, fullShare * 100, full.install / without);
    return checkShare < kCheckTarget ? 0 : 1;
}
