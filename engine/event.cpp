#include "engine/event.h"

#include <chrono>

void CAutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bSignalled = true;
    }
    m_cv.notify_one();
}

void CAutoResetEvent::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled = false;
}

bool CAutoResetEvent::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (timeoutMs > 0) {
        m_cv.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return m_bSignalled; });
    }
    const bool signalled = m_bSignalled;
    m_bSignalled = false;
    return signalled;
}
