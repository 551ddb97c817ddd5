#include "ui/console/cli_options.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "session/link/net_transport.h"
#include "session/link/port_transport.h"

namespace console {
namespace {

bool SameSwitch(const std::string& arg, const char* name) {
    return ::strcasecmp(arg.c_str(), name) == 0;
}

bool ParseInt(const char* text, long& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end && *end == '\0';
}

}  // namespace

bool IsValidPortName(const std::string& port) {
    if (port == "USB") return true;
    if (ports::ParseNetPort(port)) return true;
    if (ports::IsDevicePathName(port)) return true;
    // A COM number the link can map to a device; a number too large for it would only
    // time out waiting for a handheld.
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0)) {
        return !ports::DevicePathForPort(port, {}).empty();
    }
    return false;
}

bool IsValidSpeed(int speed) {
    for (int s : {256000, 128000, 115200, 57600, 38400, 19200, 9600, -1}) {
        if (speed == s) return true;
    }
    return false;
}

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    return ParseOptions(argc, argv, options, error, [](const std::string& path) {
        return platform::StatEntry(path).kind != platform::EntryKind::kMissing;
    });
}

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error,
                  const std::function<bool(const std::string&)>& exists) {
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // The window's switches: every absolute path begins with "/" too.
        if (!filesOnly && !arg.empty() && arg[0] == '/') {
            if (arg.size() == 5 && arg.compare(0, 4, "/COM") == 0 && arg[4] >= '1' &&
                arg[4] <= '8') {
                options.port = arg.substr(1);
            } else if (SameSwitch(arg, "/CLOSE")) {
                options.close = true;
            } else if (SameSwitch(arg, "/IGNOREHS")) {
                options.ignoreHotSync = true;
            } else if (SameSwitch(arg, "/USB")) {
                // Accepted, as the window does; --port USB chooses the link.
            } else if (SameSwitch(arg, "/TITLE")) {
                if (i + 1 < argc) options.title = argv[++i];
            } else if (arg.find('/', 1) != std::string::npos || exists(arg)) {
                options.files.push_back(arg);
            } else {
                options.ignored.push_back(arg);
            }
            continue;
        }
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        // "--name=value" and "--name value" are both taken.
        std::string name = arg, value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        const auto noValue = [&]() -> bool {
            if (!hasValue) return true;
            error = "option " + name + " takes no value";
            return false;
        };

        if (name == "--help" || name == "-h") {
            if (!noValue()) return false;
            options.help = true;
        } else if (name == "--version") {
            if (!noValue()) return false;
            options.version = true;
        } else if (name == "--doctor") {
            if (!noValue()) return false;
            options.doctor = true;
        } else if (name == "--close") {
            if (!noValue()) return false;
            options.close = true;
        } else if (name == "--ignore-hs") {
            if (!noValue()) return false;
            options.ignoreHotSync = true;
        } else if (name == "--title") {
            if (!takeValue()) return false;
            options.title = value;
        } else if (name == "--backup") {
            if (!noValue()) return false;
            options.backup = true;
        } else if (name == "--set-time") {
            if (!noValue()) return false;
            options.setTime = true;
        } else if (name == "--quiet" || name == "-q") {
            if (!noValue()) return false;
            options.quiet = true;
        } else if (name == "--port" || name == "-p") {
            if (!takeValue()) return false;
            if (!IsValidPortName(value)) {
                error = "unknown port \"" + value +
                        "\" (COM1 to COM8, USB, NET, net:ADDRESS:PORT or a device path)";
                return false;
            }
            options.port = value;
        } else if (name == "--speed" || name == "-s") {
            if (!takeValue()) return false;
            long speed = 0;
            if (!ParseInt(value.c_str(), speed) || !IsValidSpeed(static_cast<int>(speed))) {
                error = "unknown speed \"" + value +
                        "\" (256000, 128000, 115200, 57600, 38400, 19200, 9600 or -1)";
                return false;
            }
            options.speed = static_cast<int>(speed);
        } else if (name == "--wait" || name == "-w") {
            if (!takeValue()) return false;
            long seconds = 0;
            if (!ParseInt(value.c_str(), seconds) || seconds < 0 || seconds > 86400) {
                error = "bad waiting time \"" + value + "\" (seconds, 0 for no limit)";
                return false;
            }
            options.waitSeconds = static_cast<int>(seconds);
        } else if (name == "--answer" || name == "-a") {
            if (!takeValue()) return false;
            if (value == "ok") {
                options.answerOk = true;
            } else if (value == "cancel") {
                options.answerOk = false;
            } else {
                error = "bad answer \"" + value + "\" (ok or cancel)";
                return false;
            }
        } else if (name == "--backup-all") {
            if (!noValue()) return false;
            options.backupAll = true;
        } else if (name == "--full") {
            if (!noValue()) return false;
            options.fullBackup = true;
        } else if (name == "--restore") {
            if (!noValue()) return false;
            options.restore = true;
        } else if (name == "--backup-dir") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "option --backup-dir needs a folder";
                return false;
            }
            options.backupDir = value;
        } else if (name == "--to") {
            if (!takeValue()) return false;
            if (value == "ram") {
                options.destination = 0;
            } else if (value == "card") {
                options.destination = 1;
            } else if (value == "auto") {
                options.destination = 2;
            } else {
                error = "bad destination \"" + value + "\" (ram, card or auto)";
                return false;
            }
        } else if (name == "--card") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "option --card needs a card's number or label";
                return false;
            }
            options.card = value;
        } else if (name == "--verify") {
            if (!noValue()) return false;
            options.verify = true;
        } else if (name == "--add-user") {
            if (!takeValue()) return false;
            options.addUser = true;
            options.userName = value;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (options.addUser && !options.files.empty()) {
        error = "--add-user installs nothing: give no files with it";
        return false;
    }
    if (options.fullBackup && !options.backupAll) {
        error = "--full belongs to --backup-all";
        return false;
    }
    if (options.doctor && !options.files.empty()) {
        error = "--doctor installs nothing: give no files with it";
        return false;
    }
    return true;
}

