// Socket addresses as both systems lay them out (sockaddr_in, sockaddr_in6, getaddrinfo):
// the part of the socket layer the two system files share. Included by net_socket_posix.cpp
// and net_socket_win32.cpp after their own socket headers, so it is compiled once per build.
#pragma once

#include <cstring>
#include <string>

#include "session/link/net_socket.h"

namespace ports::net {

inline sockaddr* AsSockaddr(Address& address) {
    return reinterpret_cast<sockaddr*>(address.bytes.data());
}
inline const sockaddr* AsSockaddr(const Address& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes.data());
}

// The first address getaddrinfo gives for listening on host and port.
inline bool ResolveFirst(const std::string& host, uint16_t port, Address& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) return false;
    const bool fits = found->ai_addrlen <= address.bytes.size();
    if (fits) {
        std::memcpy(address.bytes.data(), found->ai_addr, found->ai_addrlen);
        address.length = static_cast<uint32_t>(found->ai_addrlen);
    }
    ::freeaddrinfo(found);
    return fits;
}

// The port of an address, in host order.
inline uint16_t PortOf(const sockaddr* sa) {
    if (sa->sa_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(sa)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(sa)->sin_port);
}

Address WithPort(const Address& address, uint16_t port) {
    Address out = address;
    sockaddr* sa = AsSockaddr(out);
    if (sa->sa_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(sa)->sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in*>(sa)->sin_port = htons(port);
    }
    return out;
}

bool Ipv4Bytes(const Address& address, uint8_t bytes[4]) {
    const sockaddr* sa = AsSockaddr(address);
    if (sa->sa_family != AF_INET) return false;
    std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, 4);
    return true;
}

}  // namespace ports::net
