// The install worker: one run over the session's file list per accepted connection.
//
// The worker never touches the window. It reports through the session's fields, waits
// for the window through three auto-reset events, and tells the window that it ended
// through one notification, its very last action on every path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/event.h"

class CDeviceSession;

// Run error codes (CDeviceSession::m_nError); 0 when no message is pending.
inline constexpr int kRunErrMemoryFull = 3;
inline constexpr int kRunErrConnectionLost = 4;
inline constexpr int kRunErrNotInstalled = 18;
inline constexpr int kRunErrMidi = 25;
inline constexpr int kRunErrNeedColor = 51;
inline constexpr int kRunErrNeedEzCpu = 52;
inline constexpr int kRunErrNeedOsVersion = 53;
// Memory cards and verification; m_szMessage holds the file's name.
inline constexpr int kRunErrNoExpansion = 60;  // the handheld cannot take cards
inline constexpr int kRunErrNoCard = 61;
inline constexpr int kRunErrCardReadOnly = 62;
inline constexpr int kRunErrCardFull = 63;
inline constexpr int kRunErrCardWrite = 64;
inline constexpr int kRunErrCardName = 65;
inline constexpr int kRunErrVerify = 66;   // the handheld does not hold what was sent
inline constexpr int kRunErrNowhere = 67;  // "auto": neither the memory nor a card took it

// An install result of the run: in "auto", a database that fit neither place.
inline constexpr int kInstallNowhere = 37;

// How long the worker waits for the window before it keeps the link alive again.
inline constexpr int kWorkerWaitMs = 2000;

// The window's end of the "install done" notification; called on the worker's thread,
// so an implementation only hands it over to the window's thread.
class IInstallDoneSink {
  public:
    virtual ~IInstallDoneSink() = default;
    virtual void PostInstallDone() = 0;
};

// Process-wide state shared with the window for the run.
extern CDeviceSession* g_pSession;
extern CAutoResetEvent g_evStop;
extern CAutoResetEvent g_evAck;
extern CAutoResetEvent g_evPictureDone;

// Installs a MIDI file as a system sound; 0, 25 when it cannot be installed, or another
// failure. Unset (the default): InstallMidiFile over the session. Tests replace it.
using MidiInstaller = std::function<int(CDeviceSession& session, const char* path)>;
void SetMidiInstaller(MidiInstaller installer);

// The run. Reads the session through g_pSession; with none it only posts. Returns 0.
int InstallWorker(IInstallDoneSink* window);

// Where a queued file will go with the run's destination (RunDestination): sounds and
// pictures always to memory, archives' members each by these rules.
int PlannedDestination(const std::string& path, int destination);

// The run's error code for a database install result r (not 0).
int RunErrorForResult(int r);

// Waits for an event in steps of kWorkerWaitMs, keeping the link alive between them.
// Not ended by a cancel: the window always answers.
void WaitKeepingAlive(CAutoResetEvent& event, CDeviceSession& session);
