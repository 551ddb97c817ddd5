// The restore half of engine/handheld_backup.h: which files go back, in which order, and
// the handheld's user after a hard reset.
#include <algorithm>
#include <map>
#include <memory>

#include "engine/file_paths.h"
#include "engine/handheld_backup.h"
#include "engine/install_worker.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"

using resources::FormatString;

namespace {

enum Group { kSystem = 0, kUserData = 1, kApplications = 2 };

// The system's own databases and every preferences database go first, so that what comes
// after starts with the handheld set up as it was; applications come last, when the data
// they look for at installation is there already.
int GroupOf(const pdb::DbInfo& info) {
    if (info.creator == pdb::MakeFourCC("psys") || info.type == pdb::MakeFourCC("sprf") ||
        info.type == pdb::MakeFourCC("pref")) {
        return kSystem;
    }
    return info.IsResourceDb() ? kApplications : kUserData;
}

std::string FileNameOf(const std::string& path) {
    return SplitPathPart(path, 5);
}

// What a restore result says in the summary.
std::string ResultText(int r) {
    switch (r) {
        case kInstallMemoryFull:
        case -16: {
            const std::string text = resources::LoadString(resources::kIdsDeviceFull);
            return text.substr(0, text.find('\n'));
        }
        case kInstallLinkBroken:
            return resources::LoadString(resources::kIdsConnectionLost);
        default:
            return "error " + std::to_string(r < 0 ? -r : r);
    }
}

}  // namespace

std::vector<RestoreItem> PlanRestore(const std::vector<std::string>& files,
                                     std::vector<std::string>& refused) {
    std::vector<RestoreItem> items;
    std::map<std::string, std::string> byName;  // database name -> the file that has it
    for (const std::string& path : files) {
        const std::string shown = FileNameOf(path);
        // A FIFO or a device named like a copy would block the run; it is no copy either.
        std::unique_ptr<pdb::CPalmDbFile> file;
        if (IsPlainFile(path)) file = pdb::CPalmDbFile::Open(path);
        if (!file || file->Info().name.empty()) {
            refused.push_back(FormatString(resources::kIdsRefusedNotPalm, shown.c_str()));
            continue;
        }
        bool whole = true;
        std::vector<uint8_t> block;
        whole = file->GetAppInfo(block) == pdb::kOk && file->GetSortInfo(block) == pdb::kOk;
        for (int i = 0; i < file->EntryCount() && whole; ++i) {
            uint32_t size = 0;
            whole = file->EntrySize(i, size) == pdb::kOk;
        }
        if (!whole) {
            refused.push_back(FormatString(resources::kIdsRefusedTruncated, shown.c_str()));
            continue;
        }
        const std::string name = file->Info().name.substr(0, pdb::kMaxNameLength);
        const auto [at, added] = byName.emplace(name, shown);
        if (!added) {
            refused.push_back(
                FormatString(resources::kIdsRefusedTwice, shown.c_str(), at->second.c_str()));
            continue;
        }
        items.push_back(RestoreItem{path, name, GroupOf(file->Info())});
    }
    std::stable_sort(items.begin(), items.end(), [](const RestoreItem& a, const RestoreItem& b) {
        return a.group != b.group ? a.group < b.group : a.dbName < b.dbName;
    });
    return items;
}

void RestoreHandheld(CDeviceSession& session, const std::vector<std::string>& files,
                     UserRecord& user, bool& userRead) {
    std::vector<std::string> lines;
    const std::vector<RestoreItem> items = PlanRestore(files, lines);
    int restored = 0;
    int notRestored = static_cast<int>(lines.size());
    bool reset = false;
    const auto finish = [&] {
        lines.insert(lines.begin(),
                     std::string(resources::LoadString(resources::kIdsRestoreHeading)) + " " +
                         FormatString(resources::kIdsRestoreSummary, restored, notRestored));
        session.m_listReport.insert(session.m_listReport.end(), lines.begin(), lines.end());
        session.m_nPhase = CDeviceSession::kPhaseInstall;
    };

    // A handheld that lost its user gets back the one the backup belongs to.
    if (userRead && user.userName.empty() && !files.empty()) {
        HandheldRecord record;
        if (ReadHandheldRecord(SplitPathPart(files.front(), 2), record) &&
            !record.userName.empty()) {
            user.userName = record.userName;
            user.userId = record.userId;
            user.viewerId = record.viewerId;
            user.lastSyncPc = record.lastSyncPc;
            userRead = true;
            CopyText(session.m_szUserName, user.userName);
            lines.push_back(FormatString(resources::kIdsUserRestored,
                                         pdb::PalmTextToUtf8(user.userName).c_str(), user.userId));
        }
    }

    session.m_nPhase = CDeviceSession::kPhaseRestore;
    session.m_nPhaseCount = static_cast<int>(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (session.m_bCancel) break;
        const RestoreItem& item = items[i];
        session.m_nPhaseIndex = static_cast<int>(i);
        session.SetPhaseName(pdb::PalmTextToUtf8(item.dbName));
        auto file = IsPlainFile(item.path) ? pdb::CPalmDbFile::Open(item.path) : nullptr;
        const int r = file ? session.RestoreDatabase(*file, reset) : kInstallUnreadable;
        if (r == 0) {
            ++restored;
            continue;
        }
        ++notRestored;
        ++session.m_nFailed;
        lines.push_back(FormatString(resources::kIdsNotRestored, FileNameOf(item.path).c_str(),
                                     ResultText(r).c_str()));
        // A full handheld may still take the smaller files, if the user wants to go on.
        if (r == kInstallMemoryFull || r == -16 || r == kInstallLinkBroken) {
            session.m_nError = RunErrorForResult(r);
            WaitKeepingAlive(g_evAck, session);
            if (r == kInstallLinkBroken) {
                finish();
                return;
            }
        }
    }
    if (reset && !session.IsLinkBroken() && session.Socket()) {
        hotsync::DlpResetSystem(*session.Socket());
        lines.push_back(resources::LoadString(resources::kIdsResetAfterRestore));
    }
    finish();
}
