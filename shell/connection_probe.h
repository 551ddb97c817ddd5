// What a connection to a handheld depends on, as the system shows it now: the serial
// devices and who may open them, the Palm OS handhelds on USB and the drivers bound to them,
// our udev rule, the user's groups, ModemManager, the network HotSync port. Probed behind an
// interface (the Linux probe reads /dev, /sys and /proc; tests fill the facts in), so the
// report built from the facts (shell/connection_report.h) is the same on every system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/port_holder.h"

// A serial device, or a /dev/serial/by-id link to one.
struct SerialDevice {
    std::string path;
    bool isLink = false;
    std::string linkTarget;   // a link's device; empty when it points nowhere
    int openError = 0;        // 0 when this user may open it for reading and writing, else errno
    bool noHardware = false;  // a ttyS node without a UART behind it
    std::vector<PortHolder> holders;
    std::string driver;     // the kernel's driver behind it: "ftdi_sio", "visor", "serial8250"
    uint16_t vendorId = 0;  // of the USB device behind it; 0 for none
    uint16_t productId = 0;

    // A USB device that makes a serial port (a cradle's adapter), not a handheld's own one.
    bool IsUsbSerialAdapter() const { return vendorId != 0 && driver != "visor"; }
};

// A Palm OS handheld on USB (one of our model table).
struct UsbHandheld {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string location;              // "1-1.4"
    std::string node;                  // /dev/bus/usb/001/005
    int openError = 0;                 // as above
    std::vector<std::string> drivers;  // bound to its interfaces ("visor", "usb-storage")
};

// Where network HotSync would listen, and whether it can.
struct NetListenState {
    std::string address;
    uint16_t port = 0;
    int bindError = 0;  // 0 when the port is free
    std::vector<PortHolder> holders;
};

struct ConnectionFacts {
    std::vector<SerialDevice> serial;
    std::vector<UsbHandheld> handhelds;
    std::string udevRule;        // our installed rule's path; empty when none is installed
    std::string udevRuleSource;  // where the rule to install is found
    std::string userName;
    bool superUser = false;  // root: every device opens, groups or not
    bool dialoutExists = true;
    bool inDialout = false;                // this login has the group
    bool dialoutAfterLogin = false;        // the group lists the user, this login does not have it
    std::vector<PortHolder> modemManager;  // running ModemManager processes
    NetListenState net;
    // The services of a Linux desktop: USB through libusb, udev, the group dialout and
    // ModemManager. Windows has none of them: its report leaves them out and tells the
    // Windows ways to USB instead (below; handhelds as WinUSB sees them, "WinUSB" among the
    // drivers of those it opens).
    bool linuxServices = true;
    bool usbSetupApi = false;       // SETUPAPI.DLL with its functions
    bool usbVendorDriver = false;   // the handheld vendor's driver is installed
    bool usbVendorHotSync = false;  // ... with a handheld in HotSync on it now
    bool usbWinUsb = false;         // winusb.dll is there
};

class IConnectionProbe {
  public:
    virtual ~IConnectionProbe() = default;
    // The facts now. Without thorough, only what the port box shows: the devices and the
    // handhelds, no holders, groups or network port.
    virtual ConnectionFacts Probe(bool thorough, const std::string& netAddress,
                                  uint16_t netPort) = 0;
};

// The facts as they are, handed back as they were given (tests, and a report kept on screen).
class CFixedConnectionProbe final : public IConnectionProbe {
  public:
    explicit CFixedConnectionProbe(ConnectionFacts facts) : m_facts(std::move(facts)) {}
    ConnectionFacts Probe(bool, const std::string&, uint16_t) override {
        ++m_nProbes;
        return m_facts;
    }
    ConnectionFacts m_facts;
    int m_nProbes = 0;
};
