// What the installation history shows for one desktop user directory: the rows of its
// installation log, which of them still have their backup copy, and, when asked, the
// backup copies that no log line names. Rebuilt from disk after every change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IUserLibrary;

struct HistoryRow {
    std::string name;     // the backup copy's file name
    std::string version;  // as the log has it, its leading blank included
    std::string date;     // likewise; empty for a copy no log line names
    bool exists = false;  // "X": the newest row of a file whose copy is in Backup/
};

// The log is read in pieces of this many characters at most (a longer line gives several).
inline constexpr size_t kLogPieceLength = 510;
// The version of a copy no log line names: its first 'tver' resource, cut to this length.
inline constexpr size_t kBackupVersionLength = 253;

// Rows of userDir + "CCourier.log" (CR LF and LF line ends alike). A piece made only of
// blanks ends the reading; a piece is cut into fields at commas, CRs and LFs, empty fields
// skipped; the first three fields are name, version and date. A piece is cut at a NUL
// byte. A missing or unreadable log gives no rows.
std::vector<HistoryRow> LoadHistoryLog(const std::string& userDir);

// Marks the newest row of each file in userDir + "Backup/" (not folders, not names that
// begin with a dot, which are the program's own) and, with allFiles, appends a row for each
// file no row names, with its version.
void ScanBackups(const std::string& userDir, std::vector<HistoryRow>& rows, bool allFiles);

// The text of a Palm file's first 'tver' resource (to its first NUL, at most
// kBackupVersionLength bytes) as UTF-8; empty for a record database, a file that is no
// Palm database, or one without the resource. Never reads more than it needs.
std::string BackupVersionText(const std::string& path);

// Deletes the backup copy of that file name; false when the name is no plain file name or
// the file cannot be deleted.
bool DeleteBackup(const std::string& userDir, const std::string& name);

// The history window's user list: every user with a name, in index order, and which of
// them owns the user directory (the first whose directory equals it exactly; -1 for none).
struct HistoryUser {
    std::string name;  // UTF-8
    uint32_t id = 0;
};
std::vector<HistoryUser> HistoryUsers(IUserLibrary* library, const std::string& userDir,
                                      int& selected);
