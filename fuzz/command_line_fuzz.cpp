// Hostile command lines through the installer window's parser and the console's: the
// input is the arguments, split at NUL bytes as a program receives them. What a parser
// accepts must be what it promises: files that can be opened, made absolute; ports the
// link can open; values in their ranges.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "session/link/port_transport.h"
#include "shell/command_line.h"
#include "ui/console/cli_options.h"

namespace {

// Which arguments "exist": a stand-in for the file system, decided by the text alone.
bool Exists(const std::string& path) {
    return !path.empty() && static_cast<unsigned char>(path.back()) % 3 == 0;
}

void CheckWindowLine(const std::vector<std::string>& args) {
    StartOptions options;
    ParseCommandLine(args, Exists, options);
    if (options.files.size() > args.size()) fuzz::Fail("more files than arguments");
    for (const std::string& file : options.files) {
        if (file.empty() || file[0] != '/') fuzz::Fail("a queued file that is not absolute");
    }
    if (!options.strPort.empty() && !options.strPortDevice.empty()) {
        fuzz::Fail("a COM port and a device for one run");
    }
    if (!options.strPort.empty() &&
        ports::DevicePathForPort(options.strPort.substr(options.strPort[0] == '/'), {}).empty()) {
        fuzz::Fail("a COM port that names no device");
    }
    if (!options.strPortDevice.empty() && options.strPortDevice[0] != '/') {
        fuzz::Fail("a device that is not a path");
    }
    size_t joined = args.empty() ? 0 : args.size() - 1;
    for (const std::string& arg : args) joined += arg.size();
    if (JoinCommandLine(args).size() != joined) fuzz::Fail("a joined line of another length");
}

void CheckConsoleLine(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"ccourier-cli"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    console::Options options;
    std::string error;
    const bool ok =
        console::ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error, Exists);
    if (ok != error.empty()) fuzz::Fail("a verdict and its message disagree");
    if (!ok) return;
    if (!console::IsValidPortName(options.port)) fuzz::Fail("an accepted port that is not valid");
    if (!console::IsValidSpeed(options.speed)) fuzz::Fail("an accepted speed that is not offered");
    if (options.waitSeconds < 0 || options.waitSeconds > 86400) fuzz::Fail("a waiting time");
    if (options.addUser && !options.files.empty()) fuzz::Fail("files with --add-user");
    for (const std::string& file : options.files) {
        if (std::find(args.begin(), args.end(), file) == args.end()) {
            fuzz::Fail("a file that is no argument");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() <= 64; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    if (size == 0) args.clear();
    CheckWindowLine(args);
    CheckConsoleLine(args);
    // Every argument as a port name: the console's test and the link's mapping agree.
    for (const std::string& arg : args) {
        if (console::IsValidPortName(arg) &&
            (arg.rfind("COM", 0) == 0 || arg.rfind("com", 0) == 0) &&
            ports::DevicePathForPort(arg, {}).empty()) {
            fuzz::Fail("a valid COM port that names no device");
        }
        FullPath(arg);
    }
    return 0;
}
