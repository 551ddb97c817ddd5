// The whole-handheld backup against the virtual handheld on a line paced at a real bit rate:
//  1. reading a 200 KB record database whole, as payload throughput against the line's byte
//     rate (rate / 10: a start bit, eight data bits and a stop bit per byte);
//  2. what a backup of an unchanged 100-database handheld costs once its copies are current:
//     the time, and the requests it sent (the list of databases, and nothing else).
//
// Usage: backup_bench [record size in bytes, default 4096]
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "engine/handheld_backup.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"
#include "session/link/pipe_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kPayloadBytes = 200 * 1024;
constexpr double kTarget = 0.93;
constexpr int kDatabases = 100;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A handheld on a paced line and a session that has accepted it.
struct Link {
    ports::PipePair pipe;
    std::unique_ptr<handheld::CVirtualHandheld> device;
    std::unique_ptr<CDeviceSession> session;

    bool Connect(int rate, const std::function<void(handheld::CVirtualHandheld&)>& fill) {
        pipe = ports::CreatePipePair();
        handheld::HandheldConfig config;
        config.maxBaud = uint32_t(rate);
        config.lineRate = -1;  // paced at whatever rate the handshake agrees
        config.loopbackPackets = 0;
        config.ramSize = 16u << 20;
        config.freeRam = 15u << 20;
        device = std::make_unique<handheld::CVirtualHandheld>(config);
        fill(*device);
        if (!device->Start(*pipe.handheld)) return false;
        session = std::make_unique<CDeviceSession>("pipe", true, rate, std::move(pipe.desktop));
        return session->m_sd != -1 && session->Accept();
    }
    void End() {
        session->EndOfSync(0);
        session->Close();
        device->WaitForSyncs(1, 5000);
        device->Stop();
    }
};

struct ReadResult {
    bool ok = false;
    double seconds = 0;
};

ReadResult ReadAt(int rate, size_t recordSize, const std::string& dir) {
    ReadResult result;
    Link link;
    const bool connected = link.Connect(rate, [recordSize](handheld::CVirtualHandheld& hh) {
        handheld::HandheldDatabase db;
        db.info.name = "Bench Data";
        db.info.type = pdb::MakeFourCC("DATA");
        db.info.creator = pdb::MakeFourCC("BnCh");
        for (size_t done = 0, i = 0; done < kPayloadBytes; ++i) {
            pdb::Record r;
            r.data.resize(std::min(recordSize, kPayloadBytes - done));
            for (size_t b = 0; b < r.data.size(); ++b) r.data[b] = uint8_t(b * 13 + i);
            r.uid = uint32_t(0x1000 + i);
            done += r.data.size();
            db.records.push_back(std::move(r));
        }
        hh.AddDatabase(db);
    });
    std::vector<ListedDatabase> listed;
    if (!connected || link.session->ListRamDatabases(listed) != 0 || listed.size() != 1) {
        return result;
    }
    pdb::DbInfo info;
    info.name = listed[0].info.name;
    auto file = pdb::CPalmDbFile::Create(dir + "bench.pdb", info);
    std::string why;
    const auto start = Clock::now();
    result.ok = file && link.session->ReadDatabase(listed[0], *file, why) == 0;
    result.seconds = Seconds(start);
    result.ok =
        result.ok && file->Close() == pdb::kOk && fs::file_size(dir + "bench.pdb") > kPayloadBytes;
    link.End();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t recordSize = argc > 1 ? size_t(std::strtoul(argv[1], nullptr, 10)) : 4096;
    if (recordSize == 0 || recordSize > 65000) {
        std::fprintf(stderr, "record size must be 1 to 65000\n");
        return 2;
    }
    const std::string dir =
        (fs::temp_directory_path() / ("cc-backup-bench-" + std::to_string(::getpid()))).string() +
        "/";
    fs::create_directories(dir);

    std::printf("reading a database of %zu payload bytes in records of %zu bytes\n", kPayloadBytes,
                recordSize);
    std::printf("%8s %9s %12s %12s %9s\n", "rate", "seconds", "payload B/s", "line B/s",
                "fraction");
    bool met = true;
    for (int rate : {57600, 115200}) {
        const ReadResult r = ReadAt(rate, recordSize, dir);
        if (!r.ok) {
            std::printf("%8d read failed\n", rate);
            met = false;
            continue;
        }
        const double payloadRate = double(kPayloadBytes) / r.seconds;
        const double fraction = payloadRate / (rate / 10.0);
        std::printf("%8d %9.2f %12.0f %12.0f %9.3f%s\n", rate, r.seconds, payloadRate, rate / 10.0,
                    fraction, fraction >= kTarget ? "" : "  (below target)");
        met = met && fraction >= kTarget;
    }
    std::printf("target %.2f: %s\n", kTarget, met ? "met" : "NOT met");

    // An unchanged handheld: a first backup makes the copies, the second finds them current.
    Link link;
    const bool connected = link.Connect(115200, [](handheld::CVirtualHandheld& hh) {
        for (int i = 0; i < kDatabases; ++i) {
            handheld::HandheldDatabase db;
            db.info.name = "Database " + std::to_string(i);
            db.info.type = pdb::MakeFourCC("DATA");
            db.info.creator = pdb::MakeFourCC("BnCh");
            db.info.modnum = 5;
            db.info.modifyDate = 1700000000;
            for (int r = 0; r < 10; ++r) {
                pdb::Record record;
                record.data.assign(200, uint8_t(r));
                record.uid = uint32_t(0x100 + r);
                db.records.push_back(std::move(record));
            }
            hh.AddDatabase(db);
        }
    });
    if (!connected) {
        std::printf("incremental backup: no connection\n");
        return 1;
    }
    const std::string backup = dir + "Backup/";
    auto start = Clock::now();
    BackupHandheld(*link.session, backup, false, nullptr);
    const double first = Seconds(start);
    const size_t before = link.device->Requests().size();
    link.session->m_listReport.clear();
    start = Clock::now();
    BackupHandheld(*link.session, backup, false, nullptr);
    const double again = Seconds(start);
    std::map<std::string, int> requests;
    const auto log = link.device->Requests();
    for (size_t i = before; i < log.size(); ++i) ++requests[log[i].name];
    const std::string summary =
        link.session->m_listReport.empty() ? "" : link.session->m_listReport[0];
    link.End();
    fs::remove_all(dir);

    std::printf("\nbackup of %d databases at 115200 bit/s: first %.2f s, again unchanged %.2f s\n",
                kDatabases, first, again);
    std::printf("  %s\n  requests of the second: %zu (", summary.c_str(), log.size() - before);
    bool firstName = true;
    for (const auto& [name, n] : requests) {
        std::printf("%s%s %d", firstName ? "" : ", ", name.c_str(), n);
        firstName = false;
    }
    std::printf(")\n");
    const bool listOnly = requests.count("OpenDB") == 0;
    std::printf("only the list and the comparisons: %s\n", listOnly ? "yes" : "NO");
    return met && listOnly ? 0 : 1;
}
