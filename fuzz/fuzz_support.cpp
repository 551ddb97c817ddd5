#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "fuzz/fuzz_target.h"

namespace fuzz {

const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "cc-fuzz-XXXXXX").string();
        const char* made = mkdtemp(tmpl.data());
        std::string path = made ? made : "/tmp";
        // Leave nothing behind when the process ends normally.
        static struct Cleanup {
            std::string path;
            ~Cleanup() {
                std::error_code ec;
                if (path != "/tmp") std::filesystem::remove_all(path, ec);
            }
        } cleanup{path};
        return path;
    }();
    return dir;
}

std::string WriteInput(const uint8_t* data, size_t size, const char* name) {
    const std::string path = ScratchDir() + "/" + name;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

std::string FreshOutDir() {
    const std::filesystem::path out = std::filesystem::path(ScratchDir()) / "out";
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    std::filesystem::create_directories(out, ec);
    return out.string() + "/";
}

}  // namespace fuzz
