// Shows the installation history, the desktop users or the restore dialog over sample user
// folders made in DIR, or the installer window with its Options menu open over them, for
// screenshots (scripts/screenshot.sh runs it under a virtual X server). "ports" and "busy"
// show the window on a machine with a USB-serial adapter and a USB handheld but no
// /dev/ttyS0, its port box open or not; "check" the connection check on a machine with
// problems.
//
//   cc-dialog-preview history|users|restore|menu|ports|busy|check DIR
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QTreeWidget>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/backup_copy.h"
#include "engine/backup_folder.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"
#include "shell/connection_probe.h"
#include "shell/desktop_users.h"
#include "shell/memory_settings.h"
#include "ui/installer_layout.h"
#include "ui/qt/connection_check_view.h"
#include "ui/qt/desktop_users_view.h"
#include "ui/qt/history_view.h"
#include "ui/qt/installer_view.h"
#include "ui/qt/restore_view.h"

namespace {

// A database installed at `when`, as the worker leaves its copy and log line.
void Installed(const std::string& userDir, const std::string& dir, const std::string& name,
               bool resource, const std::string& version, time_t when) {
    pdb::DbInfo info;
    info.name = name;
    info.attributes = resource ? pdb::kAttrResDb : 0;
    info.type = pdb::FourCCFromText(resource ? "appl" : "DATA");
    info.creator = pdb::FourCCFromText("Smpl");
    const std::string path = dir + "/source";
    {
        auto file = pdb::CPalmDbFile::Create(path, info);
        if (!file) return;
        const std::vector<uint8_t> data(200, 7);
        if (resource) {
            file->AppendResource(data.data(), data.size(), pdb::FourCCFromText("code"), 1);
            std::vector<uint8_t> text(version.begin(), version.end());
            text.push_back(0);
            file->AppendResource(text.data(), text.size(), pdb::FourCCFromText("tver"), 1);
        } else {
            file->AppendRecord(data.data(), data.size(), 0, 0, 1);
        }
        file->Close();
    }
    if (auto file = pdb::CPalmDbFile::Open(path)) WriteBackupAndLog(userDir, *file, when);
    std::filesystem::remove(path);
}

// A machine with a cradle on a USB-serial adapter, a handheld's own ports, a Tungsten on USB,
// and the usual troubles.
ConnectionFacts SampleMachine() {
    ConnectionFacts f;
    SerialDevice adapter;
    adapter.path = "/dev/ttyUSB0";
    adapter.driver = "ftdi_sio";
    adapter.vendorId = 0x0403;
    adapter.productId = 0x6001;
    adapter.holders = {{412, "ModemManager"}};
    f.serial.push_back(adapter);
    SerialDevice visor = adapter;
    visor.path = "/dev/ttyUSB1";
    visor.driver = "visor";
    visor.vendorId = 0x082D;
    visor.productId = 0x0100;
    visor.holders.clear();
    visor.openError = 13;  // EACCES
    f.serial.push_back(visor);
    SerialDevice link;
    link.path = "/dev/serial/by-id/usb-FTDI_USB_Serial-if00-port0";
    link.isLink = true;
    link.linkTarget = "/dev/ttyUSB0";
    f.serial.push_back(link);
    SerialDevice gone = link;
    gone.path = "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0";
    gone.linkTarget.clear();
    f.serial.push_back(gone);
    f.handhelds.push_back({0x0830, 0x0060, "1-1.4", "/dev/bus/usb/001/007", 0, {"visor"}});
    f.udevRuleSource = "packaging/60-cradlecourier.rules";
    f.userName = "jane";
    f.dialoutAfterLogin = true;
    f.modemManager = {{412, "ModemManager"}};
    f.net = {"127.0.0.1", 14238, 0, {}};
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s history|users|restore|menu|ports|busy|check DIR\n",
                     argv[0]);
        return 64;
    }
    const std::string what = argv[1];
    const std::string dir = argv[2];
    CDesktopUserStore store(dir + "/Users/");
    DesktopUser user;
    for (const char* name : {"Jane Doe", "anna", "Palm Traveller"}) store.AddUser(name, &user);
    const std::string userDir = store.Root() + user.folder + "/";
    const time_t start = 979808700;  // January 2001
    Installed(userDir, dir, "Memos", false, "", start);
    Installed(userDir, dir, "Sky Game", true, "1.0", start + 86400);
    Installed(userDir, dir, "Field Guide", true, "2.3b", start + 3 * 86400);
    Installed(userDir, dir, "Sky Game", true, "1.1", start + 9 * 86400);
    // A copy the log does not name: only "All backup files" lists it.
    std::filesystem::create_directories(dir + "/Backup");
    Installed(dir + "/", dir, "Old Notes", true, "0.9", start);
    std::filesystem::rename(dir + "/Backup/OLD NOTES.PRC", userDir + "Backup/OLD NOTES.PRC");
    // The whole handheld was backed up too.
    HandheldRecord record;
    record.userName = user.name;
    record.backupTime = start + 10 * 86400;
    record.databases = 4;
    WriteHandheldRecord(userDir + kBackupFolder, record);

    if (what == "history") {
        auto* dialog = new CHistoryView(&store, userDir);
        dialog->AllFiles()->click();
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(3));
        dialog->show();
    } else if (what == "restore") {
        auto* dialog = new CRestoreView(&store, userDir);
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
        dialog->show();
    } else if (what == "menu") {
        static CMemorySettings settings;
        settings.WriteText("main", "UsersRoot", store.Root());
        settings.WriteText("com", "Device1", dir + "/no-port");  // no line to poll
        // The card options chosen, and their submenu open.
        settings.WriteInt("main", "Destination", 2);
        settings.WriteInt("main", "Verify", 1);
        InstallerServices services;
        services.settings = &settings;
        auto* window = new CInstallerView(services);
        window->InitDialog();
        window->show();
        QTimer::singleShot(1000, window, [window] {
            window->activateWindow();
            QMenuBar* bar = window->findChild<QMenuBar*>();
            if (!bar) return;
            QAction* options = bar->actions().value(1);
            bar->setActiveAction(options);
            QTimer::singleShot(500, window, [options] {
                QMenu* menu = options->menu();
                if (!menu) return;
                for (QAction* item : menu->actions()) {
                    if (!item->menu()) continue;
                    if (item->menu()->actions().size() != 3) continue;  // the destinations
                    menu->setActiveAction(item);
                    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
                    QApplication::sendEvent(menu, &right);
                    break;
                }
            });
        });
    } else if (what == "ports" || what == "busy") {
        static CMemorySettings settings;
        static CFixedConnectionProbe probe(SampleMachine());
        InstallerServices services;
        services.settings = &settings;
        services.connectionProbe = &probe;
        // COM1 is /dev/ttyS0, which this machine has not.
        services.makeSession = [](const std::string& port, int speed) {
            return std::make_unique<CDeviceSession>(
                port.c_str(), true, speed, [](const std::string&) {
                    errno = ENOENT;
                    return std::unique_ptr<hotsync::ITransport>();
                });
        };
        auto* window = new CInstallerView(services);
        window->InitDialog();
        window->show();
        if (what == "ports") {
            QTimer::singleShot(1500, window, [window] {
                static_cast<QComboBox*>(window->Item(installer::kIdPort))->showPopup();
            });
        }
    } else if (what == "check") {
        static CMemorySettings settings;
        static CFixedConnectionProbe probe(SampleMachine());
        auto* dialog = new CConnectionCheckView(probe, settings, "COM1");
        dialog->show();
    } else {
        auto* dialog = new CDesktopUsersView(store, "Virtual User");
        dialog->List()->setCurrentItem(dialog->List()->topLevelItem(0));
        dialog->show();
    }
    return app.exec();
}
