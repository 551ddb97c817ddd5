#include "shell/linux/instance_channel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <chrono>
#include <thread>

namespace instance {

namespace {

// A decimal int32: an optional minus and 1 to 10 digits, nothing else.
bool ParseNumber(std::string_view text, int32_t& value) {
    bool bNegative = false;
    if (!text.empty() && text.front() == '-') {
        bNegative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) return false;
    int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    if (bNegative) n = -n;
    if (n < INT32_MIN || n > INT32_MAX) return false;
    value = static_cast<int32_t>(n);
    return true;
}

// The next blank-ended field; the rest stays in text.
std::string_view NextField(std::string_view& text) {
    const size_t blank = text.find(' ');
    const std::string_view field = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    return field;
}

}  // namespace

std::string EncodeMessage(const InstanceMessage& message) {
    return "MSG " + std::to_string(message.nWParam) + " " + std::to_string(message.nLParam) + " " +
           message.strName + "\n";
}

bool DecodeMessage(std::string_view line, InstanceMessage& message) {
    if (line.size() >= kMaxLineBytes || NextField(line) != "MSG") return false;
    InstanceMessage decoded;
    if (!ParseNumber(NextField(line), decoded.nWParam) ||
        !ParseNumber(NextField(line), decoded.nLParam)) {
        return false;
    }
    if (line.empty() || line.size() > kMaxNameBytes) return false;
    for (char c : line) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    decoded.strName = std::string(line);
    message = std::move(decoded);
    return true;
}

std::string EncodeAnswer(int32_t nResult) {
    return "OK " + std::to_string(nResult) + "\n";
}

bool DecodeAnswer(std::string_view line, int32_t& nResult) {
    return NextField(line) == "OK" && ParseNumber(line, nResult);
}

}  // namespace instance

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The directory is private already; a peer of another user would have needed a way in.
bool PeerIsSameUser(QLocalSocket* pSocket) {
    struct ucred cred {};
    socklen_t len = sizeof cred;
    const int fd = static_cast<int>(pSocket->socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 &&
           cred.uid == ::geteuid();
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

CLocalInstanceChannel::CLocalInstanceChannel(std::string strKey, std::string strDir)
    : m_strKey(std::move(strKey)), m_strDir(std::move(strDir)) {}

CLocalInstanceChannel::~CLocalInstanceChannel() {
    if (m_pServer) m_pServer->close();  // removes the socket file
    m_pServer.reset();
    m_lock.Unlock();
}

std::string CLocalInstanceChannel::LockPath() const {
    return m_strDir + "/" + instance::KeyFileName(m_strKey) + ".lock";
}

std::string CLocalInstanceChannel::SocketPath() const {
    return m_strDir + "/" + instance::KeyFileName(m_strKey) + ".sock";
}

IInstanceChannel::Role CLocalInstanceChannel::Open() {
    if (m_strDir.empty()) {
        m_bCannotServe = true;
        m_strProblem = "no private runtime directory (XDG_RUNTIME_DIR or the temporary directory)";
        return Role::kNoServer;
    }
    bool bBusy = false;
    if (!m_lock.TryLock(LockPath(), &bBusy)) {
        if (bBusy) return Role::kSecond;
        m_bCannotServe = true;
        m_strProblem = "cannot open " + LockPath();
        return Role::kNoServer;
    }
    // We hold the lock, so a socket file there is left from a first instance that died.
    QLocalServer::removeServer(Q(SocketPath()));
    m_pServer = std::make_unique<QLocalServer>();
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_pServer->listen(Q(SocketPath()))) {
        m_bCannotServe = true;
        m_strProblem =
            "cannot serve " + SocketPath() + ": " + m_pServer->errorString().toStdString();
        m_pServer.reset();
        return Role::kNoServer;
    }
    QObject::connect(m_pServer.get(), &QLocalServer::newConnection, m_pServer.get(),
                     [this] { OnNewConnection(); });
    return Role::kFirst;
}

void CLocalInstanceChannel::OnNewConnection() {
    while (QLocalSocket* pSocket = m_pServer->nextPendingConnection()) {
        if (m_nConnections >= kMaxConnections || !PeerIsSameUser(pSocket)) {
            pSocket->abort();
            pSocket->deleteLater();
            continue;
        }
        ++m_nConnections;
        QObject::connect(pSocket, &QObject::destroyed, m_pServer.get(),
                         [this] { --m_nConnections; });
        Serve(pSocket);
    }
}

void CLocalInstanceChannel::Serve(QLocalSocket* pSocket) {
    auto pLine = std::make_shared<std::string>();
    auto pbDone = std::make_shared<bool>(false);
    const auto drop = [pSocket, pbDone] {
        *pbDone = true;
        pSocket->abort();
        pSocket->deleteLater();
    };
    const auto read = [this, pSocket, pLine, pbDone, drop] {
        if (*pbDone) return;
        while (pSocket->bytesAvailable() > 0) {
            char c = 0;
            if (!pSocket->getChar(&c)) break;
            if (c != '\n') {
                pLine->push_back(c);
                if (pLine->size() >= instance::kMaxLineBytes) return drop();
                continue;
            }
            InstanceMessage message;
            if (!instance::DecodeMessage(*pLine, message)) return drop();
            *pbDone = true;
            // The handler may open windows and run their loops; this connection is done
            // before it runs, so nothing here is entered twice.
            const int32_t nResult = m_handler ? m_handler(message) : 0;
            pSocket->write(instance::EncodeAnswer(nResult).c_str());
            pSocket->flush();
            pSocket->disconnectFromServer();
            pSocket->deleteLater();
            return;
        }
    };
    QObject::connect(pSocket, &QLocalSocket::readyRead, pSocket, read);
    QObject::connect(pSocket, &QLocalSocket::disconnected, pSocket, [pSocket, pbDone, read] {
        read();  // a sender that wrote and left at once
        if (!*pbDone) {
            *pbDone = true;
            pSocket->deleteLater();
        }
    });
    QTimer::singleShot(kReceiveTimeoutMs, pSocket, [pbDone, drop] {
        if (!*pbDone) drop();
    });
    read();  // bytes that came with the connection
}

bool CLocalInstanceChannel::Send(const InstanceMessage& message, int nTimeoutMs,
                                 int32_t* pnResult) {
    // This process should have served the socket itself: nobody else is there.
    if (m_bCannotServe || m_strDir.empty()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    QLocalSocket socket;
    // A first instance that has just taken its lock may not serve yet.
    for (;;) {
        socket.connectToServer(Q(SocketPath()));
        if (socket.waitForConnected(RemainingMs(deadline))) break;
        socket.abort();
        if (RemainingMs(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string line = instance::EncodeMessage(message);
    if (line.size() > instance::kMaxLineBytes) return false;
    socket.write(line.data(), static_cast<qint64>(line.size()));
    socket.flush();
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(RemainingMs(deadline))) return false;
    }
    std::string answer;
    for (;;) {
        while (socket.bytesAvailable() > 0) {
            char c = 0;
            if (!socket.getChar(&c)) break;
            if (c == '\n') {
                int32_t nResult = 0;
                if (!instance::DecodeAnswer(answer, nResult)) return false;
                if (pnResult) *pnResult = nResult;
                return true;
            }
            answer.push_back(c);
            if (answer.size() >= instance::kMaxLineBytes) return false;
        }
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0) {
            return false;
        }
        if (!socket.waitForReadyRead(RemainingMs(deadline))) {
            if (socket.bytesAvailable() == 0) return false;
        }
    }
}
