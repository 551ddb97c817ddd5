#include "shell/program_file.h"

#include "platform/path_rules.h"

namespace program {

std::string GetProgramDirectory() {
    const std::string path = ProgramFilePath();
    const size_t start = platform::FileNameStart(path);
    return start == 0 ? std::string() : path.substr(0, start - 1);
}

std::string ProgramName(const std::string& strProgramPath) {
    std::string name = strProgramPath.substr(platform::FileNameStart(strProgramPath));
    const size_t dot = name.rfind('.');
    // A leading dot is part of the name, not an extension.
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

}  // namespace program
