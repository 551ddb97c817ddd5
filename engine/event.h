// An auto-reset event: Set wakes one waiter (or the next one to wait) and the
// event falls back to non-signalled as soon as a wait takes it.
#pragma once

#include <condition_variable>
#include <mutex>

class CAutoResetEvent {
  public:
    void Set();
    // Clears the event without waiting.
    void Reset();
    // Waits at most timeoutMs (0 tests without waiting). True when the event was
    // signalled; the event is then clear again.
    bool Wait(int timeoutMs);

  private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bSignalled = false;
};
