// The virtual handheld's request decoding: a sequence of DLP requests served from a card that
// holds a record database, a resource database and a database an application keeps open.
#include "fuzz/fuzz_target.h"
#include "fuzz/handheld_card.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kMaxRequests = 64;
    static const uint16_t kVersions[] = {0x0100, 0x0101, 0x0102, 0x0104};
    fuzz::CInput input(data, size);
    const uint8_t choice = input.U8();
    handheld::HandheldConfig config;
    config.dlpVersion = kVersions[choice % 4];
    config.cancelSync = (choice & 0x04) != 0;
    config.fullAfterBytes = (choice & 0x08) ? input.U16() : -1;
    config.freeRam = (choice & 0x10) ? input.U16() : config.freeRam;
    config.openDbName = fuzz::kHeldOpenName;
    config.clock = 1000000000;
    // A small card (write-protected with bit 5) and its faults: full, pulled.
    config.cardSize = (choice & 0x40) ? 0 : 70000;
    config.cardReadOnly = (choice & 0x20) != 0;
    config.cardPullAfterBytes = (choice & 0x80) ? 2000 : -1;

    handheld::CVirtualHandheld::State state(config);
    fuzz::FillCard(state);
    handheld::CDlpServer server(state);

    for (size_t i = 0; i < kMaxRequests && input.Left() > 0; ++i) {
        const std::vector<uint8_t> request = input.Chunk();
        handheld::CDlpServer::WriteDataSize(request.data(), request.size(),
                                            uint32_t(request.size()));
        bool end = false;
        // The data of a card write is answered under the write's code.
        const bool writeData = state.pendingWrite.active;
        const uint8_t expected =
            writeData ? 0xC6 : uint8_t((request.empty() ? 0 : request[0]) | 0x80);
        const std::vector<uint8_t> reply = server.Handle(request, end);
        // Every answer names its request and carries an error word.
        if (reply.size() < 4) fuzz::Fail("answer shorter than its header");
        if ((!request.empty() || writeData) && reply[0] != expected) {
            fuzz::Fail("answer under another function code");
        }
        if (state.freeRam < 0) fuzz::Fail("free memory below zero");
        if (state.card && state.card->Used() > state.card->Size()) fuzz::Fail("card over full");
        if (end) break;
    }
    return 0;
}
