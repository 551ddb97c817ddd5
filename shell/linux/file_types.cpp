#include "shell/linux/file_types.h"

#include <algorithm>

#include "shell/linux/desktop_entry.h"
#include "shell/settings_store.h"

namespace file_types {

std::string PriorEntry(const std::string& mimeType) {
    // A "/" would make a subgroup of the settings file.
    std::string entry = mimeType;
    std::replace(entry.begin(), entry.end(), '/', '.');
    return entry;
}

}  // namespace file_types

namespace {

using desktop_entry::JoinList;
using desktop_entry::SplitList;
using file_types::kDesktopId;

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void AddOnce(std::vector<std::string>& list, const std::string& item) {
    if (!Contains(list, item)) list.push_back(item);
}

// The Palm types' MIME names, each once, in table order.
std::vector<std::string> PalmMimeTypes() {
    std::vector<std::string> types;
    for (const FileType& t : file_types::kPalmTypes) AddOnce(types, t.mimeType);
    return types;
}

// Makes us the type's default, keeping the default before us in the settings (and after us
// in the type's list, so the desktop still finds it should our entry go).
void Claim(FileTypeContext& c, const std::string& mimeType) {
    if (OwnsType(c.registry, mimeType)) return;
    const std::optional<std::string> old = c.registry.DefaultFor(mimeType);
    c.settings.WriteText(file_types::kPriorSection, file_types::PriorEntry(mimeType),
                         old.value_or(""));
    std::vector<std::string> list = {kDesktopId};
    if (old) {
        for (const std::string& id : SplitList(*old)) AddOnce(list, id);
    }
    c.registry.SetDefaultFor(mimeType, JoinList(list));
}

void GiveBack(FileTypeContext& c, const std::string& mimeType) {
    if (!OwnsType(c.registry, mimeType)) return;  // someone chose another since: theirs
    const std::string entry = file_types::PriorEntry(mimeType);
    std::optional<std::string> value;
    if (c.settings.Has(file_types::kPriorSection, entry)) {
        const std::string prior = c.settings.ReadText(file_types::kPriorSection, entry, "");
        if (!prior.empty()) value = prior;
        c.settings.Delete(file_types::kPriorSection, entry);
    } else {
        // Claimed by a copy whose settings are gone: just take ourselves off the list.
        std::vector<std::string> rest;
        for (const std::string& id : SplitList(c.registry.DefaultFor(mimeType).value_or(""))) {
            if (id != kDesktopId) rest.push_back(id);
        }
        if (!rest.empty()) value = JoinList(rest);
    }
    c.registry.SetDefaultFor(mimeType, value);
}

}  // namespace

bool OwnsType(const IFileTypeRegistry& registry, const std::string& mimeType) {
    const std::optional<std::string> value = registry.DefaultFor(mimeType);
    if (!value) return false;
    const std::vector<std::string> ids = SplitList(*value);
    return !ids.empty() && ids.front() == kDesktopId;
}

bool CommandIsCurrent(const DesktopEntryState& entry, const std::string& programPath,
                      const std::string& mimeType) {
    return entry.exists &&
           desktop_entry::ExecRunsProgram(entry.exec, desktop_entry::QuoteArgument(programPath)) &&
           Contains(entry.mimeTypes, mimeType);
}

void RegisterFileTypes(FileTypeContext& c, bool askAlways) {
    const int dontAsk = c.settings.ReadInt(settings::kMain, "DontAskDefault", 0);
    const std::string archive = file_types::kArchive.mimeType;

    if (!c.registry.TypePackageCurrent()) c.registry.InstallTypePackage();
    Claim(c, archive);

    // The types the entry opens stay as they are, except for what we add: a plain start
    // under "don't ask" adds only the archive type.
    DesktopEntryState entry = c.registry.ReadEntry();
    if (!CommandIsCurrent(entry, c.programPath, archive)) {
        AddOnce(entry.mimeTypes, archive);
        c.registry.WriteEntry(c.programPath, entry.mimeTypes);
        entry = c.registry.ReadEntry();
    }
    if (dontAsk != 0 && !askAlways) return;

    const std::vector<std::string> palm = PalmMimeTypes();
    const bool anyOurs = std::any_of(palm.begin(), palm.end(),
                                     [&](const std::string& t) { return OwnsType(c.registry, t); });
    if (!anyOurs) {
        bool check = false;
        const IDefaultTypesQuestion::Answer answer = c.question.Ask(check);
        if (answer == IDefaultTypesQuestion::kYes) {
            for (const std::string& t : palm) Claim(c, t);
        }
        c.settings.WriteInt(settings::kMain, "DontAskDefault",
                            answer != IDefaultTypesQuestion::kNoAnswer && check ? 1 : 0);
    }
    bool rewrite = false;
    for (const std::string& t : palm) {
        if (CommandIsCurrent(entry, c.programPath, t)) continue;
        AddOnce(entry.mimeTypes, t);
        rewrite = true;
    }
    if (rewrite) c.registry.WriteEntry(c.programPath, entry.mimeTypes);
}

void UnregisterFileTypes(FileTypeContext& c) {
    for (const std::string& t : PalmMimeTypes()) GiveBack(c, t);
}
