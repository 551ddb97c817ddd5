#include "engine/transfer_monitor.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "engine/install_worker.h"
#include "engine/temp_dir.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "platform/path_rules.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"

using resources::FormatString;
using resources::LoadString;

namespace {

constexpr int kAnimationFrames = 14;
constexpr int kConversionPauseMs = 1000;

uint32_t SteadyMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The picture's database in the temporary directory, named after its title. A title that
// is already queued (an earlier picture of the run with the same name, say a.bmp and a.jpg)
// gets a number: the first picture's file must not be overwritten while it waits to be
// installed, and the handheld, which names the application after the title, keeps both.
std::string PictureDbPath(const CSlotList& files, const std::string& tempDir,
                          const std::string& title) {
    std::string path = tempDir + title + ".PDB";
    for (int n = 2; files.Contains(path) && n <= CSlotList::kSlots + 1; ++n) {
        // The number must survive the cut of the database name.
        const std::string suffix = " (" + std::to_string(n) + ")";
        path = tempDir + title.substr(0, pdb::kMaxNameLength - suffix.size()) + suffix + ".PDB";
    }
    return path;
}

}  // namespace

ProgressState ComputeProgress(int count, int cursorIndex, uint32_t bytesDone, uint32_t bytesTotal,
                              const std::string& currentPath) {
    ProgressState s;
    s.count = count;
    s.index = cursorIndex + 1;
    s.position = (s.index - 1) * 100;
    if (bytesTotal != 0) {
        s.position += static_cast<int>(uint64_t(bytesDone) * 100u / bytesTotal);
    }
    s.rangeMax = count * 100;
    s.percent = count != 0 ? s.position / count : 0;
    s.name = FileNameOf(currentPath);
    return s;
}

std::string FileNameOf(const std::string& path) {
    return path.substr(platform::FileNameStart(path));
}

std::string ElapsedText(uint32_t elapsedMs) {
    const int minutes = static_cast<int>(elapsedMs / 60000);
    const int seconds = static_cast<int>(elapsedMs * 0.001) % 60;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", minutes, seconds);
    return text;
}

std::string ErrorMessageText(int code, const std::string& message, bool storageRead,
                             uint32_t freeBytes, uint32_t totalBytes) {
    switch (code) {
        case kRunErrMemoryFull: {
            if (storageRead) {
                return FormatString(resources::kIdsDeviceFull, int(freeBytes / 1024),
                                    int(totalBytes / 1024));
            }
            const std::string text = LoadString(resources::kIdsDeviceFull);
            return text.substr(0, text.find('\n'));
        }
        case kRunErrConnectionLost:
            return LoadString(resources::kIdsConnectionLost);
        case kRunErrNotInstalled:
            return LoadString(resources::kIdsUnknownFormat);
        case kRunErrMidi:
            return LoadString(resources::kIdsMidiTooBig);
        case kRunErrNeedColor:
            return FormatString(resources::kIdsNeedColor, message.c_str());
        case kRunErrNeedEzCpu:
            return FormatString(resources::kIdsNeedEzCpu, message.c_str());
        case kRunErrNeedOsVersion:
            return FormatString(resources::kIdsNeedOsVersion, message.c_str());
        case kRunErrNoExpansion:
            return FormatString(resources::kIdsCardNoExpansion, message.c_str());
        case kRunErrNoCard:
            return FormatString(resources::kIdsCardNone, message.c_str());
        case kRunErrCardReadOnly:
            return FormatString(resources::kIdsCardReadOnly, message.c_str());
        case kRunErrCardFull:
            return FormatString(resources::kIdsCardFull, message.c_str());
        case kRunErrCardWrite:
            return FormatString(resources::kIdsCardWrite, message.c_str());
        case kRunErrCardName:
            return FormatString(resources::kIdsCardName, message.c_str());
        case kRunErrVerify:
            return FormatString(resources::kIdsVerifyFailed, message.c_str());
        case kRunErrNowhere:
            return FormatString(resources::kIdsNowhere, message.c_str());
        default:
            return LoadString(resources::kIdsConnectionBroken);
    }
}

