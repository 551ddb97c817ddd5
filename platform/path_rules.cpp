#include "platform/path_rules.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace platform {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// "1" ... "9", "0", or a superscript one, two or three in UTF-8.
bool IsPortDigit(std::string_view rest) {
    if (rest.size() == 1) return rest[0] >= '0' && rest[0] <= '9';
    return rest == "\xC2\xB9" || rest == "\xC2\xB2" || rest == "\xC2\xB3";
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

char PathSeparator(PathStyle style) {
    return style == PathStyle::kWindows ? '\\' : '/';
}

bool IsPathSeparator(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::kWindows && c == '\\');
}

std::string WithTrailingSeparator(std::string dir, PathStyle style) {
    if (!dir.empty() && !IsPathSeparator(dir.back(), style)) dir += PathSeparator(style);
    return dir;
}

bool IsAbsolutePath(std::string_view path, PathStyle style) {
    if (style != PathStyle::kWindows) return !path.empty() && path[0] == '/';
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':') {
        return IsPathSeparator(path[2], style);
    }
    return path.size() >= 3 && IsPathSeparator(path[0], style) && IsPathSeparator(path[1], style);
}

std::string DrivePart(std::string_view path, PathStyle style) {
    if (style != PathStyle::kWindows || path.size() < 2) return {};
    if (IsDriveLetter(path[0]) && path[1] == ':') return std::string(path.substr(0, 2));
    return {};
}

size_t FileNameStart(std::string_view path, PathStyle style) {
    size_t start = DrivePart(path, style).size();
    for (size_t i = start; i < path.size(); ++i) {
        if (IsPathSeparator(path[i], style)) start = i + 1;
    }
    return start;
}

bool IsWindowsDeviceName(std::string_view name) {
    // Windows reads "CON.txt" and "con  " as CON: the name up to its first dot (or colon),
    // trailing blanks dropped.
    name = name.substr(0, std::min(name.find('.'), name.find(':')));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> kNames = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : kNames) {
        if (SameLetters(name, device)) return true;
    }
    if (name.size() < 4) return false;
    const std::string_view stem = name.substr(0, 3);
    return (SameLetters(stem, "COM") || SameLetters(stem, "LPT")) && IsPortDigit(name.substr(3));
}

bool IsWindowsDevicePath(std::string_view path) {
    const auto sep = [](char c) { return c == '/' || c == '\\'; };
    if (path.size() >= 4 && sep(path[0]) && sep(path[1]) && (path[2] == '.' || path[2] == '?') &&
        sep(path[3])) {
        if (path[2] == '.') return true;  // "\\.\COM1", "\\.\pipe\x": the device namespace
        const std::string_view rest = path.substr(4);
        const bool drive =
            rest.size() >= 3 && IsDriveLetter(rest[0]) && rest[1] == ':' && sep(rest[2]);
        const bool unc = rest.size() >= 4 && SameLetters(rest.substr(0, 3), "UNC") && sep(rest[3]);
        if (!drive && !unc) return true;  // "\\?\GLOBALROOT\Device\..."
        path = rest;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !sep(path[end])) ++end;
        std::string_view part = path.substr(start, end - start);
        if (start == 0 && part.size() >= 2 && part[1] == ':') part.remove_prefix(2);
        if (IsWindowsDeviceName(part)) return true;
        start = end + 1;
    }
    return false;
}

bool IsSafeFileName(std::string_view name, PathStyle style) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find_first_of("/\\") != std::string_view::npos) return false;
    if (style != PathStyle::kWindows) return true;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::string_view(":<>\"|?*").find(c) != std::string_view::npos) {
            return false;
        }
    }
    // Windows drops trailing dots and blanks: "..." and ". ." would name the folder itself.
    if (name.find_first_not_of(". ") == std::string_view::npos) return false;
    return !IsWindowsDeviceName(name);
}

bool IsSafePathComponent(std::string_view part, PathStyle style) {
    if (part.empty() || part == "." || part == "..") return false;
    return style != PathStyle::kWindows || IsSafeFileName(part, style);
}

}  // namespace platform
