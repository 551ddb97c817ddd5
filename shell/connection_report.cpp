#include "shell/connection_report.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/system.h"
#include "resources/strings/string_table.h"
#include "session/link/net_transport.h"
#include "session/link/port_transport.h"
#include "session/link/usb_handheld.h"
#include "shell/com_ports.h"
#include "shell/settings_store.h"

using resources::FormatString;
using resources::LoadString;

namespace {

constexpr int kComNames = 8;  // the port box's COM1 to COM8
constexpr const char* kSettingsFile = "~/.config/Cradlecourier/CCourier.conf";

bool IsComName(const std::string& name) {
    return name.size() > 3 && (name[0] == 'C' || name[0] == 'c') &&
           ports::DevicePathForPort(name).compare(0, 5, "/dev/") == 0;
}

// The COM names (of the port box's eight) that map to a device.
std::vector<int> ComNumbersOf(const ISettingsStore& settings, const std::string& path) {
    std::vector<int> numbers;
    for (int n = 1; n <= kComNames; ++n) {
        if (ComDevicePath(settings, n) == path) numbers.push_back(n);
    }
    return numbers;
}

const SerialDevice* FindSerial(const ConnectionFacts& facts, const std::string& path) {
    for (const SerialDevice& d : facts.serial) {
        if (d.path == path) return &d;
    }
    return nullptr;
}

// A device as the user knows it: "COM3" for Windows' "\\.\COM3".
std::string Shown(const std::string& path) {
    return path.size() > 4 && path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
}

std::string Kind(const SerialDevice& d) {
    // Windows names no driver; nothing is said then.
    if (d.driver.empty() && d.vendorId == 0) return {};
    const char* driver = d.driver.empty() ? "?" : d.driver.c_str();
    if (d.driver == "visor") return FormatString(resources::kIdsCheckHandheldPort, driver);
    if (d.IsUsbSerialAdapter()) {
        return FormatString(resources::kIdsCheckAdapter, d.vendorId, d.productId, driver);
    }
    return FormatString(resources::kIdsCheckBuiltIn, driver);
}

// A device's state and the fix of its problem.
CheckLine Usability(const SerialDevice& d, const ConnectionFacts& facts, std::string text) {
    CheckLine line;
    if (d.noHardware) {
        line.level = CheckLevel::kNote;
        line.text = text + LoadString(resources::kIdsCheckNoHardware);
    } else if (d.openError == EACCES || d.openError == EPERM) {
        line.level = CheckLevel::kProblem;
        line.text = text + LoadString(resources::kIdsCheckNoPermission);
        line.fix = FormatString(resources::kIdsCheckFixDialout,
                                facts.userName.empty() ? "$USER" : facts.userName.c_str());
    } else if (d.openError == ENOENT) {
        line.level = CheckLevel::kProblem;
        line.text = text + LoadString(resources::kIdsCheckNoDevice);
    } else if (!d.holders.empty()) {
        const PortHolder& h = d.holders.front();
        line.level = CheckLevel::kProblem;
        line.text = text + FormatString(resources::kIdsCheckHeld, h.name.c_str(), int(h.pid));
        line.fix = h.name == "ModemManager"
                       ? LoadString(resources::kIdsCheckFixModemManager)
                       : FormatString(resources::kIdsCheckFixClose, h.name.c_str(), int(h.pid));
    } else if (d.openError != 0) {
        line.level = CheckLevel::kProblem;
        line.text = text + ": " + platform::ErrorText(d.openError);
    } else {
        line.text = text + LoadString(resources::kIdsCheckMayOpen);
    }
    return line;
}

bool Usable(const SerialDevice* d) {
    return d && !d->noHardware && d->openError == 0 && d->holders.empty();
}

CheckSection SerialSection(const ConnectionFacts& facts, const ISettingsStore& settings,
                           const std::string& chosen, ConnectionReport& report) {
    CheckSection section{LoadString(resources::kIdsCheckSerial), {}};
    // The chosen port first: where it goes, and what to do when it goes nowhere.
    const std::string chosenPath = PortDevicePath(settings, chosen);
    if (!chosenPath.empty()) {
        const SerialDevice* d = FindSerial(facts, chosenPath);
        std::string label = FormatString(resources::kIdsCheckChosen, chosen.c_str());
        if (Shown(chosenPath) != chosen) {
            label += FormatString(resources::kIdsCheckComNames, chosenPath.c_str());
        }
        if (!d) {
            CheckLine line{
                CheckLevel::kProblem, label + LoadString(resources::kIdsCheckNoDevice), {}};
            const std::string adapter = SoleUsbSerialAdapter(facts);
            const int number = IsComName(chosen) ? std::atoi(chosen.c_str() + 3) : 0;
            if (!adapter.empty() && number >= 1 && number <= kComNames) {
                line.fix = FormatString(resources::kIdsCheckFixDevice, number, adapter.c_str(),
                                        kSettingsFile);
            }
            section.lines.push_back(line);
        } else {
            section.lines.push_back(Usability(*d, facts, label));
            if (Usable(d)) {
                report.reachable = true;
                report.route =
                    Shown(chosenPath) == chosen ? chosen : chosen + " (" + chosenPath + ")";
            }
        }
    }
    // Every device there is, with the COM names that reach it.
    bool any = false;
    for (const SerialDevice& d : facts.serial) {
        if (d.noHardware && ComNumbersOf(settings, d.path).empty()) continue;
        any = true;
        if (d.isLink) {
            if (d.linkTarget.empty()) {
                section.lines.push_back(
                    {CheckLevel::kProblem,
                     FormatString(resources::kIdsCheckLinkNowhere, d.path.c_str()),
                     LoadString(resources::kIdsCheckFixPlugIn)});
            } else {
                section.lines.push_back(
                    {CheckLevel::kNote,
                     FormatString(resources::kIdsCheckLink, d.path.c_str(), d.linkTarget.c_str()),
                     {}});
            }
            continue;
        }
        std::string text = Shown(d.path) + Kind(d);
        std::string names;
        for (int n : ComNumbersOf(settings, d.path)) {
            names += (names.empty() ? "COM" : ", COM") + std::to_string(n);
        }
        if (!names.empty() && names != Shown(d.path)) {
            text += FormatString(resources::kIdsCheckComNames, names.c_str());
        }
        // A visor port is the handheld itself: reachable as it stands.
        if (d.driver == "visor" && Usable(&d) && !report.reachable) {
            report.reachable = true;
            report.route = d.path;
        }
        section.lines.push_back(Usability(d, facts, text));
    }
    if (!any)
        section.lines.push_back({CheckLevel::kNote, LoadString(resources::kIdsCheckNoSerial), {}});
    return section;
}

// USB on Windows: the vendor's driver, WinUSB, and the handhelds WinUSB sees.
CheckSection WindowsUsbSection(const ConnectionFacts& facts, const std::string& chosen,
                               ConnectionReport& report) {
    CheckSection section{LoadString(resources::kIdsCheckUsb), {}};
    const auto reachable = [&] {
        if (!report.reachable || chosen == ports::kUsbPortName) {
            report.reachable = true;
            report.route = ports::kUsbPortName;
        }
    };
    if (!facts.usbSetupApi) {
        section.lines.push_back(
            {CheckLevel::kProblem, LoadString(resources::kIdsCheckNoSetupApi), {}});
        return section;
    }
    if (facts.usbVendorHotSync) {
        section.lines.push_back(
            {CheckLevel::kOk, LoadString(resources::kIdsCheckVendorDriverHotSync), {}});
        reachable();
    } else {
        section.lines.push_back(
            {CheckLevel::kNote,
             LoadString(facts.usbVendorDriver ? resources::kIdsCheckVendorDriverIdle
                                              : resources::kIdsCheckVendorDriverNone),
             {}});
    }
    section.lines.push_back(
        {facts.usbWinUsb ? CheckLevel::kOk : CheckLevel::kNote,
         LoadString(facts.usbWinUsb ? resources::kIdsCheckWinUsb : resources::kIdsCheckNoWinUsb),
         {}});
    for (const UsbHandheld& h : facts.handhelds) {
        const ports::usb::Model* model = ports::usb::FindModel(h.vendorId, h.productId);
        section.lines.push_back({CheckLevel::kOk,
                                 FormatString(resources::kIdsCheckHandheld, h.vendorId, h.productId,
                                              model ? model->name : "?", h.location.c_str()),
                                 {}});
        if (h.openError != 0) {
            section.lines.push_back(
                {CheckLevel::kProblem,
                 FormatString(resources::kIdsCheckNotWinUsb, h.vendorId, h.productId),
                 LoadString(resources::kIdsCheckFixWinUsb)});
        } else {
            reachable();
        }
    }
    if (facts.handhelds.empty() && !facts.usbVendorHotSync) {
        section.lines.push_back(
            {CheckLevel::kNote, LoadString(resources::kIdsCheckNoHandheld), {}});
    }
    return section;
}

CheckSection UsbSection(const ConnectionFacts& facts, const std::string& chosen,
                        ConnectionReport& report) {
    CheckSection section{LoadString(resources::kIdsCheckUsb), {}};
    if (!facts.linuxServices) return WindowsUsbSection(facts, chosen, report);
    const std::string ruleFix =
        FormatString(resources::kIdsCheckFixRule, facts.udevRuleSource.empty()
                                                      ? "packaging/60-cradlecourier.rules"
                                                      : facts.udevRuleSource.c_str());
    for (const UsbHandheld& h : facts.handhelds) {
        const ports::usb::Model* model = ports::usb::FindModel(h.vendorId, h.productId);
        std::string name = model ? model->name : "?";
        if (model && model->sharedId) {
            name += LoadString(resources::kIdsCheckSharedId);
        }
        section.lines.push_back({CheckLevel::kOk,
                                 FormatString(resources::kIdsCheckHandheld, h.vendorId, h.productId,
                                              name.c_str(), h.location.c_str()),
                                 {}});
        const bool drive =
            std::find(h.drivers.begin(), h.drivers.end(), "usb-storage") != h.drivers.end();
        if (h.openError != 0) {
            section.lines.push_back({CheckLevel::kProblem,
                                     FormatString(resources::kIdsCheckUsbNoPermission, h.vendorId,
                                                  h.productId, h.location.c_str()),
                                     facts.udevRule.empty() ? ruleFix : std::string()});
            if (!facts.udevRule.empty()) {
                section.lines.back().fix = LoadString(resources::kIdsCheckFixLogin);
            }
        } else if (drive) {
            section.lines.push_back(
                {CheckLevel::kNote,
                 FormatString(resources::kIdsCheckDrive, h.vendorId, h.productId),
                 {}});
        } else if (!report.reachable || chosen == ports::kUsbPortName) {
            report.reachable = true;
            report.route = ports::kUsbPortName;
        }
        for (const std::string& driver : h.drivers) {
            if (driver == "usb-storage" || driver == "usbfs") continue;
            section.lines.push_back(
                {CheckLevel::kNote,
                 FormatString(resources::kIdsCheckDriver, h.vendorId, h.productId, driver.c_str()),
                 {}});
        }
    }
    if (facts.handhelds.empty()) {
        section.lines.push_back(
            {CheckLevel::kNote, LoadString(resources::kIdsCheckNoHandheld), {}});
    }
    if (!facts.udevRule.empty()) {
        section.lines.push_back(
            {CheckLevel::kOk,
             FormatString(resources::kIdsCheckRuleInstalled, facts.udevRule.c_str()),
             {}});
    } else {
        section.lines.push_back(
            {CheckLevel::kProblem, LoadString(resources::kIdsCheckRuleMissing), ruleFix});
    }
    return section;
}

CheckSection UserSection(const ConnectionFacts& facts) {
    CheckSection section{LoadString(resources::kIdsCheckUser), {}};
    const char* user = facts.userName.empty() ? "$USER" : facts.userName.c_str();
    if (facts.superUser) {
        section.lines.push_back(
            {CheckLevel::kOk, FormatString(resources::kIdsCheckSuperUser, user), {}});
    } else if (!facts.dialoutExists) {
        section.lines.push_back({CheckLevel::kNote, LoadString(resources::kIdsCheckNoDialout), {}});
    } else if (facts.inDialout) {
        section.lines.push_back(
            {CheckLevel::kOk, FormatString(resources::kIdsCheckInDialout, user), {}});
    } else if (facts.dialoutAfterLogin) {
        section.lines.push_back({CheckLevel::kProblem,
                                 FormatString(resources::kIdsCheckDialoutLater, user),
                                 LoadString(resources::kIdsCheckFixLogin)});
    } else {
        section.lines.push_back({CheckLevel::kProblem,
                                 FormatString(resources::kIdsCheckNotInDialout, user),
                                 FormatString(resources::kIdsCheckFixDialout, user)});
    }
    return section;
}

CheckSection ModemManagerSection(const ConnectionFacts& facts) {
    CheckSection section{LoadString(resources::kIdsCheckModemManager), {}};
    if (facts.modemManager.empty()) {
        section.lines.push_back(
            {CheckLevel::kOk, LoadString(resources::kIdsCheckMmNotRunning), {}});
    } else {
        section.lines.push_back(
            {CheckLevel::kProblem,
             FormatString(resources::kIdsCheckMmRunning, int(facts.modemManager.front().pid)),
             LoadString(resources::kIdsCheckFixModemManager)});
    }
    return section;
}

CheckSection NetSection(const ConnectionFacts& facts, const std::string& chosen,
                        ConnectionReport& report) {
    CheckSection section{LoadString(resources::kIdsCheckNet), {}};
    const NetListenState& net = facts.net;
    const bool loopback = net.address == "127.0.0.1" || net.address == "::1";
    section.lines.push_back(
        {CheckLevel::kOk,
         FormatString(resources::kIdsCheckNetAddress, net.address.c_str(), unsigned(net.port)) +
             LoadString(loopback ? resources::kIdsCheckNetLoopback : resources::kIdsCheckNetOpen),
         {}});
    const std::string otherPort = FormatString(resources::kIdsCheckFixNetPort, net.address.c_str(),
                                               unsigned(net.port) + 1000u);
    if (net.bindError == 0) {
        section.lines.push_back({CheckLevel::kOk, LoadString(resources::kIdsCheckNetFree), {}});
        if (ports::ParseNetPort(chosen)) {
            report.reachable = true;
            report.route = chosen;
        }
    } else if (net.bindError == EADDRINUSE && !net.holders.empty()) {
        const PortHolder& h = net.holders.front();
        section.lines.push_back(
            {CheckLevel::kProblem,
             FormatString(resources::kIdsCheckNetHeld, h.name.c_str(), int(h.pid)), otherPort});
    } else if (net.bindError == EADDRINUSE) {
        section.lines.push_back(
            {CheckLevel::kProblem, LoadString(resources::kIdsCheckNetInUse), otherPort});
    } else {
        section.lines.push_back(
            {CheckLevel::kProblem,
             FormatString(resources::kIdsCheckNetError, platform::ErrorText(net.bindError).c_str()),
             {}});
    }
    return section;
}

}  // namespace

