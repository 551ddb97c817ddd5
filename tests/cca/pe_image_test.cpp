// Archives appended to Windows programs: the program's own bytes and headers stay as they
// were, its checksum is made true again, and programs that are cut short, damaged, signed
// or no Windows programs at all are refused with a reason.
#include <gtest/gtest.h>

#include <functional>

#include "cca_test_util.h"
#include "formats/cca/sfx_trailer.h"
#include "tests/cca/pe_test_image.h"
#include "tools/ccapack/cca_packer.h"
#include "tools/ccapack/pe_image.h"

using namespace ccatest;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class PeImage : public ::testing::Test {
  protected:
    void SetUp() override {
        ccapack::CCcaPacker packer;
        std::string error;
        ASSERT_TRUE(packer.AddData("All", "game.prc", Text(5000), cca::kMethodZlib, error));
        ASSERT_TRUE(packer.Write(File("game.cca"), error)) << error;
    }

    std::string File(const std::string& name) { return dir_.File(name); }

    bool Layout(const Bytes& program, ccapack::PeLayout& layout, std::string& error) {
        WriteFileBytes(File("prog.exe"), program);
        FilePtr f(std::fopen(File("prog.exe").c_str(), "rb"));
        EXPECT_TRUE(f);
        return f && ccapack::ReadPeLayout(f.get(), program.size(), layout, error);
    }

    // Appends game.cca to the program; on failure no output may be left.
    bool Append(const Bytes& program, std::string& error, const std::string& out = "setup.exe") {
        WriteFileBytes(File("prog.exe"), program);
        error.clear();
        const bool ok =
            ccapack::AppendSfxArchive(File("prog.exe"), File("game.cca"), File(out), error);
        if (!ok) {
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(std::filesystem::exists(File(out)));
        }
        return ok;
    }

    uint32_t Checksum(const std::string& path, uint64_t fieldAt) {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        uint32_t sum = 0;
        EXPECT_TRUE(f && ccapack::ComputePeChecksum(f.get(), fieldAt, sum));
        return sum;
    }

    TempDir dir_;
};

TEST_F(PeImage, ProgramsOfBothKindsAreRead) {
    for (bool plus : {true, false}) {
        for (uint32_t symbols : {0u, 7u}) {
            petest::PeShape shape;
            shape.bPe32Plus = plus;
            shape.dwSymbols = symbols;
            shape.sectionSizes = {0x200, 0, 0x600};
            const Bytes program = petest::BuildPe(shape);
            ccapack::PeLayout layout;
            std::string error;
            ASSERT_TRUE(Layout(program, layout, error)) << error;
            EXPECT_EQ(layout.bPe32Plus, plus);
            EXPECT_EQ(layout.wSections, 3);
            EXPECT_EQ(layout.nImageEnd, program.size());
            EXPECT_EQ(layout.nChecksumOffset, petest::kOptAt + 64u);
            EXPECT_EQ(layout.dwCertificateSize, 0u);
        }
    }
}

TEST_F(PeImage, ArchiveBecomesTheOverlay) {
    const Bytes program = petest::BuildPe({});
    std::string error;
    ASSERT_TRUE(Append(program, error)) << error;
    const Bytes sfx = ReadFileBytes(File("setup.exe"));
    ASSERT_GT(sfx.size(), program.size());
    EXPECT_TRUE(std::equal(program.begin(), program.end(), sfx.begin()));

    // The headers still read the same, and the archive starts where the image ends.
    ccapack::PeLayout layout;
    ASSERT_TRUE(Layout(sfx, layout, error)) << error;
    EXPECT_EQ(layout.nImageEnd, program.size());
    uint64_t offset = 0, size = 0;
    ASSERT_TRUE(cca::FindSfxArchive(File("setup.exe"), offset, size));
    EXPECT_EQ(offset, program.size());
    EXPECT_EQ(size, ReadFileBytes(File("game.cca")).size());
}

TEST_F(PeImage, ChecksumOfKnownBytes) {
    // Words 0x0201 0x0403 [field] 0xFFFF 0xFFFF 0x0005: one's-complement sum 0x0609, plus the
    // length 13.
    WriteFileBytes(File("words"), {1, 2, 3, 4, 9, 9, 9, 9, 0xFF, 0xFF, 0xFF, 0xFF, 5});
    EXPECT_EQ(Checksum(File("words"), 4), 0x0616u);
    // A field at an odd offset straddles three words: 0x0001 0x0000 0x0200, then 0x0003.
    WriteFileBytes(File("words"), {1, 9, 9, 9, 9, 2, 3});
    EXPECT_EQ(Checksum(File("words"), 1), 0x0001u + 0x0200u + 0x0003u + 7u);
}

TEST_F(PeImage, ChecksumIsMadeTrueAgain) {
    petest::PeShape shape;
    shape.dwChecksum = 0x12345;
    const Bytes program = petest::BuildPe(shape);
    std::string error;
    ASSERT_TRUE(Append(program, error)) << error;
    const Bytes sfx = ReadFileBytes(File("setup.exe"));
    const uint32_t field = cca::GetU32(&sfx[petest::kOptAt + 64]);
    EXPECT_NE(field, 0x12345u);
    EXPECT_EQ(field, Checksum(File("setup.exe"), petest::kOptAt + 64));
    // Nothing but the field changed in the program's part.
    Bytes head(sfx.begin(), sfx.begin() + std::ptrdiff_t(program.size()));
    cca::PutU32(&head[petest::kOptAt + 64], 0x12345);
    EXPECT_EQ(head, program);

    // A program without a checksum is left without one.
    ASSERT_TRUE(Append(petest::BuildPe({}), error)) << error;
    EXPECT_EQ(cca::GetU32(&ReadFileBytes(File("setup.exe"))[petest::kOptAt + 64]), 0u);
}

