#include "resources/strings/dialog_texts.h"

namespace resources {
namespace {

struct ItemEntry {
    int resource;
    int item;
    const char* english;
    const char* german;  // null: the English text serves
};

constexpr ItemEntry kItems[] = {
    // The main window.
    {kDlgInstaller, kItemCaption, "Cradlecourier", nullptr},
    {kDlgInstaller, 1045, " file(s) to install: ", " Datei(en) zu übertragen: "},
    {kDlgInstaller, 1043, "&Add...", "&Hinzufügen"},
    {kDlgInstaller, 1044, "&Remove...", "&Entfernen"},
    {kDlgInstaller, 1002, "Status:", nullptr},
    {kDlgInstaller, 1019, "port:", "Anschluss:"},
    {kDlgInstaller, 1020, "speed:", "Geschwindigkeit:"},
    {kDlgInstaller, 1024, "Close on &finish", "Nach Übertragung schliessen  "},
    {kDlgInstaller, 2, "Cancel", "&Abbrechen"},

    // Its menu.
    {kMenuInstaller, kItemPopupFile, "&File", "&Datei "},
    {kMenuInstaller, 1043, "&Add...", "&Hinzufügen..."},
    {kMenuInstaller, kItemPopupOptions, "&Options", "&Optionen "},
    {kMenuInstaller, 32776, "File&list", "Datei&liste"},
    {kMenuInstaller, 32785, "&Start with \"file open\" ", "Start mit \"Datei Öffnen\""},
    {kMenuInstaller, kItemPopupExtended, "extented", "Erweitert"},
    {kMenuInstaller, 32803, "compress picture", "Bilder komprimieren"},
    {kMenuInstaller, 32782, "Adjust &PDA date/time", "&PDA Datum/Zeit setzen"},
    {kMenuInstaller, 32810, "&Destination", "Zi&el"},
    {kMenuInstaller, 32811, "&Handheld memory", "&Handheld-Speicher"},
    {kMenuInstaller, 32812, "&Memory card", "&Speicherkarte"},
    {kMenuInstaller, 32813, "&Card when memory is short", "&Karte, wenn der Speicher knapp ist"},
    {kMenuInstaller, 32814, "&Verify after install", "Nach der Übertragung prü&fen"},
    {kMenuInstaller, 32781, "&Copy to backup directory", "&Zum Sicherungsordner kopieren"},
    {kMenuInstaller, 32783, "&Installation history...", "&Installationsverlauf..."},
    {kMenuInstaller, 32777, "&Register filetypes", "Dateitypen &registrieren"},
    {kMenuInstaller, 32778, "&Unregister filetypes", "Dateitypen &aufheben"},
    {kMenuInstaller, kItemPopupHelp, "&? ", nullptr},
    {kMenuInstaller, 57670, "&Help", "H&ilfethemen ..."},
    {kMenuInstaller, 57664, "&About", "&Info ..."},

    // The about box: one template with these texts in both languages.
    {kDlgAbout, kItemCaption, "Informationen", nullptr},
    {kDlgAbout, kItemText1, "Cradlecourier %s", nullptr},  // the version
    {kDlgAbout, kItemText2, "© The Cradlecourier project · GPLv3+",
     "© Das Cradlecourier-Projekt · GPLv3+"},
    {kDlgAbout, 1, "&Ok", nullptr},

    // Becoming the default installer.
    {kDlgDefaultTypes, kItemCaption, "Confirmation:", "Standardverknüpfungen"},
    {kDlgDefaultTypes, kItemText1, "Cradlecourier is not the default installer for",
     "Der Cradlecourier ist nicht die standardmäßige"},
    {kDlgDefaultTypes, kItemText2, "palm-pilot software (prc,pqa,pdb)",
     "Anwendung für Palm-Dateien (prc,pdb,pqa)."},
    {kDlgDefaultTypes, kItemText3, "Would you like to enable this ?",
     "Möchten Sie die Einstellung korregieren ?"},
    {kDlgDefaultTypes, 1030, "Don't ask this question again",
     "Frage zukünftig nicht mehr stellen "},
    {kDlgDefaultTypes, 6, "&Yes", "&Ja"},
    {kDlgDefaultTypes, 7, "&No", "&Nein"},
    {kDlgDefaultTypes, 9, "&Help", "&Hilfe"},

    // An archive's read-me and licence.
    {kDlgReadme, kItemCaption, "ReadMe:", "Informationen"},
    {kDlgReadme, 1, "OK", "Ok"},
    {kDlgReadme, 3, "&Accept!", "&Akzeptieren"},
    {kDlgReadme, 2, "&Don't accept", "&Verweigern"},

    // The installation history.
    {kDlgHistory, kItemCaption, "Installation history:", "Verlauf der Installationen"},
    {kDlgHistory, kItemText1, "User:", "Benutzer:"},
    {kDlgHistory, 1048, "&All backup files", "&Alle Sicherungsdateien"},
    {kDlgHistory, 1, "OK", nullptr},
    {kDlgHistory, 1047, "&Delete", "&Löschen"},

    // The desktop users: its menu command, its controls, and its messages (items 1110 on).
    {kMenuInstaller, 32804, "Desktop &users...", "Desktop-&Benutzer..."},

    {kDlgDesktopUsers, kItemCaption, "Desktop users", "Desktop-Benutzer"},
    {kDlgDesktopUsers, kItemText1,
     "Handheld users whose installed files are copied to a backup folder. A user's name "
     "must be the handheld's user name exactly.",
     "Handheld-Benutzer, deren installierte Dateien in einen Sicherungsordner kopiert werden. "
     "Der Name muss genau der Benutzername des Handhelds sein."},
    {kDlgDesktopUsers, 1101, "Name", nullptr},
    {kDlgDesktopUsers, 1102, "Backup folder", "Sicherungsordner"},
    {kDlgDesktopUsers, kItemText2, "&User name:", "&Benutzername:"},
    {kDlgDesktopUsers, 1104, "&Add", "&Hinzufügen"},
    {kDlgDesktopUsers, 1105, "&Remove", "&Entfernen"},
    {kDlgDesktopUsers, 2, "Close", "Schließen"},
    {kDlgDesktopUsers, 1110,
     "Remove the desktop user \"%s\"?\nIts folder and backup copies stay on disk.",
     "Den Desktop-Benutzer \"%s\" entfernen?\nSein Ordner und die Sicherungskopien bleiben "
     "erhalten."},
    {kDlgDesktopUsers, 1111,
     "\"%s\" cannot be a handheld's user name: 1 to 127 characters of the handheld's "
     "character set, no control characters, no blanks at either end.",
     "\"%s\" kann nicht der Benutzername eines Handhelds sein: 1 bis 127 Zeichen aus dem "
     "Zeichensatz des Handhelds, keine Steuerzeichen, keine Leerzeichen am Anfang oder Ende."},
    {kDlgDesktopUsers, 1112, "There is already a desktop user \"%s\".",
     "Es gibt bereits einen Desktop-Benutzer \"%s\"."},
    {kDlgDesktopUsers, 1113, "The desktop users file %s cannot be written.",
     "Die Datei der Desktop-Benutzer %s kann nicht geschrieben werden."},

    // The whole handheld: its two menu commands and the restore dialog.
    {kMenuInstaller, 32830, "Back up handheld at &next HotSync",
     "Handheld beim &nächsten HotSync sichern"},
    {kMenuInstaller, 32831, "&Restore...", "&Wiederherstellen..."},
    {kDlgRestore, kItemCaption, "Restore from backup", "Aus der Sicherung wiederherstellen"},
    {kDlgRestore, kItemText1, "User:", "Benutzer:"},
    {kDlgRestore, 3104, "&All files", "&Alle Dateien"},
    {kDlgRestore, 1, "&Restore at next HotSync", "&Beim nächsten HotSync"},
    {kDlgRestore, 2, "Cancel", "Abbrechen"},
    // The connection check (ours), opened from the Help menu.
    {kMenuInstaller, 32820, "Check &connection...", "&Verbindung prüfen ..."},
    {kDlgConnectionCheck, kItemCaption, "Check connection", "Verbindung prüfen"},
    {kDlgConnectionCheck, 1171, "Check &again", "&Erneut prüfen"},
    {kDlgConnectionCheck, 2, "&Close", "&Schließen"},
};

}  // namespace

const char* LoadItemText(int resourceId, int itemId, Language language) {
    for (const ItemEntry& e : kItems) {
        if (e.resource != resourceId || e.item != itemId) continue;
        if (language == Language::kGerman && e.german) return e.german;
        return e.english;
    }
    return "";
}

const char* LoadItemText(int resourceId, int itemId) {
    return LoadItemText(resourceId, itemId, CurrentLanguage());
}

}  // namespace resources
