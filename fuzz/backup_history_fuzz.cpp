// A user folder made from the input: a hostile installation log and backup copies (hostile
// Palm files under hostile names). The history's rows, its marks of the copies still there,
// the rows for unnamed copies with their versions, and the deleting of copies.
//
// Input: a chunk with the log, a count and that many pairs of chunks (a name, the copy).
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/backup_copy.h"
#include "fuzz/fuzz_target.h"
#include "shell/backup_history.h"

namespace {

void CheckRows(const std::vector<HistoryRow>& rows, size_t logSize) {
    if (rows.size() > logSize) fuzz::Fail("more rows than the log has bytes");
    for (const HistoryRow& row : rows) {
        for (const std::string* field : {&row.name, &row.version, &row.date}) {
            if (field->find_first_of(std::string(",\r\n\0", 4)) != std::string::npos ||
                field->size() > kLogPieceLength) {
                fuzz::Fail("a field with a separator in it or longer than a piece");
            }
        }
        if (row.name.empty()) fuzz::Fail("a row without a name");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const std::string userDir = fuzz::FreshOutDir();
    const std::string backupDir = userDir + kBackupFolder;
    std::filesystem::create_directory(backupDir);
    const std::vector<uint8_t> log = in.Chunk();
    fuzz::WriteBytes(userDir + kLogFileName, log);
    std::set<std::string> copies;
    std::vector<std::string> folders;
    const int count = in.U8() % 6;
    for (int i = 0; i < count; ++i) {
        const std::string name = fuzz::PlainFileName(in.Chunk());
        const std::vector<uint8_t> bytes = in.Chunk();
        // A name given again is made a folder beside the files: folders are passed over.
        if (copies.count(name)) {
            folders.push_back(name + ".d");
        } else {
            fuzz::WriteBytes(backupDir + name, bytes);
            copies.insert(name);
        }
    }
    for (const std::string& folder : folders) {
        if (!copies.count(folder)) std::filesystem::create_directory(backupDir + folder);
    }

    // Names with a leading dot are the program's own files, never listed as copies.
    const auto listed = [&copies](const std::string& name) {
        return copies.count(name) == 1 && name[0] != '.';
    };

    std::vector<HistoryRow> rows = LoadHistoryLog(userDir);
    CheckRows(rows, log.size());
    const std::vector<HistoryRow> logged = rows;
    ScanBackups(userDir, rows, false);
    if (rows.size() != logged.size()) fuzz::Fail("rows added without being asked");
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool newest =
            std::none_of(rows.begin() + static_cast<std::ptrdiff_t>(i) + 1, rows.end(),
                         [&](const HistoryRow& r) { return r.name == rows[i].name; });
        if (rows[i].exists != (newest && listed(rows[i].name))) {
            fuzz::Fail("a copy marked otherwise than it is");
        }
    }

    rows = logged;
    ScanBackups(userDir, rows, true);
    std::set<std::string> named;
    for (const HistoryRow& row : logged) named.insert(row.name);
    size_t unnamed = 0;
    for (const std::string& name : copies) unnamed += named.count(name) == 0 && listed(name);
    if (rows.size() != logged.size() + unnamed) fuzz::Fail("not one row for each unnamed copy");
    for (size_t i = logged.size(); i < rows.size(); ++i) {
        // A handheld's character becomes at most three bytes of UTF-8.
        if (!rows[i].exists || !rows[i].date.empty() ||
            rows[i].version.size() > 3 * kBackupVersionLength) {
            fuzz::Fail("an unnamed copy's row");
        }
    }

    for (const std::string& name : copies) {
        if (!DeleteBackup(userDir, name)) fuzz::Fail("a copy that cannot be deleted");
    }
    if (DeleteBackup(userDir, "..") || DeleteBackup(userDir, "../" + std::string(kLogFileName))) {
        fuzz::Fail("a deletion outside the backup folder");
    }
    return 0;
}
