// The virtual handheld's memory card: one FAT-like volume in memory, with the directory
// tree, the open file references and the space figures the VFS requests work on. It knows
// nothing of DLP; the server's card block turns requests into these calls and the results
// into the error codes a Palm OS 4/5 unit answers with.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace handheld {

// Results of the volume's operations, each one of the handheld's VFS answers.
enum class CardResult {
    kOk,
    kNotFound,       // no such file or directory
    kAlreadyExists,  // a file or directory of that name is there
    kBadName,        // empty, over 255 bytes, a forbidden character, "." or ".."
    kDirNotFound,    // the directory the path leads through is missing
    kNotADirectory,  // a path leads through a file
    kIsADirectory,   // a file operation on a directory
    kDirNotEmpty,    // deletion of a directory that holds entries
    kStillOpen,      // deletion of an open file
    kReadOnly,       // the card is write-protected, or the file was opened for reading
    kBadRef,         // a file reference never issued, or closed
    kFull,           // no space left
    kPulled,         // the card was taken out
};

struct CardEntry {
    std::string name;  // as created (the volume compares names without regard to case)
    bool directory = false;
    std::vector<uint8_t> data;
    std::vector<std::unique_ptr<CardEntry>> children;
    int openCount = 0;
};

// What a listing shows of one file.
struct CardFile {
    std::string path;  // "/PALM/Launcher/x.prc"
    std::vector<uint8_t> data;
};

class CCardVolume {
  public:
    static constexpr size_t kMaxName = 255;
    static constexpr uint32_t kAttrDirectory = 0x10;
    static constexpr uint32_t kAttrArchive = 0x20;
    static constexpr uint16_t kModeWrite = 0x01 | 0x04;  // exclusive and write

    CCardVolume(uint64_t size, std::string label, bool readOnly);

    uint64_t Size() const { return m_size; }
    uint64_t Used() const { return m_used; }
    const std::string& Label() const { return m_label; }
    bool ReadOnly() const { return m_readOnly; }
    bool Pulled() const { return m_pulled; }
    // Takes the card out: every reference and path request fails from now on.
    void Pull();

    CardResult CreateDirectory(const std::string& path);
    CardResult CreateFile(const std::string& path);
    CardResult Delete(const std::string& path);
    CardResult Open(const std::string& path, uint16_t mode, uint32_t& fileRef);
    CardResult Close(uint32_t fileRef);
    // Writes at the file's position. written receives what fit: up to room bytes more on
    // the volume (kFull when that cut the write short).
    CardResult Write(uint32_t fileRef, const uint8_t* data, size_t size, uint64_t room,
                     uint32_t& written);
    CardResult Resize(uint32_t fileRef, uint32_t size);
    CardResult FileSize(uint32_t fileRef, uint32_t& size) const;
    CardResult Attributes(uint32_t fileRef, uint32_t& attributes) const;
    // Whether a write of this many bytes to the file is allowed at all (open for writing).
    CardResult CanWrite(uint32_t fileRef) const;

    // Every file, depth first in creation order.
    std::vector<CardFile> Files() const;
    // Writes the tree under dir (emptied first). 0, or -1 with a reason.
    int WriteOut(const std::string& dir, std::string* message) const;

    // Ends every open reference (the sync ended).
    void CloseAll();

  private:
    struct OpenFile {
        CardEntry* entry = nullptr;
        uint16_t mode = 0;
        uint32_t position = 0;
    };

    // Splits a path into its names; false for a relative or badly named path.
    static bool SplitPath(const std::string& path, std::vector<std::string>& names,
                          CardResult& why);
    CardEntry* Find(const std::string& path, CardResult& why) const;
    // The directory a new entry goes into, and the entry's name.
    CardEntry* Parent(const std::string& path, std::string& name, CardResult& why) const;
    CardResult Insert(const std::string& path, bool directory);
    const OpenFile* Ref(uint32_t fileRef) const;

    uint64_t m_size;
    uint64_t m_used = 0;
    std::string m_label;
    bool m_readOnly;
    bool m_pulled = false;
    std::unique_ptr<CardEntry> m_root;
    std::map<uint32_t, OpenFile> m_open;
    uint32_t m_nextRef = 0x00A0F001;
};

// "64M", "512K", "1G" or a number of bytes; false when it is none of these or 0.
bool ParseCardSize(const std::string& text, uint64_t& bytes);

}  // namespace handheld
