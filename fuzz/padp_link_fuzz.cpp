// The desktop's PADP link on a scripted line: messages sent in fragments and received from
// them, against whatever acknowledgements, replies, tickles, duplicates and noise come back.
#include <atomic>

#include "fuzz/line_script.h"
#include "hotsync/padp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput input(data, size);
    // First the desktop's part: up to eight operations.
    struct Op {
        uint8_t kind;
        uint16_t size;
    };
    std::vector<Op> ops(input.U8() % 9);
    for (Op& op : ops) op = {input.U8(), input.U16()};
    const bool longForm = input.U8() & 1;
    fuzz::CScriptedLine line(fuzz::ReadScript(input));

    std::atomic<uint64_t> sent{0}, read{0};
    std::atomic<int> errors{0};
    std::atomic<bool> memoryError{false}, closing{false};
    hotsync::padp::CLink link(line, {sent, read, errors, memoryError, closing});
    hotsync::LinkTimeouts timeouts;
    timeouts.sendTries = 3;  // the script, not the clock, ends every wait
    link.SetTimeouts(timeouts);
    link.SetLongForm(longForm);

    for (const Op& op : ops) {
        std::vector<uint8_t> message;
        uint8_t xid = 0;
        int result = 0;
        switch (op.kind % 4) {
            case 0:
            case 1: {
                // Sizes around the fragment and short-form limits.
                const size_t n = op.kind % 4 == 0 ? op.size % 3000 : 0xFFFF + op.size % 3;
                result = link.Send(std::vector<uint8_t>(n, uint8_t(op.kind)), link.NextXid());
                break;
            }
            case 2:
                result = link.Receive(message, xid, 1000, std::nullopt);
                if (result == 0 && message.size() > hotsync::padp::kMaxLongMessage) {
                    fuzz::Fail("message longer than the long form allows");
                }
                break;
            default:
                result = link.Receive(message, xid, 1000, uint8_t(op.size));
                if (result == 0 && xid != uint8_t(op.size)) fuzz::Fail("message under another id");
                break;
        }
        if (result == hotsync::kErrLinkBroken) break;
    }
    return 0;
}
