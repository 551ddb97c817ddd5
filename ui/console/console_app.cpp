#include "ui/console/console_app.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "cc_version.h"
#include "engine/backup_folder.h"
#include "engine/file_paths.h"
#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/temp_dir.h"
#include "engine/transfer_monitor.h"
#include "formats/cca/sfx_trailer.h"
#include "hotsync/timeline.h"
#include "platform/files.h"
#include "platform/path_rules.h"
#include "platform/system.h"
#include "resources/strings/string_table.h"
#include "session/device_session.h"
#include "shell/com_ports.h"
#include "shell/connection_probe.h"
#include "shell/connection_report.h"
#include "shell/port_holder.h"
#include "shell/program_file.h"
#include "shell/settings_store.h"
#include "shell/system_services.h"
#include "ui/console/console_doctor.h"
#include "ui/console/console_users.h"

namespace console {
namespace {

constexpr int kTickMs = 180;     // the window's timer; ours ends early on news
constexpr int kReopenMs = 1000;  // retry of a port that could not be opened
constexpr int kBarWidth = 30;

std::atomic<bool> g_bInterrupted{false};

void OnInterrupt() {
    g_bInterrupted = true;
}

std::mutex g_converterLock;
TextConverter g_textConverter;
IPictureConverter* g_pPictureConverter = nullptr;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The worker's "install done", handed to the loop of the main thread.
class CDoneFlag final : public IInstallDoneSink {
  public:
    void PostInstallDone() override {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bDone = true;
        }
        m_cv.notify_all();
    }
    bool Done() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_bDone;
    }
    // One tick of the transfer loop, ended by the notification.
    void WaitFor(int ms) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_cv.wait_for(guard, std::chrono::milliseconds(ms), [this] { return m_bDone; });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bDone = false;
};

// The window's controls on a terminal: status lines as they change, a progress bar
// below them when the output is a terminal, messages answered as the user chose.
class CConsoleView final : public ITransferView {
  public:
    CConsoleView(bool bar, bool answerOk, CInstallList& list)
        : m_bBar(bar), m_bAnswerOk(answerOk), m_list(list) {}

    void SetStatus(const std::string& text) override { PrintLine(text); }
    void SetCaption(const std::string& text) override {
        // The percentage already shows in the bar; only the end of the run is news.
        if (m_bRunEnded) PrintLine(text);
    }
    void SetProgress(int position, int rangeMax) override {
        m_nPosition = position;
        m_nRange = rangeMax;
    }
    void SetElapsed(const std::string& text) override {
        m_strElapsed = text;
        DrawBar();
    }
    bool AskOkCancel(const std::string& text) override {
        ++m_nMessages;
        std::string shown = text;
        for (size_t at = shown.find('\n'); at != std::string::npos; at = shown.find('\n', at + 5)) {
            shown.replace(at, 1, "\n    ");
        }
        PrintLine("message: " + shown);
        PrintLine(std::string("answer: ") + (m_bAnswerOk ? "OK" : "Cancel"));
        return m_bAnswerOk;
    }
    void SetCancelButtonToOk() override {}
    void AddTempFile(const std::string& path) override { m_list.AddTempFile(path); }
    void ShowReport(const std::vector<std::string>& lines) override {
        // Each part's heading as it stands, its lines below it.
        for (const std::string& line : lines) {
            const bool heading =
                line.rfind(resources::LoadString(resources::kIdsBackupHeading), 0) == 0 ||
                line.rfind(resources::LoadString(resources::kIdsRestoreHeading), 0) == 0;
            PrintLine(heading ? line : "    " + line);
        }
    }
    void StoreUserDir(const std::string& dir) override { RememberUserDir(dir); }
    void StoreHandheldUser(const std::string& name) override { RememberHandheldUser(name); }

    void PrintLine(const std::string& text) {
        ClearBar();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        if (m_bBarShown) DrawBar();
    }
    void EndRun() {
        ClearBar();
        m_bBar = false;
        m_bRunEnded = true;
    }
    int Messages() const { return m_nMessages; }

  private:
    void DrawBar() {
        if (!m_bBar) return;
        const int range = std::max(m_nRange, 1);
        const int position = std::clamp(m_nPosition, 0, range);
        const int filled = static_cast<int>(int64_t(position) * kBarWidth / range);
        const int percent = static_cast<int>(int64_t(position) * 100 / range);
        std::string line = "\r\033[K[";
        line.append(static_cast<size_t>(filled), '#');
        line.append(static_cast<size_t>(kBarWidth - filled), '.');
        line += "] " + std::to_string(percent) + "%  " + m_strElapsed;
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        m_bBarShown = true;
    }
    void ClearBar() {
        if (!m_bBar || !m_bBarShown) return;
        std::fputs("\r\033[K", stdout);
    }

