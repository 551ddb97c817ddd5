// CCA archives: open, options, every member extracted, then the same bytes as a program
// file carrying an archive; nothing may land outside the scratch folder.
#include <filesystem>

#include "formats/cca/cca_archive.h"
#include "formats/cca/sfx_trailer.h"
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
        archive.SelectMembers(true);
    }
    archive.Close();

    uint64_t offset = 0, length = 0;
    if (cca::FindSfxArchive(path, offset, length) && offset + length > size) {
        fuzz::Fail("a carried archive beyond the file's end");
    }
    if (cca::ExtractSfxArchive(path, out + "CCASFX.CCA")) {
        if (std::filesystem::file_size(out + "CCASFX.CCA") != length) {
            fuzz::Fail("the carried archive was not copied whole");
        }
    }
    // Only the input and the destination may exist in the scratch folder.
    for (const auto& entry : std::filesystem::directory_iterator(fuzz::ScratchDir())) {
        const std::string name = entry.path().filename().string();
        if (name != "input.cca" && name != "out") fuzz::Fail("a file written outside the folder");
    }
    return 0;
}
