#include "shell/linux/mimeapps_list.h"

#include "shell/linux/desktop_entry.h"

namespace {

using desktop_entry::Trim;

constexpr std::string_view kDefaults = "[Default Applications]";

}  // namespace

bool CMimeAppsList::Parse(std::string_view text, std::string* problem) {
    m_lines.clear();
    m_bFinalNewline = text.empty() || text.back() == '\n';
    bool ok = true;
    auto complain = [&](const std::string& what) {
        if (ok && problem) *problem = what;
        ok = false;
    };
    if (text.find('\0') != std::string_view::npos) complain("it holds a NUL byte");
    if (!desktop_entry::IsUtf8(text)) complain("it is not UTF-8 text");

    std::string group;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        Line line;
        line.text = std::string(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const std::string_view body = Trim(line.text);
        if (!body.empty() && body.front() == '[') {
            if (body.back() != ']') complain("line " + std::to_string(number) + " is no group");
            group = std::string(body);
        } else if (!body.empty() && body.front() != '#') {
            const size_t eq = body.find('=');
            if (eq == std::string_view::npos || Trim(body.substr(0, eq)).empty()) {
                complain("line " + std::to_string(number) + " is no entry");
            } else if (group.empty()) {
                complain("line " + std::to_string(number) + " stands before any group");
            } else {
                line.key = std::string(Trim(body.substr(0, eq)));
            }
        }
        line.group = group;
        m_lines.push_back(std::move(line));
    }
    return ok;
}

int CMimeAppsList::Find(std::string_view mimeType) const {
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].group == kDefaults && m_lines[i].key == mimeType) return static_cast<int>(i);
    }
    return -1;
}

std::string CMimeAppsList::Default(std::string_view mimeType) const {
    const int i = Find(mimeType);
    if (i < 0) return {};
    const std::string& text = m_lines[i].text;
    return desktop_entry::UnescapeValue(Trim(std::string_view(text).substr(text.find('=') + 1)));
}

bool CMimeAppsList::HasDefault(std::string_view mimeType) const {
    return Find(mimeType) >= 0;
}

void CMimeAppsList::SetDefault(std::string_view mimeType, std::string_view value) {
    Line line;
    line.text = std::string(mimeType) + "=" + desktop_entry::EscapeValue(value);
    line.group = std::string(kDefaults);
    line.key = std::string(mimeType);
    const int first = Find(mimeType);
    if (first >= 0) {
        m_lines[first] = line;
        for (size_t i = m_lines.size(); i-- > static_cast<size_t>(first) + 1;) {
            if (m_lines[i].group == kDefaults && m_lines[i].key == mimeType) {
                m_lines.erase(m_lines.begin() + static_cast<long>(i));
            }
        }
        return;
    }
    // After the group's last entry, or at the end of the file with a new group.
    int last = -1;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].group != kDefaults) continue;
        if (!m_lines[i].key.empty() || Trim(m_lines[i].text) == kDefaults) {
            last = static_cast<int>(i);
        }
    }
    if (last < 0) {
        if (!m_lines.empty() && !Trim(m_lines.back().text).empty()) m_lines.push_back({"", "", ""});
        m_lines.push_back({std::string(kDefaults), std::string(kDefaults), ""});
        m_lines.push_back(line);
        m_bFinalNewline = true;
        return;
    }
    m_lines.insert(m_lines.begin() + last + 1, line);
}

void CMimeAppsList::RemoveDefault(std::string_view mimeType) {
    for (size_t i = m_lines.size(); i-- > 0;) {
        if (m_lines[i].group == kDefaults && m_lines[i].key == mimeType) {
            m_lines.erase(m_lines.begin() + static_cast<long>(i));
        }
    }
}

std::string CMimeAppsList::Text() const {
    std::string out;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        out += m_lines[i].text;
        if (i + 1 < m_lines.size() || m_bFinalNewline) out += '\n';
    }
    return out;
}
