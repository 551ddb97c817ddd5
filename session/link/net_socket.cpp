#include "session/link/net_socket.h"

namespace ports::net {

int ReceiveWithin(Socket socket, uint8_t* buffer, size_t size, CWaker* waker, int timeoutMs) {
    if (socket == kNoSocket) return -1;
    if (size == 0) return 0;
    const Socket sockets[] = {socket};
    bool ready[1] = {};
    switch (Wait(sockets, false, waker, timeoutMs < 0 ? 0 : timeoutMs, ready)) {
        case WaitResult::kFailed:
            return -1;
        case WaitResult::kTimedOut:
        case WaitResult::kWoken:
            return 0;
        case WaitResult::kReady:
            break;
    }
    return Receive(socket, buffer, size);
}

int SendAll(Socket socket, const uint8_t* data, size_t size, int waitMs) {
    if (socket == kNoSocket) return -1;
    size_t done = 0;
    while (done < size) {
        const int n = Send(socket, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0) return -1;
        const Socket sockets[] = {socket};
        bool ready[1] = {};
        if (Wait(sockets, true, nullptr, waitMs, ready) != WaitResult::kReady) return -1;
    }
    return static_cast<int>(size);
}

}  // namespace ports::net