std::string SummaryText(int failed, uint32_t elapsedMs, int64_t bytesSent) {
    const double seconds = elapsedMs * 0.001;
    if (failed != 0) return FormatString(resources::kIdsFinishedErrors, seconds);
    double amount = static_cast<double>(bytesSent);
    const char* unit = "Bytes";
    if (bytesSent > 1024) {
        amount = static_cast<double>(bytesSent / 1024);
        unit = "KB";
    }
    return FormatString(resources::kIdsReady, seconds, amount, unit);
}

std::string RunNotesText(const RunNotes& notes) {
    std::vector<std::string> parts;
    if (notes.onCard > 0) {
        std::string part = FormatString(resources::kIdsNoteOnCard, notes.onCard);
        if (notes.movedToCard > 0)
            part += FormatString(resources::kIdsNoteMoved, notes.movedToCard);
        parts.push_back(part);
    }
    if (notes.keptInRam > 0)
        parts.push_back(FormatString(resources::kIdsNoteKeptInRam, notes.keptInRam));
    if (notes.verify) parts.push_back(FormatString(resources::kIdsNoteVerified, notes.verified));
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

RunNotes NotesOf(const CDeviceSession& session) {
    return {session.m_nOnCard, session.m_nMovedToCard, session.m_nKeptInRam, session.m_nVerified,
            session.m_bVerify != 0};
}

CTransferMonitor::CTransferMonitor(ITransferView& view, Clock clock, Sleeper sleeper)
    : m_view(view), m_clock(std::move(clock)), m_sleeper(std::move(sleeper)) {
    if (!m_clock) m_clock = SteadyMilliseconds;
    if (!m_sleeper) {
        m_sleeper = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    }
}

void CTransferMonitor::Start() {
    m_dwStartTime = m_clock();
}

void CTransferMonitor::ShowStatus(const std::string& text) {
    if (m_bStatusSet && text == m_strStatus) return;  // no needless redraw
    m_strStatus = text;
    m_bStatusSet = true;
    m_view.SetStatus(text);
}

void CTransferMonitor::ShowCaption(const std::string& text) {
    if (m_bCaptionSet && text == m_strCaption) return;
    m_strCaption = text;
    m_bCaptionSet = true;
    m_view.SetCaption(text);
}

void CTransferMonitor::OnTimer(CDeviceSession& session) {
    ++m_nAnimFrame;
    if (m_nAnimFrame >= kAnimationFrames || m_nAnimFrame < 0) m_nAnimFrame = 0;
    m_view.SetAnimationFrame(m_nAnimFrame);
    OnTransferTimer(session);
}

void CTransferMonitor::OnTransferTimer(CDeviceSession& session) {
    if (session.m_nError != 0) {
        if (!m_bErrorShown) ErrorBranch(session);
        return;  // the box is open: this tick has nothing more to do
    }
    if (session.m_bPictureWait) {
        if (!m_bConverting) PictureBranch(session);
        return;
    }
    ProgressBranch(session);
}

void CTransferMonitor::ErrorBranch(CDeviceSession& session) {
    m_bErrorShown = true;
    const int code = session.m_nError;
    uint32_t freeBytes = 0, totalBytes = 0;
    // The worker only waits and keeps the link alive meanwhile; the link serialises us.
    const bool storageRead =
        code == kRunErrMemoryFull && session.ReadStorageInfo(freeBytes, totalBytes) == 0;
    const std::string text =
        ErrorMessageText(code, session.m_szMessage, storageRead, freeBytes, totalBytes);
    if (!m_view.AskOkCancel(text)) session.m_bCancel = 1;
    session.m_nError = 0;
    g_evAck.Set();
    m_bErrorShown = false;
}

void CTransferMonitor::PictureBranch(CDeviceSession& session) {
    m_bConverting = true;
    const std::string picture = session.m_files.CurrentPath();
    std::string viewer;
    if (m_pConverter) {
        viewer = m_pConverter->UnpackViewer();
        if (!viewer.empty()) m_view.AddTempFile(viewer);
    }
    ShowStatus(std::string(LoadString(resources::kIdsConverting)) + " " + FileNameOf(picture));
    if (m_pConverter && !picture.empty()) {
        const std::string dbPath =
            PictureDbPath(session.m_files, GetTempDir(), WithoutExtension(FileNameOf(picture)));
        if (m_pConverter->Convert(picture, dbPath, viewer, session)) {
            session.m_files.SetAt(session.m_files.CursorIndex(), dbPath);
            m_view.AddTempFile(dbPath);
        }
    }
    m_sleeper(kConversionPauseMs);
    g_evPictureDone.Set();
    m_bConverting = false;
}

void CTransferMonitor::ProgressBranch(CDeviceSession& session) {
    const int phase = session.m_nPhase;
    if (phase != CDeviceSession::kPhaseInstall) {
        WholeHandheldProgress(session, phase);
        return;
    }
    const ProgressState s = ComputeProgress(session.m_files.Count(), session.m_files.CursorIndex(),
                                            session.m_nFileBytesDone, session.m_nFileBytesTotal,
                                            session.m_files.CurrentPath());
    m_view.SetProgress(s.position, s.rangeMax);
    ShowStatus("[" + std::to_string(s.index) + "/" + std::to_string(s.count) + "] " + s.name);
    ShowCaption(FormatString(resources::kIdsTransferred, s.percent));
    m_view.SetElapsed(ElapsedText(m_clock() - m_dwStartTime));
}

// A backup or restore of the whole handheld: its databases in place of the install list.
void CTransferMonitor::WholeHandheldProgress(CDeviceSession& session, int phase) {
    if (phase == CDeviceSession::kPhaseListing) {
        ShowStatus(LoadString(resources::kIdsReadingList));
    } else {
        const ProgressState s =
            ComputeProgress(session.m_nPhaseCount, session.m_nPhaseIndex, session.m_nFileBytesDone,
                            session.m_nFileBytesTotal, "");
        m_view.SetProgress(s.position, s.rangeMax);
        ShowStatus(FormatString(phase == CDeviceSession::kPhaseBackup ? resources::kIdsBackingUp
                                                                      : resources::kIdsRestoring,
                                s.index, s.count, session.PhaseName().c_str()));
        ShowCaption(FormatString(resources::kIdsTransferred, s.percent));
    }
    m_view.SetElapsed(ElapsedText(m_clock() - m_dwStartTime));
}

void CTransferMonitor::OnInstallDone(CDeviceSession& session) {
    ShowCaption(LoadString(resources::kIdsUploadReady));
    // What a backup read counts as much as what an install sent; then where files went, when
    // not all to the memory, and how many were read back.
    const std::string notes = RunNotesText(NotesOf(session));
    ShowStatus(SummaryText(session.m_nFailed, m_clock() - m_dwStartTime,
                           int64_t(session.m_nBytesSent) + session.m_nBytesRead) +
               (notes.empty() ? "" : "\n" + notes));
    m_view.SetCancelButtonToOk();
    m_view.SetProgress(1, 1);
    if (session.m_szUserDir[0] != '\0') m_view.StoreUserDir(session.m_szUserDir);
    if (session.m_szUserName[0] != '\0') {
        m_view.StoreHandheldUser(pdb::PalmTextToUtf8(session.m_szUserName));
    }
    if (!session.m_listReport.empty()) m_view.ShowReport(session.m_listReport);
    m_nAnimFrame = 0;
    m_view.SetAnimationFrame(0);
}
