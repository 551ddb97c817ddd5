// Line bytes into the serial link receiver, fed in uneven pieces as a port delivers them.
#include "fuzz/fuzz_target.h"
#include "hotsync/slp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hotsync::slp::CReceiver receiver;
    size_t at = 0;
    size_t piece = 1;
    while (at < size) {
        const size_t n = std::min(piece, size - at);
        receiver.Feed(data + at, n);
        at += n;
        piece = piece * 3 % 61 + 1;
        hotsync::slp::Frame frame;
        while (receiver.Next(frame)) {
        }
        receiver.Needed();
    }
    return 0;
}
