// The connection probe on Linux: serial devices from /dev (ttyS, ttyUSB, ttyACM and the
// /dev/serial/by-id links) with their drivers from /sys/class/tty, handhelds from
// /sys/bus/usb/devices, holders from /proc/*/fd, the groups from /etc/group and this login,
// ModemManager from /proc/*/comm, the network port by trying to bind it.
#pragma once

#include <string>

#include "shell/connection_probe.h"

class CLinuxConnectionProbe final : public IConnectionProbe {
  public:
    // root: "/" (a folder of the same shape in tests). ruleSource: where our udev rule is
    // found for the user to install (empty: the source tree's, while it is there).
    explicit CLinuxConnectionProbe(std::string root = "/", std::string ruleSource = {});

    ConnectionFacts Probe(bool thorough, const std::string& netAddress, uint16_t netPort) override;

  private:
    std::string Path(const std::string& absolute) const;
    void ProbeSerial(ConnectionFacts& facts, bool thorough) const;
    void ProbeUsb(ConnectionFacts& facts) const;
    void ProbeUser(ConnectionFacts& facts) const;
    void ProbeNet(ConnectionFacts& facts, const std::string& address, uint16_t port) const;

    std::string m_root;
    std::string m_ruleSource;
};
