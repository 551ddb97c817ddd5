#include "shell/hand_over_slots.h"

#include "shell/file_lock.h"
#include "shell/settings_store.h"

namespace handover {

std::string SlotName(int nIndex) {
    return "Name" + std::to_string(nIndex);
}

size_t WriteSlots(ISettingsStore& settings, const std::vector<std::string>& files,
                  const std::string& strLockPath) {
    CFileLock lock;
    if (!strLockPath.empty()) lock.Lock(strLockPath, kSlotLockTimeoutMs);
    // What other instances wrote since this store last looked.
    settings.Flush();
    size_t nNext = 0;
    for (int i = 0; i < kSlotCount && nNext < files.size(); ++i) {
        const std::string name = SlotName(i);
        if (!settings.ReadText(settings::kRegister, name, "").empty()) continue;
        settings.WriteText(settings::kRegister, name, files[nNext++]);
    }
    // On disk before the lock goes, so the next writer sees these slots taken.
    settings.Flush();
    return nNext;
}

size_t DropSlots(ISettingsStore& settings, const std::function<bool(const std::string&)>& keep) {
    size_t nDropped = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        const std::string path = settings.ReadText(settings::kRegister, SlotName(i), "");
        if (path.empty() || keep(path)) continue;
        settings.Delete(settings::kRegister, SlotName(i));
        ++nDropped;
    }
    return nDropped;
}

void DeleteSlots(ISettingsStore& settings) {
    for (int i = 0; i < kSlotCount; ++i) settings.Delete(settings::kRegister, SlotName(i));
}

}  // namespace handover
