// Hand-built CCA archive bytes and scratch directories for the archive tests.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "formats/cca/cca_format.h"
#include "platform/files.h"
#include "tests/support/temp_folder.h"

namespace ccatest {

using Bytes = std::vector<unsigned char>;

inline Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out(a);
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline uint32_t Crc(const Bytes& data) {
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
}

inline Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng());
    return out;
}

// Compressible text of n bytes.
inline Bytes Text(size_t n) {
    Bytes out;
    for (size_t i = 0; out.size() < n; ++i) {
        const std::string line = "line " + std::to_string(i) + " of the member\n";
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(n);
    return out;
}

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new file each time: rewriting a file in place makes some file systems flush it at close,
// which slows the many small writes of these tests to a crawl.
inline void WriteFileBytes(const std::filesystem::path& path, const Bytes& data) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

// Rewrites a file in place, for files an open archive object is reading.
inline void RewriteFileBytes(const std::filesystem::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

// One member as it goes into the file; sizes and CRCs can be set wrong on purpose.
struct RawMember {
    uint8_t flags = 0;
    uint16_t method = cca::kMethodStored;
    std::string name;  // written with its NUL unless noNul
    bool noNul = false;
    Bytes data;  // the member data exactly as stored
    uint32_t storedSize = 0;
    uint32_t crc = 0;
};

// Builds archive bytes member by member; the end offset defaults to the end of the members.
class ArchiveBuilder {
  public:
    ArchiveBuilder& Stored(const std::string& name, const Bytes& content) {
        return Add(
            {0, cca::kMethodStored, name, false, content, uint32_t(content.size()), Crc(content)});
    }
    // Content in zlib chunks of at most chunkContent bytes each.
    ArchiveBuilder& Zlib(const std::string& name, const Bytes& content,
                         size_t chunkContent = cca::kBufferSize) {
        Bytes data;
        for (size_t pos = 0; pos < content.size(); pos += chunkContent) {
            const size_t n = std::min(chunkContent, content.size() - pos);
            data = Concat(data, Chunk(Bytes(content.begin() + pos, content.begin() + pos + n)));
        }
        return Add({0, cca::kMethodZlib, name, false, data, uint32_t(data.size()), Crc(content)});
    }
    ArchiveBuilder& Skipped(const std::string& name, const Bytes& data) {
        return Add({0, cca::kMethodSkipped, name, false, data, uint32_t(data.size()), 0});
    }
    ArchiveBuilder& Add(const RawMember& member) {
        members_.push_back(member);
        return *this;
    }
    ArchiveBuilder& Trailing(const Bytes& bytes) {
        trailing_ = bytes;
        return *this;
    }
    ArchiveBuilder& EndOffset(uint32_t end) {
        endOffset_ = end;
        hasEnd_ = true;
        return *this;
    }

    Bytes Build() const {
        Bytes out(cca::kHeaderSize, 0);
        std::copy(cca::kMagic.begin(), cca::kMagic.end(), out.begin());
        for (const RawMember& m : members_) {
            unsigned char mh[cca::kMemberHeaderSize] = {};
            mh[0] = m.flags;
            cca::PutU16(mh + cca::kMemberMethodPos, m.method);
            cca::PutU32(mh + cca::kMemberSizePos, m.storedSize);
            cca::PutU32(mh + cca::kMemberCrcPos, m.crc);
            out.insert(out.end(), mh, mh + sizeof mh);
            out.insert(out.end(), m.name.begin(), m.name.end());
            if (!m.noNul) out.push_back(0);
            out.insert(out.end(), m.data.begin(), m.data.end());
        }
        cca::PutU32(out.data() + cca::kEndOffsetPos, hasEnd_ ? endOffset_ : uint32_t(out.size()));
        out.insert(out.end(), trailing_.begin(), trailing_.end());
        return out;
    }

    // One zlib chunk: u32 length and the stream.
    static Bytes Chunk(const Bytes& content) {
        uLongf n = compressBound(static_cast<uLong>(content.size()));
        Bytes z(n);
        compress2(z.data(), &n, content.data(), static_cast<uLong>(content.size()), 9);
        z.resize(n);
        Bytes out(4);
        cca::PutU32(out.data(), static_cast<uint32_t>(n));
        return Concat(out, z);
    }

  private:
    std::vector<RawMember> members_;
    Bytes trailing_;
    uint32_t endOffset_ = 0;
    bool hasEnd_ = false;
};

// A scratch directory removed with everything in it; Dir() ends with a slash, as the
// destination directory of an archive must.
class TempDir {
  public:
    TempDir() : folder_("cc-cca"), path_(platform::ToFsPath(folder_.Path())) {
        if (folder_.Path().empty()) ADD_FAILURE() << "no scratch folder";
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string Dir() const { return folder_.Dir(); }
    std::string File(const std::string& name) const { return folder_.File(name); }

    // Every regular file or link below the directory, relative to it, with "/" between folders.
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(path_)) {
            if (e.is_directory()) continue;
            const std::u8string name =
                std::filesystem::relative(e.path(), path_).generic_u8string();
            out.push_back(std::string(name.begin(), name.end()));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    testsupport::CTempFolder folder_;
    std::filesystem::path path_;
};

}  // namespace ccatest
