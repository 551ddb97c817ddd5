// Windows programs that the self-extracting packer reads: a small valid program whose header
// fields and bytes the input overwrites, then the raw input itself. Whatever is read must lie
// inside the file, and an archive is appended only to a program read whole.
#include <cstdio>
#include <memory>

#include "fuzz/fuzz_target.h"
#include "tests/cca/pe_test_image.h"
#include "tools/ccapack/pe_image.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void Check(const std::vector<uint8_t>& program) {
    const std::string path = fuzz::WriteInput(program.data(), program.size(), "prog.exe");
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) return;
    ccapack::PeLayout layout;
    std::string error;
    if (ccapack::ReadPeLayout(f.get(), program.size(), layout, error)) {
        if (layout.nImageEnd > program.size()) fuzz::Fail("an image end past the file's end");
        if (layout.nChecksumOffset + 4 > program.size()) fuzz::Fail("a checksum outside the file");
        uint32_t sum = 0;
        if (!ccapack::ComputePeChecksum(f.get(), layout.nChecksumOffset, sum)) {
            fuzz::Fail("a readable program whose checksum can't be computed");
        }
    } else if (error.empty()) {
        fuzz::Fail("refused without a reason");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    petest::PeShape shape;
    shape.bPe32Plus = in.U8() & 1;
    shape.dwSymbols = in.U8() & 7;
    shape.dwCertificate = (in.U8() & 1) ? 64 : 0;
    shape.sectionSizes.assign(1 + in.U8() % 4, 0x200);
    std::vector<uint8_t> program = petest::BuildPe(shape);
    // Pairs of (offset, byte) damage the program, then a cut.
    const size_t nChanges = in.U8() % 16;
    for (size_t i = 0; i < nChanges; ++i) {
        const size_t at = in.U16() % program.size();
        program[at] = in.U8();
    }
    const size_t cut = in.U16();
    if (cut != 0 && cut < program.size()) program.resize(cut);
    Check(program);
    Check(std::vector<uint8_t>(data, data + size));
    return 0;
}
