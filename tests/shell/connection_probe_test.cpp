// The Linux connection probe over a folder shaped as /dev, /sys, /proc and /etc are, and the
// readers of the system's texts it uses.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "shell/linux/linux_connection_probe.h"
#include "shell/linux/system_text.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

TEST(SystemText, NumbersGroupsAndSockets) {
    EXPECT_EQ(systext::ParseHex16("0830\n"), 0x0830);
    EXPECT_EQ(systext::ParseHex16("DF00"), 0xDF00);
    EXPECT_FALSE(systext::ParseHex16("10000"));
    EXPECT_FALSE(systext::ParseHex16("08 30"));
    EXPECT_FALSE(systext::ParseHex16(""));
    EXPECT_EQ(systext::ParseDecimal(" 7\n"), 7u);
    EXPECT_FALSE(systext::ParseDecimal("99999999999"));
    EXPECT_FALSE(systext::ParseDecimal("-1"));

    const std::string group = "root:x:0:\r\ndialout:x:20:alice, bob,\nbroken:x:zz:carol\n";
    const auto dialout = systext::FindGroup(group, "dialout");
    ASSERT_TRUE(dialout);
    EXPECT_EQ(dialout->gid, 20u);
    EXPECT_EQ(dialout->members, (std::vector<std::string>{"alice", "bob"}));
    EXPECT_FALSE(systext::FindGroup(group, "broken"));
    EXPECT_FALSE(systext::FindGroup(group, "plugdev"));

    const std::string tcp =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode\n"
        "   0: 0100007F:379E 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 "
        "       0 424242 1 0000000000000000 100 0 0 10 0\n"
        "   1: 0100007F:379E 0100007F:9C40 01 00000000:00000000 00:00000000 00000000  1000 "
        "       0 515151 1 0000000000000000 100 0 0 10 0\n"
        "   2: garbage\n";
    EXPECT_EQ(systext::ListeningInodes(tcp, 14238), (std::vector<uint64_t>{424242}));
    EXPECT_TRUE(systext::ListeningInodes(tcp, 14239).empty());
}

class LinuxProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("cc-probe-" + std::to_string(::getpid()));
        fs::remove_all(root);
        // Serial ports: a UART, a node without one, an FTDI adapter, an unrelated name.
        Write(root / "dev/ttyS0", "");
        Write(root / "dev/ttyS1", "");
        Write(root / "dev/ttyS10", "");
        Write(root / "dev/ttyUSB0", "");
        Write(root / "dev/ttyUSBx", "");
        Write(root / "dev/null", "");
        Write(root / "sys/class/tty/ttyS0/type", "4\n");
        Link(root / "sys/class/tty/ttyS0/device/driver",
             "../../../bus/platform/drivers/serial8250");
        Write(root / "sys/class/tty/ttyS1/type", "0\n");
        const fs::path adapter = root / "sys/devices/pci0000:00/usb1/1-1";
        Write(adapter / "idVendor", "0403\n");
        Write(adapter / "idProduct", "6001\n");
        Link(adapter / "1-1:1.0/ttyUSB0/driver", "../../../../../bus/usb-serial/drivers/ftdi_sio");
        Link(root / "sys/class/tty/ttyUSB0/device", adapter / "1-1:1.0/ttyUSB0");
        Link(root / "dev/serial/by-id/usb-FTDI-if00-port0", "../../ttyUSB0");
        Link(root / "dev/serial/by-id/usb-Gone-if00-port0", "../../ttyUSB7");
        // A Tungsten on USB behind a hub, its first interface held by visor.
        const fs::path tungsten = root / "sys/devices/pci0000:00/usb1/1-1.4";
        Write(tungsten / "idVendor", "0830\n");
        Write(tungsten / "idProduct", "0060\n");
        Write(tungsten / "busnum", "1\n");
        Write(tungsten / "devnum", "7\n");
        Link(tungsten / "1-1.4:1.0/driver", "../../../../bus/usb/drivers/visor");
        Link(root / "sys/bus/usb/devices/1-1.4", tungsten);
        Link(root / "sys/bus/usb/devices/1-1.4:1.0", tungsten / "1-1.4:1.0");
        Link(root / "sys/bus/usb/devices/1-1", adapter);
        Write(root / "dev/bus/usb/001/007", "");
        // ModemManager holds the adapter; the rule is installed; the user's groups.
        Write(root / "proc/412/comm", "ModemManager\n");
        Link(root / "proc/412/fd/9", root / "dev/ttyUSB0");
        Write(root / "etc/udev/rules.d/60-cradlecourier.rules", "");
        Write(root / "etc/group", "dialout:x:20:someone\n");
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
};

