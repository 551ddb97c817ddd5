#include "engine/handheld_backup.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "engine/install_worker.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "platform/files.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"

using resources::FormatString;

namespace {

namespace fs = std::filesystem;

void Report(CDeviceSession& session, const std::string& line) {
    session.m_listReport.push_back(line);
}

std::string Shown(const std::string& dbName) {
    return pdb::PalmTextToUtf8(dbName);
}

// The folder, made when it is missing. (A desktop user's Backup folder is never a link: the
// user store refuses such a user. A folder named on the command line may be one.)
bool UsableFolder(const std::string& dir) {
    const fs::path path(dir.substr(0, dir.size() - 1));
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

// Tells the window the connection is gone and waits until it has said so.
void ReportLostLink(CDeviceSession& session) {
    session.m_nError = kRunErrConnectionLost;
    WaitKeepingAlive(g_evAck, session);
}

// The header a copy keeps: the handheld's own fields. The handheld reports no unique id
// seed; the copy has 0 there, as other desktops' copies do.
pdb::DbInfo CopyHeader(const hotsync::DbInfo& listed) {
    pdb::DbInfo info;
    info.name = listed.name.substr(0, pdb::kMaxNameLength);
    info.attributes = static_cast<uint16_t>(listed.attributes & ~pdb::kAttrOpen);
    info.version = static_cast<uint16_t>(listed.version);
    info.createDate = listed.creationDate;
    info.modifyDate = listed.modificationDate;
    info.backupDate = listed.backupDate;
    info.modnum = listed.modificationNumber;
    info.type = listed.type;
    info.creator = listed.creator;
    return info;
}

// One database into its copy. True when the copy was written; otherwise a line says why.
// A link that broke is left to the caller, which sees it on the session.
bool CopyDatabase(CDeviceSession& session, const ListedDatabase& db, const std::string& backupDir,
                  const std::string& fileName) {
    const std::string name = Shown(db.info.name);
    const std::string temp = MakeTemporaryCopyPath(backupDir);
    std::unique_ptr<pdb::CPalmDbFile> file;
    if (!temp.empty()) file = pdb::CPalmDbFile::Create(temp, CopyHeader(db.info));
    if (!file) {
        if (!temp.empty()) platform::RemoveFile(temp);
        Report(session, FormatString(resources::kIdsNotCopiedWrite, name.c_str(),
                                     (backupDir + fileName).c_str()));
        return false;
    }
    std::string why;
    const int r = session.ReadDatabase(db, *file, why);
    if (r != 0) {
        file.reset();
        platform::RemoveFile(temp);
        if (r == kInstallLinkBroken || r == kReadCancelled) return false;
        Report(session, FormatString(r == kReadBadAnswer ? resources::kIdsNotCopiedBadAnswer
                                                         : resources::kIdsNotCopiedRefused,
                                     name.c_str(), why.c_str()));
        return false;
    }
    // Only a whole copy takes the place of the old one.
    if (file->Close() != pdb::kOk || !platform::RenameFile(temp, backupDir + fileName)) {
        platform::RemoveFile(temp);
        Report(session, FormatString(resources::kIdsNotCopiedWrite, name.c_str(),
                                     (backupDir + fileName).c_str()));
        return false;
    }
    return true;
}

}  // namespace

void BackupHandheld(CDeviceSession& session, const std::string& backupDir, bool full,
                    const UserRecord* user) {
    int copied = 0, unchanged = 0, notCopied = 0;
    const auto finish = [&] {
        session.m_listReport.insert(
            session.m_listReport.begin(),
            std::string(resources::LoadString(resources::kIdsBackupHeading)) + " " +
                FormatString(resources::kIdsBackupSummary, copied, unchanged, notCopied));
        session.m_nPhase = CDeviceSession::kPhaseInstall;
    };
    HandheldRecord record;
    const bool hadRecord = ReadHandheldRecord(backupDir, record);
    if (user && hadRecord && !record.userName.empty() && user->userName != record.userName) {
        ++session.m_nFailed;
        Report(session, user->userName.empty()
                            ? FormatString(resources::kIdsBackupNoUser, backupDir.c_str())
                            : FormatString(resources::kIdsBackupOtherUser, backupDir.c_str(),
                                           Shown(record.userName).c_str()));
        return;
    }
    if (!UsableFolder(backupDir)) {
        ++session.m_nFailed;
        Report(session, FormatString(resources::kIdsNotCopiedWrite, "-", backupDir.c_str()));
        return;
    }

    session.m_nPhase = CDeviceSession::kPhaseListing;
    std::vector<ListedDatabase> listed;
    const int listedResult = session.ListRamDatabases(listed);
    if (listedResult == kInstallLinkBroken) {
        ++session.m_nFailed;
        session.m_nPhase = CDeviceSession::kPhaseInstall;
        ReportLostLink(session);
        return;
    }
    if (listedResult != 0) {
        ++session.m_nFailed;
        Report(session, FormatString(resources::kIdsListingFailed,
                                     ("error " + std::to_string(-listedResult)).c_str()));
        // What was listed before the list failed is still worth copying.
    }

    // The copies there, by the database each holds; and every name taken in the folder, so
    // that a new copy never lands on a file of another database.
    std::map<std::string, BackupCopy> copies;
    std::vector<std::string> taken = BackupFileNames(backupDir);
    for (BackupCopy& copy : ScanBackupCopies(backupDir)) {
        const std::string key = copy.dbName;
        copies.emplace(key, std::move(copy));
    }

    session.m_nPhase = CDeviceSession::kPhaseBackup;
    session.m_nPhaseCount = static_cast<int>(listed.size());
    std::set<std::string> seen;
    int held = 0;
    for (size_t i = 0; i < listed.size(); ++i) {
        const ListedDatabase& db = listed[i];
        const hotsync::DbInfo& info = db.info;
        session.m_nPhaseIndex = static_cast<int>(i);
        session.SetPhaseName(Shown(info.name));
        session.m_nFileBytesDone = 0;
        session.m_nFileBytesTotal = 0;
        if (session.m_bCancel) break;
        // ROM is never copied, whatever list it turns up in.
        const bool inRom = (info.attributes & pdb::kAttrReadOnly) ||
                           (session.DlpVersion() >= hotsync::kDlpVersion12 &&
                            !(info.miscFlags & hotsync::kDbMiscRamBased));
        if (inRom || info.name.empty()) continue;
        if (!seen.insert(info.name).second) {
            ++notCopied;
            Report(session, FormatString(resources::kIdsNotCopiedTwice, Shown(info.name).c_str()));
            continue;
        }
        if (info.attributes & pdb::kAttrOpen) {
            ++notCopied;
            Report(session, FormatString(resources::kIdsNotCopiedOpen, Shown(info.name).c_str()));
            continue;
        }
        const bool resourceDb = (info.attributes & pdb::kAttrResDb) != 0;
        const auto copy = copies.find(info.name);
        if (copy != copies.end() && copy->second.resourceDb == resourceDb && !full &&
            copy->second.whole && copy->second.modificationNumber == info.modificationNumber &&
            copy->second.modificationDate == int64_t(info.modificationDate)) {
            ++unchanged;
            ++held;
            continue;
        }
        std::string fileName;
        if (copy != copies.end() && copy->second.resourceDb == resourceDb) {
            fileName = copy->second.fileName;
        } else {
            fileName = CopyFileNameFor(info.name, resourceDb, taken);
            taken.push_back(fileName);
        }
        if (CopyDatabase(session, db, backupDir, fileName)) {
            ++copied;
            ++held;
            continue;
        }
        if (session.IsLinkBroken()) {
            notCopied += static_cast<int>(listed.size() - i);
            ++session.m_nFailed;
            Report(session, FormatString(resources::kIdsNotCopiedLink, Shown(info.name).c_str()));
            finish();
            ReportLostLink(session);
            return;
        }
        if (session.m_bCancel) break;
        ++notCopied;
        ++session.m_nFailed;
    }
    if (!session.m_bCancel) {
        if (user) {
            record.userName = user->userName;
            record.userId = user->userId;
            record.viewerId = user->viewerId;
            record.lastSyncPc = user->lastSyncPc;
        }
        record.backupTime = std::time(nullptr);
        record.databases = held;
        WriteHandheldRecord(backupDir, record);
    }
    finish();
}
