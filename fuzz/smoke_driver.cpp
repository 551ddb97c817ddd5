// Runs a fuzz target without libFuzzer: on the files named on the command line, or on
// inputs made from a fixed seed — random bytes, and byte flips, cuts and splices of the
// seed files in --seeds PATH (a folder, searched through, or a file pattern such as
// dir/*.pdb; missing ones are skipped). Deterministic, so a failure repeats.
//
//   <target>_smoke [--runs N] [--seed S] [--max-size BYTES] [--seeds PATH]... [FILE...]
#include <glob.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "fuzz/fuzz_target.h"

namespace {

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The regular files a seed path names.
std::vector<std::filesystem::path> SeedFiles(const std::string& path) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    if (path.find('*') != std::string::npos) {
        glob_t found{};
        if (glob(path.c_str(), 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) files.emplace_back(found.gl_pathv[i]);
        }
        globfree(&found);
    } else if (std::filesystem::is_directory(path, ec)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ec)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    return files;
}

void Mutate(std::vector<uint8_t>& v, std::mt19937& rng, size_t maxSize) {
    const int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        switch (rng() % 5) {
            case 0:  // flip a byte
                if (!v.empty()) v[rng() % v.size()] ^= uint8_t(1u << (rng() % 8));
                break;
            case 1:  // set a byte to a boundary value
                if (!v.empty()) {
                    static const uint8_t kValues[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
                    v[rng() % v.size()] = kValues[rng() % 5];
                }
                break;
            case 2:  // cut the tail
                if (!v.empty()) v.resize(rng() % v.size());
                break;
            case 3:  // duplicate a stretch
                if (!v.empty() && v.size() < maxSize) {
                    const size_t at = rng() % v.size();
                    const size_t len = std::min<size_t>(rng() % 64, v.size() - at);
                    std::vector<uint8_t> copy(v.begin() + long(at), v.begin() + long(at + len));
                    v.insert(v.begin() + long(rng() % v.size()), copy.begin(), copy.end());
                }
                break;
            default:  // overwrite four bytes, often a length or an offset
                if (v.size() >= 4) {
                    const size_t at = rng() % (v.size() - 3);
                    const uint32_t x = rng();
                    std::memcpy(v.data() + at, &x, 4);
                }
                break;
        }
    }
    if (v.size() > maxSize) v.resize(maxSize);
}

}  // namespace

int main(int argc, char** argv) {
    long runs = 2000;
    unsigned seed = 1;
    size_t maxSize = 1 << 16;
    std::vector<std::filesystem::path> files;
    std::vector<std::string> seedPaths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::strtol(argv[++i], nullptr, 10);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--max-size" && i + 1 < argc) {
            maxSize = size_t(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--seeds" && i + 1 < argc) {
            seedPaths.emplace_back(argv[++i]);
        } else {
            files.emplace_back(arg);
        }
    }
    if (!files.empty()) {
        for (const auto& f : files) {
            const auto bytes = ReadFile(f);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        std::printf("%zu files ran without a fault\n", files.size());
        return 0;
    }

    std::vector<std::vector<uint8_t>> seeds;
    for (const std::string& path : seedPaths) {
        for (const auto& file : SeedFiles(path)) {
            std::error_code ec;
            if (std::filesystem::file_size(file, ec) <= maxSize) seeds.push_back(ReadFile(file));
        }
    }
    for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());

    std::mt19937 rng(seed);
    for (long run = 0; run < runs; ++run) {
        std::vector<uint8_t> input;
        if (!seeds.empty() && run % 4 != 0) {
            input = seeds[rng() % seeds.size()];
        } else {
            input.resize(rng() % 512);
            for (auto& b : input) b = uint8_t(rng());
        }
        Mutate(input, rng, maxSize);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld inputs (%zu seeds) ran without a fault\n", runs, seeds.size());
    return 0;
}
