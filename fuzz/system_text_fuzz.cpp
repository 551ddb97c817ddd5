// The system's texts as the connection check reads them, hostile: sysfs numbers, /etc/group
// and the kernel's table of TCP sockets.
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "shell/linux/system_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const uint16_t port = in.U16();
    const std::vector<uint8_t> group = in.Chunk();
    const std::vector<uint8_t> name = in.Chunk();
    const std::vector<uint8_t> rest = in.Rest();
    const std::string_view groupText(reinterpret_cast<const char*>(group.data()), group.size());
    const std::string_view nameText(reinterpret_cast<const char*>(name.data()), name.size());
    const std::string_view restText(reinterpret_cast<const char*>(rest.data()), rest.size());

    systext::ParseHex16(nameText);
    systext::ParseDecimal(nameText);
    if (const auto found = systext::FindGroup(groupText, nameText)) {
        if (found->name != nameText) fuzz::Fail("another group than the one asked for");
        for (const std::string& member : found->members) {
            if (member.empty()) fuzz::Fail("an empty member");
        }
    }
    for (uint64_t inode : systext::ListeningInodes(restText, port)) {
        if (inode == 0) fuzz::Fail("a socket without an inode");
    }
    return 0;
}
