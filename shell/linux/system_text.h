// The texts the Linux system keeps its facts in, read as the connection probe needs them:
// sysfs attributes, /etc/group and the kernel's table of TCP sockets. Each reader takes the
// text as it is and copes with anything in it: a file that changed under us, or one that is
// not what it should be, reads as "nothing known".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace systext {

// A sysfs number in hexadecimal ("0830\n" for idVendor); nothing unless it is one that fits.
std::optional<uint16_t> ParseHex16(std::string_view text);
// A sysfs number in decimal ("5\n" for devnum, "4\n" for a UART's type).
std::optional<uint32_t> ParseDecimal(std::string_view text);

// A group as /etc/group lists it.
struct Group {
    std::string name;
    uint32_t gid = 0;
    std::vector<std::string> members;
};
// The entry of the group of that name in the text of /etc/group.
std::optional<Group> FindGroup(std::string_view groupFile, std::string_view name);

// The inodes of the sockets listening on a TCP port, from the text of /proc/net/tcp or
// /proc/net/tcp6.
std::vector<uint64_t> ListeningInodes(std::string_view tcpTable, uint16_t port);

}  // namespace systext
