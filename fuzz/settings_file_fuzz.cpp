// A hostile settings file (CCourier.conf) through the case-folding store: every entry the
// file holds is found in any ASCII letter case, read as text and as a number within the
// store's limits, then written, read back and deleted under another spelling.
#include <QSettings>
#include <QStringList>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "shell/linux/qt_settings.h"

namespace {

std::string Flip(std::string text, bool upper) {
    for (char& c : text) {
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The sections and entries as Qt reads them from the file, at most a hundred.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> entries;
    QSettings raw(QString::fromStdString(path), QSettings::IniFormat);
    // Names our UTF-8 texts cannot spell (escaped lone surrogates) are left out, and empty
    // ones, which name nothing.
    const auto spelled = [](const QString& name) {
        return !name.isEmpty() && QString::fromUtf8(name.toUtf8()) == name;
    };
    for (const QString& group : raw.childGroups()) {
        raw.beginGroup(group);
        for (const QString& key : raw.childKeys()) {
            if (entries.size() < 100 && spelled(group) && spelled(key)) {
                entries.emplace_back(group.toStdString(), key.toStdString());
            }
        }
        raw.endGroup();
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteFreshInput(data, size, "CCourier.conf");
    const auto entries = Entries(path);
    {
        CQtSettings store(path);
        for (const auto& [section, entry] : entries) {
            for (const bool upper : {false, true}) {
                if (!store.Has(Flip(section, upper), Flip(entry, !upper))) {
                    fuzz::Fail("an entry of the file not found in another letter case");
                }
            }
            const std::string text = store.ReadText(section, entry, "\x01");
            if (text != "\x01" && text.size() > ISettingsStore::kMaxTextLength) {
                fuzz::Fail("a text longer than the limit");
            }
            int parsed = 0;
            const int number = store.ReadInt(section, entry, -7);
            const bool isNumber = text != "\x01" && settings::ParseInt(text, parsed);
            if (number != (isNumber ? parsed : -7) && text != "\x01") {
                fuzz::Fail("a number read otherwise than its text");
            }
        }
        // Another spelling of an entry the file has replaces it; the value reads back.
        if (!entries.empty()) {
            const auto& [section, entry] = entries[size % entries.size()];
            const std::string other = Flip(entry, entry == Flip(entry, false));
            if (store.WriteText(section, other, "written")) {
                if (store.ReadText(section, entry, "") != "written") {
                    fuzz::Fail("a written text does not read back");
                }
            }
            if (store.WriteInt(section, other, 1234) && store.ReadInt(section, entry, 0) != 1234) {
                fuzz::Fail("a written number does not read back");
            }
            store.Delete(Flip(section, true), Flip(entry, true));
            if (store.Has(section, entry)) fuzz::Fail("a deleted entry is still there");
        }
        store.WriteText(settings::kRegister, "Name0", "/tmp/x.prc");
        store.Flush();
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    // Qt's settings write through a lock file and a temporary file beside the file.
    for (const auto& item : std::filesystem::directory_iterator(fuzz::ScratchDir(), ec)) {
        if (item.path().filename().string().rfind("CCourier.conf", 0) != 0) {
            fuzz::Fail("a file written outside the settings file's name");
        }
    }
    return 0;
}
