// One overlapped transfer at a time on a file or WinUSB handle, as both USB drivers run them.
#pragma once

#include <windows.h>

#include "session/link/win_usb_drivers.h"

namespace ports::win {

class COverlapped {
  public:
    COverlapped() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~COverlapped() {
        if (m_event) ::CloseHandle(m_event);
    }
    COverlapped(const COverlapped&) = delete;
    COverlapped& operator=(const COverlapped&) = delete;

    // A fresh OVERLAPPED for the next transfer.
    OVERLAPPED* Next() {
        m_ov = OVERLAPPED{};
        ::ResetEvent(m_event);
        m_ov.hEvent = m_event;
        m_pending = true;
        return &m_ov;
    }
    // What the call that started the transfer said: done, pending or failed.
    IoStatus Started(BOOL ok, DWORD transferred) {
        if (ok) {
            m_pending = false;
            return {IoStatus::kDone, transferred, 0};
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) return {IoStatus::kPending, 0, 0};
        m_pending = false;
        return {IoStatus::kFailed, 0, error};
    }
    // Waits for the event; result(wait) reads the outcome once it is set.
    template <class Result>
    IoStatus Wait(DWORD timeoutMs, Result result) {
        if (!m_pending) return {IoStatus::kFailed, 0, ERROR_INVALID_PARAMETER};
        if (::WaitForSingleObject(m_event, timeoutMs) != WAIT_OBJECT_0) {
            return {IoStatus::kPending, 0, 0};
        }
        m_pending = false;
        DWORD transferred = 0;
        if (result(&m_ov, &transferred)) return {IoStatus::kDone, transferred, 0};
        return {IoStatus::kFailed, 0, ::GetLastError()};
    }
    bool Pending() const { return m_pending; }
    OVERLAPPED* Current() { return &m_ov; }
    void Ended() { m_pending = false; }
    bool Usable() const { return m_event != nullptr; }

  private:
    HANDLE m_event;
    OVERLAPPED m_ov{};
    bool m_pending = false;
};

}  // namespace ports::win
