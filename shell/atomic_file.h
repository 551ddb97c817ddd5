// Files that other programs read while we may be writing them (mimeapps.list, the desktop
// entry, the MIME package, the files we carry) are replaced whole: the new bytes go to a
// temporary file beside the old one, which is then renamed over it. A reader sees the old
// file or the new one, never half of either, and a full disk leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>

namespace atomic_file {

enum class Result {
    kWritten,    // the file now holds the bytes
    kUnchanged,  // it held them already; nothing was written
    kReadOnly,   // its owner made it read-only, so it was left alone
    kFailed,     // it could not be written; the old file (if any) is untouched
};

// Writes bytes to path, creating missing parent directories (mode 0755 less the umask). A
// path that is a symbolic link keeps its link: the file it points to is replaced. A new
// file gets mode 0644 less the umask, a replaced one keeps its mode. On kFailed, *error (when
// given) says why, as "PATH: reason". A file that already holds the bytes is left untouched
// (kUnchanged) unless always is set, which writes it anyway and so renews its time.
Result Write(const std::string& path, std::string_view bytes, std::string* error = nullptr,
             bool always = false);

// Reads a whole file of at most maxBytes. False when it is missing, is not a regular file,
// is larger, or cannot be read; *error says which, as "PATH: reason" (empty for a missing
// file). Never blocks
// on a FIFO or a device.
bool Read(const std::string& path, size_t maxBytes, std::string& bytes,
          std::string* error = nullptr);

}  // namespace atomic_file
