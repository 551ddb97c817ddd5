#include "shell/win32/win32_file_types.h"

#include <windows.h>
// windows.h before shellapi.h and shlobj.h.
#include <shellapi.h>
#include <shlobj.h>

#include "resources/strings/string_table.h"
#include "shell/program_file.h"
#include "shell/win32/registry_key.h"

namespace {

constexpr const char* kContentType = "Content Type";
constexpr const char* kCommandKey = "\\Shell\\open\\command";
constexpr const char* kMachineClasses = "Software\\Classes";

// The file name of a path, after its last "\" or "/".
std::string BaseName(const std::string& path) {
    const size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? path : path.substr(at + 1);
}

}  // namespace

CWin32FileTypes::CWin32FileTypes(Win32ClassKeys keys) : m_keys(std::move(keys)) {
    m_openSettings = [] {
        ::ShellExecuteW(nullptr, L"open", L"ms-settings:defaultapps", nullptr, nullptr,
                        SW_SHOWNORMAL);
    };
}

std::string CWin32FileTypes::ClassName(const FileType& type) {
    return std::string("CCOURIER") + type.extension;
}

std::string CWin32FileTypes::PalmDesktopClass(const FileType& type) {
    return std::string(type.extension + 1) + "File";
}

std::string CWin32FileTypes::ProgramPart(const std::string& programPath) {
    return programPath.find(' ') == std::string::npos ? programPath : "\"" + programPath + "\"";
}

std::string CWin32FileTypes::OpenCommand(const std::string& programPath) {
    return ProgramPart(programPath) + " \"%1\"";
}

std::optional<std::string> CWin32FileTypes::Read(const std::string& path,
                                                 const std::string& name) const {
    if (auto own = registry::ReadText(HKEY_CURRENT_USER, m_keys.classes + "\\" + path, name,
                                      kMaxValueChars)) {
        return own;
    }
    if (!m_keys.readMachineClasses) return std::nullopt;
    return registry::ReadText(HKEY_LOCAL_MACHINE, kMachineClasses + std::string("\\") + path, name,
                              kMaxValueChars);
}

void CWin32FileTypes::Write(const std::string& path, const std::string& name,
                            const std::string& value) {
    // A failed write is not reported: the next start finds the entry wrong and tries again.
    if (registry::WriteText(HKEY_CURRENT_USER, m_keys.classes + "\\" + path, name, value)) {
        m_bChanged = true;
    }
}

bool CWin32FileTypes::ClassExists(const std::string& name) const {
    registry::CKey key;
    return key.Open(HKEY_CURRENT_USER, m_keys.classes + "\\" + name) ||
           (m_keys.readMachineClasses &&
            key.Open(HKEY_LOCAL_MACHINE, kMachineClasses + std::string("\\") + name));
}

bool CWin32FileTypes::TypeTableCurrent() const {
    return Read(file_types::kArchive.extension, kContentType) ==
           std::optional<std::string>(file_types::kArchive.mimeType);
}

void CWin32FileTypes::InstallTypeTable() {
    Write(file_types::kArchive.extension, kContentType, file_types::kArchive.mimeType);
}

bool CWin32FileTypes::OwnsDefault(const FileType& type) const {
    const std::optional<std::string> value = Read(type.extension, "");
    return value && registry::SameName(*value, ClassName(type));
}

std::optional<std::string> CWin32FileTypes::CurrentDefault(const FileType& type) const {
    return registry::ReadText(HKEY_CURRENT_USER, m_keys.classes + "\\" + type.extension, "",
                              kMaxValueChars);
}

void CWin32FileTypes::TakeDefault(const FileType& type) {
    Write(type.extension, "", ClassName(type));
}

void CWin32FileTypes::RestoreDefault(const FileType& type,
                                     const std::optional<std::string>& value) {
    if (value) {
        Write(type.extension, "", *value);
        return;
    }
    // None of the user's own: the machine's default (if any) shows through again, and a key
    // left with nothing in it goes too.
    const std::string path = m_keys.classes + "\\" + type.extension;
    {
        registry::CKey key;
        if (key.Open(HKEY_CURRENT_USER, path, KEY_SET_VALUE) &&
            registry::DeleteValue(key.Get(), "")) {
            m_bChanged = true;
        }
    }
    registry::DeleteKeyIfEmpty(HKEY_CURRENT_USER, path);
}

void CWin32FileTypes::DropDefault(const FileType& type) {
    const std::string palm = PalmDesktopClass(type);
    // Pointing at a class nobody registered would leave the files with no program at all.
    RestoreDefault(type, ClassExists(palm) ? std::optional(palm) : std::nullopt);
}

bool CWin32FileTypes::OtherProgramChosen(const FileType& type) const {
    const std::optional<std::string> chosen = registry::ReadText(
        HKEY_CURRENT_USER, m_keys.choices + "\\" + type.extension + "\\UserChoice", "ProgId",
        kMaxValueChars);
    if (!chosen || chosen->empty()) return false;
    if (registry::SameName(*chosen, ClassName(type))) return false;
    // "Open with" on the program file itself names it as an application.
    const std::string program = BaseName(program::ProgramFilePath());
    return program.empty() || !registry::SameName(*chosen, "Applications\\" + program);
}

bool CWin32FileTypes::CommandIsCurrent(const FileType& type, const std::string& programPath) const {
    const std::string command = Read(ClassName(type) + kCommandKey, "").value_or("");
    const std::string part = ProgramPart(programPath);
    // The program part as a whole: "ccourier.exe" does not start "ccourier.exe.old".
    return command.compare(0, part.size(), part) == 0 &&
           (command.size() == part.size() || command[part.size()] == ' ');
}

void CWin32FileTypes::WriteCommand(const FileType& type, const std::string& programPath) {
    const std::string name = ClassName(type);
    Write(name + kCommandKey, "", OpenCommand(programPath));
    Write(name + "\\DefaultIcon", "", programPath + "," + std::to_string(type.iconIndex));
    // Through FormatString: windows.h has taken the name LoadString (the names hold no "%").
    Write(name, "", resources::FormatString(type.nameId));
}

void CWin32FileTypes::AnnounceChanges() {
    if (!m_bChanged) return;
    m_bChanged = false;
    ++m_nAnnouncements;
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

void CWin32FileTypes::OpenDefaultProgramSettings() {
    if (m_openSettings) m_openSettings();
}
