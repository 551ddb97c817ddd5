// The connection check's report from given facts: each problem with its fix, whether a
// handheld can be reached, both languages; the port box's labels and the busy line's hint
// about a sole USB-serial adapter; where NET listens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "resources/strings/string_table.h"
#include "shell/com_ports.h"
#include "shell/connection_report.h"
#include "shell/memory_settings.h"

namespace {

SerialDevice Device(const std::string& path, const std::string& driver = "serial8250",
                    uint16_t vendor = 0, uint16_t product = 0) {
    SerialDevice d;
    d.path = path;
    d.driver = driver;
    d.vendorId = vendor;
    d.productId = product;
    return d;
}

SerialDevice Adapter(const std::string& path) {
    return Device(path, "ftdi_sio", 0x0403, 0x6001);
}

// A sound machine: a built-in port, our rule, the user in dialout, NET free.
ConnectionFacts Sound() {
    ConnectionFacts f;
    f.serial.push_back(Device("/dev/ttyS0"));
    f.udevRule = "/usr/lib/udev/rules.d/60-cradlecourier.rules";
    f.udevRuleSource = "/src/packaging/60-cradlecourier.rules";
    f.userName = "jane";
    f.inDialout = true;
    f.net = {"127.0.0.1", 14238, 0, {}};
    return f;
}

std::vector<CheckLine> Problems(const ConnectionReport& r) {
    std::vector<CheckLine> lines;
    for (const auto& s : r.sections) {
        for (const auto& l : s.lines) {
            if (l.level == CheckLevel::kProblem) lines.push_back(l);
        }
    }
    return lines;
}

class ConnectionCheck : public ::testing::Test {
  protected:
    void SetUp() override { resources::SetLanguage(resources::Language::kEnglish); }
    void TearDown() override { resources::SetLanguage(resources::Language::kEnglish); }
    CMemorySettings settings;
};

TEST_F(ConnectionCheck, ASoundMachineHasNoProblemAndReachesTheChosenPort) {
    const ConnectionReport r = BuildConnectionReport(Sound(), settings, "COM1");
    EXPECT_TRUE(Problems(r).empty());
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.route, "COM1 (/dev/ttyS0)");
    const std::string text = RenderConnectionReport(r);
    EXPECT_NE(text.find("/dev/ttyS0 (built in, driver serial8250) is COM1: may be opened"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("A handheld can be reached now: COM1 (/dev/ttyS0)."), std::string::npos);
    // USB chosen with no handheld there: nothing can be reached.
    EXPECT_FALSE(BuildConnectionReport(Sound(), settings, "USB").reachable);
}

TEST_F(ConnectionCheck, EachProblemComesWithItsFix) {
    ConnectionFacts f = Sound();
    f.serial.clear();
    SerialDevice held = Adapter("/dev/ttyUSB0");
    held.holders = {{412, "ModemManager"}};
    f.serial.push_back(held);
    SerialDevice denied = Device("/dev/ttyUSB1", "visor", 0x082D, 0x0100);
    denied.openError = EACCES;
    f.serial.push_back(denied);
    SerialDevice byMinicom = Device("/dev/ttyS1");
    byMinicom.holders = {{77, "minicom"}};
    f.serial.push_back(byMinicom);
    SerialDevice nowhere;
    nowhere.path = "/dev/serial/by-id/usb-Prolific-if00";
    nowhere.isLink = true;
    f.serial.push_back(nowhere);
    f.handhelds.push_back({0x0830, 0x0060, "1-1.4", "/dev/bus/usb/001/007", EACCES, {"visor"}});
    f.udevRule.clear();
    f.inDialout = false;
    f.dialoutAfterLogin = false;
    f.modemManager = {{412, "ModemManager"}};
    f.net = {"127.0.0.1", 14238, EADDRINUSE, {{900, "othersync"}}};

    const ConnectionReport r = BuildConnectionReport(f, settings, "COM1");
    EXPECT_FALSE(r.reachable);
    const auto fixOf = [&](const std::string& part) {
        for (const CheckLine& l : Problems(r)) {
            if (l.text.find(part) != std::string::npos) return l.fix;
        }
        return std::string("(no such problem)");
    };
    // COM1 goes nowhere, and the one USB-serial adapter is there to choose instead.
    EXPECT_EQ(fixOf("chosen port COM1"),
              "set Device1=/dev/ttyUSB0 in section [com] of ~/.config/Cradlecourier/CCourier.conf");
    EXPECT_EQ(fixOf("/dev/ttyUSB0"), "sudo systemctl stop ModemManager");
    EXPECT_EQ(fixOf("/dev/ttyUSB1"), "sudo adduser jane dialout, then log out and in again");
    EXPECT_EQ(fixOf("/dev/ttyS1"), "close minicom (pid 77)");
    EXPECT_EQ(fixOf("points nowhere"), "plug the device in again");
    EXPECT_EQ(fixOf("no permission to open it"),
              "sudo install -m 0644 /src/packaging/60-cradlecourier.rules /etc/udev/rules.d/ && "
              "sudo udevadm control --reload-rules && sudo udevadm trigger");
    EXPECT_EQ(fixOf("udev rule is not installed"), fixOf("no permission to open it"));
    EXPECT_EQ(fixOf("not in the group dialout"),
              "sudo adduser jane dialout, then log out and in again");
    EXPECT_EQ(fixOf("running (pid 412)"), "sudo systemctl stop ModemManager");
    EXPECT_EQ(fixOf("in use by othersync (pid 900)"), "another port: --port net:127.0.0.1:15238");
    // Every problem says how to mend it.
    for (const CheckLine& l : Problems(r)) EXPECT_FALSE(l.fix.empty()) << l.text;
    // The kernel's driver is told, not counted as a problem.
    const std::string text = RenderConnectionReport(r);
    EXPECT_NE(text.find("the kernel's driver visor has it"), std::string::npos) << text;
}

TEST_F(ConnectionCheck, WhatCountsAsReachable) {
    // A USB handheld that may be opened.
    ConnectionFacts f = Sound();
    f.serial.clear();
    f.handhelds.push_back({0x0830, 0x0061, "3-1.2", "/dev/bus/usb/003/009", 0, {}});
    ConnectionReport r = BuildConnectionReport(f, settings, "USB");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.route, "USB");
    // The shared id names the family and says the handheld tells which model it is.
    EXPECT_NE(RenderConnectionReport(r).find("the handheld tells which"), std::string::npos);
    // One plugged in as a drive is not ready.
    f.handhelds.front().drivers = {"usb-storage"};
    EXPECT_FALSE(BuildConnectionReport(f, settings, "USB").reachable);
    // A port without a UART behind it, or one held, reaches nothing.
    f = Sound();
    f.serial.front().noHardware = true;
    EXPECT_FALSE(BuildConnectionReport(f, settings, "COM1").reachable);
    f.serial.front().noHardware = false;
    f.serial.front().holders = {{5, "jpilot"}};
    EXPECT_FALSE(BuildConnectionReport(f, settings, "COM1").reachable);
    // A handheld's own serial port (visor) is the handheld itself.
    f = Sound();
    f.serial.push_back(Device("/dev/ttyUSB1", "visor", 0x082D, 0x0100));
    r = BuildConnectionReport(f, settings, "USB");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.route, "/dev/ttyUSB1");
    // NET is reachable when its port is free, on the address the setting opens.
    settings.WriteInt("com", "NetListen", 1);
    r = BuildConnectionReport(Sound(), settings, "NET");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.route, "net:0.0.0.0:14238");
    f = Sound();
    f.net.bindError = EADDRINUSE;
    EXPECT_FALSE(BuildConnectionReport(f, settings, "NET").reachable);
}