    bool m_bBar;
    bool m_bAnswerOk;
    CInstallList& m_list;
    bool m_bBarShown = false;
    bool m_bRunEnded = false;
    int m_nPosition = 0;
    int m_nRange = 0;
    int m_nMessages = 0;
    std::string m_strElapsed = "00:00";
};

int Finish(int result, int status) {
    std::printf("result: %d\n", result);
    std::fflush(stdout);
    return status;
}

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One idle tick, ended early when the port becomes readable: the handheld's first bytes
// are then served at once, not at the next tick. True when it ended early.
// A path as an absolute one without "." and ".." parts; as given when that cannot be told.
std::string AbsolutePath(const std::string& given) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(platform::ToFsPath(given), ec);
    return ec ? given : platform::FromFsPath(full.lexically_normal());
}

bool IdleTick(CDeviceSession* session, bool watchLine) {
    hotsync::CSocket* socket = session ? session->Socket() : nullptr;
    const int fd = socket && watchLine ? socket->PortHandle() : -1;
    if (fd < 0) {
        Sleep(kTickMs);
        return false;
    }
    return platform::WaitReadable(fd, kTickMs);
}

// An archive carried at the end of this program file (cc-ccapack --sfx), copied to the
// temporary directory as the window copies it; empty when there is none or the copy fails.
std::string CopyCarriedArchive() {
    const std::string self = program::ProgramFilePath();
    uint64_t offset = 0;
    uint64_t size = 0;
    if (self.empty() || !cca::FindSfxArchive(self, offset, size)) return {};
    const std::string copy = GetTempDir() + "CCASFX.CCA";
    // Written beside it and renamed over it: another run may be installing the older copy.
    const std::string part = copy + "." + std::to_string(platform::ProcessId());
    if (!cca::ExtractSfxArchive(self, part)) return {};
    if (!platform::RenameFile(part, copy)) {
        platform::RemoveFile(part);
        return {};
    }
    return copy;
}

}  // namespace

void SetTextConverter(TextConverter converter) {
    std::lock_guard<std::mutex> guard(g_converterLock);
    g_textConverter = std::move(converter);
}

void SetPictureConverter(IPictureConverter* converter) {
    g_pPictureConverter = converter;
}

CInstallList::AddResult CInstallList::Add(const std::string& given) {
    const std::string path = AbsolutePath(given);
    if (std::find(m_paths.begin(), m_paths.end(), path) != m_paths.end()) {
        return AddResult::kAlreadyQueued;
    }
    const QueueCheck kind = CheckQueueable(path);
    if (kind == QueueCheck::kDirectory || kind == QueueCheck::kSpecial) {
        return AddResult::kNotAFile;
    }

    if (Upper(path).find(".TXT") != std::string::npos) {
        TextConverter converter;
        {
            std::lock_guard<std::mutex> guard(g_converterLock);
            converter = g_textConverter;
        }
        if (converter) {
            std::string database;
            if (!converter(path, database)) return AddResult::kNotConverted;
            m_paths.push_back(database);
            AddTempFile(database);
            return AddResult::kAdded;
        }
    }
    m_paths.push_back(path);
    return AddResult::kAdded;
}

void CInstallList::AddTempFile(const std::string& path) {
    if (std::find(m_tempFiles.begin(), m_tempFiles.end(), path) == m_tempFiles.end()) {
        m_tempFiles.push_back(path);
    }
}

void CInstallList::DeleteTempFiles() {
    for (const std::string& path : m_tempFiles) platform::RemoveFile(path);
    m_tempFiles.clear();
}

