#include "fuzz/desktop_runs.h"

#include <algorithm>
#include <deque>

#include "engine/midi_install.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/line_script.h"
#include "hotsync/hotsync.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"

namespace fuzz {

const SessionFiles& TheSessionFiles() {
    static const SessionFiles files = [] {
        SessionFiles f;
        const std::string dir = ScratchDir() + "/";
        f.records = dir + "MemoDB.pdb";
        pdb::DbInfo info;
        info.name = "MemoDB";
        info.type = pdb::MakeFourCC("DATA");
        info.creator = pdb::MakeFourCC("memo");
        if (auto db = pdb::CPalmDbFile::Create(f.records, info)) {
            db->SetAppInfo(std::vector<uint8_t>(40, 1));
            for (uint8_t attributes : {0x00, 0x80, 0x08, 0x40}) {
                db->AppendRecord(std::vector<uint8_t>(300, attributes).data(), 300, attributes, 1,
                                 attributes);
            }
            db->Close();
        }
        f.resources = dir + "Boot.prc";
        info.name = "Boot";
        info.attributes = pdb::kAttrResDb | pdb::kAttrResetAfterInstall;
        info.type = pdb::MakeFourCC("appl");
        info.creator = pdb::MakeFourCC("ptch");
        if (auto db = pdb::CPalmDbFile::Create(f.resources, info)) {
            db->AppendResource(std::vector<uint8_t>(2000, 7).data(), 2000, pdb::MakeFourCC("code"),
                               1);
            db->AppendResource(nullptr, 0, pdb::MakeFourCC("tver"), 1);
            db->AppendResource(std::vector<uint8_t>(10, 8).data(), 10, pdb::MakeFourCC("boot"), 0);
            db->Close();
        }
        f.midi = dir + "tune.mid";
        static const uint8_t kMidi[] = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                        96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
        WriteInput(kMidi, sizeof kMidi, "tune.mid");
        return f;
    }();
    return files;
}

namespace {

// The checks after an install and the card's requests.
void CheckedRequests(hotsync::CSocket& s, int handle) {
    using namespace hotsync;
    DbSizes sizes;
    DlpFindDBSizes(s, 0, "Fuzz", sizes);
    int count = 0;
    DlpReadOpenDBInfo(s, handle, count);
    ResourceData resource;
    DlpReadResourceByIndex(s, handle, 0, resource);
    if (resource.data.size() > 0xFFFF) Fail("resource larger than its answer can be");
    std::vector<int> refs;
    DlpExpSlotEnumerate(s, refs);
    if (refs.size() > kMaxVolumes) Fail("more slots than are taken");
    if (!refs.empty()) DlpExpCardPresent(s, refs[0]);
    DlpVFSVolumeEnumerate(s, refs);
    if (refs.size() > kMaxVolumes) Fail("more volumes than are taken");
    const int volume = refs.empty() ? 1 : refs[0];
    VolumeInfo info;
    DlpVFSVolumeInfo(s, volume, info);
    std::string label;
    DlpVFSVolumeGetLabel(s, volume, label);
    if (label.size() > kMaxVfsName) Fail("label longer than a name can be");
    uint32_t used = 0, total = 0;
    DlpVFSVolumeSize(s, volume, used, total);
    const std::string path = "/PALM/Launcher/f.pdb";
    DlpVFSDirCreate(s, volume, "/PALM");
    DlpVFSFileCreate(s, volume, path);
    uint32_t fileRef = 0;
    DlpVFSFileOpen(s, volume, path, kVfsModeReadWrite, fileRef);
    DlpVFSFileResize(s, fileRef, 0);
    const std::vector<uint8_t> bytes(3000, 4);
    uint32_t written = 0;
    DlpVFSFileWrite(s, fileRef, bytes, written);
    if (written > bytes.size()) Fail("more written than was sent");
    uint32_t size = 0;
    DlpVFSFileSize(s, fileRef, size);
    DlpVFSFileClose(s, fileRef);
    DlpVFSFileDelete(s, volume, path);
}

void EveryRequest(hotsync::CSocket& s) {
    using namespace hotsync;
    SysInfo sys;
    DlpReadSysInfo(s, sys);
    UserInfo user;
    DlpReadUserInfo(s, user);
    CardInfo card;
    DlpReadStorageInfo(s, 0, card);
    uint32_t feature = 0;
    DlpReadFeature(s, FourCC("psys"), 2, feature);
    int handle = -1;
    DlpOpenDB(s, 0, kOpenReadWrite, "System MIDI Sounds", handle);
    RecordData record;
    DlpReadRecordByIndex(s, handle, 0, record);
    if (record.data.size() > 0xFFFF) Fail("record larger than its answer can be");
    DbInfo found;
    DlpFindDBByHandle(s, handle, found);
    DlpCreateDB(s, FourCC("memo"), FourCC("DATA"), 0, 0, 1, "Fuzz", handle);
    uint32_t id = 0;
    DlpWriteRecord(s, handle, 0x40, 0, 0, std::vector<uint8_t>(100, 1), &id);
    DlpWriteResource(s, handle, FourCC("code"), 1, std::vector<uint8_t>(70000, 2));
    DlpWriteAppBlock(s, handle, std::vector<uint8_t>(20, 3));
    CheckedRequests(s, handle);
    DlpResetSyncFlags(s, handle);
    DlpCloseDB(s, handle);
    DlpCloseAllDBs(s);
    DlpDeleteDB(s, 0, "Fuzz");
    DlpResetSystem(s);
    DlpSetSysDateTime(s, 1000000000);
    user.userName.resize(std::min<size_t>(user.userName.size(), 200), 'x');
    DlpWriteUserInfo(s, user);
    DlpOpenConduit(s);
    s.Version();
    DlpEndOfSync(s, kEndNormal);
}

void InstallRun(CDeviceSession& session) {
    const SessionFiles& files = TheSessionFiles();
    session.OpenConduit();
    session.ReadSysInfo();
    session.CheckColor();
    session.CheckProcessor();
    UserRecord user;
    session.ReadUserInfo(user);
    for (const std::string* path : {&files.records, &files.resources}) {
        auto file = pdb::CPalmDbFile::Open(*path);
        if (!file) Fail("test database unreadable");
        const int r = session.InstallDatabase(*file);
        if (r == 0 && session.IsLinkBroken()) Fail("installed over a broken link");
        if (session.m_nFileBytesDone > session.m_nFileBytesTotal) Fail("progress past 100%");
    }
    // The same files on the card, each read back.
    session.m_bVerify = 1;
    for (const std::string* path : {&files.records, &files.resources}) {
        const int r = session.InstallToCard(*path);
        if (r == 0 && session.IsLinkBroken()) Fail("written to the card over a broken link");
        if (session.m_nFileBytesDone > session.m_nFileBytesTotal) Fail("card progress past 100%");
    }
    InstallMidiFile(session, files.midi.c_str());
    uint32_t freeBytes = 0, totalBytes = 0;
    session.ReadStorageInfo(freeBytes, totalBytes);
    session.WriteUserInfo(user);
    session.EndOfSync(0);
}

}  // namespace

std::vector<uint8_t> MakeWakeup(uint8_t mode, uint32_t rate) {
    return {0x01,
            uint8_t(mode & 0x10),
            1,
            uint8_t(mode >> 5),
            0,
            0,
            uint8_t(rate >> 24),
            uint8_t(rate >> 16),
            uint8_t(rate >> 8),
            uint8_t(rate)};
}

std::unique_ptr<hotsync::ITransport> AnsweringHandheld(CInput& input, size_t maxAnswers,
                                                       uint8_t& mode) {
    mode = input.U8();
    const uint32_t rate = input.U32();
    auto answers = std::make_shared<std::deque<std::vector<uint8_t>>>();
    while (input.Left() > 0 && answers->size() < maxAnswers) answers->push_back(input.Chunk());
    return std::make_unique<CAnsweringPeer>(
        MakeWakeup(mode, rate),
        [answers](const std::vector<uint8_t>&, std::vector<uint8_t>& answer) {
            if (answers->empty()) return false;
            answer = std::move(answers->front());
            answers->pop_front();
            return true;
        });
}

void RunDesktop(uint8_t mode, std::unique_ptr<hotsync::ITransport> line) {
    hotsync::LinkTimeouts timeouts;
    timeouts.sendTries = 2;
    timeouts.rateSettleMs = 0;
    if (mode & 1) {
        TheSessionFiles();
        CDeviceSession session("fuzz", true, (mode & 2) ? -1 : 115200, std::move(line));
        if (session.m_sd == -1) Fail("no session over a working line");
        session.SetLinkTimeouts(timeouts);
        if (session.Accept()) InstallRun(session);
        session.Close();
        return;
    }
    auto socket =
        hotsync::CSocket::Create(hotsync::kAfSlp, hotsync::kSockStream, hotsync::kProtoPadp);
    hotsync::SocketAddress address;
    hotsync::MakeAddress("fuzz", address);
    socket->SetTimeouts(timeouts);
    if (socket->Bind(address, std::move(line)) == 0 && socket->Listen(1) == 0 &&
        socket->Accept() == 0) {
        EveryRequest(*socket);
    }
    socket->Close();
}

}  // namespace fuzz
