// Files built into the program as data: the user guide, the desktop entry, the MIME
// package and the icons. Each folder that carries files offers one function that returns
// its table (cc_embed_files in cmake/EmbedFiles.cmake makes it).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace resources {

struct EmbeddedFile {
    const char* name;  // the path below the folder it was taken from, "/" between parts
    const unsigned char* data;
    size_t size;

    std::string_view Bytes() const { return {reinterpret_cast<const char*>(data), size}; }
};

// The file of that name in a table, or null.
inline const EmbeddedFile* FindEmbedded(std::span<const EmbeddedFile> files,
                                        std::string_view name) {
    for (const EmbeddedFile& f : files) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

}  // namespace resources
