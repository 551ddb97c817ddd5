// Backup copies of installed databases and the installation log beside them, in a desktop
// user's directory:
//   userDir + "Backup/" + NAME.PRC or NAME.PDB   the copy of each installed database
//   userDir + "CCourier.log"                     one line per copy: "name, version, time"
// Log lines end with CR LF, so a log moved between systems reads the same.
#pragma once

#include <ctime>
#include <string>

namespace pdb {
class CPalmDbFile;
}

inline constexpr const char* kBackupFolder = "Backup/";
inline constexpr const char* kLogFileName = "CCourier.log";

// The log's time text: "Thu Jan 04 09:05:00 2001\n", English names, day with two digits.
std::string FormatLogTime(const std::tm& local);

// The backup copy's file name: the database name (at most 31 characters) and ".PRC" or
// ".PDB", in upper case, as UTF-8. A "/" or a control character in the name becomes "_",
// so the name stays one file inside the Backup folder, and so does a leading dot, so the
// copy is not hidden.
std::string BackupFileName(const pdb::CPalmDbFile& file);
// The same for a database name and kind.
std::string BackupFileNameFor(const std::string& dbName, bool resourceDb);

// The log line for a copy, with its CR LF.
std::string LogLine(const std::string& fileName, const std::string& version, const std::tm& local);

// Backup copy of an installed database into userDir + "Backup/" and its line in the log.
// The file's header dates are moved as the backup expects. The Backup folder is never
// created here. The copy replaces an older one only once it is whole (written beside it,
// then renamed), and neither the copy nor the log is written through a symbolic link.
// Returns true when the copy was written (the log line is then attempted).
bool WriteBackupAndLog(const std::string& userDir, pdb::CPalmDbFile& file, time_t now);
