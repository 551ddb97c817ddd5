// A Backup folder made from the input: a hostile record of the handheld and hostile files
// under hostile names. The record as read, the copies found by their databases, and the
// files a restore takes in its order.
//
// Input: a chunk with the record, a count and that many pairs of chunks (a name, the file).
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/backup_folder.h"
#include "engine/handheld_backup.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const std::string dir = fuzz::FreshOutDir();
    const std::vector<uint8_t> text = in.Chunk();
    fuzz::WriteBytes(dir + kHandheldRecordName, text);
    std::set<std::string> names;
    const int count = in.U8() % 8;
    for (int i = 0; i < count; ++i) {
        const std::string name = fuzz::PlainFileName(in.Chunk());
        const std::vector<uint8_t> bytes = in.Chunk();
        if (name == kHandheldRecordName || !names.insert(name).second) continue;
        fuzz::WriteBytes(dir + name, bytes);
    }

    HandheldRecord record;
    if (ReadHandheldRecord(dir, record) !=
        (!text.empty() && text.size() <= kMaxHandheldRecordSize)) {
        fuzz::Fail("the record read otherwise than it is");
    }
    if (record.userName.size() > 127 || record.userName.find('\0') != std::string::npos ||
        record.databases > 0xFFFF || record.backupTime < 0) {
        fuzz::Fail("a record field the handheld cannot have");
    }
    const HandheldRecord again = ParseHandheldRecord(FormatHandheldRecord(record));
    if (again.userName != record.userName || again.userId != record.userId ||
        again.viewerId != record.viewerId || again.lastSyncPc != record.lastSyncPc ||
        again.backupTime != record.backupTime || again.databases != record.databases) {
        fuzz::Fail("a record that does not come back as it was written");
    }
    LastBackupNote(dir);

    const std::vector<std::string> files = BackupFileNames(dir);
    for (const std::string& name : files) {
        if (name[0] == '.' || !names.count(name)) fuzz::Fail("a file listed that is none of ours");
    }
    for (const BackupCopy& copy : ScanBackupCopies(dir)) {
        if (std::find(files.begin(), files.end(), copy.fileName) == files.end()) {
            fuzz::Fail("a copy that is no listed file");
        }
    }
    std::vector<std::string> paths;
    for (const std::string& name : files) paths.push_back(dir + name);
    paths.push_back(dir + "missing.pdb");
    std::vector<std::string> refused;
    const std::vector<RestoreItem> items = PlanRestore(paths, refused);
    if (items.size() + refused.size() != paths.size())
        fuzz::Fail("a file neither taken nor refused");
    std::set<std::string> databases;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!databases.insert(items[i].dbName).second) fuzz::Fail("one database restored twice");
        if (i > 0 && items[i].group < items[i - 1].group) fuzz::Fail("the restore out of order");
    }
    return 0;
}
