// The connection probe on Windows (Wine's sockets and device map in the tests' prefix): the
// network HotSync port free or held, the ports in the system's names, and a report that keeps
// to what Windows has.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "shell/connection_report.h"
#include "shell/memory_settings.h"
#include "shell/win32/win32_connection_probe.h"

namespace {

// A TCP listener on the loopback address, on a port the system picks.
class CListener {
  public:
    CListener() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(m_socket, 1) == 0 &&
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~CListener() {
        ::closesocket(m_socket);
        ::WSACleanup();
    }
    uint16_t Port() const { return m_port; }

  private:
    SOCKET m_socket = INVALID_SOCKET;
    uint16_t m_port = 0;
};

TEST(Win32ConnectionProbe, TheNetworkPortIsFreeOrHeld) {
    CWin32ConnectionProbe probe;
    uint16_t freed = 0;
    {
        CListener listener;
        ASSERT_NE(listener.Port(), 0);
        freed = listener.Port();
        const ConnectionFacts held = probe.Probe(true, "127.0.0.1", listener.Port());
        EXPECT_FALSE(held.linuxServices);
        EXPECT_EQ(held.net.bindError, EADDRINUSE);
        CMemorySettings settings;
        const ConnectionReport r = BuildConnectionReport(
            held, settings, "net:127.0.0.1:" + std::to_string(listener.Port()));
        EXPECT_FALSE(r.reachable);
        EXPECT_NE(RenderConnectionReport(r).find("the port is in use by another program"),
                  std::string::npos);
    }
    const ConnectionFacts free = probe.Probe(true, "127.0.0.1", freed);
    EXPECT_EQ(free.net.bindError, 0);
    // Not a numeric address: refused, not looked up.
    EXPECT_NE(probe.Probe(true, "no.such.host", 14238).net.bindError, 0);
}

TEST(Win32ConnectionProbe, PortsAreTheSystemsCommunicationPorts) {
    CWin32ConnectionProbe probe;
    const ConnectionFacts facts = probe.Probe(false, {}, 0);
    EXPECT_TRUE(facts.handhelds.empty());
    for (const SerialDevice& d : facts.serial) {
        EXPECT_EQ(d.path.rfind("\\\\.\\COM", 0), 0u) << d.path;
        EXPECT_EQ(d.openError, 0) << "the quick probe opens nothing";
    }
    // Without the thorough probe the network port is not tried.
    EXPECT_EQ(facts.net.port, 0);
}

}  // namespace
