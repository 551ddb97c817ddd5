// The open-file dialog of the Add command and of start-up: several existing files, long
// names, the read-only box hidden, title string 146, filter string 129.
#pragma once

#include <string>
#include <vector>

#include "ui/win32/dialog_win32.h"

namespace win32ui {

// Appends every chosen full path the list does not hold yet; true for OK.
bool ChooseFiles(HWND hOwner, std::vector<std::string>& files);

// The names in the dialog's answer: a single full path, or a folder followed by names in it,
// each ended by a zero and the whole by two (the Explorer-style multiple selection).
std::vector<std::wstring> SplitChosenNames(const wchar_t* buffer, size_t size);

}  // namespace win32ui
