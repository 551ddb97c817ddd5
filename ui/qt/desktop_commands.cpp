#include "ui/qt/desktop_commands.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

#include "shell/linux/carried_files.h"
#include "shell/linux/file_types.h"
#include "shell/linux/xdg_file_types.h"
#include "ui/qt/about_view.h"
#include "ui/qt/default_types_view.h"

namespace desktop {

void OpenAddress(const std::string& address) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

void ShowAbout(QWidget* parent, const Opener& open) {
    CAboutView dialog(parent, open);
    dialog.exec();
}

void OnHelp(const Opener& open) {
    const std::string page = PrepareHelpFile();
    open(QUrl::fromLocalFile(QString::fromStdString(page)).toString().toStdString());
}

std::string ProgramPath() {
    return QCoreApplication::applicationFilePath().toStdString();
}

void RegisterFileTypes(QWidget* parent, ISettingsStore& settings, bool askAlways,
                       IFileTypeRegistry* registry) {
    CXdgFileTypes own;
    CDefaultTypesQuestion question(DefaultTypesRunner(parent, [] { OnHelp(); }));
    FileTypeContext context{registry ? *registry : own, settings, question, ProgramPath()};
    ::RegisterFileTypes(context, askAlways);
}

void UnregisterFileTypes(ISettingsStore& settings, IFileTypeRegistry* registry) {
    CXdgFileTypes own;
    CDefaultTypesQuestion question(DefaultTypesRunner(nullptr, {}));
    FileTypeContext context{registry ? *registry : own, settings, question, ProgramPath()};
    ::UnregisterFileTypes(context);
}

}  // namespace desktop
