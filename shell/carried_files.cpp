#include "shell/carried_files.h"

#include <algorithm>

#include "platform/path_rules.h"
#include "resources/guide/guide_files.h"
#include "resources/viewer/viewer_prc.h"
#include "shell/atomic_file.h"
#include "shell/program_file.h"

namespace carried {
namespace {

bool Written(atomic_file::Result result) {
    return result == atomic_file::Result::kWritten || result == atomic_file::Result::kUnchanged;
}

// A path below a directory, from "/"-separated parts, in the system's style.
std::string Below(const std::string& dir, std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', platform::PathSeparator());
    return platform::WithTrailingSeparator(dir) + relative;
}

}  // namespace

std::string ProgramDirectory() {
    return program::GetProgramDirectory();
}

std::string OutputDirectory() {
    return OutputDirectory(ProgramDirectory());
}

std::string HelpFilePath(const std::string& outputDir, resources::Language language) {
    return Below(outputDir, language == resources::Language::kGerman ? "guide/de/index.html"
                                                                     : "guide/en/index.html");
}

std::string ViewerPath(const std::string& outputDir) {
    return Below(outputDir, "VIEWER.PRC");
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
        const std::string path = carried::Below(outputDir, "guide/" + std::string(f.name));
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
