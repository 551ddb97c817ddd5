// The desktop services each system provides its own way, made here for the front ends:
// shell/linux/ (Qt Core and the freedesktop.org conventions) and shell/win32/ (the registry
// and the Windows services) each define them.
#pragma once

#include <memory>

class ISettingsStore;
class IPortHolderFinder;
class IConnectionProbe;
class IFileTypeRegistry;
class IHotSyncManagerHost;
class IPalmDesktopValues;
class IUserLibrary;

// The user's settings: the settings file on Linux, the registry on Windows.
std::unique_ptr<ISettingsStore> OpenUserSettings();
// What names the programs holding a serial port; null where the system cannot tell.
std::unique_ptr<IPortHolderFinder> CreatePortHolderFinder();
// What the connection check looks at: serial devices, USB and the Linux desktop's services
// on Linux; the communication ports and the network port on Windows.
std::unique_ptr<IConnectionProbe> CreateConnectionProbe();
// Where file types are registered: the XDG desktop on Linux, the user's classes key on
// Windows (for RegisterFileTypes and UnregisterFileTypes of shell/file_types.h).
std::unique_ptr<IFileTypeRegistry> CreateFileTypeRegistry();
// The vendor's HotSync Manager: none on Linux, its window on Windows.
std::unique_ptr<IHotSyncManagerHost> CreateHotSyncManagerHost();
// The vendor's desktop values: none on Linux, the vendor's registry keys on Windows.
std::unique_ptr<IPalmDesktopValues> OpenPalmDesktopValues();
// The vendor's desktop users (UserData.DLL from the vendor's folder, Windows) for
// CUserLibraryHandle::Load; null where there are none, and then our own users file serves.
std::unique_ptr<IUserLibrary> OpenVendorUserLibrary(const IPalmDesktopValues& values);
