// The files the program carries inside itself and writes out when they are needed: the
// picture viewer application for the handheld ("VIEWER.PRC") and the user guide (HTML in
// English and German, with its pictures, below "guide/").
//
// They are written beside the program file when the user may write in its directory (a
// build tree, a copy in the home folder, a program unpacked from a .zip) and otherwise into
// the user's own data folder: $XDG_DATA_HOME/Cradlecourier/ on Linux (an installed program
// under /usr/bin), %LOCALAPPDATA%\Cradlecourier\ on Windows (one under Program Files).
// What differs between the systems is in carried_files_posix.cpp and carried_files_win32.cpp.
#pragma once

#include <string>

#include "resources/strings/string_table.h"

namespace carried {

// The program file's directory, without a trailing separator; empty when it cannot be found.
std::string ProgramDirectory();
// Where carried files go for a program in programDir (see above); created when missing.
std::string OutputDirectory(const std::string& programDir);
std::string OutputDirectory();

// The guide's page in a language, below an output directory.
std::string HelpFilePath(const std::string& outputDir, resources::Language language);
std::string ViewerPath(const std::string& outputDir);

// Whether the help file must be written: it is missing, or was last written before
// 18 January 2001, 00:00 local time.
bool HelpFileOutdated(const std::string& helpFile);

}  // namespace carried

// Write the carried file(s) into the output directory, replacing older ones; 1 on success,
// 0 when the data is missing or a file cannot be written.
int ExtractViewer(const std::string& outputDir);
int ExtractHelpFile(const std::string& outputDir);
int ExtractViewer();
int ExtractHelpFile();
// ExtractViewer into the output directory; the file's path, or empty when it could not be
// written (the picture conversion's viewer writer).
std::string WriteViewerFile();

// The help command's first two steps: the guide's page in the current language, written
// out first when it is missing or outdated. Returns the page's path (which the caller
// opens in the browser, whatever is there).
std::string PrepareHelpFile();
std::string PrepareHelpFile(const std::string& outputDir, resources::Language language);