TEST_F(ConnectionCheck, GermanToo) {
    resources::SetLanguage(resources::Language::kGerman);
    ConnectionFacts f = Sound();
    f.inDialout = false;
    f.dialoutAfterLogin = true;
    const std::string text = RenderConnectionReport(BuildConnectionReport(f, settings, "COM1"));
    EXPECT_NE(text.find("Verbindungsprüfung"), std::string::npos);
    EXPECT_NE(text.find("[Problem] jane wurde der Gruppe dialout hinzugefügt"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Abhilfe: ab- und wieder anmelden"), std::string::npos);
    EXPECT_NE(text.find("Ein Handheld ist jetzt erreichbar"), std::string::npos);
}

TEST_F(ConnectionCheck, PortBoxLabelsTellWhereEachPortGoes) {
    ConnectionFacts f = Sound();
    f.serial.push_back(Adapter("/dev/ttyUSB0"));
    f.serial.push_back(Device("/dev/ttyUSB1", "visor", 0x082D, 0x0100));
    settings.WriteText("com", "Device2", "/dev/ttyUSB0");
    settings.WriteText("com", "Device3", "/dev/ttyUSB1");
    EXPECT_EQ(PortBoxLabel(f, settings, "COM1"), "COM1 — /dev/ttyS0");
    EXPECT_EQ(PortBoxLabel(f, settings, "COM2"), "COM2 — /dev/ttyUSB0 (USB-serial adapter)");
    EXPECT_EQ(PortBoxLabel(f, settings, "COM3"), "COM3 — /dev/ttyUSB1 (handheld)");
    EXPECT_EQ(PortBoxLabel(f, settings, "COM4"), "COM4 — /dev/ttyS3 (missing)");
    EXPECT_EQ(PortBoxLabel(f, settings, "USB"), "USB — no handheld now");
    EXPECT_EQ(PortBoxLabel(f, settings, "NET"), "NET — 127.0.0.1:14238");
    f.handhelds.push_back({0x082D, 0x0100, "1-2", "", 0, {}});
    EXPECT_EQ(PortBoxLabel(f, settings, "USB"), "USB — Handspring Visor, Treo 300");
    resources::SetLanguage(resources::Language::kGerman);
    EXPECT_EQ(PortBoxLabel(f, settings, "COM2"), "COM2 — /dev/ttyUSB0 (USB-Seriell-Adapter)");
    EXPECT_EQ(PortBoxLabel(f, settings, "COM4"), "COM4 — /dev/ttyS3 (fehlt)");
}

TEST_F(ConnectionCheck, TheBusyLineNamesASoleAdapterAndHowToChooseIt) {
    ConnectionFacts f = Sound();
    f.serial.push_back(Adapter("/dev/ttyUSB0"));
    SerialDevice link;
    link.path = "/dev/serial/by-id/usb-FTDI-if00";
    link.isLink = true;
    link.linkTarget = "/dev/ttyUSB0";
    f.serial.push_back(link);  // the adapter's by-id link is the same adapter
    const std::string sole = SoleUsbSerialAdapter(f);
    EXPECT_EQ(sole, "/dev/ttyUSB0");
    EXPECT_EQ(PortProblemDetail(ENOENT, "COM1", "/dev/ttyS0", nullptr, sole),
              " (no such device /dev/ttyS0; USB-serial adapter: /dev/ttyUSB0, chosen with "
              "Device1=/dev/ttyUSB0 in [com])");
    resources::SetLanguage(resources::Language::kGerman);
    EXPECT_EQ(PortProblemDetail(ENOENT, "com2", "/dev/ttyS1", nullptr, sole),
              " (Gerät /dev/ttyS1 gibt es nicht; USB-Seriell-Adapter: /dev/ttyUSB0, zu wählen "
              "mit Device2=/dev/ttyUSB0 in [com])");
    resources::SetLanguage(resources::Language::kEnglish);
    // Not missing, a path, COM9, or two adapters: the plain words.
    EXPECT_EQ(PortProblemDetail(EACCES, "COM1", "/dev/ttyS0", nullptr, sole),
              PortProblemDetail(EACCES, "/dev/ttyS0", nullptr));
    EXPECT_EQ(PortProblemDetail(ENOENT, "/dev/ttyS0", "/dev/ttyS0", nullptr, sole),
              " (no such device /dev/ttyS0)");
    EXPECT_EQ(PortProblemDetail(ENOENT, "COM9", "/dev/ttyS8", nullptr, sole),
              " (no such device /dev/ttyS8)");
    f.serial.push_back(Adapter("/dev/ttyUSB2"));
    EXPECT_EQ(SoleUsbSerialAdapter(f), "");
}

TEST_F(ConnectionCheck, NetListensOnTheLoopbackUnlessTheSettingOpensIt) {
    std::string address;
    uint16_t port = 0;
    NetListenAddress(settings, "NET", address, port);
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, 14238);
    EXPECT_EQ(SessionPortName(settings, "NET"), "NET");
    settings.WriteInt("com", "NetListen", 1);
    NetListenAddress(settings, "NET", address, port);
    EXPECT_EQ(address, "0.0.0.0");
    EXPECT_EQ(SessionPortName(settings, "NET"), "net:0.0.0.0:14238");
    // An address given is taken as it is; other ports are not touched.
    NetListenAddress(settings, "net:127.0.0.1:15238", address, port);
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, 15238);
    EXPECT_EQ(SessionPortName(settings, "COM1"), "COM1");
}

}  // namespace

