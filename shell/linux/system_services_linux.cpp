// The desktop services on Linux.
#include "shell/linux/linux_connection_probe.h"
#include "shell/linux/proc_port_holder.h"
#include "shell/linux/qt_settings.h"
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
