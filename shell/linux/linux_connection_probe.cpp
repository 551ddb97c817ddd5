#include "shell/linux/linux_connection_probe.h"

#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "session/link/usb_handheld.h"
#include "shell/linux/proc_port_holder.h"
#include "shell/linux/system_text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSerialPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr const char* kRuleName = "60-cradlecourier.rules";
constexpr const char* kRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                        "/usr/local/lib/udev/rules.d"};
// Longest system text read: sysfs attributes are short, the tables are not.
constexpr std::streamsize kMaxText = 1 << 20;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char chunk[4096];
    while (in && static_cast<std::streamsize>(text.size()) < kMaxText) {
        in.read(chunk, sizeof chunk);
        text.append(chunk, static_cast<size_t>(in.gcount()));
    }
    return text;
}

int OpenError(const fs::path& path) {
    return ::access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
}

std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// "ttyUSB12" as ("ttyUSB", 12), so that ttyS10 follows ttyS9.
bool SerialName(const std::string& name, std::string& prefix, unsigned& number) {
    for (const char* p : kSerialPrefixes) {
        const std::string candidate = p;
        if (name.size() <= candidate.size() || name.compare(0, candidate.size(), candidate) != 0) {
            continue;
        }
        const auto digits = systext::ParseDecimal(std::string_view(name).substr(candidate.size()));
        if (!digits ||
            name.find_first_not_of("0123456789", candidate.size()) != std::string::npos) {
            return false;
        }
        prefix = candidate;
        number = *digits;
        return true;
    }
    return false;
}

// The processes that hold a socket of these inodes.
std::vector<PortHolder> SocketHolders(const fs::path& proc, const std::vector<uint64_t>& inodes) {
    std::vector<PortHolder> holders;
    if (inodes.empty()) return holders;
    std::error_code ec;
    for (const fs::directory_entry& process : fs::directory_iterator(proc, ec)) {
        const std::string pid = process.path().filename().string();
        if (!systext::ParseDecimal(pid)) continue;
        std::error_code fdError;
        for (const fs::directory_entry& fd :
             fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            const std::string target = fs::read_symlink(fd.path(), linkError).string();
            const bool match = std::any_of(inodes.begin(), inodes.end(), [&](uint64_t inode) {
                return target == "socket:[" + std::to_string(inode) + "]";
            });
            if (linkError || !match) continue;
            std::string name = ReadText(process.path() / "comm");
            while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
            holders.push_back({static_cast<pid_t>(*systext::ParseDecimal(pid)), name});
            break;
        }
    }
    return holders;
}

}  // namespace

CLinuxConnectionProbe::CLinuxConnectionProbe(std::string root, std::string ruleSource)
    : m_root(std::move(root)), m_ruleSource(std::move(ruleSource)) {
    while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
    if (m_ruleSource.empty()) {
        std::error_code ec;
        m_ruleSource = fs::exists(CC_UDEV_RULE_SOURCE, ec) ? CC_UDEV_RULE_SOURCE
                                                           : "packaging/60-cradlecourier.rules";
    }
}

std::string CLinuxConnectionProbe::Path(const std::string& absolute) const {
    return m_root == "/" ? absolute : m_root + absolute;
}

ConnectionFacts CLinuxConnectionProbe::Probe(bool thorough, const std::string& netAddress,
                                             uint16_t netPort) {
    ConnectionFacts facts;
    ProbeSerial(facts, thorough);
    ProbeUsb(facts);
    facts.udevRuleSource = m_ruleSource;
    for (const char* folder : kRuleFolders) {
        const std::string rule = std::string(folder) + "/" + kRuleName;
        std::error_code ec;
        if (fs::exists(Path(rule), ec)) {
            facts.udevRule = rule;
            break;
        }
    }
    if (!thorough) return facts;
    ProbeUser(facts);
    std::error_code ec;
    for (const fs::directory_entry& process : fs::directory_iterator(Path("/proc"), ec)) {
        const auto pid = systext::ParseDecimal(process.path().filename().string());
        if (!pid) continue;
        std::string name = ReadText(process.path() / "comm");
        while (!name.empty() && name.back() == '\n') name.pop_back();
        if (name == "ModemManager") facts.modemManager.push_back({static_cast<pid_t>(*pid), name});
    }
    ProbeNet(facts, netAddress, netPort);
    return facts;
}

