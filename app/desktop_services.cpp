#include "app/desktop_services.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

#include "app/installer_window_host.h"
#include "engine/file_paths.h"
#include "engine/picture_converter.h"
#include "engine/temp_dir.h"
#include "formats/doc/text_to_doc.h"
#include "shell/linux/carried_files.h"
#include "shell/linux/file_types.h"
#include "shell/linux/instance_channel.h"
#include "shell/linux/instance_lock.h"
#include "shell/linux/qt_settings.h"
#include "shell/linux/xdg_file_types.h"
#include "shell/program_file.h"
#include "ui/qt/desktop_commands.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/link_icons.h"
#include "ui/qt/readme_view.h"
#ifdef CC_HAVE_VIEWER
#include "resources/viewer/viewer_prc.h"
#endif

namespace {

// Without a screen (the offscreen or minimal platform: scripts, checks, a session without a
// display) no one could answer the default-installer question, and start-up would wait for
// ever. It counts as left unanswered, so it is asked at the next start with a screen.
class CUnseenQuestion final : public IDefaultTypesQuestion {
  public:
    Answer Ask(bool& /*dontAsk*/) override { return kNoAnswer; }
};

bool NoOneCanSeeWindows() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

}  // namespace

StartupServices MakeDesktopServices(int& argc, char** argv) {
    StartupServices s;
    s.strProgramPath = program::ProgramFilePath();
    s.strSelfFile = program::kSelfExe;
    s.strTempDir = GetTempDir();
    const std::string strRuntimeDir = instance::PrivateRuntimeDir();
    if (!strRuntimeDir.empty()) s.strSlotLockPath = strRuntimeDir + "/Register.lock";

    // Held by the services, so the application outlives everything start-up made.
    auto pApp = std::make_shared<std::unique_ptr<QApplication>>();
    s.startUserInterface = [pApp, &argc, argv] {
        *pApp = std::make_unique<QApplication>(argc, argv);
    };
    s.openChannel = [strRuntimeDir](const std::string& strKey) {
        return std::make_unique<CLocalInstanceChannel>(strKey, strRuntimeDir);
    };
    s.openSettings = [] { return std::make_unique<CQtSettings>(); };
    s.fileCanBeOpened = FileCanBeOpened;
    s.registerFileTypes = [](ISettingsStore& settings, bool bAskAlways) {
        if (!NoOneCanSeeWindows()) {
            desktop::RegisterFileTypes(nullptr, settings, bAskAlways);
            return;
        }
        CXdgFileTypes registry;
        CUnseenQuestion question;
        FileTypeContext context{registry, settings, question, desktop::ProgramPath()};
        RegisterFileTypes(context, bAskAlways);
    };
    s.unregisterFileTypes = [](ISettingsStore& settings) {
        CXdgFileTypes registry;
        UnregisterFileTypes(registry, settings);
    };
    s.chooseFiles = [](std::vector<std::string>& files) {
        return ChooseFilesDialog(nullptr, files);
    };
    s.showReadme = [](const std::string& strPath, const std::string& strCaption, bool bLicence) {
        CReadmeView dlg;
        dlg.Dialog().m_strPath = strPath;
        dlg.Dialog().m_strCaption = strCaption;
        dlg.Dialog().m_bLicence = bLicence;
        return dlg.exec();
    };
    s.showStopMessage = [](const std::string& strText) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Cradlecourier"),
                        QString::fromStdString(strText), QMessageBox::Ok);
        box.setWindowIcon(linkicons::ApplicationIcon());
        box.exec();
    };
#ifdef CC_HAVE_VIEWER
    auto pPictures = std::make_shared<CPictureConverter>(
        []() -> const std::vector<uint8_t>& { return resources::ViewerPrcBytes(); });
    pPictures->SetViewerWriter(WriteViewerFile);  // beside the program, or the user's data folder
#endif
    s.makeWindow = [=](ISettingsStore& settings) {
        InstallerServices services;
        services.settings = &settings;
#ifdef CC_HAVE_VIEWER
        services.pictures = pPictures.get();
#endif
        return std::make_unique<CInstallerWindowHost>(std::move(services));
    };
    s.sleep = [](int nMs) { QThread::msleep(static_cast<unsigned long>(nMs)); };
    s.printOut = [](const std::string& strText) { std::fputs(strText.c_str(), stdout); };
    s.printError = [](const std::string& strText) { std::fputs(strText.c_str(), stderr); };
    return s;
}
