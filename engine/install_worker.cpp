#include "engine/install_worker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/file_paths.h"
#include "engine/midi_install.h"
#include "engine/temp_dir.h"
#include "engine/user_library.h"
#include "formats/cca/cca_archive.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"

CDeviceSession* g_pSession = nullptr;
CAutoResetEvent g_evStop;
CAutoResetEvent g_evAck;
CAutoResetEvent g_evPictureDone;

namespace {

CEmptyUserLibrary g_emptyUserLibrary;

std::mutex g_midiLock;
MidiInstaller g_midiInstaller;

constexpr size_t kVersionCapacity = 255;
constexpr size_t kMaxTempDirLength = 512;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool IsArchivePath(const std::string& upper) {
    return upper.find(".CCA") != std::string::npos;
}

bool IsPicturePath(const std::string& upper) {
    return upper.find(".BMP") != std::string::npos || upper.find(".JPG") != std::string::npos ||
           upper.find(".JPEG") != std::string::npos;
}

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

std::string Cut(const std::string& text) {
    return text.substr(0, IUserLibrary::kBufferSize - 1);
}

// The run's copy of the handheld's user record. A handheld that never synced reports no
// last-sync date, so whether the record was read is kept on its own.
struct RunUser {
    UserRecord record;
    bool read = false;

    void Read(CDeviceSession& session) {
        if (!read) read = session.ReadUserInfo(record) == 0;
    }
};

// Step 3: the desktop user's directory for backups.
void FindBackupDirectory(CDeviceSession& session, RunUser& user) {
    const bool wanted = session.m_bBackup != 0;
    if (!wanted) return;
    session.m_bBackup = 0;
    user.Read(session);
    if (!user.read) return;
    const std::string dir = FindUserDirectory(g_pUserLibrary, user.record.userName);
    if (dir.empty()) return;
    CopyText(session.m_szUserDir, dir);
    session.m_bBackup = 1;
}

// Step 4: what archive checks and picture depths need, only when such a file is queued.
void ReadDeviceFacts(CDeviceSession& session, RunUser& user) {
    bool needed = false;
    for (int i = 0; i < CSlotList::kSlots && !needed; ++i) {
        const char* path = session.m_files.At(i);
        if (!path) continue;
        const std::string upper = Upper(path);
        needed = IsArchivePath(upper) || IsPicturePath(upper);
    }
    if (!needed) return;
    session.ReadSysInfo();
    session.CheckColor();
    user.Read(session);
    session.CheckProcessor();
}

// Step 5, an archive at the cursor: its suitable members take its place in the list.
void PrepareArchive(CDeviceSession& session, const std::string& path) {
    CCcaArchive archive;
    const std::string tempDir = GetTempDir().substr(0, kMaxTempDirLength);
    archive.SetDestDir(tempDir);
    session.m_files.Remove(path);
    // A FIFO or device named like an archive would block the run: dropped like an archive
    // that does not open.
    if (!IsPlainFile(path) || !archive.Open(path)) return;  // dropped without a message

    if (archive.ReadOptions(tempDir)) {
        std::string message = path;
        const int code = archive.CheckRequirements(session.m_bColor != 0, session.m_bEzCpu != 0,
                                                   session.m_dwRomVersion, message);
        if (code >= kRunErrNeedColor) {
            CopyText(session.m_szMessage, message);
            session.m_nError = code;
            WaitKeepingAlive(g_evAck, session);
            archive.Close();
            return;
        }
    }
    for (const CCcaMember& member : archive.SelectMembers(session.m_bColor != 0)) {
        // Extract by group too, so that a colour and a grey variant of one name differ.
        if (archive.ExtractMember(member)) session.m_files.Add(tempDir + member.m_strFileName);
    }
    archive.Close();
}

// Step 5: archives unpacked, pictures converted by the window; exactly n steps.
void PreparationPass(CDeviceSession& session) {
    session.m_files.Rewind();
    const int n = session.m_files.Count();
    for (int step = 0; step < n; ++step) {
        const char* current = session.m_files.Current();
        const std::string path = current ? current : "";
        const std::string upper = Upper(path);
        if (!path.empty() && IsArchivePath(upper)) {
            PrepareArchive(session, path);
        } else if (!path.empty() && IsPicturePath(upper)) {
            session.m_bPictureWait = 1;
            WaitKeepingAlive(g_evPictureDone, session);
            session.m_bPictureWait = 0;
        }
        session.m_files.Next();
    }
}

int InstallMidi(CDeviceSession& session, const char* path) {
    MidiInstaller installer;
    {
        std::lock_guard<std::mutex> guard(g_midiLock);
        installer = g_midiInstaller;
    }
    return installer ? installer(session, path) : InstallMidiFile(session, path);
}

// Step 6: every file in list order; true to go on to the end of the run.
void InstallPass(CDeviceSession& session) {
    session.m_files.Rewind();
    const int n = session.m_files.Count();
    for (int step = 0; step < n; ++step) {
        if (session.m_bCancel) return;
        const char* current = session.m_files.Current();
        const std::string path = current ? current : "";

        int r = -18;
        std::unique_ptr<pdb::CPalmDbFile> file;
        // Only plain files are read: a FIFO or a device would block the run, and a file
        // that vanished since it was queued is reported as not installed.
        const bool plain = IsPlainFile(path);
        // An archive still in the list (one that came out of another) would read as an
        // empty database named after the archive's magic; it is not one.
        if (plain && !CCcaArchive::HasArchiveMagic(path)) {
            file = pdb::CPalmDbFile::Open(path);
        }
        if (file) {
            r = session.InstallDatabase(*file);
            if (r != 0) {
                ++session.m_nFailed;
            } else if (!session.m_bCancel && session.m_bBackup) {
                WriteBackupAndLog(session.m_szUserDir, *file, std::time(nullptr));
            }
            file.reset();
        } else if (plain && CDeviceSession::IsMidiFile(path.c_str())) {
            r = InstallMidi(session, path.c_str());
        }

        if (g_evStop.Wait(0) || session.m_bCancel) return;
        if (r != 0) {
            session.m_nError = RunErrorForResult(r);
            WaitKeepingAlive(g_evAck, session);
            if (r == kInstallLinkBroken) return;
        }
        session.m_files.Next();
    }
}

}  // namespace

