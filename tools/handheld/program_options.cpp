// The command line of cc-handheld. Outside checks depend on these option names.
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "tools/handheld/card_volume.h"
#include "tools/handheld/tcp_client_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace handheld {
namespace {

bool ParseInt(const std::string& text, int64_t min, int64_t max, int64_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);  // decimal, 0x hex
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max) return false;
    out = v;
    return true;
}

}  // namespace

std::string ProgramUsage() {
    return "usage: cc-handheld [options]\n"
           "A virtual Palm OS handheld for HotSync tests: speaks the device side of the\n"
           "serial HotSync protocols or of network HotSync, and serves the desktop from an\n"
           "in-memory card.\n"
           "\n"
           "  --pty                  open a pseudo-terminal, print its path on the first line\n"
           "  --net HOST:PORT        network HotSync: connect to the desktop there at each press\n"
           "  --net-wakeup           send UDP wakeups to PORT - 1 before connecting\n"
           "  --usb                  speak as a USB handheld does (NetSync frames), e.g. with "
           "--pty\n"
           "  --press-after MS       press HotSync MS ms after start and after each sync (0)\n"
           "  --syncs N              serve N syncs, then exit (1)\n"
           "  --stay                 after the syncs keep the line open (the pseudo-terminal\n"
           "                         stays) until stopped with a signal\n"
           "  --out DIR              after each sync write DIR/<name>.pdb|.prc, requests.json\n"
           "  --load FILE            preload a .pdb/.prc database (repeatable)\n"
           "  --load-rom FILE        preload a database into ROM: listed as ROM, read-only,\n"
           "                         kept by a hard reset (repeatable)\n"
           "  --open-db NAME         this database answers \"open\" to deletion until a close-all\n"
           "  --hard-reset-after N   after sync N the RAM and the user are wiped, as a hard\n"
           "                         reset or flat batteries do\n"
           "  --rom 0xHEX            ROM version (0x04103000)\n"
           "  --dlp 1.0|1.1|1.2|1.4  DLP version (1.2)\n"
           "  --cmp-version M.N      CMP version in the wakeup (1.3; 1.0/1.1 for DLP 1.0/1.1)\n"
           "  --color | --grey       display feature 'psys' 7: 8 or 2 (colour)\n"
           "  --display N            display feature value\n"
           "  --cpu 0xHEX            processor id, feature 'psys' 2 (0x00020000)\n"
           "  --baud N               announced maximum rate (115200)\n"
           "  --user NAME            user name (\"Virtual User\")\n"
           "  --user-id N            user id (1)\n"
           "  --ram BYTES            RAM size of card 0 (8388608)\n"
           "  --free BYTES           free storage at start (7340032)\n"
           "  --cancel               OpenConduit answers \"cancel sync\"\n"
           "  --card SIZE            a memory card of SIZE bytes (or 512K, 64M, 1G) in the\n"
           "                         expansion slot (ROM 4.0 and later), /PALM/Launcher made\n"
           "  --card-label TEXT      the card's volume label (CARD)\n"
           "  --card-readonly        the card is write-protected\n"
           "  --timeout S            give up when no desktop answers for S s (60)\n"
           "  --wakeup-interval MS   wakeup repetition (1000)\n"
           "faults:\n"
           "  --break-after-bytes N  pull the cable after N bytes (both directions)\n"
           "  --full-after-bytes N   memory full once N data bytes were written\n"
           "  --full-style both|padp|dlp  memory-error flag and error 16, flag only, error only\n"
           "                         (NetSync has no flag: error 16)\n"
           "  --corrupt-every N      every Nth packet in each direction is corrupted (N >= 2)\n"
           "  --drop-every N         every Nth packet in each direction is lost (N >= 2)\n"
           "  --line-rate BPS|auto   pace the line at BPS (auto: the agreed rate)\n"
           "                         (the last three on the serial stack only)\n"
           "  --stall-after-bytes N  stop answering after N bytes ...\n"
           "  --stall-ms MS          ... for MS ms (40000)\n"
           "  --stall-tickles        ... sending tickles meanwhile\n"
           "  --lose-write-every N   every Nth record or resource write is answered but lost\n"
           "  --card-pull-after-bytes N  take the card out once N bytes were written to it\n"
           "                         (memory full fills the card too)\n"
           "  --help                 this text\n";
}

