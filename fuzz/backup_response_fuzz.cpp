// The desktop's reading of a whole handheld and the restore of copies onto it: a handheld
// that frames everything correctly but answers each request with the input's next message
// (the list of databases page by page, blocks, records and resources in parts, ...).
#include "fuzz/backup_runs.h"
#include "fuzz/desktop_runs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kMaxAnswers = 96;
    fuzz::CInput input(data, size);
    uint8_t mode = 0;
    auto handheld = fuzz::AnsweringHandheld(input, kMaxAnswers, mode);
    fuzz::RunBackupDesktop(mode, std::move(handheld));
    return 0;
}
