// Files as the install list sees them: the parts of a path, whether a file can be read,
// its length, and whether a name is something that can be queued at all. None of these
// ever blocks: a FIFO, a socket or a device named like a Palm file is looked at without
// being opened for reading in the blocking way.
#pragma once

#include <cstdint>
#include <string>

#include "platform/path_rules.h"

// Part of a path: 1 the drive ("C:" on Windows, always empty on Linux), 2 the directory with
// its leading and trailing separators, 3 the file name, 4 the extension from the last dot of
// the name, dot included, 5 name and extension, 6 drive and directory; any other number
// gives "". The system's path rules; the second form takes either system's.
std::string SplitPathPart(const std::string& path, int part);
std::string SplitPathPart(const std::string& path, int part, platform::PathStyle style);

// Not empty, a plain file (links followed) that opens for reading.
bool FileCanBeOpened(const std::string& path);
// The length of a plain file that opens for reading; 0 otherwise (also for FIFOs and
// devices), and at most INT32_MAX.
int32_t GetFileLength(const std::string& path);

enum class QueueCheck {
    kPlainFile,  // a plain file (or a link to one)
    kMissing,    // nothing there, or a link to nowhere
    kDirectory,
    kSpecial,  // a FIFO, a socket or a device: reading it may never end
};
// What a name is, from the file system's entry alone (a device name on Windows, "CON" or
// "COM1", is special and never opened).
QueueCheck CheckQueueable(const std::string& path);
// Opens without blocking and checks that what opened is a plain file: the last check before
// a file's bytes are read, since the name may have been replaced meanwhile.
bool IsPlainFile(const std::string& path);
