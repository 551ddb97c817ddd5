// CCA archives: open, options, every member extracted; nothing may land outside the
// destination folder.
#include <filesystem>

#include "formats/cca/cca_archive.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput(data, size, "input.cca");
    const std::string out = fuzz::FreshOutDir();
    CCcaArchive archive;
    archive.SetDestDir(out);
    if (archive.Open(path)) {
        archive.HasMember("README");
        archive.ReadOptions(out);
        std::string message = path;
        archive.CheckRequirements(false, false, 0x03000000, message);
        for (const CCcaMember& member : archive.GetMembers()) archive.ExtractMember(member);
        archive.Extract("LICENSE");
    }
    archive.Close();
    // Only the input and the destination may exist in the scratch folder.
    for (const auto& entry : std::filesystem::directory_iterator(fuzz::ScratchDir())) {
        const std::string name = entry.path().filename().string();
        if (name != "input.cca" && name != "out") __builtin_trap();
    }
    return 0;
}
