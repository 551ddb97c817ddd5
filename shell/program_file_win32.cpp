// The program's own file on Windows.
#include <windows.h>

#include <vector>

#include "platform/wide_text.h"
#include "shell/program_file.h"

namespace program {

std::string ProgramFilePath() {
    constexpr size_t kMaxPath = 512;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            const std::string path = platform::Narrow(std::wstring_view(buffer.data(), n));
            return path.size() > kMaxPath ? path.substr(0, kMaxPath) : path;
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace program
