#include "shell/linux/carried_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "resources/guide/guide_files.h"
#include "resources/viewer/viewer_prc.h"
#include "shell/atomic_file.h"
#include "shell/linux/xdg_file_types.h"

namespace carried {
namespace {

namespace fs = std::filesystem;

bool Written(atomic_file::Result result) {
    return result == atomic_file::Result::kWritten || result == atomic_file::Result::kUnchanged;
}

}  // namespace

std::string ProgramDirectory() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return self.parent_path().string();
}

std::string OutputDirectory(const std::string& programDir) {
    if (!programDir.empty() && ::access(programDir.c_str(), W_OK | X_OK) == 0) {
        return programDir;
    }
    const std::string dir = XdgDirs::FromEnvironment().dataHome + "/Cradlecourier";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

std::string OutputDirectory() {
    return OutputDirectory(ProgramDirectory());
}

std::string HelpFilePath(const std::string& outputDir, resources::Language language) {
    return outputDir + (language == resources::Language::kGerman ? "/guide/de/index.html"
                                                                 : "/guide/en/index.html");
}

std::string ViewerPath(const std::string& outputDir) {
    return outputDir + "/VIEWER.PRC";
}

bool HelpFileOutdated(const std::string& helpFile) {
    struct stat st {};
    if (::stat(helpFile.c_str(), &st) != 0) return true;
    std::tm day{};
    day.tm_year = 2001 - 1900;
    day.tm_mon = 0;
    day.tm_mday = 18;
    day.tm_isdst = -1;  // local time, summer or not
    return st.st_mtime < std::mktime(&day);
}

}  // namespace carried

int ExtractViewer(const std::string& outputDir) {
    const std::vector<uint8_t>& bytes = resources::ViewerPrcBytes();
    if (bytes.empty()) return 0;
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return carried::Written(atomic_file::Write(carried::ViewerPath(outputDir), data, nullptr, true))
               ? 1
               : 0;
}

int ExtractHelpFile(const std::string& outputDir) {
    const auto files = resources::GuideFiles();
    if (files.empty()) return 0;
    int ok = 1;
    for (const resources::EmbeddedFile& f : files) {
        const std::string path = outputDir + "/guide/" + f.name;
        if (!carried::Written(atomic_file::Write(path, f.Bytes(), nullptr, true))) ok = 0;
    }
    return ok;
}

int ExtractViewer() {
    return ExtractViewer(carried::OutputDirectory());
}

int ExtractHelpFile() {
    return ExtractHelpFile(carried::OutputDirectory());
}

std::string WriteViewerFile() {
    const std::string dir = carried::OutputDirectory();
    return ExtractViewer(dir) ? carried::ViewerPath(dir) : std::string();
}

std::string PrepareHelpFile(const std::string& outputDir, resources::Language language) {
    const std::string page = carried::HelpFilePath(outputDir, language);
    if (carried::HelpFileOutdated(page)) ExtractHelpFile(outputDir);
    return page;
}

std::string PrepareHelpFile() {
    return PrepareHelpFile(carried::OutputDirectory(), resources::CurrentLanguage());
}