void NetListenAddress(const ISettingsStore& settings, const std::string& portName,
                      std::string& address, uint16_t& port) {
    const auto endpoint = ports::ParseNetPort(SessionPortName(settings, portName));
    address = endpoint ? endpoint->host : "127.0.0.1";
    port = endpoint ? endpoint->port : 14238;
}

std::string SessionPortName(const ISettingsStore& settings, const std::string& portName) {
    if (portName == ports::kNetPortName && settings.ReadInt(settings::kCom, "NetListen", 0) == 1) {
        return "net:0.0.0.0:14238";
    }
    return portName;
}

ConnectionReport BuildConnectionReport(const ConnectionFacts& facts, const ISettingsStore& settings,
                                       const std::string& chosenPort) {
    ConnectionReport report;
    report.sections.push_back(SerialSection(facts, settings, chosenPort, report));
    report.sections.push_back(UsbSection(facts, chosenPort, report));
    if (facts.linuxServices) {
        report.sections.push_back(UserSection(facts));
        report.sections.push_back(ModemManagerSection(facts));
    }
    report.sections.push_back(NetSection(facts, SessionPortName(settings, chosenPort), report));
    return report;
}

std::string RenderConnectionReport(const ConnectionReport& report) {
    std::string text = std::string(LoadString(resources::kIdsCheckTitle)) + "\n";
    for (const CheckSection& section : report.sections) {
        text += "\n" + section.title + "\n";
        for (const CheckLine& line : section.lines) {
            const int mark = line.level == CheckLevel::kOk     ? resources::kIdsCheckOk
                             : line.level == CheckLevel::kNote ? resources::kIdsCheckNote
                                                               : resources::kIdsCheckProblem;
            text += std::string("  ") + LoadString(mark) + " " + line.text + "\n";
            if (!line.fix.empty()) {
                text += "      " + FormatString(resources::kIdsCheckFix, line.fix.c_str()) + "\n";
            }
        }
    }
    text += "\n";
    text += report.reachable ? FormatString(resources::kIdsCheckReachable, report.route.c_str())
                             : std::string(LoadString(resources::kIdsCheckUnreachable));
    text += "\n";
    return text;
}

