#include "ui/win32/file_chooser_win32.h"

#include <commdlg.h>

#include <algorithm>

#include "resources/strings/string_table.h"

namespace win32ui {

namespace {

// Room for the selected names, in characters.
constexpr size_t kNamesRoom = 5120;

}  // namespace

std::vector<std::wstring> SplitChosenNames(const wchar_t* buffer, size_t size) {
    std::vector<std::wstring> parts;
    size_t at = 0;
    while (at < size && buffer[at] != L'\0') {
        size_t end = at;
        while (end < size && buffer[end] != L'\0') ++end;
        parts.emplace_back(buffer + at, end - at);
        at = end + 1;
    }
    if (parts.size() <= 1) return parts;
    std::wstring dir = parts.front();
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    std::vector<std::wstring> paths;
    for (size_t i = 1; i < parts.size(); ++i) paths.push_back(dir + parts[i]);
    return paths;
}

bool ChooseFiles(HWND hOwner, std::vector<std::string>& files) {
    // "description|pattern|...||": the bars become the zeros the dialog wants.
    std::wstring filter = W(resources::LoadString(resources::kIdsFileFilter));
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filter.push_back(L'\0');
    const std::wstring title = W(resources::LoadString(resources::kIdsChooserTitle));
    std::vector<wchar_t> names(kNamesRoom + 2, L'\0');

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = names.data();
    ofn.nMaxFile = static_cast<DWORD>(kNamesRoom);
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_LONGNAMES | OFN_FILEMUSTEXIST |
                OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&ofn)) return false;
    for (const std::wstring& path : SplitChosenNames(names.data(), names.size())) {
        const std::string utf8 = U(path);
        if (std::find(files.begin(), files.end(), utf8) == files.end()) files.push_back(utf8);
    }
    return true;
}

}  // namespace win32ui
