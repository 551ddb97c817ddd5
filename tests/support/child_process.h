// A child program run by a test, its standard output read through a pipe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class CChild {
  public:
    // args[0] is the program's path. Standard error goes to /dev/null unless mergeStderr,
    // which reads it through the same pipe as standard output.
    explicit CChild(const std::vector<std::string>& args, bool mergeStderr = false);
    ~CChild();  // kills a child that is still running
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    // Reads what is there, waiting at most ms for something.
    void Pump(int ms);
    // The first line of output, waiting at most ms.
    std::string FirstLine(int ms);
    // Waits until the output holds text, at most ms; whether it does.
    bool WaitForOutput(const std::string& text, int ms);
    // Waits for the exit; the exit status, or -1 on time-out (the child is then killed).
    int Wait(int ms);
    void Signal(int sig);
    const std::string& Output() const { return m_out; }

  private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_out;
    std::optional<int> m_status;
};

// The last non-empty line of a text.
std::string LastLine(const std::string& text);
// A whole file as bytes in a string; empty when it cannot be read.
std::string Slurp(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testsupport
