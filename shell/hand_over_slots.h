// The files a second instance hands to the first: one path per slot "Register"/"Name0" to
// "Name254" of the settings, announced by the message "CCourier new" with wParam 1970 and
// lParam the number of files.
#pragma once

#include <functional>
#include <string>
#include <vector>

class ISettingsStore;

namespace handover {

inline constexpr int kSlotCount = 255;
inline constexpr int kMessageParam = 1970;
inline constexpr const char* kMessageName = "CCourier new";
// Longest wait for another second instance's slot writing.
inline constexpr int kSlotLockTimeoutMs = 5000;

// "Name%d".
std::string SlotName(int nIndex);

// Writes the files, in order, into the free slots (absent or empty), passing over occupied
// ones; files beyond the last free slot are not handed over. Two second instances started
// together must not both take one free slot, so the scan and the writes happen under the
// lock file strLockPath (no lock when it is empty or can't be had in time). The number of
// files written.
size_t WriteSlots(ISettingsStore& settings, const std::vector<std::string>& files,
                  const std::string& strLockPath);

// Deletes the slots whose paths fail the test (files gone since they were handed over,
// or never there); the number deleted.
size_t DropSlots(ISettingsStore& settings, const std::function<bool(const std::string&)>& keep);

// Deletes all 255 slots.
void DeleteSlots(ISettingsStore& settings);

}  // namespace handover
