#include "shell/linux/xdg_file_types.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "resources/desktop/desktop_files.h"
#include "shell/atomic_file.h"
#include "shell/linux/desktop_entry.h"
#include "shell/linux/mimeapps_list.h"

namespace {

constexpr size_t kMaxEntryBytes = 256 * 1024;
constexpr size_t kMaxMimeAppsBytes = 1024 * 1024;
constexpr int kToolTimeoutMs = 30000;

// An XDG base directory: the variable when it holds an absolute path, else the fallback
// below the home directory.
std::string BaseDir(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    return QDir::homePath().toStdString() + "/" + fallback;
}

std::string_view Embedded(std::string_view name) {
    const resources::EmbeddedFile* f = resources::FindEmbedded(resources::DesktopFiles(), name);
    return f ? f->Bytes() : std::string_view();
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// Modification time in nanoseconds; -1 when the file is missing.
long long ModifiedNs(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// A tool given by name (looked for on PATH) or by path; empty when it is not there.
QString FindTool(const std::string& tool) {
    const QString name = QString::fromStdString(tool);
    const QString program =
        tool.find('/') != std::string::npos ? name : QStandardPaths::findExecutable(name);
    return !program.isEmpty() && QFileInfo(program).isExecutable() ? program : QString();
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void AddOnce(std::vector<std::string>& list, const std::string& item) {
    if (!Contains(list, item)) list.push_back(item);
}

// The icon file name of a MIME type, as icon themes name them.
std::string IconName(std::string mimeType) {
    for (char& ch : mimeType) {
        if (ch == '/') ch = '-';
    }
    return mimeType;
}

}  // namespace

XdgDirs XdgDirs::FromEnvironment() {
    return {BaseDir("XDG_DATA_HOME", ".local/share"), BaseDir("XDG_CONFIG_HOME", ".config")};
}

CXdgFileTypes::CXdgFileTypes(XdgDirs dirs) : m_dirs(std::move(dirs)) {}

void CXdgFileTypes::SetUpdateTools(std::string mimeDatabaseTool, std::string desktopDatabaseTool) {
    m_mimeTool = std::move(mimeDatabaseTool);
    m_desktopTool = std::move(desktopDatabaseTool);
}

std::string CXdgFileTypes::PackagePath() const {
    return m_dirs.dataHome + "/mime/packages/cradlecourier.xml";
}

std::string CXdgFileTypes::EntryPath() const {
    return m_dirs.dataHome + "/applications/" + file_types::kDesktopId;
}

std::string CXdgFileTypes::MimeAppsPath() const {
    return m_dirs.configHome + "/mimeapps.list";
}

std::string CXdgFileTypes::IconPath(const std::string& context, const std::string& name) const {
    return m_dirs.dataHome + "/icons/hicolor/scalable/" + context + "/" + name + ".svg";
}

void CXdgFileTypes::Warn(const std::string& text) const {
    m_warnings.push_back(text);
    std::fprintf(stderr, "ccourier: %s\n", text.c_str());
}

bool CXdgFileTypes::WriteFile(const std::string& path, std::string_view bytes) const {
    std::string error;
    switch (atomic_file::Write(path, bytes, &error)) {
        case atomic_file::Result::kWritten:
        case atomic_file::Result::kUnchanged:
            return true;
        case atomic_file::Result::kReadOnly:
            Warn(path + " is read-only; it was left as it is");
            return false;
        case atomic_file::Result::kFailed:
            Warn("could not write " + error);
            return false;
    }
    return false;
}

bool CXdgFileTypes::RunTool(const std::string& tool, const std::string& folder) const {
    const QString program = FindTool(tool);
    if (program.isEmpty()) return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {QString::fromStdString(folder)});
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        Warn(tool + " did not finish on " + folder);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        Warn(tool + " failed on " + folder + ": " +
             QString::fromLocal8Bit(process.readAll()).trimmed().toStdString());
        return false;
    }
    return true;
}

bool CXdgFileTypes::TypePackageCurrent() const {
    std::string bytes;
    if (!atomic_file::Read(PackagePath(), kMaxEntryBytes, bytes) ||
        bytes != Embedded("desktop/cradlecourier.xml")) {
        return false;
    }
    // Taken in when the database was built after the package was written.
    return ModifiedNs(m_dirs.dataHome + "/mime/mime.cache") >= ModifiedNs(PackagePath());
}

void CXdgFileTypes::InstallTypePackage() {
    if (!WriteFile(PackagePath(), Embedded("desktop/cradlecourier.xml"))) return;
    const std::string folder = m_dirs.dataHome + "/mime";
    if (FindTool(m_mimeTool).isEmpty()) {
        Warn(m_mimeTool +
             " is not installed (Debian package shared-mime-info): the desktop will know "
             ".cca files once it is");
        return;
    }
    RunTool(m_mimeTool, folder);
}

DesktopEntryState CXdgFileTypes::ReadEntry() const {
    DesktopEntryState state;
    std::string text;
    if (!atomic_file::Read(EntryPath(), kMaxEntryBytes, text)) return state;
    const std::map<std::string, std::string> keys = desktop_entry::ReadMainGroup(text);
    state.exists = true;
    if (auto it = keys.find("Exec"); it != keys.end()) state.exec = it->second;
    if (auto it = keys.find("MimeType"); it != keys.end()) {
        state.mimeTypes = desktop_entry::SplitList(it->second);
    }
    return state;
}

void CXdgFileTypes::WriteEntry(const std::string& programPath,
                               const std::vector<std::string>& mimeTypes) {
    if (!desktop_entry::IsUtf8(programPath)) {
        Warn(
            "the program's path is not UTF-8 text, which a desktop entry cannot hold; "
            "file types were not registered");
        return;
    }
    std::string text(Embedded("desktop/cradlecourier.desktop.in"));
    text = ReplaceAll(text, "@EXEC@",
                      desktop_entry::EscapeValue(desktop_entry::ExecLine(programPath)));
    text = ReplaceAll(text, "@MIMETYPES@", desktop_entry::JoinList(mimeTypes));
    if (!WriteFile(EntryPath(), text)) return;

    // The icons the entry and its types show.
    if (auto icon = Embedded("icons/cradlecourier.svg"); !icon.empty()) {
        WriteFile(IconPath("apps", "cradlecourier"), icon);
    }
    for (const std::string& type : mimeTypes) {
        const std::string name = IconName(type);
        if (auto icon = Embedded("icons/" + name + ".svg"); !icon.empty()) {
            WriteFile(IconPath("mimetypes", name), icon);
        }
    }
    // The cache of which programs open which types is optional; it is kept up to date
    // where the tool is installed.
    RunTool(m_desktopTool, m_dirs.dataHome + "/applications");
}

std::optional<std::string> CXdgFileTypes::DefaultFor(const std::string& mimeType) const {
    std::string text;
    if (!atomic_file::Read(MimeAppsPath(), kMaxMimeAppsBytes, text)) return std::nullopt;
    CMimeAppsList list;
    list.Parse(text);  // what can be read counts, also in a file we would not write back
    if (!list.HasDefault(mimeType)) return std::nullopt;
    return list.Default(mimeType);
}

void CXdgFileTypes::SetDefaultFor(const std::string& mimeType,
                                  const std::optional<std::string>& value) {
    const std::string path = MimeAppsPath();
    std::string text;
    std::string error;
    if (!atomic_file::Read(path, kMaxMimeAppsBytes, text, &error) && !error.empty()) {
        Warn("could not read " + error + "; default programs were not changed");
        return;
    }
    CMimeAppsList list;
    std::string problem;
    if (!list.Parse(text, &problem)) {
        Warn(path + " was not changed: " + problem);
        return;
    }
    if (value) {
        list.SetDefault(mimeType, *value);
    } else {
        list.RemoveDefault(mimeType);
    }
    const std::string updated = list.Text();
    if (updated != text) WriteFile(path, updated);
}

bool CXdgFileTypes::OwnsDefault(const FileType& type) const {
    const std::optional<std::string> value = DefaultFor(type.mimeType);
    if (!value) return false;
    const std::vector<std::string> ids = desktop_entry::SplitList(*value);
    return !ids.empty() && ids.front() == file_types::kDesktopId;
}

std::optional<std::string> CXdgFileTypes::CurrentDefault(const FileType& type) const {
    return DefaultFor(type.mimeType);
}

void CXdgFileTypes::TakeDefault(const FileType& type) {
    std::vector<std::string> list = {file_types::kDesktopId};
    if (const std::optional<std::string> old = DefaultFor(type.mimeType)) {
        for (const std::string& id : desktop_entry::SplitList(*old)) AddOnce(list, id);
    }
    SetDefaultFor(type.mimeType, desktop_entry::JoinList(list));
}

void CXdgFileTypes::RestoreDefault(const FileType& type, const std::optional<std::string>& value) {
    SetDefaultFor(type.mimeType, value);
}

void CXdgFileTypes::DropDefault(const FileType& type) {
    std::vector<std::string> rest;
    for (const std::string& id : desktop_entry::SplitList(DefaultFor(type.mimeType).value_or(""))) {
        if (id != file_types::kDesktopId) rest.push_back(id);
    }
    SetDefaultFor(type.mimeType,
                  rest.empty() ? std::nullopt : std::optional(desktop_entry::JoinList(rest)));
}

bool CXdgFileTypes::CommandIsCurrent(const FileType& type, const std::string& programPath) const {
    const DesktopEntryState entry = ReadEntry();
    return entry.exists &&
           desktop_entry::ExecRunsProgram(entry.exec, desktop_entry::QuoteArgument(programPath)) &&
           Contains(entry.mimeTypes, type.mimeType);
}

void CXdgFileTypes::WriteCommand(const FileType& type, const std::string& programPath) {
    DesktopEntryState entry = ReadEntry();
    AddOnce(entry.mimeTypes, type.mimeType);
    WriteEntry(programPath, entry.mimeTypes);
}
