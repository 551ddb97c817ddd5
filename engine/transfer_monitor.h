// The window's share of a transfer, written once for every front end: the timer's
// progress, status and caption texts, the error messages and their acknowledgement,
// picture conversion on the worker's request, and the end-of-run summary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/transfer_view.h"

class CDeviceSession;

// Where the run stands, as the timer shows it.
struct ProgressState {
    int index = 0;     // 1-based position of the file being installed (cursor + 1)
    int count = 0;     // files in the run's list
    int position = 0;  // of the whole run, in hundredths of a file
    int rangeMax = 0;  // count * 100
    int percent = 0;   // position / count
    std::string name;  // the current file's name, empty when there is none
};

// Position, range and texts from the list's count and cursor and the byte counters.
ProgressState ComputeProgress(int count, int cursorIndex, uint32_t bytesDone, uint32_t bytesTotal,
                              const std::string& currentPath);
// The name after the last separator (and the drive part).
std::string FileNameOf(const std::string& path);
// "mm:ss" for a number of milliseconds.
std::string ElapsedText(uint32_t elapsedMs);
// The message for a run error code. For "Device full" the storage figures are used when
// storageRead, else the text stops before its line break.
std::string ErrorMessageText(int code, const std::string& message, bool storageRead,
                             uint32_t freeBytes, uint32_t totalBytes);
// The status line at the end of a run.
std::string SummaryText(int failed, uint32_t elapsedMs, int64_t bytesSent);

// What the summary adds about where files went and how they were checked.
struct RunNotes {
    int onCard = 0;
    int movedToCard = 0;  // of onCard
    int keptInRam = 0;
    int verified = 0;
    bool verify = false;  // the read-back was asked for: the count is shown even when 0
};
RunNotes NotesOf(const CDeviceSession& session);
// "2 on the card (1 for lack of memory), 1 kept in memory (...), 3 verified"; empty when
// there is nothing to say.
std::string RunNotesText(const RunNotes& notes);

class CTransferMonitor {
  public:
    using Clock = std::function<uint32_t()>;      // a millisecond clock
    using Sleeper = std::function<void(int ms)>;  // the pause after a conversion

    explicit CTransferMonitor(ITransferView& view, Clock clock = {}, Sleeper sleeper = {});

    void SetPictureConverter(IPictureConverter* converter) { m_pConverter = converter; }

    // The transfer starts now (m_dwStartTime).
    void Start();
    uint32_t StartTime() const { return m_dwStartTime; }
    uint32_t Now() const { return m_clock(); }

    // The timer step during a transfer: the next animation frame, then OnTransferTimer.
    void OnTimer(CDeviceSession& session);
    // One of three branches by priority: error pending, picture waiting, progress.
    void OnTransferTimer(CDeviceSession& session);
    // The texts and controls at the end of the run (before the window drops the session).
    void OnInstallDone(CDeviceSession& session);

    // The status line, set only when it changes.
    void ShowStatus(const std::string& text);
    void ShowCaption(const std::string& text);

    bool ErrorShown() const { return m_bErrorShown; }
    bool Converting() const { return m_bConverting; }
    int AnimationFrame() const { return m_nAnimFrame; }

  private:
    void ErrorBranch(CDeviceSession& session);
    void PictureBranch(CDeviceSession& session);
    void ProgressBranch(CDeviceSession& session);
    void WholeHandheldProgress(CDeviceSession& session, int phase);

    ITransferView& m_view;
    Clock m_clock;
    Sleeper m_sleeper;
    IPictureConverter* m_pConverter = nullptr;
    uint32_t m_dwStartTime = 0;
    int m_nAnimFrame = 0;
    bool m_bErrorShown = false;
    bool m_bConverting = false;
    std::string m_strStatus;
    std::string m_strCaption;
    bool m_bStatusSet = false;
    bool m_bCaptionSet = false;
};