void CLinuxConnectionProbe::ProbeSerial(ConnectionFacts& facts, bool thorough) const {
    struct Found {
        std::string prefix;
        unsigned number;
        SerialDevice device;
    };
    std::vector<Found> found;
    std::error_code ec;
    CProcPortHolderFinder holders(Path("/proc"));
    for (const fs::directory_entry& entry : fs::directory_iterator(Path("/dev"), ec)) {
        const std::string name = entry.path().filename().string();
        Found f;
        if (!SerialName(name, f.prefix, f.number)) continue;
        SerialDevice& d = f.device;
        d.path = "/dev/" + name;
        d.openError = OpenError(entry.path());
        const fs::path sys = Path("/sys/class/tty/" + name);
        d.driver = LinkName(sys / "device" / "driver");
        if (f.prefix == "ttyS") {
            // The kernel makes ttyS nodes for every possible port; type 0 has no UART.
            const auto type = systext::ParseDecimal(ReadText(sys / "type"));
            d.noHardware = type && *type == 0;
        }
        // The USB device the port belongs to: up from the port until a device with ids.
        std::error_code walkError;
        fs::path dir = fs::canonical(sys / "device", walkError);
        const fs::path sysRoot = fs::weakly_canonical(Path("/sys"), walkError);
        for (int depth = 0; !walkError && depth < 8 && dir.has_relative_path() && dir != sysRoot;
             ++depth, dir = dir.parent_path()) {
            const auto vendor = systext::ParseHex16(ReadText(dir / "idVendor"));
            const auto product = systext::ParseHex16(ReadText(dir / "idProduct"));
            if (vendor && product) {
                d.vendorId = *vendor;
                d.productId = *product;
                break;
            }
        }
        if (thorough && d.openError != ENOENT) d.holders = holders.Find(entry.path().string());
        found.push_back(std::move(f));
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        const auto rank = [](const std::string& p) {
            return p == "ttyS" ? 0 : p == "ttyUSB" ? 1 : 2;
        };
        return rank(a.prefix) != rank(b.prefix) ? rank(a.prefix) < rank(b.prefix)
                                                : a.number < b.number;
    });
    for (Found& f : found) facts.serial.push_back(std::move(f.device));

    // The links udev makes by the adapter's serial number, which stay the same across plugs.
    const fs::path byId = Path("/dev/serial/by-id");
    std::vector<SerialDevice> links;
    for (const fs::directory_entry& entry : fs::directory_iterator(byId, ec)) {
        SerialDevice link;
        link.path = "/dev/serial/by-id/" + entry.path().filename().string();
        link.isLink = true;
        std::error_code linkError;
        fs::path target = fs::read_symlink(entry.path(), linkError);
        if (linkError) continue;
        if (target.is_relative()) target = (byId / target).lexically_normal();
        std::error_code existsError;
        if (!fs::exists(target, existsError)) {
            link.openError = ENOENT;
        } else {
            std::string device = target.string();
            if (m_root != "/" && device.compare(0, m_root.size(), m_root) == 0) {
                device = device.substr(m_root.size());
            }
            link.linkTarget = device;
            const auto it = std::find_if(facts.serial.begin(), facts.serial.end(),
                                         [&](const SerialDevice& d) { return d.path == device; });
            if (it != facts.serial.end()) {
                link.openError = it->openError;
                link.driver = it->driver;
                link.vendorId = it->vendorId;
                link.productId = it->productId;
            } else {
                link.openError = OpenError(target);
            }
        }
        links.push_back(std::move(link));
    }
    std::sort(links.begin(), links.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.path < b.path; });
    facts.serial.insert(facts.serial.end(), links.begin(), links.end());
}

void CLinuxConnectionProbe::ProbeUsb(ConnectionFacts& facts) const {
    const fs::path devices = Path("/sys/bus/usb/devices");
    std::error_code ec;
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(devices, ec)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& dir : entries) {
        const std::string name = dir.filename().string();
        if (name.find(':') != std::string::npos) continue;  // an interface, not a device
        const auto vendor = systext::ParseHex16(ReadText(dir / "idVendor"));
        const auto product = systext::ParseHex16(ReadText(dir / "idProduct"));
        if (!vendor || !product || !ports::usb::FindModel(*vendor, *product)) continue;
        UsbHandheld h;
        h.vendorId = *vendor;
        h.productId = *product;
        h.location = name;
        const auto bus = systext::ParseDecimal(ReadText(dir / "busnum"));
        const auto address = systext::ParseDecimal(ReadText(dir / "devnum"));
        if (bus && address && *bus < 1000 && *address < 1000) {
            char node[32];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", *bus, *address);
            h.node = node;
            h.openError = OpenError(Path(h.node));
        } else {
            h.openError = ENOENT;
        }
        std::error_code listError;
        for (const fs::directory_entry& intf : fs::directory_iterator(dir, listError)) {
            const std::string child = intf.path().filename().string();
            if (child.compare(0, name.size() + 1, name + ":") != 0) continue;
            const std::string driver = LinkName(intf.path() / "driver");
            if (!driver.empty() &&
                std::find(h.drivers.begin(), h.drivers.end(), driver) == h.drivers.end()) {
                h.drivers.push_back(driver);
            }
        }
        facts.handhelds.push_back(std::move(h));
    }
}

void CLinuxConnectionProbe::ProbeUser(ConnectionFacts& facts) const {
    const passwd* pw = ::getpwuid(::geteuid());
    facts.userName = pw && pw->pw_name ? pw->pw_name : "";
    facts.superUser = ::geteuid() == 0;
    const auto dialout = systext::FindGroup(ReadText(Path("/etc/group")), "dialout");
    facts.dialoutExists = dialout.has_value();
    if (!dialout) return;
    std::vector<gid_t> groups(256);
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(n > 0 ? static_cast<size_t>(n) : 0);
    facts.inDialout = ::getegid() == dialout->gid ||
                      std::find(groups.begin(), groups.end(), dialout->gid) != groups.end();
    const bool listed = std::find(dialout->members.begin(), dialout->members.end(),
                                  facts.userName) != dialout->members.end() ||
                        (pw && pw->pw_gid == dialout->gid);
    facts.dialoutAfterLogin = !facts.inDialout && listed;
}

void CLinuxConnectionProbe::ProbeNet(ConnectionFacts& facts, const std::string& address,
                                     uint16_t port) const {
    facts.net.address = address;
    facts.net.port = port;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        !found) {
        facts.net.bindError = EINVAL;
        return;
    }
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        facts.net.bindError = errno;
    } else {
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        facts.net.bindError = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 ? 0 : errno;
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (facts.net.bindError != EADDRINUSE) return;
    std::vector<uint64_t> inodes = systext::ListeningInodes(ReadText(Path("/proc/net/tcp")), port);
    const auto six = systext::ListeningInodes(ReadText(Path("/proc/net/tcp6")), port);
    inodes.insert(inodes.end(), six.begin(), six.end());
    facts.net.holders = SocketHolders(Path("/proc"), inodes);
}
