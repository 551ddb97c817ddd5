// Picture conversion benchmark: a 1600 x 1200 colour JPEG converted to 256 colours and to
// 16 grey levels, against ImageMagick doing the same reductions, each run as its own
// process so that time and peak memory are measured alike.
//
//   picture_bench [--runs N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/picture/picture.h"
#include "pdb/palm_db_file.h"

#include <jpeglib.h>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
constexpr double kTimeTarget = 0.5;  // of ImageMagick's time
constexpr long kMemoryTargetKb = 64 * 1024;

// A photograph-like picture: smooth light, a few shapes, fine texture and grain, so that
// it has far more than 256 colours and does not compress to nothing.
void MakeImage(std::vector<uint8_t>& rgb) {
    rgb.resize(size_t(kWidth) * kHeight * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1103515245u + 12345u;
            const double noise = double((seed >> 16) & 31) - 16.0;
            const double fx = double(x) / kWidth, fy = double(y) / kHeight;
            double r = 60 + 150 * fx + 30 * std::sin(fy * 9.0);
            double g = 80 + 120 * fy + 40 * std::sin((fx + fy) * 13.0);
            double b = 200 - 150 * fx * fy + 25 * std::cos(fx * 21.0);
            const double dx = x - 800.0, dy = y - 600.0;
            if (dx * dx + dy * dy < 300.0 * 300.0) {
                r = 230 - std::sqrt(dx * dx + dy * dy) * 0.4;
                g *= 0.6;
                b *= 0.4;
            }
            if ((x / 40 + y / 40) % 7 == 0) g += 25 * std::sin(x * 0.7) * std::cos(y * 0.5);
            auto clamp = [](double v) { return uint8_t(std::min(255.0, std::max(0.0, v))); };
            uint8_t* p = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
            p[0] = clamp(r + noise);
            p[1] = clamp(g + noise * 0.8);
            p[2] = clamp(b + noise * 1.2);
        }
    }
}

bool WriteJpeg(const std::string& path, const std::vector<uint8_t>& rgb) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t(cinfo.next_scanline) * kWidth * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(f) == 0;
}

bool WriteViewer(const std::string& path) {
    pdb::DbInfo info;
    info.name = "Starter";
    info.attributes = pdb::kAttrResDb;
    info.version = 1;
    info.type = pdb::MakeFourCC("appl");
    info.creator = pdb::MakeFourCC("CcVw");
    auto db = pdb::CPalmDbFile::Create(path, info);
    if (!db) return false;
    std::vector<uint8_t> code(12000, 0x4E);
    const char name[] = "Starter";
    db->AppendResource(code.data(), code.size(), pdb::MakeFourCC("code"), 1);
    db->AppendResource(reinterpret_cast<const uint8_t*>(name), sizeof name, pdb::MakeFourCC("tAIN"),
                       1000);
    return db->Close() == pdb::kOk;
}

struct Measure {
    bool ok = false;
    double ms = 0;
    long maxRssKb = 0;
};

Measure Run(const std::vector<std::string>& argv) {
    Measure m;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return m;
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    const auto end = std::chrono::steady_clock::now();
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m.ms = std::chrono::duration<double, std::milli>(end - start).count();
    m.maxRssKb = usage.ru_maxrss;
    return m;
}

// Median time and largest peak of several runs.
Measure Repeat(const std::vector<std::string>& argv, int runs) {
    std::vector<double> times;
    Measure out;
    out.ok = true;
    for (int i = 0; i < runs; ++i) {
        const Measure m = Run(argv);
        if (!m.ok) return Measure{};
        times.push_back(m.ms);
        out.maxRssKb = std::max(out.maxRssKb, m.maxRssKb);
    }
    std::sort(times.begin(), times.end());
    out.ms = times[times.size() / 2];
    return out;
}

std::string FindConvert() {
    for (const char* p :
         {"/usr/bin/convert", "/usr/local/bin/convert", "/usr/bin/convert-im6.q16"}) {
        if (access(p, X_OK) == 0) return p;
    }
    return {};
}

std::string Self() {
    std::error_code ec;
    const auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

int ConvertChild(const char* in, const char* out, const char* viewer, int colors) {
    const int r = ConvertPictureFile(in, out, viewer, "bench", colors, true);
    return r == kPictureOk ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--convert") == 0) {
        return ConvertChild(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    }
    int runs = 3;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));

    char tmpl[] = "/tmp/cc_picture_bench_XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = tmpl;
    const std::string jpeg = (dir / "photo.jpg").string();
    const std::string viewer = (dir / "VIEWER.PRC").string();
    {
        std::vector<uint8_t> rgb;
        MakeImage(rgb);
        if (!WriteJpeg(jpeg, rgb) || !WriteViewer(viewer)) {
            std::fprintf(stderr, "cannot write the test files in %s\n", tmpl);
            fs::remove_all(dir);
            return 1;
        }
    }
    const std::string self = Self();
    const std::string convert = FindConvert();
    std::printf("Picture conversion of a %d x %d colour JPEG (%ju bytes), median of %d runs\n",
                kWidth, kHeight, uintmax_t(fs::file_size(jpeg)), runs);
    std::printf("%-16s %12s %12s   %12s %12s   %s\n", "reduction", "ours ms", "ours MB", "IM ms",
                "IM MB", "verdict");

    struct Case {
        const char* name;
        int colors;
        std::vector<std::string> imArgs;
    };
    const Case cases[] = {
        {"256 colours", 256, {"-colors", "256"}},
        {"16 grey levels", 16, {"-colorspace", "gray", "-colors", "16"}},
    };
    bool allMet = true;
    for (const Case& c : cases) {
        const std::string out = (dir / "out.PDB").string();
        const Measure ours =
            Repeat({self, "--convert", jpeg, out, viewer, std::to_string(c.colors)}, runs);
        Measure im;
        if (!convert.empty()) {
            std::vector<std::string> a = {convert, jpeg};
            a.insert(a.end(), c.imArgs.begin(), c.imArgs.end());
            a.push_back((dir / "out.bmp").string());
            im = Repeat(a, runs);
        }
        std::string verdict;
        if (!ours.ok) {
            verdict = "conversion failed";
            allMet = false;
        } else {
            const bool memOk = ours.maxRssKb < kMemoryTargetKb;
            const bool timeOk = !im.ok || ours.ms <= im.ms * kTimeTarget;
            verdict = (memOk && timeOk) ? "target met" : "target missed";
            if (im.ok) {
                char ratio[32];
                std::snprintf(ratio, sizeof ratio, " (%.0f%% of IM time)", 100.0 * ours.ms / im.ms);
                verdict += ratio;
            } else {
                verdict += " (ImageMagick not measured)";
            }
            allMet = allMet && memOk && timeOk;
        }
        auto mb = [](long kb) { return double(kb) / 1024.0; };
        if (im.ok) {
            std::printf("%-16s %12.1f %12.1f   %12.1f %12.1f   %s\n", c.name, ours.ms,
                        mb(ours.maxRssKb), im.ms, mb(im.maxRssKb), verdict.c_str());
        } else {
            std::printf("%-16s %12.1f %12.1f   %12s %12s   %s\n", c.name, ours.ms,
                        mb(ours.maxRssKb), "n/a", "n/a", verdict.c_str());
        }
    }
    std::printf("targets: at most %.0f%% of ImageMagick's time, under %ld MB peak: %s\n",
                kTimeTarget * 100, kMemoryTargetKb / 1024, allMet ? "met" : "missed");
    fs::remove_all(dir);
    return 0;
}
