#include "engine/install_worker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/backup_copy.h"
#include "engine/file_paths.h"
#include "engine/handheld_backup.h"
#include "engine/midi_install.h"
#include "engine/temp_dir.h"
#include "engine/transfer_monitor.h"
#include "engine/user_library.h"
#include "formats/cca/cca_archive.h"
#include "formats/picture/picture.h"
#include "hotsync/timeline.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"

CDeviceSession* g_pSession = nullptr;
CAutoResetEvent g_evStop;
CAutoResetEvent g_evAck;
CAutoResetEvent g_evPictureDone;

namespace {

std::mutex g_midiLock;
MidiInstaller g_midiInstaller;

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

// The run's copy of the handheld's user record. A handheld that never synced reports no
// last-sync date, so whether the record was read is kept on its own.
struct RunUser {
    UserRecord record;
    bool read = false;

    void Read(CDeviceSession& session) {
        if (read) return;
        read = session.ReadUserInfo(record) == 0;
        if (read) CopyText(session.m_szUserName, record.userName);
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

// Ours, before the install pass: the backup copies queued for restoring go back first, so
// that queued files install over the restored handheld.
// False when the link broke on the way (the window has said so already).
bool RestorePass(CDeviceSession& session, RunUser& user) {
    if (session.m_listRestore.empty()) return true;
    user.Read(session);
    RestoreHandheld(session, session.m_listRestore, user.record, user.read);
    return !session.IsLinkBroken();
}

// Ours, after the install pass: every database in RAM into the Backup folder the console
// named, else the desktop user's.
void WholeBackupPass(CDeviceSession& session, RunUser& user) {
    if (!session.m_bBackupAll || session.m_bCancel || session.IsLinkBroken()) return;
    user.Read(session);
    std::string dir = session.m_strBackupDir;
    if (dir.empty()) {
        const std::string name = user.read ? user.record.userName : std::string();
        const std::string userDir = name.empty() ? "" : FindUserDirectory(g_pUserLibrary, name);
        if (userDir.empty()) {
            ++session.m_nFailed;
            session.m_listReport.push_back(resources::FormatString(
                resources::kIdsNoBackupFolder, pdb::PalmTextToUtf8(name).c_str()));
            return;
        }
        // The history window then knows whose backup this is.
        if (session.m_szUserDir[0] == '\0') CopyText(session.m_szUserDir, userDir);
        dir = userDir + kBackupFolder;
    }
    BackupHandheld(session, dir, session.m_bFullBackup != 0, user.read ? &user.record : nullptr);
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

bool IsMemoryShort(int r) {
    return r == kInstallMemoryFull || r == -16;
}

// "Card when memory is short": a database that does not fit the free memory, or that the
// handheld refused for want of it, goes to the card.
int InstallMemoryFirst(CDeviceSession& session, pdb::CPalmDbFile& file, const std::string& path) {
    uint32_t freeBytes = 0, totalBytes = 0;
    const bool fits = session.ReadStorageInfo(freeBytes, totalBytes) != 0 ||
                      GetFileLength(path) <= int64_t(freeBytes);
    if (fits) {
        const int r = session.InstallDatabase(file);
        if (!IsMemoryShort(r)) return r;
    }
    if (session.IsLinkBroken()) return kInstallLinkBroken;
    const int r = session.InstallToCard(path);
    if (r == 0) ++session.m_nMovedToCard;
    if (r == 0 || r == kInstallLinkBroken) return r;
    // Not silently dropped: it is reported as not installed.
    return kInstallNowhere;
}

// A Palm database file, where the run's destination sends it. Picture applications (also
// from an archive, or converted in an earlier run) stay in memory, where the viewer reads.
int InstallPalmFile(CDeviceSession& session, pdb::CPalmDbFile& file, const std::string& path) {
    const bool ramOnly = session.m_nDestination != kDestinationRam && IsPictureApplication(file);
    if (session.m_nDestination == kDestinationCard && !ramOnly) return session.InstallToCard(path);
    if (session.m_nDestination == kDestinationAuto && !ramOnly) {
        return InstallMemoryFirst(session, file, path);
    }
    const int r = session.InstallDatabase(file);
    if (r == 0 && ramOnly && session.m_nDestination == kDestinationCard) ++session.m_nKeptInRam;
    return r;
}

// The name a card or verification message shows.
void NoteFileName(CDeviceSession& session, const std::string& path) {
    CopyText(session.m_szMessage, FileNameOf(path));
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
            r = InstallPalmFile(session, *file, path);
            if (r != 0) {
                ++session.m_nFailed;
            } else if (!session.m_bCancel && session.m_bBackup) {
                WriteBackupAndLog(session.m_szUserDir, *file, std::time(nullptr));
            }
            file.reset();
        } else if (plain && CDeviceSession::IsMidiFile(path.c_str())) {
            // The system plays its sounds from memory only, whatever the destination.
            r = InstallMidi(session, path.c_str());
            if (r == 0 && session.m_nDestination == kDestinationCard) ++session.m_nKeptInRam;
        }

        if (g_evStop.Wait(0) || session.m_bCancel) return;
        if (r != 0) {
            NoteFileName(session, path);
            session.m_nError = RunErrorForResult(r);
            WaitKeepingAlive(g_evAck, session);
            if (r == kInstallLinkBroken) return;
        }
        session.m_files.Next();
    }
}

}  // namespace

void SetMidiInstaller(MidiInstaller installer) {
    std::lock_guard<std::mutex> guard(g_midiLock);
    g_midiInstaller = std::move(installer);
}

int PlannedDestination(const std::string& path, int destination) {
    if (destination == kDestinationRam) return destination;
    if (IsPicturePath(Upper(path)) || CDeviceSession::IsMidiFile(path.c_str())) {
        return kDestinationRam;
    }
    const auto file = IsPlainFile(path) && !CCcaArchive::HasArchiveMagic(path)
                          ? pdb::CPalmDbFile::Open(path)
                          : nullptr;
    return file && IsPictureApplication(*file) ? kDestinationRam : destination;
}

int RunErrorForResult(int r) {
    if (r == kInstallMemoryFull || r == -16) return kRunErrMemoryFull;
    if (r == kInstallLinkBroken) return kRunErrConnectionLost;
    if (r == kRunErrMidi) return kRunErrMidi;
    switch (r) {
        case kCardNoExpansion:
            return kRunErrNoExpansion;
        case kCardNone:
            return kRunErrNoCard;
        case kCardReadOnly:
            return kRunErrCardReadOnly;
        case kCardFull:
            return kRunErrCardFull;
        case kCardWriteFailed:
            return kRunErrCardWrite;
        case kCardBadName:
            return kRunErrCardName;
        case kInstallVerifyFailed:
            return kRunErrVerify;
        case kInstallNowhere:
            return kRunErrNowhere;
        default:
            return kRunErrNotInstalled;
    }
}

void WaitKeepingAlive(CAutoResetEvent& event, CDeviceSession& session) {
    while (!event.Wait(kWorkerWaitMs)) session.KeepAlive();
}

int InstallWorker(IInstallDoneSink* window) {
    timeline::Mark("desktop.worker");
    CDeviceSession* session = g_pSession;
    if (session) {
        RunUser user;
        session->OpenConduit();                                                // 1
        if (session->m_bSetTime) session->SetSysDateTime(std::time(nullptr));  // 2
        FindBackupDirectory(*session, user);                                   // 3
        session->m_files.Rewind();                                             // 4
        session->m_nFailed = 0;
        ReadDeviceFacts(*session, user);
        if (RestorePass(*session, user)) {
            PreparationPass(*session);  // 5
            InstallPass(*session);      // 6
            WholeBackupPass(*session, user);
        }
        // 7
        if (user.read) {
            user.record.lastSyncDate = std::time(nullptr);
            session->WriteUserInfo(user.record);
        }
        timeline::Mark("desktop.end-of-sync");
        if (session->m_sd != -1) session->EndOfSync(0);
    }
    if (window) window->PostInstallDone();  // 8
    return 0;
}
