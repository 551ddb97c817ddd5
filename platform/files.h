// Files by name on every system the program runs on. Names are UTF-8 inside the program;
// on Windows these calls turn them into the system's wide-character names at the last
// moment, so "Bücher.txt" or a Japanese name opens as it is called.
//
// Nothing here opens a device, a FIFO or a socket by a file's name unless asked to: the
// "plain file" calls look at the name's entry first and check what opened, and on Windows
// the device names every folder holds ("CON", "NUL", "COM1", ...) are refused before any
// open. Failures leave errno set (ENOENT, EACCES, EEXIST, ELOOP, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace platform {

enum class EntryKind {
    kMissing,    // nothing answers to the name (errno tells why)
    kFile,       // a plain file
    kDirectory,  // a folder
    kLink,       // a symbolic link (only when links are not followed)
    kOther,      // a FIFO, a socket, a device, or a device name on Windows
};

struct EntryInfo {
    EntryKind kind = EntryKind::kMissing;
    uint64_t size = 0;
    // Tells one file from another, and a changed file from its earlier self.
    uint64_t volume = 0;
    uint64_t fileId = 0;
    int64_t modifiedNs = 0;  // nanoseconds since 1970
    bool ownerWritable = true;
};

// What a name is: links followed (Stat), or the name's own entry (StatEntry).
EntryInfo Stat(const std::string& path);
EntryInfo StatEntry(const std::string& path);

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// std::fopen by UTF-8 name ("rb", "wb", "r", "ab", ...). On Windows a device name is refused.
std::FILE* OpenFile(const std::string& path, const char* mode);
// A plain file (links followed unless noFollow) for binary reading. The open never waits (a
// FIFO without a writer, a terminal without a carrier) and what opened is checked to be a
// plain file; null otherwise.
std::FILE* OpenPlainFile(const std::string& path, bool noFollow = false);
// A new, empty file for binary writing: fails with EEXIST when anything has the name (a
// dangling link included), so nothing is ever written through a planted link.
std::FILE* CreateNewFile(const std::string& path);
// A file for binary writing from its start, created when missing and emptied when there;
// a symbolic link in its place fails the open (ELOOP).
std::FILE* CreateOrTruncate(const std::string& path);
// A file for appending, created when missing; a symbolic link in its place fails the open.
std::FILE* OpenForAppend(const std::string& path);
// A file unique in its folder, named prefix + some characters, created empty and closed.
// Its path, or empty on failure.
std::string CreateUniqueFile(const std::string& prefix);
// An anonymous file for reading and writing in binary, gone when closed.
std::FILE* OpenTempSpool();
// A read-only binary stream over size bytes at data (which must outlive it).
std::FILE* OpenMemory(const void* data, size_t size);

// Positions past 2 GB, on every system.
bool SeekTo(std::FILE* f, uint64_t offset);
int64_t TellPosition(std::FILE* f);
// The size of an open file; -1 when it cannot be told.
int64_t FileSize(std::FILE* f);
// Writes all bytes at an offset without moving the stream or using its buffer.
bool WriteAt(std::FILE* f, const void* data, size_t size, uint64_t offset);
// Appends the first size bytes of from (read by offset) to to, at to's position after a
// flush. Whether all arrived.
bool CopyBytes(std::FILE* from, uint64_t size, std::FILE* to);
// Everything written is on the disk.
bool SyncFile(std::FILE* f);

bool RemoveFile(const std::string& path);
// Renames, replacing a file at the new name.
bool RenameFile(const std::string& from, const std::string& to);
// One folder; mode is the POSIX permission (ignored on Windows). False with EEXIST when the
// name is taken.
bool MakeDirectory(const std::string& path, unsigned mode);

// A UTF-8 name as std::filesystem's path and back (on Windows the path is wide inside, so a
// plain std::string would pass through the system's code page instead).
std::filesystem::path ToFsPath(const std::string& utf8);
std::string FromFsPath(const std::filesystem::path& path);

}  // namespace platform
