#include "ui/uri_list.h"

#include <cctype>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// False for a broken escape.
bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<DroppedUri> ParseUriList(const std::string& data, const std::string& localHost) {
    std::vector<DroppedUri> items;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;

        DroppedUri item;
        item.address = line;
        if (StartsWithNoCase(line, "file:")) {
            std::string rest = line.substr(5);
            bool hostOk = true;
            if (rest.compare(0, 2, "//") == 0) {
                const size_t slash = rest.find('/', 2);
                const std::string host =
                    rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
                hostOk = host.empty() || host == "localhost" ||
                         (!localHost.empty() && host == localHost);
                rest = slash == std::string::npos ? std::string() : rest.substr(slash);
            }
            std::string path;
            if (hostOk && !rest.empty() && rest[0] == '/' && PercentDecode(rest, path) &&
                path.find('\0') == std::string::npos) {
                item.local = true;
                item.path = path;
            }
        }
        items.push_back(item);
    }
    return items;
}