int ParseProgramOptions(int argc, const char* const* argv, ProgramOptions& out,
                        std::string& message) {
    HandheldConfig& c = out.config;
    constexpr int64_t kIntMax = std::numeric_limits<int>::max();
    constexpr int64_t kU32Max = 0xFFFFFFFFLL;
    constexpr int64_t kBig = std::numeric_limits<int64_t>::max();
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= argc) {
                message = "option " + opt + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        auto number = [&](int64_t min, int64_t max, int64_t& n) {
            std::string v;
            if (!value(v)) return false;
            if (!ParseInt(v, min, max, n)) {
                message = "option " + opt + ": '" + v + "' is not a number from " +
                          std::to_string(min) + " to " + std::to_string(max);
                return false;
            }
            return true;
        };
        int64_t n = 0;
        std::string v;
        if (opt == "--help" || opt == "-h") {
            out.help = true;
        } else if (opt == "--pty") {
            out.pty = true;
        } else if (opt == "--net") {
            if (!value(v)) return 2;
            std::string host;
            uint16_t port = 0;
            if (!ParseHostPort(v, host, port)) {
                message = "option --net: '" + v + "' is not HOST:PORT";
                return 2;
            }
            out.net = v;
            c.netSync = true;
        } else if (opt == "--stay") {
            out.stay = true;
        } else if (opt == "--net-wakeup") {
            out.netWakeups = 3;
        } else if (opt == "--usb") {
            c.usb = true;
            c.netSync = true;
        } else if (opt == "--press-after") {
            if (!number(0, kIntMax, n)) return 2;
            c.pressAfterMs = static_cast<int>(n);
        } else if (opt == "--syncs") {
            if (!number(1, 100000, n)) return 2;
            c.syncs = static_cast<int>(n);
        } else if (opt == "--out") {
            if (!value(v)) return 2;
            if (v.empty()) {
                message = "option --out needs a folder";
                return 2;
            }
            c.outDir = v;
        } else if (opt == "--load") {
            if (!value(v)) return 2;
            c.loadFiles.push_back(v);
        } else if (opt == "--load-rom") {
            if (!value(v)) return 2;
            c.romFiles.push_back(v);
        } else if (opt == "--hard-reset-after") {
            if (!number(1, 100000, n)) return 2;
            c.hardResetAfterSync = static_cast<int>(n);
        } else if (opt == "--open-db") {
            if (!value(v)) return 2;
            c.openDbName = v;
        } else if (opt == "--rom") {
            if (!number(0, kU32Max, n)) return 2;
            c.romVersion = static_cast<uint32_t>(n);
        } else if (opt == "--dlp") {
            if (!value(v)) return 2;
            if (v == "1.0")
                c.dlpVersion = 0x0100;
            else if (v == "1.1")
                c.dlpVersion = 0x0101;
            else if (v == "1.2")
                c.dlpVersion = 0x0102;
            else if (v == "1.4")
                c.dlpVersion = 0x0104;
            else {
                message = "option --dlp: '" + v + "' is not one of 1.0, 1.1, 1.2, 1.4";
                return 2;
            }
        } else if (opt == "--cmp-version") {
            if (!value(v)) return 2;
            int64_t major = 0, minor = 0;
            const size_t dot = v.find('.');
            if (dot == std::string::npos || !ParseInt(v.substr(0, dot), 0, 255, major) ||
                !ParseInt(v.substr(dot + 1), 0, 255, minor)) {
                message = "option --cmp-version: '" + v + "' is not MAJOR.MINOR";
                return 2;
            }
            c.cmpMajor = static_cast<int>(major);
            c.cmpMinor = static_cast<int>(minor);
        } else if (opt == "--color" || opt == "--colour") {
            c.displayFeature = 8;
        } else if (opt == "--grey" || opt == "--gray") {
            c.displayFeature = 2;
        } else if (opt == "--display") {
            if (!number(0, kU32Max, n)) return 2;
            c.displayFeature = static_cast<uint32_t>(n);
        } else if (opt == "--cpu") {
            if (!number(0, kU32Max, n)) return 2;
            c.cpuId = static_cast<uint32_t>(n);
        } else if (opt == "--baud") {
            if (!number(300, 4000000, n)) return 2;
            c.maxBaud = static_cast<uint32_t>(n);
        } else if (opt == "--user") {
            if (!value(v)) return 2;
            if (v.size() > 40) {
                message = "option --user: a user name has at most 40 characters";
                return 2;
            }
            c.userName = v;
        } else if (opt == "--user-id") {
            if (!number(0, kU32Max, n)) return 2;
            c.userId = static_cast<uint32_t>(n);
        } else if (opt == "--ram") {
            if (!number(1, kU32Max, n)) return 2;
            c.ramSize = static_cast<uint32_t>(n);
        } else if (opt == "--free") {
            if (!number(0, kU32Max, n)) return 2;
            c.freeRam = static_cast<uint32_t>(n);
        } else if (opt == "--card") {
            if (!value(v)) return 2;
            if (!ParseCardSize(v, c.cardSize)) {
                message = "option --card: '" + v + "' is not a size such as 65536, 512K or 64M";
                return 2;
            }
        } else if (opt == "--card-label") {
            if (!value(v)) return 2;
            if (v.size() > CCardVolume::kMaxName || v.find('/') != std::string::npos) {
                message = "option --card-label: a label has at most 255 bytes and no \"/\"";
                return 2;
            }
            c.cardLabel = v;
        } else if (opt == "--card-readonly") {
            c.cardReadOnly = true;
        } else if (opt == "--lose-write-every") {
            if (!number(1, kIntMax, n)) return 2;
            c.loseWriteEvery = static_cast<int>(n);
        } else if (opt == "--card-pull-after-bytes") {
            if (!number(0, kBig, n)) return 2;
            c.cardPullAfterBytes = n;
        } else if (opt == "--cancel") {
            c.cancelSync = true;
        } else if (opt == "--timeout") {
            if (!number(1, 86400, n)) return 2;
            c.timeoutSec = static_cast<int>(n);
        } else if (opt == "--wakeup-interval") {
            if (!number(50, 60000, n)) return 2;
            c.wakeupIntervalMs = static_cast<int>(n);
        } else if (opt == "--break-after-bytes") {
            if (!number(1, kBig, n)) return 2;
            c.breakAfterBytes = n;
        } else if (opt == "--full-after-bytes") {
            if (!number(0, kBig, n)) return 2;
            c.fullAfterBytes = n;
        } else if (opt == "--full-style") {
            if (!value(v)) return 2;
            if (v == "both")
                c.fullStyle = FullStyle::kBoth;
            else if (v == "padp")
                c.fullStyle = FullStyle::kPadp;
            else if (v == "dlp")
                c.fullStyle = FullStyle::kDlp;
            else {
                message = "option --full-style: '" + v + "' is not one of both, padp, dlp";
                return 2;
            }
        } else if (opt == "--corrupt-every") {
            if (!number(2, kIntMax, n)) return 2;
            c.corruptEvery = static_cast<int>(n);
        } else if (opt == "--drop-every") {
            if (!number(2, kIntMax, n)) return 2;
            c.dropEvery = static_cast<int>(n);
        } else if (opt == "--line-rate") {
            if (!value(v)) return 2;
            if (v == "auto") {
                c.lineRate = -1;
            } else if (ParseInt(v, 300, 4000000, n)) {
                c.lineRate = static_cast<int>(n);
            } else {
                message =
                    "option --line-rate: '" + v + "' is not a rate from 300 to 4000000 or auto";
                return 2;
            }
        } else if (opt == "--stall-after-bytes") {
            if (!number(1, kBig, n)) return 2;
            c.stallAfterBytes = n;
        } else if (opt == "--stall-ms") {
            if (!number(0, 3600000, n)) return 2;
            c.stallMs = static_cast<int>(n);
        } else if (opt == "--stall-tickles") {
            c.stallTickles = true;
        } else {
            message = "unknown option '" + opt + "' (see --help)";
            return 2;
        }
    }
    if ((c.cardReadOnly || c.cardLabel != "CARD" || c.cardPullAfterBytes >= 0) && c.cardSize == 0) {
        message = "the --card-... options need a card: --card SIZE";
        return 2;
    }
    if (!out.net.empty() && (out.pty || c.usb)) {
        message = "option --net speaks on the network: not with --pty or --usb";
        return 2;
    }
    return 0;
}

}  // namespace handheld
