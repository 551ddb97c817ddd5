// What a file manager drops: a text/uri-list (one address a line, "#" lines are comments).
// Local files come out as their path bytes exactly (names that are not UTF-8 included);
// anything else is kept as the address, to be refused.
#pragma once

#include <string>
#include <vector>

struct DroppedUri {
    bool local = false;
    std::string path;     // local: the file's path, percent-decoded
    std::string address;  // as dropped
};

// localHost: this machine's name; "file://NAME/..." with another name is not local.
std::vector<DroppedUri> ParseUriList(const std::string& data, const std::string& localHost = {});
