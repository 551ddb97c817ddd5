// ccourier [switches] [FILE...]: the installer window with the files queued, or, when one
// runs already, the files handed to it. ccourier --help lists the switches.
#include "app/desktop_services.h"
#include "app/installer_app.h"

int main(int argc, char** argv) {
    CInstallerApp app(MakeDesktopServices(argc, argv));
    return app.Run(std::vector<std::string>(argv + 1, argv + argc));
}
