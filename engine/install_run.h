// Starting and stopping the worker thread of one run, for every front end.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CDeviceSession;
class IInstallDoneSink;

// Where a run's files go and how they are checked: the window's Options, the console's
// switches.
struct RunPlacement {
    int destination = 0;  // RunDestination: memory, card, card when memory is short
    std::string card;     // "N" or a label; empty: the first card
    bool verify = false;  // read everything back after each install
};

class CInstallRun {
  public:
    CInstallRun() = default;
    // Waits for a worker that is still running (it always ends once its waits are
    // answered or its link is closed).
    ~CInstallRun();
    CInstallRun(const CInstallRun&) = delete;
    CInstallRun& operator=(const CInstallRun&) = delete;

    // The session's part of starting a transfer: the list copied in order (duplicates
    // skipped), the options, g_pSession, then the worker thread. Events left signalled
    // by an earlier run are cleared first.
    void Start(CDeviceSession& session, const std::vector<std::string>& files, bool backup,
               bool setTime, IInstallDoneSink* window, const RunPlacement& placement = {});
    bool IsStarted() const { return m_thread.joinable(); }
    // The worker has returned (after posting its notification).
    bool IsFinished() const { return m_pFinished && m_pFinished->IsSet(); }
    // Waits for the worker after its notification came.
    void Join();

    // Stops a running transfer: cancel, the stop event, then up to 11 waits of 250 ms,
    // each ended as soon as the worker returns.
    // A worker still running then is forced: the link is closed under it and the events
    // it may wait on are set, and it gets one more bounded wait. False when it still has
    // not ended; it is then left to the process's exit, and the session must not be
    // deleted.
    bool Stop(CDeviceSession& session);

  private:
    // The worker's return, which a waiting thread sees at once.
    class CFinished {
      public:
        void Set();
        bool IsSet();
        // Waits at most ms; whether it is set.
        bool WaitFor(int ms);

      private:
        std::mutex m_lock;
        std::condition_variable m_cv;
        bool m_bSet = false;
    };

    bool WaitFinished(int tries, int stepMs) const;

    std::thread m_thread;
    // Shared with the thread, which may outlive this object when it had to be left.
    std::shared_ptr<CFinished> m_pFinished;
};