std::string SoleUsbSerialAdapter(const ConnectionFacts& facts) {
    std::string sole;
    int count = 0;
    for (const SerialDevice& d : facts.serial) {
        if (d.isLink || !d.IsUsbSerialAdapter()) continue;
        ++count;
        sole = d.path;
    }
    return count == 1 ? sole : std::string();
}

std::string PortBoxLabel(const ConnectionFacts& facts, const ISettingsStore& settings,
                         const std::string& portName) {
    if (portName == ports::kUsbPortName) {
        for (const UsbHandheld& h : facts.handhelds) {
            if (const ports::usb::Model* model = ports::usb::FindModel(h.vendorId, h.productId)) {
                return FormatString(resources::kIdsPortLabelUsbFound, portName.c_str(),
                                    model->name);
            }
        }
        if (facts.usbVendorHotSync) {
            return FormatString(resources::kIdsPortLabelUsbVendor, portName.c_str());
        }
        return FormatString(resources::kIdsPortLabelUsbNone, portName.c_str());
    }
    if (portName == ports::kNetPortName) {
        std::string address;
        uint16_t port = 0;
        NetListenAddress(settings, portName, address, port);
        return FormatString(resources::kIdsPortLabelNet, portName.c_str(), address.c_str(),
                            unsigned(port));
    }
    const std::string path = PortDevicePath(settings, portName);
    if (path.empty()) return portName;
    const SerialDevice* d = FindSerial(facts, path);
    int id = resources::kIdsPortLabelDevice;
    if (!d || d->noHardware) {
        id = resources::kIdsPortLabelMissing;
    } else if (d->driver == "visor") {
        id = resources::kIdsPortLabelHandheld;
    } else if (d->IsUsbSerialAdapter()) {
        id = resources::kIdsPortLabelAdapter;
    }
    return FormatString(id, portName.c_str(), path.c_str());
}
