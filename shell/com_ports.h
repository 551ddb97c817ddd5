// Port names and the devices behind them, and what to tell the user when a port does not
// open. On Linux "COM1" ... "COM8" name the device in setting "com"/"Device1" ... "Device8"
// when it is there (a USB-serial cradle: Device1=/dev/ttyUSB0), else /dev/ttyS0 ...
// /dev/ttyS7; higher numbers (from the command line) go on the same way. On Windows they are
// the communication ports themselves. The window and the console front end both map ports
// through here; the system's rules are in com_ports_posix.cpp and com_ports_win32.cpp.
#pragma once

#include <string>

#include "session/link/port_transport.h"

class ISettingsStore;
class IPortHolderFinder;

// The device of COM port n; empty for n < 1.
std::string ComDevicePath(const ISettingsStore& settings, int n);
// ComDevicePath as the session's mapper. The settings must outlive it.
ports::ComPathMapper MakeComPathMapper(const ISettingsStore& settings);
// The device a port name opens ("COMn" mapped, a path as it stands); empty for any other
// name (USB, network).
std::string PortDevicePath(const ISettingsStore& settings, const std::string& portName);

// Why a port did not open, in plain words, to follow the "port %s busy" text: " (held by
// ModemManager, pid 412)", " (no such device /dev/ttyS0)", " (permission denied on
// /dev/ttyUSB0: join the group dialout)" on Linux, " (COM3: Access is denied.)" in the
// system's words on Windows. err is the errno of the failed open (on Windows the system's
// reason as platform::kSystemErrorBase + its code); holders are looked for only when the
// device is there. Empty when there is nothing to add.
std::string PortProblemDetail(int err, const std::string& devicePath, IPortHolderFinder* finder);
// The same for a port name; when its device is missing and exactly one USB-serial adapter is
// there (soleAdapter, see SoleUsbSerialAdapter), the words name the adapter and how to
// choose it.
std::string PortProblemDetail(int err, const std::string& portName, const std::string& devicePath,
                              IPortHolderFinder* finder, const std::string& soleAdapter);
