// The fault soak: randomized installs of three files (a record database, a resource database
// over 64 KB, a converted text) through the worker, the session and the window's share of
// the run into the virtual handheld on a pseudo-terminal, each meeting one fault. Checks each
// outcome, that nothing hangs, and that descriptors and memory come back; prints a tally per
// fault and the seed of every failed run.
//
//   soak [--runs N] [--seed S] [--fault KIND] [--verbose]
//
// Run i uses the seed S + i; "soak --runs 1 --seed X" replays the run with seed X. Exit
// status 0 only when every run passed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/soak/process_probe.h"
#include "bench/soak/soak_run.h"
#include "formats/doc/text_to_doc.h"
#include "ui/console/console_app.h"

namespace {

// C++ objects a run may leave beyond the first run's count: the run's own result, nothing
// that grows. The allocator's own count moves with its caches and arenas, so it only has to
// stay within a megabyte of the first run's.
constexpr int64_t kObjectSlack = 4 * 1024;
constexpr int64_t kHeapSlack = 1024 * 1024;

struct Tally {
    int runs = 0, passed = 0;
    int noConnection = 0, linkBroken = 0, cancelled = 0, withMessages = 0;
    double seconds = 0;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: soak [--runs N] [--seed S] [--fault KIND] [--verbose]\n"
                 "  KIND: lost corrupt break full cancel answer-cancel stall\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    long runs = 1000;
    uint64_t seed = uint64_t(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000;
    std::optional<soak::Fault> forced;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue) {
            runs = std::strtol(argv[++i], nullptr, 10);
        } else if (arg == "--seed" && hasValue) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--fault" && hasValue) {
            forced = soak::FaultByName(argv[++i]);
            if (!forced) return Usage();
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            return Usage();
        }
    }
    if (runs < 1) return Usage();

    // Text files become DOC databases when queued, as in the console.
    console::SetTextConverter([](const std::string& textPath, std::string& dbPath) {
        return ConvertTextFile(textPath, dbPath);
    });
    const soak::Timing timing;
    std::printf("soak: %ld runs from seed %llu\n", runs, static_cast<unsigned long long>(seed));
    std::fflush(stdout);

    Tally tally[soak::kFaultKinds];
    std::vector<std::string> failures;
    const auto start = std::chrono::steady_clock::now();
    int64_t heapBaseline = -1, objectBaseline = -1;
    for (long i = 0; i < runs; ++i) {
        const uint64_t runSeed = seed + uint64_t(i);
        const int fdsBefore = soak::OpenDescriptors();
        const int64_t heapBefore = soak::HeapInUse();
        const int64_t objectsBefore = soak::LiveObjectBytes();
        soak::Fault fault;
        soak::RunResult r;
        {
            // The plan (the files' contents) is gone again before memory is counted.
            const soak::Plan plan = soak::MakePlan(runSeed, forced);
            fault = plan.fault;
            r = soak::RunOnce(plan, timing);
        }

        const int fdsAfter = soak::OpenDescriptors();
        const int64_t heapAfter = soak::HeapInUse();
        const int64_t objectsAfter = soak::LiveObjectBytes();
        if (fdsAfter != fdsBefore) {
            r.problems.push_back("open descriptors " + std::to_string(fdsBefore) + " -> " +
                                 std::to_string(fdsAfter));
        }
        // The first run sets up what lives as long as the process (texts, locale).
        if (objectBaseline < 0) {
            objectBaseline = objectsAfter;
            heapBaseline = heapAfter;
        } else if (objectsAfter - objectBaseline > kObjectSlack ||
                   heapAfter - heapBaseline > kHeapSlack) {
            r.problems.push_back("memory kept: objects " + std::to_string(objectsBefore) + " -> " +
                                 std::to_string(objectsAfter) + " bytes (first run " +
                                 std::to_string(objectBaseline) + "), allocator " +
                                 std::to_string(heapBefore) + " -> " + std::to_string(heapAfter) +
                                 " (first run " + std::to_string(heapBaseline) + ")");
        }

        Tally& t = tally[static_cast<int>(fault)];
        ++t.runs;
        t.seconds += r.seconds;
        t.noConnection += r.connected ? 0 : 1;
        t.linkBroken += r.linkBroken ? 1 : 0;
        t.cancelled += r.cancelled ? 1 : 0;
        t.withMessages += r.messages.empty() ? 0 : 1;
        if (r.Passed()) {
            ++t.passed;
        } else {
            std::string line =
                "FAILED seed " + std::to_string(runSeed) + " (" + soak::FaultName(fault) + "):";
            for (const auto& p : r.problems) line += " " + p + ";";
            failures.push_back(line);
            std::printf("%s\n", line.c_str());
        }
        if (verbose) {
            std::printf(
                "run %ld seed %llu %s: %s, %.1f s, failed %d, messages %zu%s%s, objects %+lld, "
                "heap %+lld\n",
                i, static_cast<unsigned long long>(runSeed), soak::FaultName(fault),
                r.Passed() ? "passed" : "FAILED", r.seconds, r.failed, r.messages.size(),
                r.linkBroken ? ", link broke" : "", r.cancelled ? ", stopped" : "",
                static_cast<long long>(objectsAfter - objectBaseline),
                static_cast<long long>(heapAfter - heapBaseline));
        }
        std::fflush(stdout);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("\n%-14s %6s %6s %6s %10s %11s %9s %9s %8s\n", "fault", "runs", "passed", "failed",
                "no-connect", "link-broke", "stopped", "messages", "avg s");
    int total = 0, passed = 0;
    for (int k = 0; k < soak::kFaultKinds; ++k) {
        const Tally& t = tally[k];
        total += t.runs;
        passed += t.passed;
        std::printf("%-14s %6d %6d %6d %10d %11d %9d %9d %8.2f\n",
                    soak::FaultName(static_cast<soak::Fault>(k)), t.runs, t.passed,
                    t.runs - t.passed, t.noConnection, t.linkBroken, t.cancelled, t.withMessages,
                    t.runs ? t.seconds / t.runs : 0.0);
    }
    std::printf("%-14s %6d %6d %6d\n", "all", total, passed, total - passed);
    std::printf("time %.1f s, seed %llu\n", seconds, static_cast<unsigned long long>(seed));
    if (!failures.empty()) {
        std::printf("failed runs (replay one with: soak --runs 1 --seed SEED%s%s):\n",
                    forced ? " --fault " : "", forced ? soak::FaultName(*forced) : "");
        for (const auto& f : failures) std::printf("  %s\n", f.c_str());
    }
    return passed == total ? 0 : 1;
}