IUserLibrary* g_pUserLibrary = &g_emptyUserLibrary;

void SetMidiInstaller(MidiInstaller installer) {
    std::lock_guard<std::mutex> guard(g_midiLock);
    g_midiInstaller = std::move(installer);
}

int RunErrorForResult(int r) {
    if (r == kInstallMemoryFull || r == -16) return kRunErrMemoryFull;
    if (r == kInstallLinkBroken) return kRunErrConnectionLost;
    if (r == kRunErrMidi) return kRunErrMidi;
    return kRunErrNotInstalled;
}

void WaitKeepingAlive(CAutoResetEvent& event, CDeviceSession& session) {
    while (!event.Wait(kWorkerWaitMs)) session.KeepAlive();
}

std::string FindUserDirectory(IUserLibrary* library, const std::string& userName) {
    if (!library) return {};
    for (int index = 0; index < library->UmGetUserCount(); ++index) {
        uint32_t id = 0;
        std::string name;
        if (library->UmGetUserID(index, id) != 0) continue;
        if (library->UmGetUserName(id, name) != 0) continue;
        if (Cut(name) != userName) continue;
        std::string root, dir;
        library->UmGetRootDirectory(root);
        library->UmGetUserDirectory(id, dir);
        return WithSlash(WithSlash(Cut(root)) + Cut(dir));
    }
    return {};
}

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
    const pdb::DbInfo& info = file.Info();
    return Upper(info.name.substr(0, pdb::kMaxNameLength) +
                 (info.IsResourceDb() ? ".PRC" : ".PDB"));
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

    std::string version;
    if (!CDeviceSession::WriteBackupCopy(file, userDir + "Backup/" + fileName, version,
                                         kVersionCapacity)) {
        return false;
    }
    std::tm local{};
    localtime_r(&now, &local);
    if (std::FILE* log = std::fopen((userDir + "CCourier.log").c_str(), "a+")) {
        std::fprintf(log, "%s, %s, %s", fileName.c_str(), version.c_str(),
                     FormatLogTime(local).c_str());
        std::fclose(log);
    }
    return true;
}

int InstallWorker(IInstallDoneSink* window) {
    CDeviceSession* session = g_pSession;
    if (session) {
        RunUser user;
        session->OpenConduit();                                                // 1
        if (session->m_bSetTime) session->SetSysDateTime(std::time(nullptr));  // 2
        FindBackupDirectory(*session, user);                                   // 3
        session->m_files.Rewind();                                             // 4
        session->m_nFailed = 0;
        ReadDeviceFacts(*session, user);
        PreparationPass(*session);  // 5
        InstallPass(*session);      // 6
        // 7
        if (user.read) {
            user.record.lastSyncDate = std::time(nullptr);
            session->WriteUserInfo(user.record);
        }
        if (session->m_sd != -1) session->EndOfSync(0);
    }
    if (window) window->PostInstallDone();  // 8
    return 0;
}
