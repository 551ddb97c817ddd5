// The single-instance rule and the messages a second instance sends to the first, as
// start-up sees them: each system gives its own channel (a lock file and a local socket on
// Linux, the instance mutex, the window class and window messages on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A window message as the instances pass it on: its registered name and two parameters.
struct InstanceMessage {
    std::string strName;
    int32_t nWParam = 0;
    int32_t nLParam = 0;
};

class IInstanceChannel {
  public:
    enum class Role {
        kFirst,     // this process is the first instance and can be reached
        kSecond,    // another process is
        kNoServer,  // this process can't be reached ("Failed to register window class!")
    };
    using Handler = std::function<int32_t(const InstanceMessage&)>;

    virtual ~IInstanceChannel() = default;
    // The instance test. Called once.
    virtual Role Open() = 0;
    // Sends a message to the first instance and waits for its answer, at most nTimeoutMs in
    // all. False when nobody answered in time; the message may still be read later.
    virtual bool Send(const InstanceMessage& message, int nTimeoutMs,
                      int32_t* pnResult = nullptr) = 0;
    // In the first instance: what answers a message, run on the window's thread.
    virtual void SetHandler(Handler handler) = 0;
    // Why this process can't be reached (for the error output).
    virtual std::string Problem() const = 0;
};

namespace instance {

// The instance key: equal for every start of one program file, different for another
// program. It names the instance lock (the mutex) and what the first instance is reached by.
std::string MakeInstanceKey(const std::string& strProgramName, const std::string& strProgramPath);

}  // namespace instance
