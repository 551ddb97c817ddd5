// The desktop's reading of DLP answers: a handheld that frames everything correctly but
// answers each request with the input's next message. Either every request in turn, or the
// install run's own requests through the device session (databases, a MIDI sound, facts).
#include "fuzz/desktop_runs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kMaxAnswers = 64;
    fuzz::CInput input(data, size);
    uint8_t mode = 0;
    auto handheld = fuzz::AnsweringHandheld(input, kMaxAnswers, mode);
    fuzz::RunDesktop(mode, std::move(handheld));
    return 0;
}
