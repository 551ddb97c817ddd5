// The instance test and the messages between a second instance and the first one.
//
// The first instance holds the lock file "KEY.lock" and serves the local socket "KEY.sock",
// both in the user's private runtime directory (instance::PrivateRuntimeDir): the lock
// stands for the instance mutex, the socket for the window the message is sent to. A
// message is one line, answered by one line; the sender waits for the answer, with a
// time-out. Messages that are malformed, too long or from another user are dropped
// without an answer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "shell/instance_channel.h"
#include "shell/linux/instance_lock.h"

class QLocalServer;
class QLocalSocket;

namespace instance {

// Longest line in either direction, its line feed included.
inline constexpr size_t kMaxLineBytes = 128;
// Longest message name: printable ASCII, blanks allowed.
inline constexpr size_t kMaxNameBytes = 64;

// "MSG WPARAM LPARAM NAME\n" with the numbers in decimal.
std::string EncodeMessage(const InstanceMessage& message);
// One line without its line feed; false when it is not a message as EncodeMessage writes it.
bool DecodeMessage(std::string_view line, InstanceMessage& message);
// "OK RESULT\n" and back.
std::string EncodeAnswer(int32_t nResult);
bool DecodeAnswer(std::string_view line, int32_t& nResult);

}  // namespace instance

class CLocalInstanceChannel final : public IInstanceChannel {
  public:
    // strDir empty: no private directory could be had, nothing can be served.
    CLocalInstanceChannel(std::string strKey, std::string strDir);
    ~CLocalInstanceChannel() override;
    CLocalInstanceChannel(const CLocalInstanceChannel&) = delete;
    CLocalInstanceChannel& operator=(const CLocalInstanceChannel&) = delete;

    Role Open() override;
    bool Send(const InstanceMessage& message, int nTimeoutMs, int32_t* pnResult = nullptr) override;
    void SetHandler(Handler handler) override { m_handler = std::move(handler); }
    std::string Problem() const override { return m_strProblem; }

    std::string LockPath() const;
    std::string SocketPath() const;

    // Connections served at once; more are dropped until some have ended.
    static constexpr int kMaxConnections = 64;
    // A connection that has not sent its line within this time is dropped.
    static constexpr int kReceiveTimeoutMs = 3000;

  private:
    void OnNewConnection();
    void Serve(QLocalSocket* pSocket);

    std::string m_strKey;
    std::string m_strDir;
    std::string m_strProblem;
    bool m_bCannotServe = false;
    CFileLock m_lock;  // declared before the server: the socket goes before the lock
    std::unique_ptr<QLocalServer> m_pServer;
    Handler m_handler;
    int m_nConnections = 0;
};
