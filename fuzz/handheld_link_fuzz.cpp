// The virtual handheld's end of the line on a scripted line: its wakeup, then messages
// received from fragments and answered, against whatever a desktop (or noise) sends.
#include <atomic>
#include <mutex>

#include "fuzz/line_script.h"
#include "tools/handheld/device_link.h"
#include "tools/handheld/handheld_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput input(data, size);
    const uint8_t choice = input.U8();
    handheld::HandheldConfig config;
    config.ackTimeoutMs = 1000;  // the script, not the clock, ends every wait
    config.retries = 3;
    config.strayAckBytes = (choice & 1) != 0;
    config.fullStyle = static_cast<handheld::FullStyle>(choice / 2 % 3);
    config.fullAfterBytes = (choice & 0x10) ? 500 : -1;
    config.cardSize = 70000;  // card writes' data messages travel the link too
    fuzz::CScriptedLine line(fuzz::ReadScript(input));

    std::atomic<bool> stop{false};
    handheld::LinkStats stats;
    std::mutex statsMutex;
    handheld::CDeviceLink link(line, config, stop, stats, statsMutex);
    link.SetLongForm((choice & 0x20) != 0);
    link.SetMemoryFullTest([&config](const uint8_t* d, size_t n, uint32_t total) {
        const int64_t bytes = handheld::CDlpServer::WriteDataSize(d, n, total);
        return config.fullAfterBytes >= 0 && bytes > config.fullAfterBytes;
    });

    const std::vector<uint8_t> wakeup = {0x01, 0, 1, 3, 0, 0, 0, 1, 0xC2, 0};
    if (link.SendWakeup(wakeup, 1000) != handheld::LinkStatus::kOk) return 0;
    for (int i = 0; i < 16; ++i) {
        std::vector<uint8_t> message;
        uint8_t xid = 0;
        bool full = false;
        if (link.Receive(message, xid, full, 1000, i == 0) != handheld::LinkStatus::kOk) break;
        // The answer is as long as the request, to send fragments of every size back.
        if (link.Send(message, xid) != handheld::LinkStatus::kOk) break;
    }
    return 0;
}
