// ccourier [/COM1 ... /COM8] [/USB] [/CLOSE] [FILE...]: the installer window with the
// files queued.
#include <QApplication>
#include <filesystem>
#include <string>

#include "app/close_on_signal.h"
#include "engine/file_paths.h"
#include "engine/picture_converter.h"
#include "shell/qt_settings.h"
#include "ui/installer_dlg.h"
#ifdef CC_HAVE_VIEWER
#include "resources/viewer/viewer_prc.h"
#endif

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CQtSettings settings;
#ifdef CC_HAVE_VIEWER
    CPictureConverter pictures(
        []() -> const std::vector<uint8_t>& { return resources::ViewerPrcBytes(); });
#endif
    InstallerServices services;
    services.settings = &settings;
#ifdef CC_HAVE_VIEWER
    services.pictures = &pictures;
#endif
    CInstallerDlg dialog(services);

    bool close = false;
    std::string port;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "/CLOSE") {
            close = true;
        } else if (arg.size() == 5 && arg.compare(0, 4, "/COM") == 0 && arg[4] >= '1' &&
                   arg[4] <= '8') {
            port = arg;
        } else if (arg == "/USB" || arg.empty() || (arg[0] == '/' && !FileCanBeOpened(arg))) {
            // "/USB" changes nothing; other switches are not ours. A path that starts with
            // "/" is still a file when it is one.
        } else if (FileCanBeOpened(arg)) {
            std::error_code ec;
            const std::filesystem::path full = std::filesystem::absolute(arg, ec);
            dialog.AddFile(ec ? arg : full.lexically_normal().string());
        }
    }
    if (close) dialog.m_bCloseOnFinish = true;
    if (!port.empty()) dialog.SetPortFromText(port);
    CCloseOnSignal closer([&dialog] { dialog.reject(); });
    dialog.exec();
    return 0;
}
