// Randomly mutated archives through Open, ReadOptions and Extract. Build with CC_SANITIZE to
// catch over-reads; every iteration also checks that nothing was written outside the
// destination. CC_CCA_FUZZ_ITERATIONS and CC_CCA_FUZZ_SEED change the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "cca_test_util.h"
#include "formats/cca/cca_archive.h"
#include "formats/cca/sfx_trailer.h"
#include "tools/ccapack/cca_packer.h"

using namespace ccatest;

namespace {

unsigned long EnvNumber(const char* name, unsigned long fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

std::vector<Bytes> Seeds(const TempDir& dir) {
    std::vector<Bytes> seeds;
    ccapack::CCcaPacker packer;
    std::string error;
    ccapack::PackOptions options;
    options.strTitle = "Fuzz";
    options.strPassword = "pw";
    options.bNeedColor = true;
    options.strOsVersion = "3.5";
    EXPECT_TRUE(packer.SetOptions(options, error));
    EXPECT_TRUE(packer.AddData("All", "a.prc", Text(5000), cca::kMethodZlib, error));
    EXPECT_TRUE(packer.AddData("Color", "c.prc", Random(2000, 1), cca::kMethodStored, error));
    EXPECT_TRUE(packer.AddData("NonC", "c.prc", Text(3000), cca::kMethodZlib, error));
    EXPECT_TRUE(packer.AddData("All", "s.pdb", Random(500, 2), cca::kMethodSkipped, error));
    EXPECT_TRUE(packer.Write(dir.File("seed.cca"), error)) << error;
    seeds.push_back(ReadFileBytes(dir.File("seed.cca")));

    seeds.push_back(ArchiveBuilder()
                        .Stored("OPTIONS", ToBytes("Title=T\nNeedCpu=1\nOSVersion=4.1\n"))
                        .Zlib("README", Text(4000), 512)
                        .Stored("All\\..\\..\\x", ToBytes("escape"))
                        .Zlib("All\\z", Text(70000))
                        .Stored("LICENSE", ToBytes("licence"))
                        .Build());
    return seeds;
}

Bytes Mutate(Bytes bytes, std::mt19937& rng) {
    static const uint32_t kInteresting32[] = {0,       1,       84,         0xFF,       0xFFFF,
                                              0x10000, 0x10001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    static const unsigned char kInteresting8[] = {0,    1,    0x0F, 0x10, 0x7F, 0x80,
                                                  0xFF, '\\', '/',  '.',  '\n', '\r'};
    auto pick = [&](size_t n) { return n == 0 ? 0 : size_t(rng() % n); };
    const int rounds = 1 + int(rng() % 6);
    for (int r = 0; r < rounds; ++r) {
        switch (rng() % 8) {
            case 0:
                if (!bytes.empty()) bytes[pick(bytes.size())] ^= uint8_t(1u << (rng() % 8));
                break;
            case 1:
                if (!bytes.empty())
                    bytes[pick(bytes.size())] = kInteresting8[pick(std::size(kInteresting8))];
                break;
            case 2:
                if (bytes.size() >= 4) {
                    cca::PutU32(&bytes[pick(bytes.size() - 3)],
                                kInteresting32[pick(std::size(kInteresting32))]);
                }
                break;
            case 3:  // the header's end offset
                if (bytes.size() >= cca::kHeaderSize) {
                    cca::PutU32(&bytes[cca::kEndOffsetPos], uint32_t(rng() % (bytes.size() + 64)));
                }
                break;
            case 4:
                bytes.resize(pick(bytes.size() + 1));
                break;
            case 5: {
                const size_t at = pick(bytes.size() + 1);
                Bytes extra(1 + pick(64));
                for (auto& b : extra) b = uint8_t(rng());
                bytes.insert(bytes.begin() + std::ptrdiff_t(at), extra.begin(), extra.end());
                break;
            }
            case 6:
                if (!bytes.empty()) {
                    const size_t at = pick(bytes.size());
                    const size_t n = std::min(bytes.size() - at, 1 + pick(128));
                    bytes.erase(bytes.begin() + std::ptrdiff_t(at),
                                bytes.begin() + std::ptrdiff_t(at + n));
                }
                break;
            default:
                if (bytes.size() > 8) {
                    const size_t from = pick(bytes.size() - 4);
                    const size_t n = std::min<size_t>(bytes.size() - from, 1 + pick(256));
                    const Bytes slice(bytes.begin() + std::ptrdiff_t(from),
                                      bytes.begin() + std::ptrdiff_t(from + n));
                    const size_t to = pick(bytes.size());
                    bytes.insert(bytes.begin() + std::ptrdiff_t(to), slice.begin(), slice.end());
                }
                break;
        }
    }
    return bytes;
}

TEST(CcaFuzz, MutatedArchivesNeverEscapeOrCrash) {
    const unsigned long iterations = EnvNumber("CC_CCA_FUZZ_ITERATIONS", 3000);
    const unsigned long seed = EnvNumber("CC_CCA_FUZZ_SEED", 20240601);
    TempDir root;
    const std::filesystem::path out = root.Path() / "out";
    const std::string dest = out.string() + "/";
    const std::vector<Bytes> seeds = Seeds(root);
    std::mt19937 rng(static_cast<uint32_t>(seed));
    size_t opened = 0, extracted = 0;
    std::map<int, size_t> errors;  // error codes met, to show which paths were reached

    for (unsigned long i = 0; i < iterations; ++i) {
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        const Bytes bytes = Mutate(seeds[i % seeds.size()], rng);
        WriteFileBytes(root.File("a.cca"), bytes);

        CCcaArchive archive;
        archive.SetDestDir(dest);
        if (archive.Open(root.File("a.cca"))) {
            ++opened;
            archive.ReadOptions(dest);
            std::string message = "path";
            archive.CheckRequirements(rng() & 1, rng() & 1, rng(), message);
            for (const CCcaMember& m : archive.SelectMembers(rng() & 1)) {
                if (archive.ExtractMember(m)) ++extracted;
                ++errors[archive.GetError()];
            }
            for (const CCcaMember& m : archive.GetMembers()) {
                archive.HasMember(m.m_strFileName);
                archive.Extract(m.m_strFileName);
                ++errors[archive.GetError()];
            }
            archive.Extract("README");
            archive.Extract("..\\..\\x");
        } else {
            ++errors[archive.GetError()];
        }
        archive.Close();
        for (const std::string& f : root.Files()) {
            if (f == "a.cca" || f == "seed.cca") continue;
            ASSERT_EQ(f.rfind("out/", 0), 0u) << "iteration " << i << " wrote " << f;
        }
    }
    std::printf("%lu iterations: %zu opened, %zu members extracted; errors met:", iterations,
                opened, extracted);
    for (const auto& [code, count] : errors) std::printf(" %d:%zu", code, count);
    std::printf("\n");
    // The mutations keep enough archives intact for the walk to be exercised.
    EXPECT_GT(opened, iterations / 4);
    EXPECT_GT(extracted, iterations / 10);
}

TEST(CcaFuzz, MutatedSelfExtractingFiles) {
    TempDir root;
    const Bytes archive = ArchiveBuilder().Stored("All\\a", ToBytes("a")).Build();
    Bytes program = Random(300, 5);
    const uint32_t offset = uint32_t(program.size());
    program.insert(program.end(), archive.begin(), archive.end());
    Bytes trailer(4);
    cca::PutU32(trailer.data(), offset);
    program = Concat(Concat(program, trailer), ToBytes("ZQvt"));
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        Bytes bytes = program;
        // Damage the trailer's offset or length most of the time.
        if (rng() % 2)
            cca::PutU32(&bytes[bytes.size() - 8], rng() % 2 ? rng() : uint32_t(rng() % 2000));
        if (rng() % 4 == 0) bytes.resize(rng() % (bytes.size() + 1));
        WriteFileBytes(root.File("prog"), bytes);
        uint64_t foundOffset = 0, size = 0;
        const bool found = cca::FindSfxArchive(root.File("prog"), foundOffset, size);
        const bool copied = cca::ExtractSfxArchive(root.File("prog"), root.File("copy.cca"));
        EXPECT_EQ(found, copied);
        if (copied) {
            EXPECT_EQ(foundOffset + size + cca::kTrailerSize, bytes.size());
            EXPECT_EQ(std::filesystem::file_size(root.File("copy.cca")), size);
            std::filesystem::remove(root.File("copy.cca"));
        }
    }
}

}  // namespace
