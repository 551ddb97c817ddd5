#include "shell/file_types.h"

#include <algorithm>

#include "shell/settings_store.h"

namespace file_types {

std::string PriorEntry(const std::string& key) {
    // A "/" would make a subgroup of the settings file.
    std::string entry = key;
    std::replace(entry.begin(), entry.end(), '/', '.');
    return entry;
}

}  // namespace file_types

namespace {

// The Palm types, one of each key, in table order.
std::vector<FileType> PalmTypes(const IFileTypeRegistry& registry) {
    std::vector<FileType> types;
    std::vector<std::string> keys;
    for (const FileType& t : file_types::kPalmTypes) {
        const std::string key = registry.Key(t);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
        keys.push_back(key);
        types.push_back(t);
    }
    return types;
}

// Makes us the type's default, keeping the default before us in the settings.
void Claim(FileTypeContext& c, const FileType& type) {
    if (c.registry.OwnsDefault(type)) return;
    const std::optional<std::string> old = c.registry.CurrentDefault(type);
    c.settings.WriteText(file_types::kPriorSection, file_types::PriorEntry(c.registry.Key(type)),
                         old.value_or(""));
    c.registry.TakeDefault(type);
}

void GiveBack(FileTypeContext& c, const FileType& type) {
    if (!c.registry.OwnsDefault(type)) return;  // someone chose another since: theirs
    const std::string entry = file_types::PriorEntry(c.registry.Key(type));
    if (!c.settings.Has(file_types::kPriorSection, entry)) {
        // Claimed by a copy whose settings are gone.
        c.registry.DropDefault(type);
        return;
    }
    const std::string prior = c.settings.ReadText(file_types::kPriorSection, entry, "");
    c.settings.Delete(file_types::kPriorSection, entry);
    c.registry.RestoreDefault(type, prior.empty() ? std::nullopt : std::optional(prior));
}

// Ours as the desktop opens it: our default, and no choice of the user's that overrides it.
bool OpensWithUs(const IFileTypeRegistry& registry, const FileType& type) {
    return registry.OwnsDefault(type) && !registry.OtherProgramChosen(type);
}

void AskAboutPalmTypes(FileTypeContext& c, const std::vector<FileType>& palm) {
    bool check = false;
    const IDefaultTypesQuestion::Answer answer = c.question.Ask(check);
    if (answer == IDefaultTypesQuestion::kYes) {
        for (const FileType& t : palm) Claim(c, t);
    }
    c.settings.WriteInt(settings::kMain, "DontAskDefault",
                        answer != IDefaultTypesQuestion::kNoAnswer && check ? 1 : 0);
    if (answer != IDefaultTypesQuestion::kYes) return;
    // Our defaults are written, but a choice the system protects still wins: say so
    // rather than let Yes look done.
    std::vector<std::string> kept;
    for (const FileType& t : palm) {
        if (c.registry.OtherProgramChosen(t)) kept.push_back(t.extension);
    }
    if (!kept.empty() && c.question.OfferSystemSettings(kept)) {
        c.registry.OpenDefaultProgramSettings();
    }
}

}  // namespace

void RegisterFileTypes(FileTypeContext& c, bool askAlways) {
    const int dontAsk = c.settings.ReadInt(settings::kMain, "DontAskDefault", 0);
    const FileType& archive = file_types::kArchive;

    if (!c.registry.TypeTableCurrent()) c.registry.InstallTypeTable();
    Claim(c, archive);
    if (!c.registry.CommandIsCurrent(archive, c.programPath)) {
        c.registry.WriteCommand(archive, c.programPath);
    }
    if (dontAsk == 0 || askAlways) {
        const std::vector<FileType> palm = PalmTypes(c.registry);
        const bool anyOurs = std::any_of(palm.begin(), palm.end(), [&](const FileType& t) {
            return OpensWithUs(c.registry, t);
        });
        if (!anyOurs) AskAboutPalmTypes(c, palm);
        for (const FileType& t : palm) {
            if (!c.registry.CommandIsCurrent(t, c.programPath)) {
                c.registry.WriteCommand(t, c.programPath);
            }
        }
    }
    c.registry.AnnounceChanges();
}

void UnregisterFileTypes(FileTypeContext& c) {
    for (const FileType& t : PalmTypes(c.registry)) GiveBack(c, t);
    c.registry.AnnounceChanges();
}

void UnregisterFileTypes(IFileTypeRegistry& registry, ISettingsStore& settings) {
    class CNoQuestion final : public IDefaultTypesQuestion {
      public:
        Answer Ask(bool&) override { return kNoAnswer; }
    } question;
    FileTypeContext context{registry, settings, question, {}};
    UnregisterFileTypes(context);
}
