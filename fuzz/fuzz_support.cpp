#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "fuzz/fuzz_target.h"

namespace fuzz {

namespace {

// TMPDIR when set; else memory-backed /dev/shm when there is one, since targets write a file
// for every input; else the system's temporary folder.
std::filesystem::path ScratchParent() {
    std::error_code ec;
    if (!getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::filesystem::temp_directory_path(ec);
}

}  // namespace

const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string tmpl = (ScratchParent() / "cc-fuzz-XXXXXX").string();
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

std::string WriteFreshInput(const uint8_t* data, size_t size, const char* name) {
    static time_t s_nextTime = 1000000000;
    const std::string path = WriteInput(data, size, name);
    const timespec times[2] = {{s_nextTime, 0}, {s_nextTime, 0}};
    ++s_nextTime;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
}

std::string FreshOutDir() {
    const std::filesystem::path out = std::filesystem::path(ScratchDir()) / "out";
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    std::filesystem::create_directories(out, ec);
    return out.string() + "/";
}

std::string PlainFileName(const std::vector<uint8_t>& bytes) {
    std::string name;
    for (uint8_t b : bytes) {
        if (name.size() < 200) name += (b == '/' || b == 0) ? '_' : static_cast<char>(b);
    }
    if (name.empty() || name == "." || name == "..") name += "x";
    return name;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

uint8_t CInput::U8() {
    return m_pos < m_size ? m_data[m_pos++] : 0;
}

uint16_t CInput::U16() {
    const uint16_t hi = U8();
    return uint16_t((hi << 8) | U8());
}

uint32_t CInput::U32() {
    const uint32_t hi = U16();
    return (hi << 16) | U16();
}

std::vector<uint8_t> CInput::Bytes(size_t n) {
    n = std::min(n, Left());
    std::vector<uint8_t> out(m_data + m_pos, m_data + m_pos + n);
    m_pos += n;
    return out;
}

std::vector<uint8_t> CInput::Chunk() {
    return Bytes(U16());
}

void PutChunk(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
    const size_t n = std::min<size_t>(bytes.size(), 0xFFFF);
    out.push_back(uint8_t(n >> 8));
    out.push_back(uint8_t(n));
    out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace fuzz