std::string UsageText(const char* program) {
    const std::string name = program ? program : "ccourier-cli";
    std::string text = "usage: " + name + " [options] FILE...\n";
    text += "       " + name + " --backup-all [--full] [--backup-dir DIR]\n";
    text += "       " + name + " --restore [--backup-dir DIR] [FILE...]\n";
    text += "       " + name + " --add-user NAME\n";
    text +=
        "Installs Palm files (.prc, .pdb, .pqa, ...) on a handheld when it starts a HotSync.\n"
        "\n"
        "  -p, --port NAME    COM1 ... COM8, USB, NET (network HotSync on 127.0.0.1:14238),\n"
        "                     net:ADDRESS:PORT (net:0.0.0.0:14238 takes handhelds from the\n"
        "                     network), or a device path (default COM1)\n"
        "  -s, --speed N      256000, 128000, 115200, 57600 (default), 38400, 19200, 9600,\n"
        "                     or -1 for the handheld's own choice up to 57600\n"
        "      --backup       copy each installed database to the desktop user's backup folder\n"
        "      --set-time     set the handheld's clock to this computer's time\n"
        "      --backup-all   back up every database in the handheld's RAM into the desktop\n"
        "                     user's backup folder (only those changed since their copy)\n"
        "      --full         with --backup-all: read every database again\n"
        "      --restore      put the FILEs (backup copies) back onto the handheld, or the\n"
        "                     whole backup folder when no FILE is given; after a hard reset\n"
        "                     also the handheld's user name and id\n"
        "      --backup-dir DIR\n"
        "                     the backup folder for --backup-all and --restore, instead of\n"
        "                     the desktop user's (needed without desktop users)\n"
        "      --to WHERE     ram: the handheld's memory (default); card: its memory card\n"
        "                     (/PALM/Launcher/, sounds and pictures still to memory); auto:\n"
        "                     memory, and the card for what does not fit\n"
        "      --card N|LABEL the card to use: the Nth or the one with that label (default the\n"
        "                     first)\n"
        "      --verify       read every installed file back and compare it; the last line\n"
        "                     then says how many were verified\n"
        "  -w, --wait S       give up after S seconds without a handheld (default 300, 0: never)\n"
        "  -a, --answer A     answer error messages with ok (go on, default) or cancel\n"
        "  -q, --quiet        no progress bar\n"
        "      --add-user NAME\n"
        "                     add a desktop user for the handheld whose user is NAME (exactly\n"
        "                     as the handheld has it) and end; --backup then copies the files\n"
        "                     installed on that handheld to the user's backup folder\n"
        "      --title TEXT   a title for the run (\"Upload TEXT...\")\n"
        "      --doctor       check what a connection needs (serial devices, USB handhelds,\n"
        "                     permissions, ModemManager, the network port), say how to mend\n"
        "                     each problem, and end; 0 when a handheld can be reached now on\n"
        "                     the port given (default COM1), on USB or on NET\n"
        "  -h, --help         this text\n"
        "      --version      the program's version\n"
        "\n"
        "The installer window's switches work here too: /COM1 ... /COM8 (upper case),\n"
        "/TITLE TEXT, and /CLOSE, /IGNOREHS, /USB (accepted; they change nothing here), as\n"
        "well as --close and --ignore-hs. An argument like /com1 or /COM9 that is no switch\n"
        "and names nothing is ignored; a path is a file.\n"
        "\n"
        "Exit status: 0 all installed, 1 failures or error messages, 2 no handheld came,\n"
        "3 interrupted, 64 bad usage; --doctor: 0 or 1 as above. The last line of a run is\n"
        "\"result: N\" with its outcome: 0 after a run, -1 when no handheld came, -2 when\n"
        "interrupted; with --verify it is \"result: 0 (N verified)\".\n";
    return text;
}

}  // namespace console