// A system without the Linux desktop's services (Windows): its ports in its own words, no
// groups or ModemManager, and USB by the Windows ways.
TEST_F(ConnectionCheck, WithoutTheLinuxServicesTheReportKeepsToPortsAndNetwork) {
    ConnectionFacts f;
    f.linuxServices = false;
    f.usbSetupApi = f.usbWinUsb = true;
    f.serial.push_back(Device(ports::DefaultComPath(1), ""));
    SerialDevice held = Device(ports::DefaultComPath(3), "");
    held.openError = EBUSY;
    f.serial.push_back(held);
    f.net = {"127.0.0.1", 14238, 0, {}};
    const ConnectionReport r = BuildConnectionReport(f, settings, "COM3");
    ASSERT_EQ(r.sections.size(), 3u);
    EXPECT_EQ(r.sections[0].title, "Serial ports");
    EXPECT_EQ(r.sections[1].title, "Handhelds on USB");
    EXPECT_EQ(r.sections[2].title, "Network HotSync");
    ASSERT_EQ(r.sections[1].lines.size(), 3u);
    EXPECT_EQ(r.sections[1].lines[0].text, "the handheld vendor's USB driver is not installed");
    EXPECT_EQ(r.sections[1].lines[1].text, "WinUSB is available for handhelds bound to it");
    EXPECT_EQ(r.sections[1].lines[2].level, CheckLevel::kNote);  // no handheld now
    EXPECT_FALSE(r.reachable);
    const std::vector<CheckLine> problems = Problems(r);
    ASSERT_FALSE(problems.empty());
    // The chosen port's reason, with no driver guessed at.
    EXPECT_EQ(problems.front().text.find("chosen port COM3"), 0u) << problems.front().text;
    EXPECT_EQ(problems.front().text.find("driver"), std::string::npos) << problems.front().text;
    const std::string text = RenderConnectionReport(r);
    EXPECT_EQ(text.find("dialout"), std::string::npos) << text;
    EXPECT_EQ(text.find("udev"), std::string::npos) << text;
    // The first port opens.
    const ConnectionReport first = BuildConnectionReport(f, settings, "COM1");
    EXPECT_TRUE(first.reachable);
}

