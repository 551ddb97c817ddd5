// The console front end: plays the main window's part of a run on a terminal.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/transfer_view.h"
#include "ui/console/cli_options.h"

namespace console {

// Converts a text file into a DOC database at queue time; true with the database's path.
// Unset: text files are queued as they are.
using TextConverter = std::function<bool(const std::string& textPath, std::string& dbPath)>;
void SetTextConverter(TextConverter converter);

// Converts pictures for the worker; unset, pictures are reported as not installed.
void SetPictureConverter(IPictureConverter* converter);

// The install list as the window keeps it: full paths, in order, no exact duplicates.
class CInstallList {
  public:
    enum class AddResult { kAdded, kAlreadyQueued, kNotConverted, kNotAFile };
    // The window's AddFile: false for a path already queued (exact comparison), a text
    // file whose conversion failed, or a directory, FIFO, socket or device (never opened,
    // so it cannot block). Relative paths are made absolute first.
    bool AddFile(const std::string& path) { return Add(path) == AddResult::kAdded; }
    // The same, telling why a file was not queued.
    AddResult Add(const std::string& path);
    const std::vector<std::string>& Paths() const { return m_paths; }
    // Files the program made (converted texts), deleted when it ends.
    const std::vector<std::string>& TempFiles() const { return m_tempFiles; }
    void AddTempFile(const std::string& path);
    void DeleteTempFiles();

  private:
    std::vector<std::string> m_paths;
    std::vector<std::string> m_tempFiles;
};

// The whole program: parses the command line, waits for the handheld, runs the install
// and prints "result: N" last. Returns the exit status.
int RunCli(int argc, const char* const* argv);

}  // namespace console
