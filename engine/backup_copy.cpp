#include "engine/backup_copy.h"

#include <algorithm>
#include <cstdio>

#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "session/device_session.h"

namespace {

constexpr size_t kVersionCapacity = 255;

bool IsRealDirectory(const std::string& path) {
    return platform::StatEntry(path).kind == platform::EntryKind::kDirectory;
}

// One line, so the log keeps one entry per line whatever the version text holds.
std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

void AppendLogLine(const std::string& path, const std::string& line) {
    const platform::FilePtr log(platform::OpenForAppend(path));
    if (!log) return;  // not reported
    std::fwrite(line.data(), 1, line.size(), log.get());
}

}  // namespace

std::string FormatLogTime(const std::tm& t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d\n",
                  kDays[std::clamp(t.tm_wday, 0, 6)], kMonths[std::clamp(t.tm_mon, 0, 11)],
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

std::string BackupFileName(const pdb::CPalmDbFile& file) {
    return BackupFileNameFor(file.Info().name, file.Info().IsResourceDb());
}

std::string BackupFileNameFor(const std::string& dbName, bool resourceDb) {
    std::string name = dbName.substr(0, pdb::kMaxNameLength);
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F) {
            c = '_';
        } else if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    // A leading dot would hide the copy, from restores as from a file manager.
    if (!name.empty() && name[0] == '.') name[0] = '_';
    return pdb::PalmTextToUtf8(name) + (resourceDb ? ".PRC" : ".PDB");
}

std::string LogLine(const std::string& fileName, const std::string& version, const std::tm& local) {
    std::string line = fileName + ", " + version + ", " + FormatLogTime(local);
    line.back() = '\r';  // the time's line break becomes CR LF
    line += '\n';
    return line;
}

bool WriteBackupAndLog(const std::string& userDir, pdb::CPalmDbFile& file, time_t now) {
    const std::string fileName = BackupFileName(file);
    // The copy's header keeps the creation date and, as both its modification and
    // backup dates, the backup date, counted from 1970 once the writer has added the
    // 1904 offset back.
    pdb::DbInfo& info = file.Info();
    info.createDate -= pdb::kEpochOffset;
    info.modifyDate = info.backupDate - pdb::kEpochOffset;
    info.backupDate = info.modifyDate;

    const std::string backupDir = userDir + kBackupFolder;
    // Without its "/", so that a link in Backup's place is seen as the link it is.
    if (!IsRealDirectory(backupDir.substr(0, backupDir.size() - 1))) return false;
    const std::string tempPath = platform::CreateUniqueFile(userDir + ".backup-");
    if (tempPath.empty()) return false;

    std::string version;
    if (!CDeviceSession::WriteBackupCopy(file, tempPath, version, kVersionCapacity) ||
        !platform::RenameFile(tempPath, backupDir + fileName)) {
        platform::RemoveFile(tempPath);
        return false;
    }
    std::tm local{};
    platform::LocalTime(now, local);
    AppendLogLine(userDir + kLogFileName,
                  LogLine(fileName, OneLine(pdb::PalmTextToUtf8(version)), local));
    return true;
}
