// The desktop services each system provides its own way, made here for the front ends:
// shell/linux/ (Qt Core and the freedesktop.org conventions) and shell/win32/ (the registry
// and the Windows services) each define them.
#pragma once

#include <memory>

class ISettingsStore;
class IPortHolderFinder;
class IConnectionProbe;

// The user's settings: the settings file on Linux, the registry on Windows.
std::unique_ptr<ISettingsStore> OpenUserSettings();
// What names the programs holding a serial port; null where the system cannot tell.
std::unique_ptr<IPortHolderFinder> CreatePortHolderFinder();
// What the connection check looks at: serial devices, USB and the Linux desktop's services
// on Linux; the communication ports and the network port on Windows.
std::unique_ptr<IConnectionProbe> CreateConnectionProbe();
