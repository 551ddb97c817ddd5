// What the run benchmarks share: a program started with the timeline file in its
// environment and timed to its exit, the marks the programs leave in that file, and the
// database they install.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: the clock of the timeline marks.
int64_t MonotonicNs();
// /proc/loadavg's first three figures.
std::string LoadAverage();

// A program with CC_TIMELINE=timelinePath, its standard output on a pipe (read for the
// handheld's path), its error output appended to logPath.
class CProgram {
  public:
    CProgram(const std::vector<std::string>& args, const std::string& timelinePath,
             const std::string& logPath);
    ~CProgram();  // kills it when it still runs
    CProgram(const CProgram&) = delete;
    CProgram& operator=(const CProgram&) = delete;

    bool Started() const { return m_pid > 0; }
    int64_t StartNs() const { return m_startNs; }
    int64_t ExitNs() const { return m_exitNs; }
    // The first line of output, waiting at most ms.
    std::string FirstLine(int ms);
    // The exit status, or -1 when the program had to be killed after ms.
    int Wait(int ms);

  private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_out;
    std::optional<int> m_status;
    int64_t m_startNs = 0;
    int64_t m_exitNs = 0;
};

// The marks of one run: every time of every name, in file order.
using Marks = std::map<std::string, std::vector<int64_t>>;
Marks ReadMarks(const std::string& path);
// The last time of a mark not after limit; nothing when there is none.
std::optional<int64_t> LastBefore(const Marks& marks, const std::string& name, int64_t limit);
std::optional<int64_t> First(const Marks& marks, const std::string& name);

double Median(std::vector<double> values);

// A record database of size bytes in records of 1 KB, as the benchmarks install it.
bool WriteDatabase(const std::string& path, size_t size);

}  // namespace bench
