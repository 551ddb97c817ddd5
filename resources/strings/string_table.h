// The program's user texts by their resource ids, in English and German. The
// language follows the system locale: one that starts with "de" gives German.
#pragma once

#include <string>

namespace resources {

enum class Language { kEnglish, kGerman };

// Ids of the program's texts: the install cycle and its messages, the windows and dialogs.
enum StringId : int {
    kIdsAboutMenu = 101,       // "&About Cradlecourier..." (system menu)
    kIdsUploadTitle = 109,     // "Upload %s..." (caption with a title)
    kIdsFileFilter = 129,      // the file chooser's filter, "|"-separated pairs
    kIdsPalmQuery = 130,       // type name of .pqa
    kIdsPalmProgram = 131,     // type name of .prc
    kIdsPalmDatabase = 132,    // type name of .pdb
    kIdsWebTooltip = 133,      // the link icon's tooltip
    kIdsAboutNote = 134,       // the about box's usage note
    kIdsCcaArchive = 141,      // type name of .cca
    kIdsLicenceCaption = 142,  // "Software Licence Agreement:"
    kIdsReadmeCaption = 143,   // "Readme:"
    kIdsChooserTitle = 146,    // the file chooser's title
    kIdsColumnName = 149,      // file list columns
    kIdsColumnSize = 150,
    kIdsColumnPath = 151,
    kIdsHistoryName = 154,  // history list columns
    kIdsHistoryVersion = 155,
    kIdsHistoryDate = 156,
    kIdsHistoryExists = 157,
    kIdsDeleteBackup = 160,      // "Do really want to remove this backup file\n\"%s\"?"
    kIdsCouldNotOpen = 162,      // "Could not open %s!"
    kIdsConnected = 102,         // "Connection established..."
    kIdsWaiting = 103,           // "[%d] Waiting for connect on port %s... (press HotSync)"
    kIdsPortBusy = 104,          // "port %s busy"
    kIdsReady = 105,             // "Ready (%2.1f seconds / %2.1f %s) !"
    kIdsFinishedErrors = 106,    // "Finished (%2.1f seconds) with errors"
    kIdsTransferred = 107,       // "[%d%%] transferred"
    kIdsUploadReady = 108,       // "Pilot upload ready!"
    kIdsUnknownFormat = 135,     // error 18
    kIdsDeviceFull = 136,        // error 3
    kIdsErrorTitle = 137,        // caption of the archive's error box
    kIdsConnectionBroken = 139,  // any other error code
    kIdsCancelling = 140,        // "Cancel transfer (please wait)..."
    kIdsNeedColor = 144,         // error 51
    kIdsNeedEzCpu = 145,         // error 52
    kIdsConnectionLost = 147,    // error 4
    kIdsNeedOsVersion = 148,     // error 53
    kIdsMidiTooBig = 153,        // error 25
    kIdsConverting = 161,        // "Converting"

    // The program's own additions, above the resource ids.
    kIdsAppTitle = 900,          // "Cradlecourier": message box captions
    kIdsPortHeldBy = 910,        // " (held by %s, pid %d)" after "port %s busy"
    kIdsPortInUse = 911,         // " (in use by another program)"
    kIdsPortNoDevice = 912,      // " (no such device %s)"
    kIdsPortNoPermission = 913,  // " (permission denied on %s: join the group dialout)"
    kIdsPortOtherError = 914,    // " (%s: %s)" device and system text
    kIdsRemoteDrop = 920,        // a dropped address that is not a local file
    kIdsNotAFile = 921,          // a queued name that is no plain file
    kIdsOkButton = 930,          // "OK": button 2 once a run has ended

