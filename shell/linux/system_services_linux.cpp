// The desktop services on Linux.
#include "engine/user_library.h"
#include "shell/hotsync_manager.h"
#include "shell/linux/linux_connection_probe.h"
#include "shell/linux/proc_port_holder.h"
#include "shell/linux/qt_settings.h"
#include "shell/linux/xdg_file_types.h"
#include "shell/palm_desktop.h"
#include "shell/system_services.h"

std::unique_ptr<ISettingsStore> OpenUserSettings() {
    return std::make_unique<CQtSettings>();
}

std::unique_ptr<IPortHolderFinder> CreatePortHolderFinder() {
    return std::make_unique<CProcPortHolderFinder>();
}

std::unique_ptr<IConnectionProbe> CreateConnectionProbe() {
    return std::make_unique<CLinuxConnectionProbe>();
}

std::unique_ptr<IFileTypeRegistry> CreateFileTypeRegistry() {
    return std::make_unique<CXdgFileTypes>();
}

std::unique_ptr<IHotSyncManagerHost> CreateHotSyncManagerHost() {
    return std::make_unique<CNoHotSyncManager>();
}

std::unique_ptr<IPalmDesktopValues> OpenPalmDesktopValues() {
    return std::make_unique<CNoPalmDesktop>();
}

std::unique_ptr<IUserLibrary> OpenVendorUserLibrary(const IPalmDesktopValues& /*values*/) {
    return nullptr;
}
