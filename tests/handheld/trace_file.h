// A recorded HotSync session (traces/*.json): the bytes each side sent, in order, and the
// NetSync frames cut from them.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tracefile {

inline std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// The bytes read from the handheld and written to it; false when the file is not there.
inline bool ReadStreams(const std::string& path, std::vector<uint8_t>& read,
                        std::vector<uint8_t>& write) {
    std::ifstream in(path);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    size_t pos = 0;
    while ((pos = text.find("\"type\"", pos)) != std::string::npos) {
        const size_t q1 = text.find('"', text.find(':', pos) + 1);
        const size_t q2 = text.find('"', q1 + 1);
        const std::string type = text.substr(q1 + 1, q2 - q1 - 1);
        const size_t d = text.find("\"data\"", q2);
        const size_t d1 = text.find('"', text.find(':', d) + 1);
        const size_t d2 = text.find('"', d1 + 1);
        const auto bytes = FromHex(text.substr(d1 + 1, d2 - d1 - 1));
        auto& dest = type == "read" ? read : write;
        dest.insert(dest.end(), bytes.begin(), bytes.end());
        pos = d2;
    }
    return true;
}

struct Frame {
    uint8_t xid = 0;
    std::vector<uint8_t> bytes;  // the payload
};

// Cuts one direction's byte stream into NetSync frames; a frame cut short is left out.
inline std::vector<Frame> NetFrames(const std::vector<uint8_t>& stream) {
    std::vector<Frame> out;
    for (size_t at = 0; at + 6 <= stream.size();) {
        const uint32_t length = uint32_t(stream[at + 2]) << 24 | uint32_t(stream[at + 3]) << 16 |
                                uint32_t(stream[at + 4]) << 8 | stream[at + 5];
        if (length > stream.size() - at - 6) break;
        out.push_back({stream[at + 1], {}});
        out.back().bytes.assign(stream.begin() + static_cast<long>(at + 6),
                                stream.begin() + static_cast<long>(at + 6 + length));
        at += 6 + length;
    }
    return out;
}

}  // namespace tracefile
