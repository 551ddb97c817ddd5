// The desktop services on Windows.
#include "shell/port_holder.h"
#include "shell/system_services.h"
#include "shell/win32/palm_desktop_registry.h"
#include "shell/win32/registry_settings.h"
#include "shell/win32/user_data_dll.h"
#include "shell/win32/win32_connection_probe.h"
#include "shell/win32/win32_file_types.h"
#include "shell/win32/win32_hotsync_manager.h"

std::unique_ptr<ISettingsStore> OpenUserSettings() {
    return std::make_unique<CRegistrySettings>();
}

std::unique_ptr<IPortHolderFinder> CreatePortHolderFinder() {
    // Windows does not tell which program holds a port; the system's reason says enough.
    return nullptr;
}

std::unique_ptr<IConnectionProbe> CreateConnectionProbe() {
    return std::make_unique<CWin32ConnectionProbe>();
}

std::unique_ptr<IFileTypeRegistry> CreateFileTypeRegistry() {
    return std::make_unique<CWin32FileTypes>();
}

std::unique_ptr<IHotSyncManagerHost> CreateHotSyncManagerHost() {
    return std::make_unique<CWin32HotSyncManager>();
}

std::unique_ptr<IPalmDesktopValues> OpenPalmDesktopValues() {
    return std::make_unique<CRegistryPalmDesktop>();
}

std::unique_ptr<IUserLibrary> OpenVendorUserLibrary(const IPalmDesktopValues& values) {
    return CUserDataDll::Load(GetPalmDesktopPath(values));
}
