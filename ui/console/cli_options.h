// The console front end's command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace console {

// Exit status of the program.
inline constexpr int kExitOk = 0;            // a run with no failed database and no message
inline constexpr int kExitRunErrors = 1;     // a run with failures or error messages
inline constexpr int kExitNoHandheld = 2;    // no handheld came within the waiting time
inline constexpr int kExitInterrupted = 3;   // stopped by Ctrl-C
inline constexpr int kExitUsage = 64;        // bad command line
inline constexpr int kExitNotReachable = 1;  // --doctor: no handheld can be reached now

struct Options {
    std::string port = "COM1";
    int speed = 57600;
    bool backup = false;
    bool setTime = false;
    int destination = 0;    // --to ram|card|auto: 0, 1, 2
    std::string card;       // --card N|LABEL; empty: the first card
    bool verify = false;    // --verify
    int waitSeconds = 300;  // 0: wait without limit
    bool answerOk = true;
    bool quiet = false;
    bool help = false;
    bool addUser = false;  // --add-user NAME: add a desktop user and end
    // The whole handheld: --backup-all (with --full: every database read again),
    // --restore (the files given, else the whole Backup folder), --backup-dir DIR (the
    // Backup folder to use instead of the desktop user's).
    bool backupAll = false;
    bool fullBackup = false;
    bool restore = false;
    std::string backupDir;
    std::string userName;
    bool version = false;
    bool doctor = false;  // --doctor: check the connection, report, and end
    // The window's switches: /CLOSE (the console always ends after its run) and /IGNOREHS
    // (it never touches a HotSync Manager) are accepted and change nothing; /TITLE TEXT
    // is shown when the run starts.
    bool close = false;
    bool ignoreHotSync = false;
    std::string title;
    std::vector<std::string> files;  // as given, in order
    // Arguments that look like switches of someone else's ("/com1").
    std::vector<std::string> ignored;
};

// Parses argv[1...]. False with a message in error on bad usage. An argument that begins
// with "/" and is no switch is a file argument when it has a directory part or exists
// (exists: default, anything at that path), so the install list reports what is wrong with
// it; a lone unknown switch ("/com1", "/COM9") is ignored.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error,
                  const std::function<bool(const std::string&)>& exists);

// A port name the program can open: "COM" and a number, "USB", "NET", "net:ADDRESS:PORT",
// or a device path.
bool IsValidPortName(const std::string& port);
// One of the offered speeds, or -1.
bool IsValidSpeed(int speed);

std::string UsageText(const char* program);

}  // namespace console
