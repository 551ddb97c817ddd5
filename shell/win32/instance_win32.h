// The single-instance rule on Windows: the first instance holds a mutex named by the instance
// key and registers a window class of the same name, which its main window uses; a second
// instance finds that window to raise it, and reaches it with the registered window message
// "CCourier new" broadcast to all top-level windows (wParam 1970, lParam the number of files).
#pragma once

#include <cstdint>
#include <string>

#include "shell/instance_channel.h"

class CWin32InstanceChannel final : public IInstanceChannel {
  public:
    // More files than a command line can name: a hand-over notification claiming more is not
    // one.
    static constexpr int32_t kMaxHandOverFiles = 32767;

    explicit CWin32InstanceChannel(std::string strKey);
    ~CWin32InstanceChannel() override;
    CWin32InstanceChannel(const CWin32InstanceChannel&) = delete;
    CWin32InstanceChannel& operator=(const CWin32InstanceChannel&) = delete;

    Role Open() override;
    // The raise request finds the first instance's window by its class and brings it to the
    // front; any other message is broadcast, waiting at most nTimeoutMs for each window.
    bool Send(const InstanceMessage& message, int nTimeoutMs, int32_t* pnResult = nullptr) override;
    void SetHandler(Handler handler) override { m_handler = std::move(handler); }
    std::string Problem() const override { return m_strProblem; }

    // The window class the first instance's main window is to be made of; empty otherwise.
    std::wstring WindowClass() const;

    // A message that reached the main window. Only the hand-over notification is passed to
    // the handler: a registered message (not a system one) with wParam 1970 and a plausible
    // number of files in lParam. True when it was passed on.
    bool Deliver(unsigned nMsg, uintptr_t wParam, intptr_t lParam);

  private:
    std::string m_strKey;
    std::string m_strProblem;
    void* m_hMutex = nullptr;
    bool m_bClassRegistered = false;
    Handler m_handler;
};