    // The whole-handheld backup and its restore.
    kIdsBackingUp = 1200,           // "[%d/%d] Backing up %s"
    kIdsRestoring = 1201,           // "[%d/%d] Restoring %s"
    kIdsReadingList = 1202,         // while the handheld's databases are listed
    kIdsBackupSummary = 1203,       // "%d copied, %d unchanged, %d not copied"
    kIdsNotCopiedOpen = 1204,       // "not copied: %s (open on the handheld)"
    kIdsNotCopiedTwice = 1205,      // a database the handheld listed twice
    kIdsNotCopiedRefused = 1206,    // "not copied: %s (the handheld refused it: %s)"
    kIdsNotCopiedBadAnswer = 1207,  // answers that contradict each other
    kIdsNotCopiedLink = 1208,       // the connection was lost at this database
    kIdsNotCopiedWrite = 1209,      // the copy could not be written
    kIdsNoBackupFolder = 1210,      // no desktop user for the handheld's user name
    kIdsBackupNoUser = 1211,        // the handheld has lost its user: restore it first
    kIdsBackupOtherUser = 1212,     // the folder holds another handheld's backup
    kIdsListingFailed = 1213,       // the list of databases could not be read
    kIdsRestoreSummary = 1214,      // "%d restored, %d not restored"
    kIdsRefusedNotPalm = 1215,      // "not restored: %s (not a Palm database)"
    kIdsRefusedTruncated = 1216,    // "not restored: %s (truncated)"
    kIdsRefusedTwice = 1217,        // two files of one database
    kIdsNotRestored = 1218,         // "not restored: %s (%s)"
    kIdsUserRestored = 1219,        // the handheld's user name and id written back
    kIdsResetAfterRestore = 1220,   // the handheld resets when the HotSync ends
    kIdsRestoreQueued = 1221,       // " - %d file(s) to restore" after the waiting text
    kIdsLastBackup = 1222,          // history: "Last backup of the handheld: %s (%d databases)"
    kIdsNoWholeBackup = 1223,       // history: no whole backup yet
    kIdsRestoreColumnFile = 1224,   // restore dialog columns
    kIdsRestoreColumnSize = 1225,
    kIdsRestoreColumnDate = 1226,
    kIdsRestoreEmpty = 1227,     // "%s holds no backup."
    kIdsBackupHeading = 1228,    // "Backup of the handheld:"
    kIdsRestoreHeading = 1229,   // "Restore:"
    kIdsNoRestoreFolder = 1230,  // no folder to restore from
    // The connection check (ccourier-cli --doctor, "Check connection..."), the port box's
    // labels, and the busy line's hint about a USB-serial adapter.
    kIdsCheckTitle = 1100,   // "Connection check"
    kIdsCheckSerial = 1101,  // section titles
    kIdsCheckUsb = 1102,
    kIdsCheckUser = 1103,
    kIdsCheckModemManager = 1104,
    kIdsCheckNet = 1105,
    kIdsCheckReachable = 1106,    // "A handheld can be reached now on %s."
    kIdsCheckUnreachable = 1107,  // "No handheld can be reached now."
    kIdsCheckFix = 1108,          // "fix: %s"
    kIdsCheckOk = 1109,           // line marks
    kIdsCheckProblem = 1110,
    kIdsCheckNote = 1111,
    kIdsCheckChosen = 1112,           // "chosen port: %s"
    kIdsCheckAdapter = 1113,          // " (USB-serial adapter %04x:%04x, driver %s)"
    kIdsCheckHandheldPort = 1114,     // " (a handheld's own port, driver %s)"
    kIdsCheckBuiltIn = 1115,          // " (built in, driver %s)"
    kIdsCheckComNames = 1116,         // " is %s"
    kIdsCheckLink = 1117,             // "%s points to %s"
    kIdsCheckLinkNowhere = 1118,      // "%s points nowhere: the device behind it is gone"
    kIdsCheckFixPlugIn = 1119,        // "plug the device in again"
    kIdsCheckMayOpen = 1120,          // ": may be opened"
    kIdsCheckNoPermission = 1121,     // ": permission denied"
    kIdsCheckHeld = 1122,             // ": held by %s (pid %d)"
    kIdsCheckNoDevice = 1123,         // ": no such device"
    kIdsCheckNoHardware = 1124,       // ": no serial port hardware behind it"
    kIdsCheckComMissing = 1125,       // "%s is %s: no such device"
    kIdsCheckFixDevice = 1126,        // "set Device%d=%s in section [com] of %s"
    kIdsCheckFixDialout = 1127,       // "sudo adduser %s dialout, then log out and in again"
    kIdsCheckFixClose = 1128,         // "close %s (pid %d)"
    kIdsCheckFixModemManager = 1129,  // "sudo systemctl stop ModemManager"
    kIdsCheckNoSerial = 1130,         // "no serial device found"
    kIdsCheckHandheld = 1131,         // "%04x:%04x %s at %s"
    kIdsCheckUsbNoPermission = 1132,  // "no permission to open it"
    kIdsCheckFixRule = 1133,          // the udev rule's install command
    kIdsCheckDriver = 1134,           // "the kernel's driver %s has it: ..."
    kIdsCheckNoHandheld = 1135,       // "no Palm OS handheld on USB now ..."
    kIdsCheckRuleInstalled = 1136,    // "our udev rule is installed: %s"
    kIdsCheckRuleMissing = 1137,      // "our udev rule is not installed: ..."
    kIdsCheckDrive = 1138,            // "plugged in as a drive: ..."
    kIdsCheckInDialout = 1139,        // "%s is in the group dialout"
    kIdsCheckDialoutLater = 1140,     // "... but this login does not have it yet"
    kIdsCheckFixLogin = 1141,         // "log out and in again"
    kIdsCheckNotInDialout = 1142,     // "%s is not in the group dialout: ..."
    kIdsCheckNoDialout = 1143,        // "this system has no group dialout"
    kIdsCheckMmNotRunning = 1144,     // "not running"
    kIdsCheckMmRunning = 1145,        // "running (pid %d): ..."
    kIdsCheckNetAddress = 1146,       // "NET would listen on %s port %u"
    kIdsCheckNetLoopback = 1147,      // " (this computer only: ...)"
    kIdsCheckNetOpen = 1148,          // " (open to the network)"
    kIdsCheckNetFree = 1149,          // "the port is free"
    kIdsCheckNetHeld = 1150,          // "the port is in use by %s (pid %d)"
    kIdsCheckNetInUse = 1151,         // "the port is in use by another program"
    kIdsCheckFixNetPort = 1152,       // "--port net:%s:%u"
    kIdsCheckNetError = 1153,         // "cannot listen there: %s"
    kIdsPortNoDeviceAdapter = 1154,   // busy line: no device, but one USB-serial adapter
    kIdsPortLabelDevice = 1155,       // "%s — %s"
    kIdsPortLabelAdapter = 1156,      // "%s — %s (USB-serial adapter)"
    kIdsPortLabelHandheld = 1157,     // "%s — %s (handheld)"
    kIdsPortLabelMissing = 1158,      // "%s — %s (missing)"
    kIdsPortLabelUsbFound = 1159,     // "%s — %s"
    kIdsPortLabelUsbNone = 1160,      // "%s — no handheld now"
    kIdsPortLabelNet = 1161,          // "%s — %s:%u"
    kIdsCheckSharedId = 1162,         // " (one id of several models: the handheld tells which)"
    kIdsCheckAgain = 1163,            // dialog buttons
    kIdsCheckClose = 1164,
    kIdsCheckSuperUser = 1165,  // "%s may open every device"
    // Memory cards and verification: messages with the file's name, notes of the summary.
    kIdsCardNoExpansion = 1000,  // error 60
    kIdsCardNone = 1001,         // error 61
    kIdsCardReadOnly = 1002,     // error 62
    kIdsCardFull = 1003,         // error 63
    kIdsCardWrite = 1004,        // error 64
    kIdsCardName = 1005,         // error 65
    kIdsVerifyFailed = 1006,     // error 66
    kIdsNowhere = 1007,          // error 67
    kIdsNoteOnCard = 1010,       // "%d on the card"
    kIdsNoteMoved = 1011,        // " (%d for lack of memory)"
    kIdsNoteKeptInRam = 1012,    // sounds and pictures kept in memory, and why
    kIdsNoteVerified = 1013,     // "%d verified"
    kIdsColumnWhere = 1020,      // file list column: where a file goes
    kIdsWhereRam = 1021,
    kIdsWhereCard = 1022,
    kIdsWhereAuto = 1023,
    // USB in the connection check on Windows.
    kIdsCheckVendorDriverHotSync = 1500,  // the vendor's driver has a handheld in HotSync
    kIdsCheckVendorDriverIdle = 1501,     // ... is installed, no handheld on it now
    kIdsCheckVendorDriverNone = 1502,     // ... is not installed
    kIdsCheckWinUsb = 1503,               // WinUSB is there
    kIdsCheckNoWinUsb = 1504,             // winusb.dll is missing
    kIdsCheckNoSetupApi = 1505,           // no SETUPAPI.DLL: no USB at all
    kIdsCheckNotWinUsb = 1506,            // "%04x:%04x: WinUSB cannot open it ..."
    kIdsCheckFixWinUsb = 1507,            // how to bind the handheld to WinUSB
    kIdsPortLabelUsbVendor = 1508,        // "%s — a handheld on the vendor's driver"
    // Windows.
    kIdsUsbNotAvailable = 1300,  // "USB is not available on Windows yet: ..."
    // Windows' desktop services.
    kIdsOtherProgramKept = 1600,  // Windows keeps the user's choice of another program for %s
};

// German for a locale text that starts with "de", English otherwise (also for null).
Language LanguageFromLocale(const char* locale);
// From the user's locale: LC_ALL, else LC_MESSAGES, else LANG, as the C library ranks them
// (Linux); the user's default locale (Windows).
Language SystemLanguage();

// The language LoadString uses; SystemLanguage() until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// The text of an id in the language; the English text where the language has none;
// an empty text for an unknown id. The pointer stays valid for the process.
const char* LoadString(int id, Language language);
const char* LoadString(int id);

// The text of an id filled in the manner of printf.
std::string FormatString(int id, ...);

}  // namespace resources
