#include "shell/command_line.h"

#include <strings.h>

#include <filesystem>

namespace {

bool SameSwitch(const std::string& arg, const char* name) {
    return ::strcasecmp(arg.c_str(), name) == 0;
}

// "/COM1" to "/COM8", exact case.
bool IsComSwitch(const std::string& arg) {
    return arg.size() == 5 && arg.compare(0, 4, "/COM") == 0 && arg[4] >= '1' && arg[4] <= '8';
}

// "COM1" to "COM8", any case, as --port takes it.
bool IsComName(const std::string& value) {
    return value.size() == 4 && ::strncasecmp(value.c_str(), "COM", 3) == 0 && value[3] >= '1' &&
           value[3] <= '8';
}

// "--name" or "--name=value".
bool IsLong(const std::string& arg, const char* name, std::string* pValue, bool* pbInline) {
    const size_t n = std::char_traits<char>::length(name);
    if (arg.compare(0, n, name) != 0) return false;
    if (arg.size() == n) {
        *pbInline = false;
        return true;
    }
    if (arg[n] != '=' || !pValue) return false;
    *pValue = arg.substr(n + 1);
    *pbInline = true;
    return true;
}

}  // namespace

std::string FullPath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) return path;
    // ".." stays: with links in the way, dropping it could name another file.
    std::filesystem::path clean;
    for (const auto& part : full) {
        if (part != ".") clean /= part;
    }
    return clean.string();
}

void ParseCommandLine(const std::vector<std::string>& args, const FileTest& fileCanBeOpened,
                      StartOptions& options) {
    const auto addFile = [&](const std::string& arg) {
        if (fileCanBeOpened(arg)) options.files.push_back(FullPath(arg));
    };
    const auto setPort = [&](const std::string& value) {
        if (IsComName(value) || IsComSwitch(value)) {
            options.strPort = value;
            options.strPortDevice.clear();
        } else if (SameSwitch(value, "USB")) {
            // As "/USB": the USB link is the port list's choice.
        } else if (!value.empty() && value[0] == '/') {
            options.strPortDevice = value;
            options.strPort.clear();
        } else {
            options.warnings.push_back("unknown port \"" + value +
                                       "\" (COM1 to COM8, USB or a device path); ignored");
        }
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        bool bInline = false;
        if (arg.empty()) continue;
        if (IsComSwitch(arg)) {
            setPort(arg);
        } else if (SameSwitch(arg, "/CLOSE") || arg == "--close") {
            options.bClose = true;
        } else if (SameSwitch(arg, "/IGNOREHS") || arg == "--ignore-hs") {
            options.bIgnoreHotSync = true;
        } else if (SameSwitch(arg, "/USB")) {
            // Consumed; the USB link is the port list's choice.
        } else if (SameSwitch(arg, "/TITLE")) {
            if (i + 1 < args.size()) options.strTitle = args[++i];
        } else if (IsLong(arg, "--title", &value, &bInline)) {
            if (bInline) {
                options.strTitle = value;
            } else if (i + 1 < args.size()) {
                options.strTitle = args[++i];
            }
        } else if (IsLong(arg, "--port", &value, &bInline)) {
            if (bInline) {
                setPort(value);
            } else if (i + 1 < args.size()) {
                setPort(args[++i]);
            } else {
                options.warnings.push_back("--port needs COM1 to COM8, USB or a device path");
            }
        } else if (arg == "--unregister-types") {
            options.bUnregisterTypes = true;
        } else if (arg == "--help") {
            options.bHelp = true;
        } else if (arg == "--version") {
            options.bVersion = true;
        } else {
            // Any other "/..." is an unknown switch unless it names a file.
            addFile(arg);
        }
    }
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) line += ' ';
        line += args[i];
    }
    return line;
}

std::string InstallerUsage(const std::string& strProgram) {
    return "usage: " + strProgram +
           " [switches] [FILE...]\n"
           "Queues Palm files (.prc, .pdb, .pqa, .txt, .bmp, .jpg, .mid, .cca) in the installer\n"
           "window and installs them when a handheld starts a HotSync. When the installer runs\n"
           "already, the files go to its window.\n"
           "\n"
           "  /CLOSE, --close           close the window after the transfer\n"
           "  /IGNOREHS, --ignore-hs    leave the HotSync Manager alone\n"
           "  /TITLE TEXT, --title TEXT  show TEXT in the window's caption\n"
           "  /COM1 ... /COM8, --port COMn   use this COM port for this run\n"
           "  --port PATH               use this serial device for this run\n"
           "  /USB, --port USB          accepted for compatibility; changes nothing\n"
           "  --unregister-types        give the Palm file types back and end, without a window\n"
           "  --help, --version\n"
           "\n"
           "Switches other than /COM1 ... /COM8 may be written in any case. An argument that\n"
           "begins with \"/\" and is no switch is a file when it can be opened, and ignored\n"
           "otherwise. When no argument names a file, all of them joined with blanks are\n"
           "tried as one path.\n";
}
