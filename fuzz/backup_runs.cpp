#include "fuzz/backup_runs.h"

#include <set>
#include <string>
#include <vector>

#include "fuzz/desktop_runs.h"
#include "fuzz/fuzz_target.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"

namespace fuzz {
namespace {

constexpr size_t kMaxRead = 6;

void Backup(CDeviceSession& session) {
    std::vector<ListedDatabase> listed;
    session.ListRamDatabases(listed);
    if (listed.size() > 0xFFFF) Fail("more databases than a card has indexes");
    const std::string dir = FreshOutDir();
    for (size_t i = 0; i < listed.size() && i < kMaxRead; ++i) {
        pdb::DbInfo info;
        info.name = listed[i].info.name.substr(0, pdb::kMaxNameLength);
        info.attributes = uint16_t(listed[i].info.attributes);
        const std::string path = dir + std::to_string(i) + ".pdb";
        auto file = pdb::CPalmDbFile::Create(path, info);
        if (!file) Fail("no file for a copy");
        std::string why;
        const int r = session.ReadDatabase(listed[i], *file, why);
        if (r > 0 && r != kReadBadAnswer && r != kReadCancelled && r != kInstallLinkBroken) {
            Fail("a read result that is none");
        }
        if (r == 0 && session.IsLinkBroken()) Fail("read whole over a broken link");
        if (r != 0 && r != kInstallLinkBroken && why.empty())
            Fail("a failed read without a reason");
        if (session.m_nFileBytesDone > session.m_nFileBytesTotal) Fail("progress past 100%");
        if (file->Close() != pdb::kOk) continue;
        if (r != 0) continue;
        // A copy read whole opens again, and no two records share an id.
        auto copy = pdb::CPalmDbFile::Open(path);
        if (!copy) Fail("a whole copy that does not open");
        std::set<uint32_t> ids;
        for (int e = 0; e < copy->EntryCount() && !info.IsResourceDb(); ++e) {
            pdb::Record rec;
            if (copy->ReadRecord(e, rec) != pdb::kOk) Fail("a copy's record unreadable");
            if (rec.uid != 0 && !ids.insert(rec.uid).second) Fail("two records under one id");
        }
        if (session.IsLinkBroken()) return;
    }
}

void Restore(CDeviceSession& session) {
    const SessionFiles& files = TheSessionFiles();
    for (const std::string* path : {&files.records, &files.resources}) {
        auto file = pdb::CPalmDbFile::Open(*path);
        if (!file) Fail("test database unreadable");
        bool reset = false;
        const int r = session.RestoreDatabase(*file, reset);
        if (r == 0 && session.IsLinkBroken()) Fail("restored over a broken link");
        if (session.m_nFileBytesDone > session.m_nFileBytesTotal) Fail("progress past 100%");
    }
}

}  // namespace

void RunBackupDesktop(uint8_t mode, std::unique_ptr<hotsync::ITransport> line) {
    hotsync::LinkTimeouts timeouts;
    timeouts.sendTries = 2;
    timeouts.rateSettleMs = 0;
    TheSessionFiles();
    CDeviceSession session("fuzz", true, (mode & 2) ? -1 : 115200, std::move(line));
    if (session.m_sd == -1) Fail("no session over a working line");
    session.SetLinkTimeouts(timeouts);
    if (session.Accept()) {
        if (mode & 1) {
            Restore(session);
        } else {
            Backup(session);
        }
        session.EndOfSync(0);
    }
    session.Close();
}

}  // namespace fuzz
