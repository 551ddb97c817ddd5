// The application object: everything before the main window opens and after it closes.
//
// Start-up, in this order: (1) the instance test, (2) the settings, (3) the help file's
// path, (4) the self-extracting check, (5) the command-line arguments, (6) file types,
// (7) the whole command line as one path, (8) the file chooser, (9) the archives' title,
// password, read-me and licence, (10) the main window in the first instance or the
// hand-over to it in a second one; (11) then the process ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/startup_window.h"
#include "shell/command_line.h"
#include "shell/instance_channel.h"

class CCcaArchive;
class ISettingsStore;

// The surroundings of start-up; main() gives the real ones, tests fakes.
struct StartupServices {
    // The program file: its name and path make the instance key; the self-extracting
    // archive is read from strSelfFile (the running program's own file).
    std::string strProgramPath;
    std::string strSelfFile;
    std::string strTempDir;       // ends with "/"
    std::string strSlotLockPath;  // the hand-over slots' lock file; empty: none
    // The windowing system, once it is clear that start-up goes on (--help and --version
    // need no display); none when it is there already.
    std::function<void()> startUserInterface;
    std::function<std::unique_ptr<IInstanceChannel>(const std::string& strKey)> openChannel;
    std::function<std::unique_ptr<ISettingsStore>()> openSettings;
    std::function<bool(const std::string& strPath)> fileCanBeOpened;
    // RegisterFileTypes over the store (ask-always false at start-up); none: nothing is
    // registered.
    std::function<void(ISettingsStore& settings, bool bAskAlways)> registerFileTypes;
    // UnregisterFileTypes without asking (--unregister-types); none: nothing is given back.
    std::function<void(ISettingsStore& settings)> unregisterFileTypes;
    // The file chooser; paths appended to the list, true for OK.
    std::function<bool(std::vector<std::string>& files)> chooseFiles;
    // The read-me or licence window on a text file; 1 OK, 2 Cancel.
    std::function<int(const std::string& strPath, const std::string& strCaption, bool bLicence)>
        showReadme;
    // A message box with the stop icon.
    std::function<void(const std::string& strText)> showStopMessage;
    // The main window, reading its settings from the store.
    std::function<std::unique_ptr<IStartupWindow>(ISettingsStore& settings)> makeWindow;
    std::function<void(int nMs)> sleep;
    // Standard output and the error output (--help, --version, problems).
    std::function<void(const std::string& strText)> printOut;
    std::function<void(const std::string& strText)> printError;
};

class CInstallerApp {
  public:
    // The raise request a second instance sends at its instance test.
    static constexpr const char* kRaiseMessage = "CCourier raise";
    static constexpr int kRaiseTimeoutMs = 1000;
    // How long a second instance waits for the first to take its files.
    static constexpr int kHandOverTimeoutMs = 10000;
    static constexpr const char* kSfxFileName = "CCASFX.CCA";

    explicit CInstallerApp(StartupServices services);
    ~CInstallerApp();
    CInstallerApp(const CInstallerApp&) = delete;
    CInstallerApp& operator=(const CInstallerApp&) = delete;

    // Start-up with the arguments behind the program's name; the process's exit code.
    int Run(const std::vector<std::string>& args);

    // ---- state, for tests ----
    const std::string& InstanceKey() const { return m_strInstanceKey; }
    const std::string& HelpFilePath() const { return m_strHelpFilePath; }
    bool IsFirstInstance() const { return m_bFirst; }
    // The working set after collection and archive pre-processing.
    const std::vector<std::string>& Files() const { return m_files; }
    const StartOptions& Options() const { return m_options; }
    bool IsSelfExtracting() const { return m_bSelfExtracting; }
    // Files handed over and the lParam sent (second instance).
    size_t HandedOver() const { return m_nHandedOver; }

  private:
    bool InstanceTest();         // 1
    void CheckSelfExtracting();  // 4
    void PreprocessArchives();   // 9
    bool ShowArchiveText(CCcaArchive& archive, const char* szMember, int nCaptionId, bool bLicence);
    void RunMainWindow();  // 10, first instance
    void HandOver();       // 10, second instance
    int32_t OnMessage(const InstanceMessage& message);
    void TakeHandedOver(int nWParam, int nLParam);

    StartupServices m_services;
    std::string m_strInstanceKey;
    std::unique_ptr<IInstanceChannel> m_pChannel;  // holds the instance lock: the "mutex"
    std::unique_ptr<ISettingsStore> m_pSettings;
    std::string m_strHelpFilePath;
    bool m_bFirst = false;

    // The working set.
    std::vector<std::string> m_files;
    StartOptions m_options;
    bool m_bSelfExtracting = false;
    std::string m_strSfxPath;
    size_t m_nHandedOver = 0;

    IStartupWindow* m_pMainWindow = nullptr;
    bool m_bHandOverPending = false;  // a notification before the window existed
};