TEST_F(PeImage, EveryCutShortProgramIsRefused) {
    petest::PeShape shape;
    shape.dwSymbols = 3;
    const Bytes program = petest::BuildPe(shape);
    for (size_t cut = 0; cut < program.size(); cut += (cut < 0x200 ? 1 : 7)) {
        const Bytes part(program.begin(), program.begin() + std::ptrdiff_t(cut));
        ccapack::PeLayout layout;
        std::string error;
        EXPECT_FALSE(Layout(part, layout, error)) << "cut at " << cut;
        EXPECT_FALSE(error.empty()) << "cut at " << cut;
    }
    std::string error;
    EXPECT_FALSE(Append(Bytes(program.begin(), program.end() - 1), error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
}

TEST_F(PeImage, DamagedHeadersAreRefusedWithTheirReason) {
    struct Damage {
        const char* what;
        std::function<void(Bytes&)> apply;
        const char* reason;
    };
    const uint32_t table = petest::SectionTableAt(true);
    const std::vector<Damage> damages = {
        {"no MZ", [](Bytes& b) { b[1] = 'X'; }, "no MZ header"},
        {"PE offset past the end",
         [](Bytes& b) { petest::Put32(b, petest::kPeOffsetField, 0xFFFFFFF0u); }, "PE header"},
        {"no PE signature", [](Bytes& b) { b[petest::kPeAt + 1] = 'X'; }, "no PE signature"},
        {"a DLL", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 18, 0x2022); }, "DLL"},
        {"not executable", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 18, 0x0020); },
         "DLL or object"},
        {"no sections", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 2, 0); }, "0 sections"},
        {"too many sections", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 2, 0xFFFF); },
         "65535 sections"},
        {"section table past the end", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 2, 96); },
         "section table"},
        {"no optional header", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 16, 0); },
         "no optional header"},
        {"short optional header", [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 16, 100); },
         "too short"},
        {"optional header past the end",
         [](Bytes& b) { petest::Put16(b, petest::kCoffAt + 16, 0xFFFF); }, "optional header"},
        {"unknown magic", [](Bytes& b) { petest::Put16(b, petest::kOptAt, 0x107); },
         "unknown optional header"},
        {"section data past the end",
         [table](Bytes& b) {
             petest::Put32(b, table + 40 + 16, 0xFFFFFFFFu);
             petest::Put32(b, table + 40 + 20, 0xFFFFFFFFu);
         },
         "section 2 (.sec1)"},
        {"symbol table past the end",
         [](Bytes& b) {
             petest::Put32(b, petest::kCoffAt + 8, 0x400);
             petest::Put32(b, petest::kCoffAt + 12, 0xFFFFFFFFu);
         },
         "symbol table"},
        {"certificate table past the end",
         [](Bytes& b) {
             petest::Put32(b, petest::kOptAt + 112 + 32, 0xFFFFFF00u);
             petest::Put32(b, petest::kOptAt + 112 + 36, 0x1000);
         },
         "certificate table"},
    };
    for (const Damage& damage : damages) {
        Bytes program = petest::BuildPe({});
        damage.apply(program);
        std::string error;
        EXPECT_FALSE(Append(program, error)) << damage.what;
        EXPECT_NE(error.find(damage.reason), std::string::npos) << damage.what << ": " << error;
    }
}

TEST_F(PeImage, SignedProgramsAreRefused) {
    petest::PeShape shape;
    shape.dwCertificate = 0x300;
    for (bool plus : {true, false}) {
        shape.bPe32Plus = plus;
        std::string error;
        EXPECT_FALSE(Append(petest::BuildPe(shape), error));
        EXPECT_NE(error.find("is signed"), std::string::npos) << error;
    }
    // Without room for the certificate entry among its directories it is not signed.
    shape.dwRvaCount = 4;
    std::string error;
    Bytes program = petest::BuildPe(shape);
    EXPECT_TRUE(Append(program, error)) << error;
}

TEST_F(PeImage, ProgramsThatAreNoWindowsProgramsAndRepeatedArchives) {
    std::string error;
    // A Windows output needs a Windows program.
    EXPECT_FALSE(Append(Random(5000, 3), error, "game-setup.EXE"));
    EXPECT_NE(error.find("not a Windows program"), std::string::npos) << error;
    // Other programs (a Linux one) are taken as they are.
    EXPECT_TRUE(Append(Random(5000, 3), error, "game-setup")) << error;
    // A program that carries an archive already would hide it behind the new one.
    EXPECT_TRUE(Append(petest::BuildPe({}), error)) << error;
    EXPECT_FALSE(Append(ReadFileBytes(File("setup.exe")), error, "again.exe"));
    EXPECT_NE(error.find("already carries an archive"), std::string::npos) << error;
}

}  // namespace
