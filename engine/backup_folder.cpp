#include "engine/backup_folder.h"

#include <strings.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/backup_copy.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "resources/strings/string_table.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMaxNameTries = 1000;

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (value > (limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string FormatHandheldRecord(const HandheldRecord& record) {
    std::string text = "# Cradlecourier: the handheld backed up here\n";
    text += "UserName=" + pdb::PalmTextToUtf8(record.userName) + "\n";
    text += "UserId=" + std::to_string(record.userId) + "\n";
    text += "ViewerId=" + std::to_string(record.viewerId) + "\n";
    text += "LastSyncPc=" + std::to_string(record.lastSyncPc) + "\n";
    text += "BackupTime=" + std::to_string(std::max<int64_t>(0, record.backupTime)) + "\n";
    text += "Databases=" + std::to_string(record.databases) + "\n";
    return text;
}

HandheldRecord ParseHandheldRecord(const std::string& text) {
    HandheldRecord record;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        uint64_t n = 0;
        if (key == "UserName") {
            std::string palm;
            // A name the handheld cannot hold is no name of a handheld.
            if (value.size() <= 4 * 127 && pdb::Utf8ToPalmText(value, palm) && palm.size() <= 127 &&
                palm.find('\0') == std::string::npos) {
                record.userName = palm;
            }
        } else if (key == "UserId" && ParseNumber(value, UINT32_MAX, n)) {
            record.userId = uint32_t(n);
        } else if (key == "ViewerId" && ParseNumber(value, UINT32_MAX, n)) {
            record.viewerId = uint32_t(n);
        } else if (key == "LastSyncPc" && ParseNumber(value, UINT32_MAX, n)) {
            record.lastSyncPc = uint32_t(n);
        } else if (key == "BackupTime" && ParseNumber(value, INT32_MAX, n)) {
            record.backupTime = time_t(n);
        } else if (key == "Databases" && ParseNumber(value, 0xFFFF, n)) {
            record.databases = int(n);
        }
    }
    return record;
}

bool ReadHandheldRecord(const std::string& backupDir, HandheldRecord& record) {
    const std::string path = backupDir + kHandheldRecordName;
    // Only a plain file of its own: never through a link, never waiting on a FIFO.
    const platform::FilePtr file(platform::OpenPlainFile(path, true));
    if (!file) return false;
    const int64_t size = platform::FileSize(file.get());
    std::string text;
    if (size >= 0 && size_t(size) <= kMaxHandheldRecordSize) {
        text.resize(size_t(size));
        text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    }
    if (text.empty()) return false;
    record = ParseHandheldRecord(text);
    return true;
}

bool WriteHandheldRecord(const std::string& backupDir, const HandheldRecord& record) {
    const std::string temp = MakeTemporaryCopyPath(backupDir);
    if (temp.empty()) return false;
    std::FILE* f = platform::CreateOrTruncate(temp);
    const std::string text = FormatHandheldRecord(record);
    const bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f && std::fclose(f) != 0) {
        platform::RemoveFile(temp);
        return false;
    }
    if (!written || !platform::RenameFile(temp, backupDir + kHandheldRecordName)) {
        platform::RemoveFile(temp);
        return false;
    }
    return true;
}

std::string LastBackupNote(const std::string& backupDir) {
    HandheldRecord record;
    if (!ReadHandheldRecord(backupDir, record) || record.backupTime == 0) {
        return resources::LoadString(resources::kIdsNoWholeBackup);
    }
    std::tm local{};
    platform::LocalTime(record.backupTime, local);
    std::string when = FormatLogTime(local);
    if (!when.empty() && when.back() == '\n') when.pop_back();
    return resources::FormatString(resources::kIdsLastBackup, when.c_str(), record.databases);
}

std::vector<std::string> BackupFileNames(const std::string& backupDir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(platform::ToFsPath(backupDir), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        // A link could lead out of the folder; only the folder's own files are copies.
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) continue;
        const std::string name = platform::FromFsPath(it->path().filename());
        if (name.empty() || name[0] == '.') continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<BackupCopy> ScanBackupCopies(const std::string& backupDir) {
    std::vector<BackupCopy> copies;
    for (const std::string& name : BackupFileNames(backupDir)) {
        const std::string path = backupDir + name;
        const platform::EntryInfo entry = platform::Stat(path);
        if (entry.kind != platform::EntryKind::kFile) continue;
        auto file = pdb::CPalmDbFile::Open(path);
        if (!file) continue;
        BackupCopy copy;
        copy.fileName = name;
        copy.dbName = file->Info().name;
        copy.resourceDb = file->Info().IsResourceDb();
        copy.modificationNumber = file->Info().modnum;
        copy.modificationDate = file->Info().modifyDate;
        copy.fileSize = int64_t(entry.size);
        copy.fileTime = time_t(entry.modifiedNs / 1000000000);
        copy.whole = true;
        for (int i = 0; i < file->EntryCount() && copy.whole; ++i) {
            uint32_t entrySize = 0;
            copy.whole = file->EntrySize(i, entrySize) == pdb::kOk;
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

std::string CopyFileNameFor(const std::string& dbName, bool resourceDb,
                            const std::vector<std::string>& taken) {
    const std::string base = BackupFileNameFor(dbName, resourceDb);
    const auto isTaken = [&taken](const std::string& name) {
        return std::any_of(taken.begin(), taken.end(), [&name](const std::string& t) {
            return ::strcasecmp(t.c_str(), name.c_str()) == 0;
        });
    };
    if (!isTaken(base)) return base;
    const size_t dot = base.rfind('.');
    for (int n = 2; n < kMaxNameTries; ++n) {
        const std::string name =
            base.substr(0, dot) + " (" + std::to_string(n) + ")" + base.substr(dot);
        if (!isTaken(name)) return name;
    }
    return {};
}

std::string MakeTemporaryCopyPath(const std::string& backupDir) {
    return platform::CreateUniqueFile(backupDir + ".partial-");
}