// USB on Windows: which way reaches the handheld, and what to do about one WinUSB cannot open.
TEST_F(ConnectionCheck, WindowsUsbTellsTheDriverWayAndHowToBindWinUsb) {
    ConnectionFacts f;
    f.linuxServices = false;
    f.net = {"127.0.0.1", 14238, 0, {}};
    // Without SetupAPI nothing else is looked at.
    ConnectionReport r = BuildConnectionReport(f, settings, "USB");
    ASSERT_EQ(r.sections[1].lines.size(), 1u);
    EXPECT_EQ(r.sections[1].lines[0].level, CheckLevel::kProblem);
    EXPECT_NE(r.sections[1].lines[0].text.find("SETUPAPI.DLL"), std::string::npos);

    // The vendor's driver with a handheld in HotSync: USB reaches it.
    f.usbSetupApi = f.usbVendorDriver = f.usbVendorHotSync = true;
    r = BuildConnectionReport(f, settings, "USB");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.route, "USB");
    EXPECT_EQ(r.sections[1].lines[1].text, "WinUSB is not available (winusb.dll is missing)");
    EXPECT_EQ(PortBoxLabel(f, settings, "USB"), "USB — a handheld on the vendor's driver");

    // A handheld WinUSB cannot open: a problem, with how to bind it.
    f.usbVendorDriver = f.usbVendorHotSync = false;
    f.usbWinUsb = true;
    UsbHandheld h;
    h.vendorId = 0x0830;
    h.productId = 0x0060;
    h.location = "\\\\?\\usb#vid_0830&pid_0060#1#{x}";
    h.openError = 5;
    f.handhelds.push_back(h);
    r = BuildConnectionReport(f, settings, "USB");
    EXPECT_FALSE(r.reachable);
    const std::vector<CheckLine> problems = Problems(r);
    const auto bind = std::find_if(problems.begin(), problems.end(), [](const CheckLine& l) {
        return l.text.find("WinUSB cannot open it") != std::string::npos;
    });
    ASSERT_NE(bind, problems.end());
    EXPECT_NE(bind->fix.find("Zadig"), std::string::npos);
    // Once bound, it is reachable.
    f.handhelds[0].openError = 0;
    r = BuildConnectionReport(f, settings, "USB");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.route, "USB");
}
