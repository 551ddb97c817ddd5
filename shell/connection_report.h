// The connection check: from the facts a probe found (shell/connection_probe.h) to a report
// in the user's language, each problem with the one command or setting that mends it, and
// whether a handheld could be reached now. The console's --doctor prints it, the window's
// "Check connection..." shows it; both through here, so they say the same. The port box's
// labels and the busy line's hint about a USB-serial adapter come from the same facts.
#pragma once

#include <string>
#include <vector>

#include "shell/connection_probe.h"

class ISettingsStore;

enum class CheckLevel { kOk, kNote, kProblem };

struct CheckLine {
    CheckLevel level = CheckLevel::kOk;
    std::string text;
    std::string fix;  // the command or setting that mends a problem; empty for none
};

struct CheckSection {
    std::string title;
    std::vector<CheckLine> lines;
};

struct ConnectionReport {
    std::vector<CheckSection> sections;
    bool reachable = false;  // a handheld could be reached now
    std::string route;       // how: "USB", "COM1 (/dev/ttyUSB0)", "NET"
};

// The report for the port chosen (a port name as the command line takes it).
ConnectionReport BuildConnectionReport(const ConnectionFacts& facts, const ISettingsStore& settings,
                                       const std::string& chosenPort);
// As text, one item a line, fixes indented below their problem.
std::string RenderConnectionReport(const ConnectionReport& report);

// The address and port NET listens on: the loopback address unless the setting
// "com"/"NetListen" is 1, then every interface; a "net:ADDRESS:PORT" name as it says.
void NetListenAddress(const ISettingsStore& settings, const std::string& portName,
                      std::string& address, uint16_t& port);
// The port name a session is made for: "NET" becomes "net:0.0.0.0:14238" when the setting
// opens it to the network; every other name stays.
std::string SessionPortName(const ISettingsStore& settings, const std::string& portName);

// The port box's text for a port name: "COM1 — /dev/ttyUSB0 (USB-serial adapter)",
// "USB — Palm Tungsten T ...", "NET — 127.0.0.1:14238". The name itself leads, as the
// settings and the command line know it.
std::string PortBoxLabel(const ConnectionFacts& facts, const ISettingsStore& settings,
                         const std::string& portName);

// The one USB-serial adapter present, when there is exactly one; empty otherwise.
std::string SoleUsbSerialAdapter(const ConnectionFacts& facts);
