// Installs a 200 KB record database into the virtual handheld over a line paced at a real
// bit rate, and prints the payload throughput as a fraction of the line's byte rate
// (rate / 10: a start bit, eight data bits and a stop bit per byte).
//
// Usage: hotsync_bench [record size in bytes, default 4096]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/hotsync/record_size_arg.h"
#include "hotsync/hotsync.h"
#include "session/link/pipe_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace {

constexpr size_t kPayloadBytes = 200 * 1024;
constexpr double kTarget = 0.93;

struct Result {
    bool ok = false;
    double seconds = 0;
    uint64_t bytesSent = 0;
};

Result InstallAt(int rate, size_t recordSize) {
    Result result;
    auto pipe = ports::CreatePipePair();
    handheld::HandheldConfig config;
    config.maxBaud = uint32_t(rate);
    config.lineRate = -1;  // paced at whatever rate the handshake agrees
    config.loopbackPackets = 0;
    config.ramSize = 16u << 20;
    config.freeRam = 15u << 20;
    handheld::CVirtualHandheld device(config);
    if (!device.Start(*pipe.handheld)) return result;

    auto socket =
        hotsync::CSocket::Create(hotsync::kAfSlp, hotsync::kSockStream, hotsync::kProtoPadp);
    hotsync::SocketAddress address;
    hotsync::MakeAddress("COM1", address);
    if (socket->Bind(address, std::move(pipe.desktop)) != 0 || socket->Listen(1) != 0)
        return result;
    socket->SetEstablishRate(rate, true);
    if (socket->Accept() != 0) return result;

    std::vector<uint8_t> record(recordSize);
    for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * 13 + 5);

    const auto start = std::chrono::steady_clock::now();
    const uint64_t sentBefore = socket->BytesSent();
    int handle = -1;
    bool ok = hotsync::DlpCreateDB(*socket, hotsync::FourCC("BnCh"), hotsync::FourCC("DATA"), 0, 0,
                                   1, "Bench Data", handle) == 0;
    size_t done = 0;
    while (ok && done < kPayloadBytes) {
        const size_t n = std::min(recordSize, kPayloadBytes - done);
        ok = hotsync::DlpWriteRecord(*socket, handle, 0, 0, 0, {record.data(), n}) == 0;
        done += n;
    }
    ok = ok && hotsync::DlpCloseDB(*socket, handle) == 0;
    const auto stop = std::chrono::steady_clock::now();
    result.bytesSent = socket->BytesSent() - sentBefore;
    hotsync::DlpEndOfSync(*socket, hotsync::kEndNormal);
    socket->Close();
    device.WaitForSyncs(1, 5000);
    device.Stop();

    result.ok = ok;
    result.seconds = std::chrono::duration<double>(stop - start).count();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    size_t recordSize = 0;
    if (!RecordSizeArg(argc, argv, recordSize)) return 2;
    std::printf("install of %zu payload bytes in records of %zu bytes\n", kPayloadBytes,
                recordSize);
    std::printf("%8s %9s %12s %12s %9s\n", "rate", "seconds", "payload B/s", "line B/s",
                "fraction");
    bool allMet = true;
    for (int rate : {57600, 115200}) {
        const Result r = InstallAt(rate, recordSize);
        if (!r.ok) {
            std::printf("%8d install failed\n", rate);
            allMet = false;
            continue;
        }
        const double payloadRate = double(kPayloadBytes) / r.seconds;
        const double lineRate = rate / 10.0;
        const double fraction = payloadRate / lineRate;
        std::printf("%8d %9.2f %12.0f %12.0f %9.3f%s\n", rate, r.seconds, payloadRate, lineRate,
                    fraction, fraction >= kTarget ? "" : "  (below target)");
        allMet = allMet && fraction >= kTarget;
    }
    std::printf("target %.2f: %s\n", kTarget, allMet ? "met" : "NOT met");
    return allMet ? 0 : 1;
}
