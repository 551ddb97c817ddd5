// The installer's command line: switches that preset the main window for one run, and the
// files to queue.
//
//   /CLOSE  --close          close the window after the transfer
//   /IGNOREHS  --ignore-hs   leave the HotSync Manager alone
//   /USB  --port USB         accepted; changes nothing
//   /TITLE TEXT  --title TEXT   the next argument is the title ("/TITLE" last: no title)
//   /COM1 ... /COM8  --port COMn   the COM port for this run (the switch in upper case only)
//   --port PATH              this device for this run
//   --help  --version
//   --unregister-types       give the Palm file types back and end, without a window (the
//                            uninstaller's call)
//
// The other switches compare without regard to case. Every absolute path begins with "/"
// here, so an argument that begins with "/" and is no switch is a file when it can be
// opened and is ignored otherwise (/com1 and /COM9 are neither). Any other argument is a
// file when it can be opened and dropped silently when not. For a repeated title or port
// the last one counts.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct StartOptions {
    std::vector<std::string> files;  // full paths, in order
    bool bClose = false;
    bool bIgnoreHotSync = false;
    std::string strTitle;
    std::string strPort;  // "/COM1" ... "/COM8" or "COM1" ... "COM8"; the window takes its digits
    std::string strPortDevice;  // a device path for this run
    bool bUnregisterTypes = false;
    bool bHelp = false;
    bool bVersion = false;
    std::vector<std::string> warnings;  // long options used wrongly, for the error output
};

using FileTest = std::function<bool(const std::string& path)>;

// Parses the arguments behind the program's name. fileCanBeOpened decides which
// non-switches are files.
void ParseCommandLine(const std::vector<std::string>& args, const FileTest& fileCanBeOpened,
                      StartOptions& options);

// The arguments joined with single blanks: the whole command line, tried as one path when
// no argument gave a file (an unquoted path with blanks).
std::string JoinCommandLine(const std::vector<std::string>& args);

// A path as the first instance must see it: relative paths made absolute against the
// current directory ("." segments dropped); "" stays "".
std::string FullPath(const std::string& path);

// Usage text of the window program.
std::string InstallerUsage(const std::string& strProgram);
