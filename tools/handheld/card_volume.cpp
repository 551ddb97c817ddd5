#include "tools/handheld/card_volume.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>

#include "platform/files.h"

namespace handheld {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    // FAT keeps the case it was given but finds names regardless of it.
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool IsValidName(const std::string& name) {
    if (name.empty() || name.size() > CCardVolume::kMaxName || name == "." || name == "..") {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || std::string_view("\\/:*?\"<>|").find(char(c)) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

CardEntry* Child(const CardEntry& dir, const std::string& name) {
    for (const auto& child : dir.children) {
        if (SameName(child->name, name)) return child.get();
    }
    return nullptr;
}

}  // namespace

CCardVolume::CCardVolume(uint64_t size, std::string label, bool readOnly)
    : m_size(size), m_label(std::move(label)), m_readOnly(readOnly) {
    m_root = std::make_unique<CardEntry>();
    m_root->directory = true;
    // A card formatted in the handheld has the launcher's folder from its first mount.
    auto palm = std::make_unique<CardEntry>();
    palm->name = "PALM";
    palm->directory = true;
    auto launcher = std::make_unique<CardEntry>();
    launcher->name = "Launcher";
    launcher->directory = true;
    palm->children.push_back(std::move(launcher));
    m_root->children.push_back(std::move(palm));
}

void CCardVolume::Pull() {
    m_pulled = true;
    m_open.clear();
}

bool CCardVolume::SplitPath(const std::string& path, std::vector<std::string>& names,
                            CardResult& why) {
    names.clear();
    if (path.empty() || path[0] != '/') {
        why = CardResult::kBadName;
        return false;
    }
    size_t at = 1;
    while (at < path.size()) {
        const size_t slash = path.find('/', at);
        const std::string name = path.substr(at, slash == std::string::npos ? slash : slash - at);
        // A trailing slash names the directory itself.
        if (name.empty() && slash == std::string::npos) break;
        if (!IsValidName(name)) {
            why = CardResult::kBadName;
            return false;
        }
        names.push_back(name);
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    return true;
}

CardEntry* CCardVolume::Find(const std::string& path, CardResult& why) const {
    std::vector<std::string> names;
    if (!SplitPath(path, names, why)) return nullptr;
    CardEntry* entry = m_root.get();
    for (size_t i = 0; i < names.size(); ++i) {
        if (!entry->directory) {
            why = CardResult::kNotADirectory;
            return nullptr;
        }
        entry = Child(*entry, names[i]);
        if (!entry) {
            why = CardResult::kNotFound;
            return nullptr;
        }
    }
    return entry;
}

CardEntry* CCardVolume::Parent(const std::string& path, std::string& name, CardResult& why) const {
    std::vector<std::string> names;
    if (!SplitPath(path, names, why)) return nullptr;
    if (names.empty()) {
        why = CardResult::kBadName;  // the root itself
        return nullptr;
    }
    name = names.back();
    CardEntry* dir = m_root.get();
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        dir = Child(*dir, names[i]);
        if (!dir) {
            why = CardResult::kDirNotFound;
            return nullptr;
        }
        if (!dir->directory) {
            why = CardResult::kNotADirectory;
            return nullptr;
        }
    }
    return dir;
}

CardResult CCardVolume::Insert(const std::string& path, bool directory) {
    if (m_pulled) return CardResult::kPulled;
    CardResult why = CardResult::kOk;
    std::string name;
    CardEntry* dir = Parent(path, name, why);
    if (!dir) return why;
    if (Child(*dir, name)) return CardResult::kAlreadyExists;
    if (m_readOnly) return CardResult::kReadOnly;
    auto entry = std::make_unique<CardEntry>();
    entry->name = name;
    entry->directory = directory;
    dir->children.push_back(std::move(entry));
    return CardResult::kOk;
}

CardResult CCardVolume::CreateDirectory(const std::string& path) {
    return Insert(path, true);
}

CardResult CCardVolume::CreateFile(const std::string& path) {
    return Insert(path, false);
}

CardResult CCardVolume::Delete(const std::string& path) {
    if (m_pulled) return CardResult::kPulled;
    CardResult why = CardResult::kOk;
    std::string name;
    CardEntry* dir = Parent(path, name, why);
    if (!dir) return why == CardResult::kDirNotFound ? CardResult::kNotFound : why;
    auto it = std::find_if(dir->children.begin(), dir->children.end(),
                           [&](const auto& child) { return SameName(child->name, name); });
    if (it == dir->children.end()) return CardResult::kNotFound;
    if (m_readOnly) return CardResult::kReadOnly;
    if ((*it)->directory && !(*it)->children.empty()) return CardResult::kDirNotEmpty;
    if ((*it)->openCount > 0) return CardResult::kStillOpen;
    m_used -= (*it)->data.size();
    dir->children.erase(it);
    return CardResult::kOk;
}

CardResult CCardVolume::Open(const std::string& path, uint16_t mode, uint32_t& fileRef) {
    if (m_pulled) return CardResult::kPulled;
    CardResult why = CardResult::kOk;
    CardEntry* entry = Find(path, why);
    if (!entry) return why;
    const bool write = (mode & kModeWrite) == kModeWrite;
    if (write && m_readOnly) return CardResult::kReadOnly;
    if (write && entry->directory) return CardResult::kIsADirectory;
    fileRef = m_nextRef++;
    m_open[fileRef] = OpenFile{entry, mode, 0};
    ++entry->openCount;
    return CardResult::kOk;
}

const CCardVolume::OpenFile* CCardVolume::Ref(uint32_t fileRef) const {
    const auto it = m_open.find(fileRef);
    return it == m_open.end() ? nullptr : &it->second;
}

CardResult CCardVolume::Close(uint32_t fileRef) {
    const auto it = m_open.find(fileRef);
    if (it == m_open.end()) return CardResult::kBadRef;
    --it->second.entry->openCount;
    m_open.erase(it);
    return CardResult::kOk;
}

CardResult CCardVolume::CanWrite(uint32_t fileRef) const {
    const OpenFile* open = Ref(fileRef);
    if (!open) return CardResult::kBadRef;
    if (open->entry->directory) return CardResult::kIsADirectory;
    if ((open->mode & kModeWrite) != kModeWrite) return CardResult::kReadOnly;
    return CardResult::kOk;
}

CardResult CCardVolume::Write(uint32_t fileRef, const uint8_t* data, size_t size, uint64_t room,
                              uint32_t& written) {
    written = 0;
    const CardResult allowed = CanWrite(fileRef);
    if (allowed != CardResult::kOk) return allowed;
    OpenFile& open = m_open[fileRef];
    std::vector<uint8_t>& bytes = open.entry->data;
    // Overwriting takes no new space; growing the file does, as far as there is room. The
    // position may lie past the end (another reference shrank the file): the gap is zeros
    // and takes room too.
    const uint64_t free = std::min<uint64_t>(room, m_size - std::min(m_size, m_used));
    const uint64_t limit = std::min<uint64_t>(uint64_t(bytes.size()) + free, 0xFFFFFFFFull);
    const uint64_t end = std::min<uint64_t>(uint64_t(open.position) + size, limit);
    const uint64_t take = end > open.position ? end - open.position : 0;
    if (end > bytes.size()) {
        m_used += end - bytes.size();
        bytes.resize(size_t(end));
    }
    if (take > 0) std::copy(data, data + take, bytes.begin() + open.position);
    open.position += uint32_t(take);
    written = uint32_t(take);
    return take < size ? CardResult::kFull : CardResult::kOk;
}

CardResult CCardVolume::Resize(uint32_t fileRef, uint32_t size) {
    const CardResult allowed = CanWrite(fileRef);
    if (allowed != CardResult::kOk) return allowed;
    OpenFile& open = m_open[fileRef];
    std::vector<uint8_t>& bytes = open.entry->data;
    if (size > bytes.size() && size - bytes.size() > m_size - std::min(m_size, m_used)) {
        return CardResult::kFull;
    }
    m_used = m_used - bytes.size() + size;
    bytes.resize(size);
    open.position = std::min(open.position, size);
    return CardResult::kOk;
}

CardResult CCardVolume::FileSize(uint32_t fileRef, uint32_t& size) const {
    const OpenFile* open = Ref(fileRef);
    if (!open) return CardResult::kBadRef;
    if (open->entry->directory) return CardResult::kIsADirectory;
    size = uint32_t(open->entry->data.size());
    return CardResult::kOk;
}

CardResult CCardVolume::Attributes(uint32_t fileRef, uint32_t& attributes) const {
    const OpenFile* open = Ref(fileRef);
    if (!open) return CardResult::kBadRef;
    attributes = open->entry->directory ? kAttrDirectory : kAttrArchive;
    return CardResult::kOk;
}

void CCardVolume::CloseAll() {
    for (auto& [ref, open] : m_open) --open.entry->openCount;
    m_open.clear();
}

std::vector<CardFile> CCardVolume::Files() const {
    std::vector<CardFile> out;
    std::function<void(const CardEntry&, const std::string&)> walk = [&](const CardEntry& dir,
                                                                         const std::string& at) {
        for (const auto& child : dir.children) {
            const std::string path = at + "/" + child->name;
            if (child->directory) {
                walk(*child, path);
            } else {
                out.push_back({path, child->data});
            }
        }
    };
    walk(*m_root, "");
    return out;
}

int CCardVolume::WriteOut(const std::string& dir, std::string* message) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root = platform::ToFsPath(dir);
    fs::remove_all(root, ec);
    fs::create_directories(root, ec);
    if (ec) {
        if (message) *message = "cannot create " + dir;
        return -1;
    }
    // Names were checked when they were made: no separators, no "." or "..".
    std::function<bool(const CardEntry&, const fs::path&)> walk = [&](const CardEntry& entry,
                                                                      const fs::path& at) {
        for (const auto& child : entry.children) {
            // UTF-8 names, also where the system's paths are wide.
            const fs::path path = at / platform::ToFsPath(child->name);
            if (child->directory) {
                fs::create_directories(path, ec);
                if (ec || !walk(*child, path)) return false;
                continue;
            }
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(child->data.data()),
                      static_cast<std::streamsize>(child->data.size()));
            out.close();
            if (!out) {
                if (message) *message = "cannot write " + platform::FromFsPath(path);
                return false;
            }
        }
        return true;
    };
    return walk(*m_root, root) ? 0 : -1;
}

bool ParseCardSize(const std::string& text, uint64_t& bytes) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0) return false;
    uint64_t scale = 1;
    const std::string unit = end;
    if (unit == "K" || unit == "k") {
        scale = 1024;
    } else if (unit == "M" || unit == "m") {
        scale = 1024 * 1024;
    } else if (unit == "G" || unit == "g") {
        scale = 1024ull * 1024 * 1024;
    } else if (!unit.empty()) {
        return false;
    }
    // A card holds at most what a 32-bit size answer can say.
    if (n == 0 || n > 0xFFFFFFFFull / scale) return false;
    bytes = n * scale;
    return true;
}

}  // namespace handheld
