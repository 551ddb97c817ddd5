// Text to DOC throughput and peak memory, side by side with Debian's txt2pdbdoc (uncompressed).
//
//   bench_doc [megabytes]   (default 100)
//
// Both converters run as child processes on the same generated text; the figures are the best
// wall time of three runs and the largest resident set any run reached (ru_maxrss via wait4).
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 3;

struct Measure {
    bool ok = true;
    double bestSeconds = 1e30;
    long peakKb = 0;
};

// Runs argv as a child with its output thrown away; false when it does not exit with 0.
bool RunChild(const std::vector<std::string>& args, double& seconds, long& maxRssKb) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);  // or the child would print our buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    maxRssKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Measure Bench(const std::vector<std::string>& args, const std::string& output) {
    Measure m;
    for (int i = 0; i < kRuns; ++i) {
        ::unlink(output.c_str());
        double seconds = 0;
        long kb = 0;
        if (!RunChild(args, seconds, kb)) {
            m.ok = false;
            break;
        }
        if (seconds < m.bestSeconds) m.bestSeconds = seconds;
        if (kb > m.peakKb) m.peakKb = kb;
    }
    ::unlink(output.c_str());
    return m;
}

// Prose-like lines of printable ASCII, LF line ends.
bool WriteText(const std::string& path, size_t bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<char> block(1 << 20);
    uint32_t seed = 2024;
    size_t col = 0;
    for (char& c : block) {
        seed = seed * 1664525u + 1013904223u;
        const uint32_t r = seed >> 24;
        if (col > 40 && r < 4) {
            c = '\n';
            col = 0;
        } else {
            c = r < 40 ? ' ' : char('a' + r % 26);
            ++col;
        }
    }
    bool ok = true;
    for (size_t left = bytes; left > 0 && ok;) {
        const size_t n = left < block.size() ? left : block.size();
        ok = std::fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    return std::fclose(f) == 0 && ok;
}

std::string FindTxt2PdbDoc() {
    for (const char* p : {"/usr/bin/txt2pdbdoc", "/usr/local/bin/txt2pdbdoc"}) {
        if (::access(p, X_OK) == 0) return p;
    }
    return {};
}

void Print(const char* name, const Measure& m, double megabytes) {
    if (!m.ok) {
        std::printf("%-22s %10s %12s %14s\n", name, "failed", "-", "-");
        return;
    }
    std::printf("%-22s %10.3f %12.1f %14.1f\n", name, m.bestSeconds, megabytes / m.bestSeconds,
                double(m.peakKb) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
    if (megabytes <= 0) {
        std::fprintf(stderr, "usage: %s [megabytes]\n", argv[0]);
        return 2;
    }
    const size_t bytes = size_t(megabytes * 1024 * 1024);

    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/cc_bench_doc_XXXXXX";
    if (!::mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string text = dir + "/bench.txt";
    const std::string ours = dir + "/bench.PDB";
    const std::string theirs = dir + "/theirs.pdb";
    if (!WriteText(text, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", text.c_str());
        return 1;
    }

    std::printf("text: %.1f MB, best of %d runs\n", megabytes, kRuns);
    std::printf("%-22s %10s %12s %14s\n", "converter", "seconds", "MB/s", "peak RSS MB");
    Print("cc-txt2doc", Bench({CC_TXT2DOC_PATH, text}, ours), megabytes);
    const std::string txt2pdbdoc = FindTxt2PdbDoc();
    if (txt2pdbdoc.empty())
        std::printf("%-22s not installed\n", "txt2pdbdoc -c");
    else
        Print("txt2pdbdoc -c", Bench({txt2pdbdoc, "-c", "bench", text, theirs}, theirs), megabytes);

    ::unlink(text.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
