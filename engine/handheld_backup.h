// The whole handheld backed up into a Backup folder, and put back from one: the worker's
// steps for "back up the handheld" and "restore", which report through the session (the
// phase and position for the progress line, m_listReport for the end of the run, m_nFailed,
// and the run error for a lost link or a full handheld).
#pragma once

#include <string>
#include <vector>

#include "engine/backup_folder.h"

class CDeviceSession;
struct UserRecord;

// Backs up every database in the handheld's RAM into backupDir ("/"-terminated; made when
// missing). A database whose copy there has its modification number and date is not read
// again unless full is set; any other is read whole into a temporary file beside the copies
// and only then renamed over its copy, so a database read in part never replaces a good
// copy. ROM databases are never copied; one open on the handheld, one listed twice, and one
// the handheld refuses or answers for in ways that do not fit are left, each with a line.
// Then the folder's record names the handheld's user (user, when it was read) and the time.
// A handheld without a user name, or of another user than the folder's record names, is
// not backed up into it: that would put its few remaining databases over a good backup.
void BackupHandheld(CDeviceSession& session, const std::string& backupDir, bool full,
                    const UserRecord* user);

// A file to restore, once it has been looked at.
struct RestoreItem {
    std::string path;
    std::string dbName;
    int group = 0;  // 0 system and preferences, 1 the user's data, 2 applications and the rest
};
// The files in the order they are restored: the system's databases and preferences, then
// the user's record databases, then applications and other resource databases, by name
// within each group. Files that are no Palm database, are not whole, or hold a database an
// earlier file holds already are left out with a line each in refused.
std::vector<RestoreItem> PlanRestore(const std::vector<std::string>& files,
                                     std::vector<std::string>& refused);

// Restores the files (PlanRestore's order) onto the handheld, each replacing the database
// of its name, and sends one reset at the end when any of them asks for it. A handheld
// that has lost its user name (a hard reset) gets back the user of the record in the folder
// of the files: written into user (userRead is then set) for the end of the run to write.
void RestoreHandheld(CDeviceSession& session, const std::vector<std::string>& files,
                     UserRecord& user, bool& userRead);
