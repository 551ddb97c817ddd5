// A Backup folder as the whole-handheld backup and its restore see it: the copies in it, by
// the database each holds, and the record of the handheld it belongs to.
//
// The record is a small text file beside the copies whose name begins with a dot, as the
// copies being written do; restores and the history's list of files pass over such names,
// as do the other desktops' restores. It reads:
//
//   # Cradlecourier: the handheld backed up here
//   UserName=Jane Doe        the handheld's user name (UTF-8)
//   UserId=2718281828        the handheld's user id, and its viewer and last-sync PC ids
//   ViewerId=0
//   LastSyncPc=0
//   BackupTime=1714035112    end of the last whole backup, seconds since 1970 (0: none)
//   Databases=57             how many databases that backup held
//
// Unknown lines and lines without "=" are skipped; a value that is no such number leaves
// its field at 0.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

inline constexpr const char* kHandheldRecordName = ".ccourier-handheld";
// The largest record file read; it holds a handful of short lines.
inline constexpr size_t kMaxHandheldRecordSize = 4096;

struct HandheldRecord {
    std::string userName;  // in the handheld's character set
    uint32_t userId = 0;
    uint32_t viewerId = 0;
    uint32_t lastSyncPc = 0;
    time_t backupTime = 0;
    int databases = 0;
};

// The record in text form and back. Parsing never fails: what it cannot read stays empty.
std::string FormatHandheldRecord(const HandheldRecord& record);
HandheldRecord ParseHandheldRecord(const std::string& text);

// backupDir ends with "/". False when the folder has no record (or it cannot be read).
bool ReadHandheldRecord(const std::string& backupDir, HandheldRecord& record);
// Replaces the record whole (a temporary file, then a rename). False when it cannot be.
bool WriteHandheldRecord(const std::string& backupDir, const HandheldRecord& record);

// For the windows: when the handheld was last backed up whole into the folder, and how
// many databases that backup holds; or that it never was.
std::string LastBackupNote(const std::string& backupDir);

// A file in the Backup folder that holds a Palm database.
struct BackupCopy {
    std::string fileName;
    std::string dbName;  // as its header has it
    bool resourceDb = false;
    uint32_t modificationNumber = 0;
    int64_t modificationDate = 0;  // seconds since 1970, as the file reader gives it
    int64_t fileSize = 0;
    time_t fileTime = 0;  // when the file was last written
    bool whole = false;   // every entry's data is in the file
};

// The plain files of the folder (not links) whose names do not begin with a dot, in name
// order.
std::vector<std::string> BackupFileNames(const std::string& backupDir);
// Those of them that open as Palm databases, with what their headers say.
std::vector<BackupCopy> ScanBackupCopies(const std::string& backupDir);

// The file name for a database's copy: as the copies of installed files are named (upper
// case, ".PRC" or ".PDB", unsafe characters made "_"), with " (2)", " (3)" ... before the
// extension while the name (without regard to case) is among taken.
std::string CopyFileNameFor(const std::string& dbName, bool resourceDb,
                            const std::vector<std::string>& taken);

// A temporary file beside the copies (its name begins with a dot) to be renamed into place
// once whole; empty when none can be made.
std::string MakeTemporaryCopyPath(const std::string& backupDir);