TEST_F(LinuxProbe, SerialDevicesTheirDriversLinksAndHolders) {
    CLinuxConnectionProbe probe(root.string(), "/src/rule");
    const ConnectionFacts f = probe.Probe(true, "127.0.0.1", 0);
    std::vector<std::string> paths;
    for (const auto& d : f.serial) paths.push_back(d.path);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS10", "/dev/ttyUSB0",
                                        "/dev/serial/by-id/usb-FTDI-if00-port0",
                                        "/dev/serial/by-id/usb-Gone-if00-port0"}));
    EXPECT_EQ(f.serial[0].driver, "serial8250");
    EXPECT_FALSE(f.serial[0].noHardware);
    EXPECT_TRUE(f.serial[1].noHardware);
    const SerialDevice& usb0 = f.serial[3];
    EXPECT_EQ(usb0.driver, "ftdi_sio");
    EXPECT_EQ(usb0.vendorId, 0x0403);
    EXPECT_EQ(usb0.productId, 0x6001);
    EXPECT_TRUE(usb0.IsUsbSerialAdapter());
    ASSERT_EQ(usb0.holders.size(), 1u);
    EXPECT_EQ(usb0.holders[0].name, "ModemManager");
    EXPECT_EQ(f.serial[4].linkTarget, "/dev/ttyUSB0");
    EXPECT_EQ(f.serial[4].driver, "ftdi_sio");
    EXPECT_TRUE(f.serial[5].linkTarget.empty());  // points nowhere
    EXPECT_EQ(f.serial[5].openError, ENOENT);
    EXPECT_EQ(f.udevRule, "/etc/udev/rules.d/60-cradlecourier.rules");
    EXPECT_EQ(f.udevRuleSource, "/src/rule");
    ASSERT_EQ(f.modemManager.size(), 1u);
    EXPECT_EQ(f.modemManager[0].pid, 412);
}

TEST_F(LinuxProbe, HandheldsOnUsbWithTheirNodeAndDrivers) {
    CLinuxConnectionProbe probe(root.string());
    const ConnectionFacts f = probe.Probe(false, "", 0);
    ASSERT_EQ(f.handhelds.size(), 1u);  // the adapter is no handheld
    EXPECT_EQ(f.handhelds[0].vendorId, 0x0830);
    EXPECT_EQ(f.handhelds[0].location, "1-1.4");
    EXPECT_EQ(f.handhelds[0].node, "/dev/bus/usb/001/007");
    EXPECT_EQ(f.handhelds[0].openError, 0);
    EXPECT_EQ(f.handhelds[0].drivers, (std::vector<std::string>{"visor"}));
    // Without thorough: no holders, groups or network port.
    EXPECT_TRUE(f.modemManager.empty());
    for (const auto& d : f.serial) EXPECT_TRUE(d.holders.empty());
    // A node gone missing.
    fs::remove(root / "dev/bus/usb/001/007");
    EXPECT_EQ(probe.Probe(false, "", 0).handhelds[0].openError, ENOENT);
}

TEST_F(LinuxProbe, NetPortInUseAndWhoHasIt) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const uint16_t port = ntohs(address.sin_port);
    char line[200];
    std::snprintf(line, sizeof line,
                  "   0: 0100007F:%04X 00000000:0000 0A 00000000:00000000 00:00000000 00000000  "
                  "1000        0 777777 1\n",
                  port);
    Write(root / "proc/net/tcp", std::string("  sl  local_address ...\n") + line);
    Write(root / "proc/900/comm", "othersync\n");
    Link(root / "proc/900/fd/3", "socket:[777777]");

    CLinuxConnectionProbe probe(root.string());
    ConnectionFacts f = probe.Probe(true, "127.0.0.1", port);
    EXPECT_EQ(f.net.bindError, EADDRINUSE);
    ASSERT_EQ(f.net.holders.size(), 1u);
    EXPECT_EQ(f.net.holders[0].name, "othersync");
    ::close(listener);
    f = probe.Probe(true, "127.0.0.1", port);
    EXPECT_EQ(f.net.bindError, 0);
    EXPECT_EQ(probe.Probe(true, "not an address", 14238).net.bindError, EINVAL);
}

TEST_F(LinuxProbe, AMissingOrEmptySystemIsNothingFound) {
    CLinuxConnectionProbe probe((root / "nothing").string());
    const ConnectionFacts f = probe.Probe(true, "127.0.0.1", 0);
    EXPECT_TRUE(f.serial.empty());
    EXPECT_TRUE(f.handhelds.empty());
    EXPECT_TRUE(f.udevRule.empty());
    EXPECT_FALSE(f.dialoutExists);
}

}  // namespace
