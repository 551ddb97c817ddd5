// The main window's resources as data: dialog 130 with its controls and menu 131, in the
// English layout and in the German one (German texts are longer; its controls may sit
// elsewhere, the collapse offset is the same).
#pragma once

#include <span>

#include "resources/strings/string_table.h"
#include "ui/dialog_template.h"

namespace installer {

// Control ids of dialog 130.
enum ControlId : int {
    kIdCancel = 2,
    kIdStatus = 1002,
    kIdProgress = 1015,
    kIdPort = 1017,
    kIdSpeed = 1018,
    kIdPortLabel = 1019,
    kIdSpeedLabel = 1020,
    kIdCloseOnFinish = 1024,
    kIdLinkIcon = 1037,
    kIdElapsed = 1039,
    kIdList = 1042,
    kIdAdd = 1043,
    kIdRemove = 1044,
    kIdGroup = 1045,
};

// Command ids of menu 131 and of the system menu.
enum CommandId : int {
    kCmdAboutSys = 16,
    kCmdBackup = 32781,
    kCmdSetTime = 32782,
    kCmdHistory = 32783,
    kCmdFileList = 32776,
    kCmdRegister = 32777,
    kCmdUnregister = 32778,
    kCmdOpenDialog = 32785,
    kCmdFirstRecent = 32787,
    kCmdLastRecent = 32802,
    kCmdPicCompress = 32803,
    kCmdDesktopUsers = 32804,     // ours: the desktop users dialog
    kCmdDestination = 32810,      // ours: the destination popup (its text's item id)
    kCmdToRam = 32811,            // ... "Handheld memory"
    kCmdToCard = 32812,           // ... "Memory card"
    kCmdToAuto = 32813,           // ... "Card when memory is short"
    kCmdVerify = 32814,           // ours: "Verify after install"
    kCmdCheckConnection = 32820,  // ours: the connection check
    kCmdBackupAll = 32830,        // ours: back up the whole handheld at the next HotSync
    kCmdRestore = 32831,          // ours: the restore dialog
    kCmdAbout = 57664,
    kCmdHelp = 57670,
};

// The controls that move when the file list is shown or hidden, and by how much.
inline constexpr int kMovedControls[] = {kIdStatus, kIdPortLabel, kIdPort,          kIdSpeedLabel,
                                         kIdSpeed,  kIdProgress,  kIdCloseOnFinish, kIdElapsed,
                                         kIdCancel, kIdLinkIcon};
inline constexpr int kFileListOffset = 160;

const dlg::Template& InstallerTemplate(resources::Language language);
std::span<const dlg::MenuItem> InstallerMenu(resources::Language language);

}  // namespace installer
