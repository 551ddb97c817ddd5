#include "shell/linux/system_text.h"

#include <limits>

namespace systext {
namespace {

std::string_view Trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<uint64_t> ParseNumber(std::string_view text, unsigned base, uint64_t max) {
    text = Trimmed(text);
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = unsigned(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = unsigned(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = unsigned(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit >= base || value > (max - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

// The text split at sep, empty fields kept.
std::vector<std::string_view> Split(std::string_view text, char sep) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(sep, start);
        fields.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return fields;
        start = end + 1;
    }
}

// Whitespace-separated words.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

}  // namespace

std::optional<uint16_t> ParseHex16(std::string_view text) {
    const auto value = ParseNumber(text, 16, 0xFFFF);
    if (!value) return std::nullopt;
    return uint16_t(*value);
}

std::optional<uint32_t> ParseDecimal(std::string_view text) {
    const auto value = ParseNumber(text, 10, std::numeric_limits<uint32_t>::max());
    if (!value) return std::nullopt;
    return uint32_t(*value);
}

std::optional<Group> FindGroup(std::string_view groupFile, std::string_view name) {
    for (std::string_view line : Split(groupFile, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto fields = Split(line, ':');
        // name:password:gid:members
        if (fields.size() != 4 || fields[0] != name) continue;
        const auto gid = ParseDecimal(fields[2]);
        if (!gid) continue;
        Group group{std::string(fields[0]), *gid, {}};
        for (std::string_view member : Split(fields[3], ',')) {
            member = Trimmed(member);
            if (!member.empty()) group.members.emplace_back(member);
        }
        return group;
    }
    return std::nullopt;
}

std::vector<uint64_t> ListeningInodes(std::string_view tcpTable, uint16_t port) {
    constexpr std::string_view kListen = "0A";
    std::vector<uint64_t> inodes;
    for (std::string_view line : Split(tcpTable, '\n')) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
        const auto words = Words(line);
        if (words.size() < 10 || words[3] != kListen) continue;
        const size_t colon = words[1].rfind(':');
        if (colon == std::string_view::npos) continue;
        const auto local = ParseHex16(words[1].substr(colon + 1));
        const auto inode = ParseNumber(words[9], 10, std::numeric_limits<uint64_t>::max());
        if (local && inode && *local == port && *inode != 0) inodes.push_back(*inode);
    }
    return inodes;
}

}  // namespace systext
