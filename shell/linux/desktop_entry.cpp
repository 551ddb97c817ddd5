#include "shell/linux/desktop_entry.h"

namespace desktop_entry {
namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

}  // namespace

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        int more = 0;
        unsigned min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (i + more >= text.size()) return false;
        unsigned code = c & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = (code << 6) | (d & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

std::string QuoteArgument(std::string_view arg) {
    const bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string_view::npos;
    std::string out;
    if (quote) out += '"';
    for (char c : arg) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

std::string EscapeValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case ' ':
                out += i == 0 ? "\\s" : " ";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string UnescapeValue(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:  // not an escape of the string level: keep it for the Exec level
                out += '\\';
                out += value[i];
        }
    }
    return out;
}

std::string ExecLine(std::string_view programPath) {
    return QuoteArgument(programPath) + " %F";
}

bool ExecRunsProgram(std::string_view exec, std::string_view programPart) {
    if (programPart.empty() || exec.substr(0, programPart.size()) != programPart) return false;
    return exec.size() == programPart.size() || exec[programPart.size()] == ' ';
}

std::map<std::string, std::string> ReadMainGroup(std::string_view text) {
    std::map<std::string, std::string> keys;
    bool inMain = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!inMain || eq == std::string_view::npos) continue;
        const std::string key(Trim(line.substr(0, eq)));
        // The first of a repeated key counts, as readers of the format take it.
        keys.emplace(key, UnescapeValue(Trim(line.substr(eq + 1))));
    }
    return keys;
}

std::vector<std::string> SplitList(std::string_view value) {
    std::vector<std::string> items;
    while (!value.empty()) {
        const size_t end = value.find(';');
        const std::string_view item = Trim(value.substr(0, end));
        if (!item.empty()) items.emplace_back(item);
        if (end == std::string_view::npos) break;
        value.remove_prefix(end + 1);
    }
    return items;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += item + ';';
    return out;
}

}  // namespace desktop_entry