int RunCli(int argc, const char* const* argv) {
    timeline::Mark("desktop.start");
    // UTF-8 out (file names in any script), and whether the progress bar's controls work.
    const bool terminalControls = platform::PrepareConsoleOutput();
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "ccourier-cli: %s\n%s", error.c_str(), UsageText(argv[0]).c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(UsageText(argv[0]).c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::puts("Cradlecourier " CC_VERSION);
        return kExitOk;
    }
    if (options.addUser) return AddDesktopUser(options.userName);
    if (options.doctor) {
        const std::unique_ptr<ISettingsStore> settings = OpenUserSettings();
        const std::unique_ptr<IConnectionProbe> probe = CreateConnectionProbe();
        return RunDoctor(*probe, *settings, options.port);
    }
    for (const std::string& arg : options.ignored) {
        std::fprintf(stderr, "ccourier-cli: unknown switch, ignored: %s\n", arg.c_str());
    }

    // The Backup folder named on the command line, as a folder path.
    std::string backupDir;
    if (!options.backupDir.empty()) {
        backupDir = platform::WithTrailingSeparator(AbsolutePath(options.backupDir));
    }
    // With --restore the files named are backup copies to put back; without any, the whole
    // Backup folder is.
    std::vector<std::string> restoreFiles;
    if (options.restore) {
        for (const std::string& file : options.files) restoreFiles.push_back(AbsolutePath(file));
        if (restoreFiles.empty()) {
            const std::string folder = backupDir.empty() ? RestoreFolder() : backupDir;
            for (const std::string& name : BackupFileNames(folder)) {
                restoreFiles.push_back(folder + name);
            }
            if (restoreFiles.empty()) {
                std::fprintf(
                    stderr, "ccourier-cli: %s\n",
                    (folder.empty()
                         ? std::string(resources::LoadString(resources::kIdsNoRestoreFolder))
                         : resources::FormatString(resources::kIdsRestoreEmpty, folder.c_str()))
                        .c_str());
                return Finish(-1, kExitRunErrors);
            }
            std::printf("restoring from %s\n", folder.c_str());
        }
        options.files.clear();
    }

    CInstallList list;
    // A console that carries an archive installs just that archive, as the window does; its
    // options (the port above all) still count.
    const std::string carried = CopyCarriedArchive();
    if (!carried.empty()) {
        for (const std::string& file : options.files) {
            std::fprintf(stderr,
                         "ccourier-cli: this program installs its own archive; not queued: %s\n",
                         file.c_str());
        }
        options.files.assign(1, carried);
        list.AddTempFile(carried);
    }
    for (const std::string& file : options.files) {
        switch (list.Add(file)) {
            case CInstallList::AddResult::kAdded:
                break;
            case CInstallList::AddResult::kAlreadyQueued:
                std::printf("skipped (already queued): %s\n", file.c_str());
                break;
            case CInstallList::AddResult::kNotAFile:
                std::fprintf(stderr, "ccourier-cli: not a file, not queued: %s\n", file.c_str());
                break;
            case CInstallList::AddResult::kNotConverted:
                // The window only leaves such a file out of its list; here the user would
                // not know why it is missing.
                std::fprintf(stderr, "ccourier-cli: text file not converted, not queued: %s\n",
                             file.c_str());
                break;
        }
    }

    // Before the waiting starts, so a missing user store is said at once.
    const CRunUserLibrary users(options.backup || (options.backupAll && backupDir.empty()));

    // A second Ctrl-C ends the program at once.
    platform::OnInterrupt(OnInterrupt);

    const bool bar = !options.quiet && platform::OutputIsTerminal() && terminalControls;
    CConsoleView view(bar, options.answerOk, list);
    CTransferMonitor monitor(view);
    monitor.SetPictureConverter(g_pPictureConverter);

    const auto start = std::chrono::steady_clock::now();
    const auto waited = [&] {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                start)
            .count();
    };
    // COM ports map to devices as in the window (on Linux: setting "com"/"Device%d", else
    // /dev/ttyS).
    const std::unique_ptr<ISettingsStore> userSettings = OpenUserSettings();
    const ISettingsStore& settings = *userSettings;
    const ports::ComPathMapper mapper = MakeComPathMapper(settings);
    const auto makeSession = [&] {
        return std::make_unique<CDeviceSession>(
            SessionPortName(settings, options.port).c_str(), true, options.speed,
            [&](const std::string& name) { return ports::CreatePortTransport(name, mapper); });
    };
    // The link's failure line once per reason, not at every retry.
    auto lastReport = std::make_shared<std::string>();
    CDeviceSession::SetErrorReporter([lastReport](const char* call, int err) {
        const std::string line = std::string(call) + ": " + platform::ErrorText(err);
        if (line == *lastReport) return;
        *lastReport = line;
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    const std::unique_ptr<IPortHolderFinder> holders = CreatePortHolderFinder();
    const std::unique_ptr<IConnectionProbe> probe = CreateConnectionProbe();
    std::string lastBusy;
    const auto reportBusy = [&](const CDeviceSession& s) {
        const std::string adapter = SoleUsbSerialAdapter(probe->Probe(false, {}, 0));
        const std::string line =
            resources::FormatString(resources::kIdsPortBusy, options.port.c_str()) +
            PortProblemDetail(s.m_nPortError, options.port, PortDevicePath(settings, options.port),
                              holders.get(), adapter);
        if (line != lastBusy) view.PrintLine(line);
        lastBusy = line;
    };

    if (!options.title.empty()) {
        view.PrintLine(resources::FormatString(resources::kIdsUploadTitle, options.title.c_str()));
    }
    std::unique_ptr<CDeviceSession> session = makeSession();
    if (session->m_sd == -1) {
        reportBusy(*session);
    } else {
        timeline::Mark("desktop.listening");
        view.PrintLine(resources::FormatString(
            resources::kIdsWaiting, static_cast<int>(list.Paths().size()), options.port.c_str()));
    }

    // Idle: poll the port until the handheld comes, the time is up, or Ctrl-C.
    int sinceReopen = 0;
    // A port that stays readable without showing the button (noise on a port whose button
    // is its CTS line, a hung-up line) would end every tick at once: it gets plain ticks.
    bool watchLine = true;
    bool lineWoke = false;
    for (;;) {
        if (g_bInterrupted) {
            session->Close();
            list.DeleteTempFiles();
            return Finish(-2, kExitInterrupted);
        }
        if (options.waitSeconds > 0 && waited() >= options.waitSeconds) {
            session->Close();
            list.DeleteTempFiles();
            std::printf("no handheld within %d seconds\n", options.waitSeconds);
            return Finish(-1, kExitNoHandheld);
        }
        if (session->m_sd == -1) {
            // A port that was missing or held may come free; the window retries when the
            // user picks the port again, the console on its own.
            sinceReopen += kTickMs;
            if (sinceReopen >= kReopenMs) {
                sinceReopen = 0;
                session.reset();
                session = makeSession();
                watchLine = true;
                if (session->m_sd == -1) {
                    reportBusy(*session);
                } else {
                    lastBusy.clear();
                    timeline::Mark("desktop.listening");
                    view.PrintLine(resources::FormatString(resources::kIdsWaiting,
                                                           static_cast<int>(list.Paths().size()),
                                                           options.port.c_str()));
                }
            }
        } else if (session->IsHotSyncPressed()) {
            timeline::Mark("desktop.wakeup-seen");
            // A line that shows the button without a handheld behind it (some ports
            // report CTS on when nothing is attached) must not outlast the waiting time.
            if (options.waitSeconds > 0 && session->Socket()) {
                hotsync::LinkTimeouts timeouts = session->Socket()->Timeouts();
                const int leftMs =
                    std::max(1000, static_cast<int>(options.waitSeconds - waited()) * 1000);
                timeouts.acceptMs = std::min(timeouts.acceptMs, leftMs);
                session->SetLinkTimeouts(timeouts);
            }
            if (session->Accept()) break;
            watchLine = true;  // the failed accept has read the line
        } else if (lineWoke) {
            watchLine = false;
        }
        lineWoke = IdleTick(session.get(), watchLine);
    }

    if (g_bInterrupted) {
        session->Close();
        list.DeleteTempFiles();
        return Finish(-2, kExitInterrupted);
    }
    view.PrintLine(resources::LoadString(resources::kIdsConnected));
    // Only the serial stack agrees a line rate; network and most USB links have none.
    if (!options.quiet && session->Socket() && session->Socket()->AnnouncedMaxRate() > 0) {
        std::printf("line rate: %d bit/s\n", session->GetLinkRate());
    }

    CDoneFlag done;
    CInstallRun run;
    monitor.Start();
    session->m_bBackupAll = options.backupAll ? 1 : 0;
    session->m_bFullBackup = options.fullBackup ? 1 : 0;
    session->m_strBackupDir = backupDir;
    session->m_listRestore = restoreFiles;
    run.Start(*session, list.Paths(), options.backup, options.setTime, &done,
              RunPlacement{options.destination, options.card, options.verify});

    // Transfer: the window's timer until the worker's notification.
    while (!done.Done()) {
        if (g_bInterrupted) {
            view.PrintLine(resources::LoadString(resources::kIdsCancelling));
            const bool ended = run.Stop(*session);
            view.EndRun();
            list.DeleteTempFiles();
            if (!ended) {
                // The worker could not be ended; it goes with the process.
                std::printf("result: %d\n", -2);
                std::fflush(stdout);
                std::_Exit(kExitInterrupted);
            }
            session->Close();
            session.reset();
            g_pSession = nullptr;
            return Finish(-2, kExitInterrupted);
        }
        monitor.OnTimer(*session);
        done.WaitFor(kTickMs);
    }
    run.Join();
    view.EndRun();
    monitor.OnInstallDone(*session);
    const bool failures = session->m_nFailed != 0 || view.Messages() != 0;
    const int verified = session->m_nVerified;
    session->Close();
    timeline::Mark("desktop.closed");
    session.reset();
    g_pSession = nullptr;
    list.DeleteTempFiles();
    if (options.verify) {
        std::printf("result: 0 (%d verified)\n", verified);
        std::fflush(stdout);
        return failures ? kExitRunErrors : kExitOk;
    }
    return Finish(0, failures ? kExitRunErrors : kExitOk);
}

}  // namespace console
