#include "resources/strings/string_table.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/system.h"

namespace resources {
namespace {

struct Entry {
    int id;
    const char* english;
    const char* german;  // null: the English text serves
};

constexpr Entry kTable[] = {
    {kIdsAboutMenu, "&About Cradlecourier...", "Ü&ber Cradlecourier ..."},
    {kIdsUploadTitle, "Upload %s...", "%s übertragen ..."},
    {kIdsFileFilter,
     "All formats|*.prc;*.pdb;*.pqa;*.txt;*.cca;*.mid;*.bmp;*.jpg;*.jpeg|programs (*.prc)|*.prc|"
     "databases (*.pdb)|*.pdb|querys (*.pqa)|*.pqa|CCA archiv (*.cca)|*.cca|"
     "pictures (*.bmp,*.jpg)|*.bmp;*.jpg;*.jpeg|text (*.txt)|*.txt|MIDI sound(*.mid)|*.mid|"
     "All Files (*.*)|*.*||",
     "Alle Palmformate|*.prc;*.pdb;*.pqa;*.txt;*.cca;*.mid;*.bmp;*.jpg;*.jpeg|"
     "Anwendungen (*.prc)|*.prc|Datenbanken (*.pdb)|*.pdb|Abfragen (*.pqa)|*.pqa|"
     "CCA Archiv (*.cca)|*.cca|Bilder (*.bmp,*.jpg)|*.bmp;*.jpg;*.jpeg|Text (*.txt)|*.txt|"
     "MIDI (*.mid)|*.mid|Alle (*.*)|*.*||"},
    {kIdsPalmQuery, "palm-query", "Palm-Abfrage"},
    {kIdsPalmProgram, "palm-program", "Palm-Anwendung"},
    {kIdsPalmDatabase, "palm-database", "Palm-Datenbank"},
    {kIdsWebTooltip, "Go to Cradlecourier web site...", "Cradlecourier Internetseite ..."},
    {kIdsAboutNote, "Drop Palm files on the window to queue them.",
     "Palm-Dateien zum Einreihen auf das Fenster ziehen."},
    {kIdsCcaArchive, "CCA Archiv", nullptr},
    {kIdsLicenceCaption, "Software Licence Agreement:", "Software Lizenzvereinbarung"},
    {kIdsReadmeCaption, "Readme:", "Anmerkungen"},
    {kIdsChooserTitle, "file(es) to install:", "Datei(en) zum installieren:"},
    {kIdsColumnName, "Filename", "Dateiname"},
    {kIdsColumnSize, "Filesize", "Dateigröße"},
    {kIdsColumnPath, "Path", "Pfad"},
    {kIdsHistoryName, "Name", nullptr},
    {kIdsHistoryVersion, "Version", nullptr},
    {kIdsHistoryDate, "Installationdate", "Installationsdatum"},
    {kIdsHistoryExists, "Exist", "Existiert"},
    {kIdsDeleteBackup, "Do really want to remove this backup file\n\"%s\"?",
     "Die Sicherungsdatei \"%s\"\nwirklich löschen ?"},
    {kIdsCouldNotOpen, "Could not open %s!", "Datei %s kann nicht geöffnet werden !"},
    {kIdsConnected, "Connection established...", "Verbindung aufgebaut ..."},
    {kIdsWaiting, "[%d] Waiting for connect on port %s... (press HotSync)",
     "[%d]  Warte auf Verbindung zu %s ... (Hotsync-Button drücken)"},
    {kIdsPortBusy, "port %s busy", "Anschluss %s ist bereits belegt"},
    {kIdsReady, "Ready (%2.1f seconds / %2.1f %s) !",
     "Übertragung abgeschlossen (%2.1f Sekunden / %2.1f %s)."},
    {kIdsFinishedErrors, "Finished (%2.1f seconds) with errors",
     "Abgeschlossen (%2.1f Sekunden) mit Fehlermeldung."},
    {kIdsTransferred, "[%d%%] transferred", "[%d%%] übertragen"},
    {kIdsUploadReady, "Pilot upload ready!", "Übertragung erfolgreich !"},
    {kIdsUnknownFormat, "unknown format of file", "Falsches Format der Datei"},
    {kIdsDeviceFull, "Device full\nFree memory: %d KB of %d KB",
     "Gerät voll\nFreier Speicher: %d KB von %d KB"},
    {kIdsErrorTitle, "Cradlecourier - Error:", nullptr},
    {kIdsConnectionBroken, "Connection lost", "Verbindung abgebrochen"},
    {kIdsCancelling, "Cancel transfer (please wait)...", "Es wird abgebrochen (bitte warten) ..."},
    {kIdsNeedColor, "CCA: Need color device to install: \n%s\nArchiv ignored.",
     "CCA: Palm Color-Display wird benötigt:\n%s\nArchiv wurde übersprungen ..."},
    {kIdsNeedEzCpu, "CCA: Need DragonballEZ CPU to install\n%s\nArchiv skipped.",
     "CCA: DragonballEZ Prozessor (CPU) wird benötigt l\n%s\nArchiv wurde übersprungen ..."},
    {kIdsConnectionLost, "Connection lost", "Verbindung verloren"},
    {kIdsNeedOsVersion, "CCA: OS-Version %s required\nArchive skipped",
     "CCA: Die OS-Version %s (Betriebssystem) wird benötigt !\nArchiv wurde übersprungen ..."},
    {kIdsMidiTooBig, "File was in MIDI-format, but\nto big (64 KB)  or\nmore than one channel.",
     "Sounddatei(en) waren im Midi-Format,\njedoch zu Dateigröße überschritten (64 KB) oder "
     "Mehrkanal."},
    {kIdsConverting, "Converting", "Konvertiere"},

    {kIdsAppTitle, "Cradlecourier", nullptr},
    {kIdsPortHeldBy, " (held by %s, pid %d)", " (belegt von %s, PID %d)"},
    {kIdsPortInUse, " (in use by another program)", " (von einem anderen Programm belegt)"},
    {kIdsPortNoDevice, " (no such device %s)", " (Gerät %s gibt es nicht)"},
    {kIdsPortNoPermission, " (permission denied on %s: join the group dialout)",
     " (keine Berechtigung für %s: der Gruppe dialout beitreten)"},
    {kIdsPortOtherError, " (%s: %s)", nullptr},
    {kIdsRemoteDrop, "Only files on this computer can be installed:\n%s",
     "Nur Dateien auf diesem Rechner können übertragen werden:\n%s"},
    {kIdsNotAFile, "Not a file that can be installed:\n%s",
     "Keine Datei, die übertragen werden kann:\n%s"},
    {kIdsOkButton, "OK", nullptr},

    {kIdsBackingUp, "[%d/%d] Backing up %s", "[%d/%d] Sichere %s"},
    {kIdsRestoring, "[%d/%d] Restoring %s", "[%d/%d] Stelle %s wieder her"},
    {kIdsReadingList, "Reading the handheld's list of databases...",
     "Lese die Liste der Datenbanken des Handhelds ..."},
    {kIdsBackupSummary, "%d copied, %d unchanged, %d not copied",
     "%d kopiert, %d unverändert, %d nicht kopiert"},
    {kIdsNotCopiedOpen, "not copied: %s (open on the handheld)",
     "nicht kopiert: %s (auf dem Handheld geöffnet)"},
    {kIdsNotCopiedTwice, "not copied again: %s (the handheld lists it twice)",
     "nicht noch einmal kopiert: %s (das Handheld führt sie doppelt auf)"},
    {kIdsNotCopiedRefused, "not copied: %s (the handheld refused it: %s)",
     "nicht kopiert: %s (vom Handheld verweigert: %s)"},
    {kIdsNotCopiedBadAnswer, "not copied: %s (the handheld's answers do not fit: %s)",
     "nicht kopiert: %s (die Antworten des Handhelds passen nicht zusammen: %s)"},
    {kIdsNotCopiedLink, "not copied: %s and what follows it (the connection was lost)",
     "nicht kopiert: %s und alles danach (die Verbindung ist abgebrochen)"},
    {kIdsNotCopiedWrite, "not copied: %s (cannot write %s)",
     "nicht kopiert: %s (%s kann nicht geschrieben werden)"},
    {kIdsNoBackupFolder,
     "not backed up: no desktop user for the handheld's user \"%s\" (add one first)",
     "nicht gesichert: kein Desktop-Benutzer für den Handheld-Benutzer \"%s\" (zuerst anlegen)"},
    {kIdsBackupNoUser,
     "not backed up: the handheld has lost its user (reset?); restore it from %s first",
     "nicht gesichert: das Handheld hat seinen Benutzer verloren (Reset?); zuerst aus %s "
     "wiederherstellen"},
    {kIdsBackupOtherUser, "not backed up: %s holds the backup of \"%s\"",
     "nicht gesichert: %s enthält die Sicherung von \"%s\""},
    {kIdsListingFailed, "not backed up: the list of databases could not be read (%s)",
     "nicht gesichert: die Liste der Datenbanken ließ sich nicht lesen (%s)"},
    {kIdsRestoreSummary, "%d restored, %d not restored",
     "%d wiederhergestellt, %d nicht wiederhergestellt"},
    {kIdsRefusedNotPalm, "not restored: %s (not a Palm database)",
     "nicht wiederhergestellt: %s (keine Palm-Datenbank)"},
    {kIdsRefusedTruncated, "not restored: %s (truncated)",
     "nicht wiederhergestellt: %s (unvollständig)"},
    {kIdsRefusedTwice, "not restored: %s (the same database as %s)",
     "nicht wiederhergestellt: %s (dieselbe Datenbank wie %s)"},
    {kIdsNotRestored, "not restored: %s (%s)", "nicht wiederhergestellt: %s (%s)"},
    {kIdsUserRestored, "the handheld belongs to \"%s\" (id %u) again",
     "das Handheld gehört wieder \"%s\" (ID %u)"},
    {kIdsResetAfterRestore, "the handheld resets when the HotSync ends",
     "das Handheld startet nach dem HotSync neu"},
    {kIdsRestoreQueued, " - %d file(s) to restore", " - %d Datei(en) wiederherzustellen"},
    {kIdsLastBackup, "Last backup of the handheld: %s (%d databases)",
     "Letzte Sicherung des Handhelds: %s (%d Datenbanken)"},
    {kIdsNoWholeBackup, "No backup of the whole handheld yet.",
     "Noch keine Sicherung des ganzen Handhelds."},
    {kIdsRestoreColumnFile, "File", "Datei"},
    {kIdsRestoreColumnSize, "Size", "Größe"},
    {kIdsRestoreColumnDate, "Backed up", "Gesichert"},
    {kIdsRestoreEmpty, "%s holds no backup.", "%s enthält keine Sicherung."},
    {kIdsBackupHeading, "Backup of the handheld:", "Sicherung des Handhelds:"},
    {kIdsRestoreHeading, "Restore:", "Wiederherstellung:"},
    {kIdsNoRestoreFolder, "no backup to restore: give the folder with --backup-dir DIR",
     "keine Sicherung zum Wiederherstellen: den Ordner mit --backup-dir DIR angeben"},
    // The connection check, the port box's labels, the busy line's adapter hint.
    {kIdsCheckTitle, "Connection check", "Verbindungsprüfung"},
    {kIdsCheckSerial, "Serial ports", "Serielle Anschlüsse"},
    {kIdsCheckUsb, "Handhelds on USB", "Handhelds an USB"},
    {kIdsCheckUser, "This user", "Dieser Benutzer"},
    {kIdsCheckModemManager, "ModemManager", nullptr},
    {kIdsCheckNet, "Network HotSync", "Netzwerk-HotSync"},
    {kIdsCheckReachable, "A handheld can be reached now: %s.",
     "Ein Handheld ist jetzt erreichbar: %s."},
    {kIdsCheckUnreachable, "No handheld can be reached now.",
     "Jetzt ist kein Handheld erreichbar."},
    {kIdsCheckFix, "fix: %s", "Abhilfe: %s"},
    {kIdsCheckOk, "[ok]", nullptr},
    {kIdsCheckProblem, "[problem]", "[Problem]"},
    {kIdsCheckNote, "[note]", "[Hinweis]"},
    {kIdsCheckChosen, "chosen port %s", "gewählter Anschluss %s"},
    {kIdsCheckAdapter, " (USB-serial adapter %04x:%04x, driver %s)",
     " (USB-Seriell-Adapter %04x:%04x, Treiber %s)"},
    {kIdsCheckHandheldPort, " (the handheld's own port, driver %s)",
     " (eigener Anschluss des Handhelds, Treiber %s)"},
    {kIdsCheckBuiltIn, " (built in, driver %s)", " (eingebaut, Treiber %s)"},
    {kIdsCheckComNames, " is %s", " ist %s"},
    {kIdsCheckLink, "%s points to %s", "%s zeigt auf %s"},
    {kIdsCheckLinkNowhere, "%s points nowhere: the device behind it is gone",
     "%s zeigt ins Leere: das Gerät dahinter fehlt"},
    {kIdsCheckFixPlugIn, "plug the device in again", "das Gerät wieder anstecken"},
    {kIdsCheckMayOpen, ": may be opened", ": kann geöffnet werden"},
    {kIdsCheckNoPermission, ": permission denied", ": keine Berechtigung"},
    {kIdsCheckHeld, ": held by %s (pid %d)", ": belegt von %s (PID %d)"},
    {kIdsCheckNoDevice, ": no such device", ": gibt es nicht"},
    {kIdsCheckNoHardware, ": no serial port hardware behind it",
     ": keine serielle Schnittstelle dahinter"},
    {kIdsCheckComMissing, "%s is %s: no such device", "%s ist %s: gibt es nicht"},
    {kIdsCheckFixDevice, "set Device%d=%s in section [com] of %s",
     "Device%d=%s im Abschnitt [com] von %s setzen"},
    {kIdsCheckFixDialout, "sudo adduser %s dialout, then log out and in again",
     "sudo adduser %s dialout, dann ab- und wieder anmelden"},
    {kIdsCheckFixClose, "close %s (pid %d)", "%s (PID %d) beenden"},
    {kIdsCheckFixModemManager, "sudo systemctl stop ModemManager", nullptr},
    {kIdsCheckNoSerial, "no serial device found", "kein serielles Gerät gefunden"},
    {kIdsCheckHandheld, "%04x:%04x %s at %s", "%04x:%04x %s an %s"},
    {kIdsCheckUsbNoPermission, "%04x:%04x at %s: no permission to open it",
     "%04x:%04x an %s: keine Berechtigung zum Öffnen"},
    {kIdsCheckFixRule,
     "sudo install -m 0644 %s /etc/udev/rules.d/ && sudo udevadm control --reload-rules && "
     "sudo udevadm trigger",
     nullptr},
    {kIdsCheckDriver,
     "%04x:%04x: the kernel's driver %s has it; Cradlecourier takes it over when the HotSync "
     "starts",
     "%04x:%04x: der Kerneltreiber %s hat es; Cradlecourier übernimmt es, wenn der HotSync "
     "beginnt"},
    {kIdsCheckNoHandheld,
     "no Palm OS handheld on USB now (most show up only while their HotSync runs)",
     "jetzt kein Palm-OS-Handheld an USB (die meisten erscheinen nur, während ihr HotSync "
     "läuft)"},
    {kIdsCheckRuleInstalled, "our udev rule is installed: %s",
     "unsere udev-Regel ist installiert: %s"},
    {kIdsCheckRuleMissing, "our udev rule is not installed: only root may open USB handhelds",
     "unsere udev-Regel ist nicht installiert: nur root darf USB-Handhelds öffnen"},
    {kIdsCheckDrive, "%04x:%04x is plugged in as a drive: start the HotSync on the handheld",
     "%04x:%04x ist als Laufwerk angeschlossen: den HotSync auf dem Handheld starten"},
    {kIdsCheckInDialout, "%s is in the group dialout", "%s ist in der Gruppe dialout"},
    {kIdsCheckDialoutLater,
     "%s was added to the group dialout, but this login does not have it yet",
     "%s wurde der Gruppe dialout hinzugefügt, diese Anmeldung hat sie aber noch nicht"},
    {kIdsCheckFixLogin, "log out and in again", "ab- und wieder anmelden"},
    {kIdsCheckNotInDialout, "%s is not in the group dialout: serial devices stay closed to it",
     "%s ist nicht in der Gruppe dialout: serielle Geräte bleiben verschlossen"},
    {kIdsCheckNoDialout, "this system has no group dialout",
     "dieses System hat keine Gruppe dialout"},
    {kIdsCheckMmNotRunning, "not running", "läuft nicht"},
    {kIdsCheckMmRunning,
     "running (pid %d): it takes new USB-serial adapters for modems and holds them meanwhile",
     "läuft (PID %d): es hält neue USB-Seriell-Adapter für Modems und belegt sie so lange"},
    {kIdsCheckNetAddress, "NET would listen on %s port %u", "NET würde auf %s Port %u warten"},
    {kIdsCheckNetLoopback, " (this computer only; the setting NetListen=1 in [com] opens it)",
     " (nur dieser Rechner; die Einstellung NetListen=1 in [com] öffnet es)"},
    {kIdsCheckNetOpen, " (open to the network)", " (für das Netzwerk offen)"},
    {kIdsCheckNetFree, "the port is free", "der Port ist frei"},
    {kIdsCheckNetHeld, "the port is in use by %s (pid %d)", "der Port ist von %s (PID %d) belegt"},
    {kIdsCheckNetInUse, "the port is in use by another program",
     "der Port ist von einem anderen Programm belegt"},
    {kIdsCheckFixNetPort, "another port: --port net:%s:%u", "ein anderer Port: --port net:%s:%u"},
    {kIdsCheckNetError, "NET cannot listen there: %s", "NET kann dort nicht warten: %s"},
    {kIdsPortNoDeviceAdapter,
     " (no such device %s; USB-serial adapter: %s, chosen with Device%d=%s in [com])",
     " (Gerät %s gibt es nicht; USB-Seriell-Adapter: %s, zu wählen mit Device%d=%s in [com])"},
    {kIdsPortLabelDevice, "%s — %s", nullptr},
    {kIdsPortLabelAdapter, "%s — %s (USB-serial adapter)", "%s — %s (USB-Seriell-Adapter)"},
    {kIdsPortLabelHandheld, "%s — %s (handheld)", "%s — %s (Handheld)"},
    {kIdsPortLabelMissing, "%s — %s (missing)", "%s — %s (fehlt)"},
    {kIdsPortLabelUsbFound, "%s — %s", nullptr},
    {kIdsPortLabelUsbNone, "%s — no handheld now", "%s — jetzt kein Handheld"},
    {kIdsPortLabelNet, "%s — %s:%u", nullptr},
    {kIdsCheckSharedId, " (one id of several models: the handheld tells which)",
     " (eine Kennung mehrerer Modelle: das Handheld sagt, welches)"},
    {kIdsCheckSuperUser, "%s may open every device", "%s darf jedes Gerät öffnen"},
    {kIdsCardNoExpansion,
     "This handheld cannot take memory cards (Palm OS 4 or later is needed):\n%s was not "
     "installed.",
     "Dieser Handheld kann keine Speicherkarten nutzen (ab Palm OS 4):\n%s wurde nicht "
     "übertragen."},
    {kIdsCardNone, "No memory card in the handheld:\n%s was not installed.",
     "Keine Speicherkarte im Handheld:\n%s wurde nicht übertragen."},
    {kIdsCardReadOnly, "The memory card is write-protected:\n%s was not installed.",
     "Die Speicherkarte ist schreibgeschützt:\n%s wurde nicht übertragen."},
    {kIdsCardFull, "Not enough space on the memory card:\n%s was not installed.",
     "Nicht genug Platz auf der Speicherkarte:\n%s wurde nicht übertragen."},
    {kIdsCardWrite,
     "The memory card stopped taking data (was it taken out?):\n%s was not installed.",
     "Die Speicherkarte nimmt keine Daten mehr an (wurde sie herausgenommen?):\n%s wurde "
     "nicht übertragen."},
    {kIdsCardName,
     "A file on a memory card needs a name of at most 255 bytes without \"/\" or \"\\\":\n"
     "%s was not installed.",
     "Eine Datei auf der Speicherkarte braucht einen Namen mit höchstens 255 Bytes ohne \"/\" "
     "oder \"\\\":\n%s wurde nicht übertragen."},
    {kIdsVerifyFailed,
     "Check failed: the handheld does not hold what was sent.\n%s was removed again.",
     "Prüfung fehlgeschlagen: der Handheld enthält nicht, was gesendet wurde.\n%s wurde "
     "wieder entfernt."},
    {kIdsNowhere,
     "Neither the handheld's memory nor a memory card can take it:\n%s was not installed.",
     "Weder der Speicher des Handhelds noch eine Speicherkarte kann es aufnehmen:\n%s wurde "
     "nicht übertragen."},
    {kIdsNoteOnCard, "%d on the card", "%d auf der Karte"},
    {kIdsNoteMoved, " (%d for lack of memory)", " (%d wegen Speichermangel)"},
    {kIdsNoteKeptInRam, "%d kept in memory (sounds and pictures open only from there)",
     "%d im Speicher behalten (Klänge und Bilder öffnen nur von dort)"},
    {kIdsNoteVerified, "%d verified", "%d geprüft"},
    {kIdsColumnWhere, "To", "Ziel"},
    {kIdsWhereRam, "RAM", "RAM"},
    {kIdsWhereCard, "card", "Karte"},
    {kIdsWhereAuto, "RAM/card", "RAM/Karte"},
    // USB in the connection check on Windows.
    {kIdsPortLabelUsbVendor, "%s — a handheld on the vendor's driver",
     "%s — ein Handheld am Treiber des Herstellers"},
    {kIdsCheckVendorDriverHotSync,
     "the handheld vendor's USB driver is installed and a handheld is in HotSync on it",
     "der USB-Treiber des Handheld-Herstellers ist installiert, und ein Handheld ist darüber im "
     "HotSync"},
    {kIdsCheckVendorDriverIdle,
     "the handheld vendor's USB driver is installed; no handheld is in HotSync on it now",
     "der USB-Treiber des Handheld-Herstellers ist installiert; jetzt ist kein Handheld darüber "
     "im HotSync"},
    {kIdsCheckVendorDriverNone, "the handheld vendor's USB driver is not installed",
     "der USB-Treiber des Handheld-Herstellers ist nicht installiert"},
    {kIdsCheckWinUsb, "WinUSB is available for handhelds bound to it",
     "WinUSB ist für daran gebundene Handhelds verfügbar"},
    {kIdsCheckNoWinUsb, "WinUSB is not available (winusb.dll is missing)",
     "WinUSB ist nicht verfügbar (winusb.dll fehlt)"},
    {kIdsCheckNoSetupApi, "SETUPAPI.DLL or one of its functions is missing: USB cannot be used",
     "SETUPAPI.DLL oder eine ihrer Funktionen fehlt: USB ist nicht nutzbar"},
    {kIdsCheckNotWinUsb,
     "%04x:%04x: WinUSB cannot open it (another driver has it, or another program uses it)",
     "%04x:%04x: WinUSB kann es nicht öffnen (ein anderer Treiber hat es, oder ein anderes "
     "Programm benutzt es)"},
    {kIdsCheckFixWinUsb,
     "bind the handheld to WinUSB while its HotSync runs, for example with the Zadig tool "
     "(Options > List All Devices, the handheld, WinUSB, Replace Driver), and close other "
     "HotSync programs",
     "das Handheld während seines HotSync an WinUSB binden, zum Beispiel mit dem Programm Zadig "
     "(Options > List All Devices, das Handheld, WinUSB, Replace Driver), und andere "
     "HotSync-Programme beenden"},
    // Windows.
    {kIdsUsbNotAvailable, "USB is not available on Windows yet: choose a COM port or NET",
     "USB ist unter Windows noch nicht verfügbar: einen COM-Anschluss oder NET wählen"},
    // Windows' desktop services.
    {kIdsOtherProgramKept,
     "Windows keeps your own choice of another program for %s files, and only Windows' "
     "settings may change it.\n\nOpen the Default apps settings to choose Cradlecourier "
     "there?",
     "Windows behält Ihre eigene Wahl eines anderen Programms für %s-Dateien bei, und nur die "
     "Windows-Einstellungen dürfen sie ändern.\n\nDie Einstellungen für Standard-Apps öffnen, "
     "um dort den Cradlecourier zu wählen?"},
};

// -1 until first use, then the language as an int.
std::atomic<int> g_nLanguage{-1};

}  // namespace

Language LanguageFromLocale(const char* locale) {
    if (locale && std::strncmp(locale, "de", 2) == 0) return Language::kGerman;
    return Language::kEnglish;
}

Language SystemLanguage() {
    const std::string locale = platform::UserLocaleName();
    return LanguageFromLocale(locale.empty() ? nullptr : locale.c_str());
}

void SetLanguage(Language language) {
    g_nLanguage = static_cast<int>(language);
}

Language CurrentLanguage() {
    int value = g_nLanguage.load();
    if (value < 0) {
        value = static_cast<int>(SystemLanguage());
        g_nLanguage = value;
    }
    return static_cast<Language>(value);
}

const char* LoadString(int id, Language language) {
    for (const Entry& e : kTable) {
        if (e.id != id) continue;
        if (language == Language::kGerman && e.german) return e.german;
        return e.english;
    }
    return "";
}

const char* LoadString(int id) {
    return LoadString(id, CurrentLanguage());
}

std::string FormatString(int id, ...) {
    const char* format = LoadString(id);
    va_list args;
    va_start(args, id);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

}  // namespace resources
