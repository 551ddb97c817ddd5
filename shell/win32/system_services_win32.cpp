// The desktop services on Windows.
#include "shell/port_holder.h"
#include "shell/system_services.h"
#include "shell/win32/registry_settings.h"
#include "shell/win32/win32_connection_probe.h"

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
