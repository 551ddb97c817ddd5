// The desktop's reading of a whole handheld and the restore of copies onto it: a handheld
// that frames everything correctly but answers each request with the input's next message
// (the list of databases page by page, blocks, records and resources in parts, ...).
#include <deque>

#include "fuzz/backup_runs.h"
#include "fuzz/desktop_runs.h"
#include "fuzz/line_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kMaxAnswers = 96;
    fuzz::CInput input(data, size);
    const uint8_t mode = input.U8();
    const uint32_t rate = input.U32();
    auto answers = std::make_shared<std::deque<std::vector<uint8_t>>>();
    while (input.Left() > 0 && answers->size() < kMaxAnswers) answers->push_back(input.Chunk());
    auto peer = std::make_unique<fuzz::CAnsweringPeer>(
        fuzz::MakeWakeup(mode, rate),
        [answers](const std::vector<uint8_t>&, std::vector<uint8_t>& answer) {
            if (answers->empty()) return false;
            answer = std::move(answers->front());
            answers->pop_front();
            return true;
        });
    fuzz::RunBackupDesktop(mode, std::move(peer));
    return 0;
}
