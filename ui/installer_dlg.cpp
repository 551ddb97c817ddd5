#include "ui/installer_dlg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "formats/doc/text_to_doc.h"
#include "resources/strings/dialog_texts.h"
#include "session/device_session.h"
#include "shell/com_ports.h"
#include "shell/connection_report.h"
#include "shell/hotsync_manager.h"
#include "shell/palm_desktop.h"
#include "shell/port_holder.h"
#include "shell/settings_store.h"
#include "shell/system_services.h"
#include "ui/installer_layout.h"
#include "ui/links.h"

using namespace installer;
using resources::FormatString;
using resources::LoadString;

namespace installer {

std::string PortEntryName(int index) {
    if (index == kUsbIndex) return "USB";
    if (index == kNetIndex) return "NET";
    return "COM" + std::to_string(index + 1);
}

int SpeedIndex(int speed) {
    for (int i = 0; i < 7; ++i) {
        if (kSpeeds[i] == speed) return i;
    }
    return 3;  // 57600
}

}  // namespace installer

namespace {

constexpr int kPortChangePauseMs = 250;

// The setting behind each option of the Options menu.
struct OptionSetting {
    int id;
    const char* section;
    const char* entry;
    int def;
};
constexpr OptionSetting kOptions[] = {
    {kCmdBackup, settings::kMain, "BackupToDir", 0},
    {kCmdSetTime, settings::kMain, "SyncDate", 0},
    {kCmdOpenDialog, settings::kMain, "OpenDialog", 1},
    {kCmdPicCompress, settings::kFileFormats, "piccompress", 0},
    {kCmdVerify, settings::kMain, "Verify", 0},
};

// The destination's menu items, by RunDestination.
constexpr int kDestinationCommands[] = {kCmdToRam, kCmdToCard, kCmdToAuto};

}  // namespace

CInstallerDlg::CInstallerDlg(IInstallerView& view, InstallerServices services)
    : m_view(view),
      m_services(std::move(services)),
      m_settings(*m_services.settings),
      m_monitor(*this, {}, [this](int ms) { m_services.sleep(ms); }) {
    FillDefaults();
    // Every item of the menu, unchecked and enabled until initialisation sets them.
    for (const dlg::MenuItem& item : InstallerMenu(resources::CurrentLanguage())) {
        if (item.kind == dlg::MenuKind::kCommand || item.kind == dlg::MenuKind::kCheck) {
            m_menuState[item.id] = 0;
        }
    }

    m_nResultCode = -1;
    m_bCloseOnFinish = m_settings.ReadInt(settings::kMain, "close", 0) != 0;
    m_nPort =
        m_settings.ReadInt(settings::kCom, "ComPort", DefaultComPort(*m_services.palmDesktop));
    m_bUsb = m_settings.ReadInt(settings::kCom, "USB", DefaultUsb(*m_services.palmDesktop)) != 0;
    m_bNet = m_settings.ReadInt(settings::kCom, "Net", 0) != 0;
    m_nSpeed = m_settings.ReadInt(settings::kCom, "Speed", 57600);
    m_strUserDir = m_settings.ReadText(settings::kMain, "Userdir", "");
    for (int i = 0; i < static_cast<int>(kRecentMax); ++i) {
        const std::string path =
            m_settings.ReadText(settings::kRecent, "Recent" + std::to_string(i), "");
        if (!path.empty() &&
            std::find(m_listRecent.begin(), m_listRecent.end(), path) == m_listRecent.end()) {
            m_listRecent.push_back(path);
        }
    }
}

CInstallerDlg::~CInstallerDlg() {
    if (m_bTransferRunning && m_pSession) m_run.Stop(*m_pSession);
    m_run.Join();
    if (g_pSession == m_pSession.get()) g_pSession = nullptr;
}

void CInstallerDlg::FillDefaults() {
    InstallerServices& s = m_services;
    if (!s.hotSyncManager) {
        m_pOwnHotSync = CreateHotSyncManagerHost();
        s.hotSyncManager = m_pOwnHotSync.get();
    }
    if (!s.palmDesktop) {
        m_pOwnDesktop = OpenPalmDesktopValues();
        s.palmDesktop = m_pOwnDesktop.get();
    }
    if (!s.portHolders) {
        m_pOwnHolders = CreatePortHolderFinder();
        s.portHolders = m_pOwnHolders.get();
    }
    if (!s.connectionProbe) {
        m_pOwnProbe = CreateConnectionProbe();
        s.connectionProbe = m_pOwnProbe.get();
    }
    if (!s.makeSession) {
        ISettingsStore* store = s.settings;
        s.makeSession = [store](const std::string& port, int speed) {
            const ports::ComPathMapper mapper = MakeComPathMapper(*store);
            return std::make_unique<CDeviceSession>(SessionPortName(*store, port).c_str(), true,
                                                    speed, [&mapper](const std::string& name) {
                                                        return ports::CreatePortTransport(name,
                                                                                          mapper);
                                                    });
        };
    }
    if (!s.sleep) s.sleep = SleepMs;
    if (!s.exitProcess) {
        s.exitProcess = [](int code) {
            std::fflush(nullptr);
            std::_Exit(code);
        };
    }
    if (!s.convertText) {
        s.convertText = [](const std::string& text, std::string& db) {
            return ConvertTextFile(text, db);
        };
    }
    // What needs a window: nothing happens without one.
    if (!s.askOkCancel) s.askOkCancel = [](const std::string&) { return true; };
    if (!s.showMessage) s.showMessage = [](const std::string&) {};
    if (!s.chooseFiles) s.chooseFiles = [](std::vector<std::string>&) { return false; };
    if (!s.openUrl) s.openUrl = [](const std::string&) {};
    if (!s.showAbout) s.showAbout = [] {};
    if (!s.showHelp) s.showHelp = [] {};
    if (!s.registerFileTypes) s.registerFileTypes = [](bool) {};
    if (!s.unregisterFileTypes) s.unregisterFileTypes = [] {};
    if (s.pictures) m_monitor.SetPictureConverter(s.pictures);
}

void CInstallerDlg::SetPortFromText(const std::string& text) {
    int number = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9' && number < 100000) number = number * 10 + (c - '0');
    }
    m_nPort = number;
}

void CInstallerDlg::OnInitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;
    // 1 ... 4: the icons, the link icon and its tooltip are the view's.
    m_monitor.SetPictureConverter(m_services.pictures);
    m_view.SetAnimationFrame(0);
    // 5: drops.
    m_view.AcceptDrops(true);
    // 6: data exchange.
    m_view.SetCloseOnFinish(m_bCloseOnFinish);
    // 7: port box, its list telling where each port goes.
    m_view.SetPortIndex(m_nPort >= 2 && m_nPort <= 8 ? m_nPort - 1 : 0);
    if (m_bNet) m_view.SetPortIndex(kNetIndex);
    if (m_bUsb) m_view.SetPortIndex(kUsbIndex);
    RefreshPortLabels();
    // 8: speed box.
    m_view.SetSpeedIndex(m_nSpeed == -1 ? -1 : SpeedIndex(m_nSpeed));
    // 9: the system menu's about entry is the view's.
    // 10: check marks.
    for (const OptionSetting& o : kOptions) {
        SetMenuCheck(o.id, m_settings.ReadInt(o.section, o.entry, o.def) != 0);
    }
    SetDestination(m_settings.ReadInt(settings::kMain, "Destination", kDestinationRam), false);
    // 11: the stored list state (the view keeps the full layout).
    ShowFileList(m_settings.ReadInt(settings::kMain, "FileList", 1) != 0);
    // 12: the columns are the view's; where each file goes shows for a card.
    m_view.ShowWhereColumn(m_nDestination != kDestinationRam);
    // 13: a title.
    if (!m_strTitle.empty()) {
        m_monitor.ShowCaption(FormatString(resources::kIdsUploadTitle, m_strTitle.c_str()));
    } else {
        m_monitor.ShowCaption(
            resources::LoadItemText(resources::kDlgInstaller, resources::kItemCaption));
    }
    // 14: the vendor's HotSync Manager.
    m_nHotSyncStop =
        m_bIgnoreHotSync ? 1 : StopHotSyncManager(*m_services.hotSyncManager, m_services.sleep);
    // 15: the desktop user library.
    LoadUserLibrary();
    // 16 ... 18.
    if (!m_pSession) CreateSession(IdlePortName(), m_nSpeed);
    RefreshView();
    m_view.StartTimer(kTimerMs);
}

std::string CInstallerDlg::IdlePortName() const {
    if (m_bUsb) return "USB";
    if (m_bNet) return "NET";
    return "COM" + std::to_string(m_nPort);
}

void CInstallerDlg::CreateSession(const std::string& port, int speed) {
    m_pSession = m_services.makeSession(port, speed);
    m_strPortDetail.clear();
    // Why the port did not open is looked up once, not at every tick.
    if (m_pSession && m_pSession->m_sd == -1) {
        const std::string adapter =
            m_services.connectionProbe
                ? SoleUsbSerialAdapter(m_services.connectionProbe->Probe(false, {}, 0))
                : std::string();
        m_strPortDetail =
            PortProblemDetail(m_pSession->m_nPortError, port, PortDevicePath(m_settings, port),
                              m_services.portHolders, adapter);
    }
}

void CInstallerDlg::CloseSession() {
    if (m_pSession) m_pSession->Close();
    if (g_pSession == m_pSession.get()) g_pSession = nullptr;
    m_pSession.reset();
}

std::string CInstallerDlg::GetPortName() {
    const int index = m_view.PortIndex();
    std::string name;
    m_bUsb = false;
    m_bNet = false;
    if (index >= 1 && index <= 7) {
        m_nPort = index + 1;
        name = "COM" + std::to_string(m_nPort);
    } else if (index == kUsbIndex) {
        m_bUsb = true;
        name = "USB";
    } else if (index == kNetIndex) {
        m_bNet = true;
        name = "NET";
    } else {
        m_nPort = 1;
        name = "COM1";
    }
    m_settings.WriteInt(settings::kCom, "ComPort", m_nPort);
    m_settings.WriteInt(settings::kCom, "USB", m_bUsb ? 1 : 0);
    m_settings.WriteInt(settings::kCom, "Net", m_bNet ? 1 : 0);
    return name;
}

int CInstallerDlg::GetSpeed() {
    const int index = m_view.SpeedIndex();
    m_nSpeed = index >= 0 && index < 7 ? kSpeeds[index] : -1;
    m_settings.WriteInt(settings::kCom, "Speed", m_nSpeed);
    return m_nSpeed;
}

void CInstallerDlg::ReopenSession() {
    CloseSession();
    const std::string port = GetPortName();
    CreateSession(port, GetSpeed());
}

void CInstallerDlg::RefreshView() {
    std::string status = FormatString(
        resources::kIdsWaiting, static_cast<int>(m_listInstall.size()), GetPortName().c_str());
    if (!m_listRestore.empty()) {
        status +=
            FormatString(resources::kIdsRestoreQueued, static_cast<int>(m_listRestore.size()));
    }
    m_monitor.ShowStatus(status);
    RefreshFileList();
    RebuildRecentMenu();
}

void CInstallerDlg::OnPortChange() {
    m_bCloseOnFinish = m_view.CloseOnFinish();
    CloseSession();
    m_services.sleep(kPortChangePauseMs);
    const std::string port = GetPortName();
    CreateSession(port, GetSpeed());
    RefreshPortLabels();
    RefreshView();
}

void CInstallerDlg::OnSpeedChange() {
    m_bCloseOnFinish = m_view.CloseOnFinish();
    ReopenSession();
}

void CInstallerDlg::OnCloseOnFinishClicked() {
    m_bCloseOnFinish = m_view.CloseOnFinish();
    m_settings.WriteInt(settings::kMain, "close", m_bCloseOnFinish ? 1 : 0);
}

bool CInstallerDlg::MenuStateIs(int id, unsigned state) const {
    const auto it = m_menuState.find(id);
    return it != m_menuState.end() && it->second == state;
}

void CInstallerDlg::SetMenuCheck(int id, bool on) {
    const auto it = m_menuState.find(id);
    if (it == m_menuState.end()) return;
    it->second = on ? (it->second | kStateChecked) : (it->second & ~kStateChecked);
    m_view.SetMenuCheck(id, on);
}

void CInstallerDlg::EnableMenuItem(int id, bool enable) {
    const auto it = m_menuState.find(id);
    if (it == m_menuState.end()) return;
    it->second = enable ? (it->second & ~kStateGrayed) : (it->second | kStateGrayed);
    m_view.EnableMenuItem(id, enable);
}

bool CInstallerDlg::IsFileListShown() const {
    return m_view.IsFileListShown();
}

void CInstallerDlg::ShowFileList(bool show) {
    if (show != IsFileListShown()) m_view.SetFileListArea(show);
    SetMenuCheck(kCmdFileList, show);
}

bool CInstallerDlg::ReadHandedOverFiles() {
    bool found = false;
    for (int i = 0; i <= 254; ++i) {
        const std::string name = "Name" + std::to_string(i);
        const std::string path = m_settings.ReadText(settings::kRegister, name, "");
        if (path.empty()) continue;
        AddFile(path);
        found = true;
        m_settings.Delete(settings::kRegister, name);
    }
    RefreshView();
    return found;
}

bool CInstallerDlg::OnHandOverMessage() {
    if (m_bTransferRunning) return false;
    return ReadHandedOverFiles();
}

void CInstallerDlg::OnTimer() {
    if (m_bTransferRunning) {
        if (m_pSession) m_monitor.OnTimer(*m_pSession);
    } else {
        PollConnection();
    }
}

void CInstallerDlg::PollConnection() {
    if (!m_pSession) return;
    if (m_pSession->m_sd == -1) {
        m_monitor.ShowStatus(FormatString(resources::kIdsPortBusy, GetPortName().c_str()) +
                             m_strPortDetail);
        return;
    }
    if (m_pSession->IsHotSyncPressed() && m_pSession->Accept()) {
        m_monitor.ShowStatus(LoadString(resources::kIdsConnected));
        m_view.AcceptDrops(false);
        m_bTransferRunning = true;
        StartTransfer();
    }
}

void CInstallerDlg::StartTransfer() {
    if (!m_pSession) return;
    m_nResultCode = 0;
    m_view.SetSpeedIndex(SpeedIndex(m_pSession->GetLinkRate()));
    m_view.EnableRunControls(false);
    const bool backup =
        MenuStateIs(kCmdBackup, kStateChecked) && !MenuStateIs(kCmdBackup, kStateGrayed);
    const bool setTime =
        MenuStateIs(kCmdSetTime, kStateChecked) && !MenuStateIs(kCmdSetTime, kStateGrayed);
    if (m_services.pictures) {
        m_services.pictures->SetCompress((m_menuState[kCmdPicCompress] & kStateChecked) != 0);
    }
    m_monitor.Start();
    m_pSession->m_bBackupAll = MenuStateIs(kCmdBackupAll, kStateChecked) ? 1 : 0;
    m_pSession->m_listRestore = m_listRestore;
    const bool verify = MenuStateIs(kCmdVerify, kStateChecked);
    m_run.Start(*m_pSession, m_listInstall, backup, setTime, this,
                RunPlacement{m_nDestination, "", verify});
}

void CInstallerDlg::PostInstallDone() {
    m_view.PostInstallDone();
}

void CInstallerDlg::OnInstallDone() {
    if (!m_bTransferRunning || !m_pSession) return;  // already stopped by a close
    m_run.Join();
    m_monitor.OnInstallDone(*m_pSession);
    // The whole-handheld backup and the restore were for this HotSync only.
    SetMenuCheck(kCmdBackupAll, false);
    m_listRestore.clear();
    m_bTransferRunning = false;
    CloseSession();
    if (m_bCloseOnFinish) {
        StopTransfer();
        m_view.EndDialog(0);
        return;
    }
    CreateSession(IdlePortName(), m_nSpeed);
    m_view.EnableRunControls(true);
    m_view.AcceptDrops(true);
}

void CInstallerDlg::RestartHotSync() {
    if (m_nHotSyncStop != 0) return;
    RestartHotSyncManager(*m_services.hotSyncManager, *m_services.palmDesktop, m_bUsb, "",
                          m_services.sleep);
}

void CInstallerDlg::StopTransfer() {
    if (m_bTransferRunning) {
        m_monitor.ShowStatus(LoadString(resources::kIdsCancelling));
        m_view.StopTimer();
        // A worker that cannot be ended keeps the session; the process ends under both.
        const bool ended = m_pSession ? m_run.Stop(*m_pSession) : true;
        if (ended) CloseSession();
        m_bTransferRunning = false;
        m_settings.WriteInt(settings::kResult, "code", -2);
        RestartHotSync();
        DeleteTempFiles();
        m_settings.Flush();
        m_services.exitProcess(0);
        return;
    }
    m_settings.WriteInt(settings::kResult, "code", m_nResultCode);
    CloseSession();
    DeleteTempFiles();
    RestartHotSync();
    m_view.StopTimer();
    m_settings.Flush();
}

void CInstallerDlg::OnCancel() {
    StopTransfer();
    m_view.EndDialog(kIdCancel);
}

void CInstallerDlg::ToggleOption(int id) {
    SetMenuCheck(id, !MenuStateIs(id, kStateChecked));
    for (const OptionSetting& o : kOptions) {
        if (o.id == id) m_settings.WriteInt(o.section, o.entry, MenuStateIs(id, kStateChecked));
    }
    if (id == kCmdPicCompress && m_services.pictures) {
        m_services.pictures->SetCompress(MenuStateIs(id, kStateChecked));
    }
}

void CInstallerDlg::SetDestination(int destination, bool store) {
    if (destination < kDestinationRam || destination > kDestinationAuto) {
        destination = kDestinationRam;  // a foreign value in the settings
    }
    m_nDestination = destination;
    for (int i = 0; i < 3; ++i) SetMenuCheck(kDestinationCommands[i], i == destination);
    if (!store) return;
    m_settings.WriteInt(settings::kMain, "Destination", destination);
    // Everything goes to the memory: the column would only repeat that.
    m_view.ShowWhereColumn(m_nDestination != kDestinationRam);
    RefreshFileList();
}

void CInstallerDlg::OnCommand(int id) {
    switch (id) {
        case kCmdToRam:
        case kCmdToCard:
        case kCmdToAuto:
            SetDestination(id - kCmdToRam, true);
            return;
        case kCmdFileList: {
            const bool show = !IsFileListShown();
            ShowFileList(show);
            m_settings.WriteInt(settings::kMain, "Filelist", show ? 1 : 0);
            return;
        }
        case kCmdOpenDialog:
        case kCmdBackup:
        case kCmdSetTime:
        case kCmdPicCompress:
        case kCmdVerify:
            ToggleOption(id);
            return;
        case kCmdAbout:
            if (!m_bTransferRunning) m_services.showAbout();
            return;
        case kCmdHistory:
            OnHistory();
            return;
        case kCmdDesktopUsers:
            OnDesktopUsers();
            return;
        case kCmdBackupAll:
            SetMenuCheck(id, !MenuStateIs(id, kStateChecked));
            return;
        case kCmdRestore:
            OnRestore();
            return;
        case kCmdRegister:
            m_services.registerFileTypes(true);
            return;
        case kCmdUnregister:
            m_services.unregisterFileTypes();
            return;
        case kCmdHelp:
            m_services.showHelp();
            return;
        case kCmdCheckConnection:
            OnCheckConnection();
            return;
        case kIdAdd: {
            std::vector<std::string> files;
            if (ChooseFiles(files)) {
                for (const std::string& f : files) AddFile(f);
                RefreshView();
            }
            return;
        }
        case kIdRemove:
            RemoveSelected();
            return;
        default:
            if (id >= kCmdFirstRecent && id <= kCmdLastRecent) OpenRecentFile(id);
            return;
    }
}

void CInstallerDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kCmdAboutSys && !m_bTransferRunning) m_services.showAbout();
}

void CInstallerDlg::OnLinkClicked() {
    if (!m_bTransferRunning) m_services.openUrl(links::kWebSite);
}

// ---- the engine's view ----

void CInstallerDlg::SetStatus(const std::string& text) {
    m_view.SetStatus(text);
}

void CInstallerDlg::SetCaption(const std::string& text) {
    m_view.SetCaption(text);
}

void CInstallerDlg::SetProgress(int position, int rangeMax) {
    m_view.SetProgress(position, rangeMax);
}

void CInstallerDlg::SetElapsed(const std::string& text) {
    m_view.SetElapsed(text);
}

void CInstallerDlg::SetAnimationFrame(int frame) {
    m_view.SetAnimationFrame(frame);
}

bool CInstallerDlg::AskOkCancel(const std::string& text) {
    return m_services.askOkCancel(text);
}

void CInstallerDlg::SetCancelButtonToOk() {
    m_view.SetCancelButtonToOk();
}

void CInstallerDlg::ShowReport(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    m_services.showMessage(text);
}

void CInstallerDlg::StoreUserDir(const std::string& dir) {
    m_strUserDir = dir;
    m_settings.WriteText(settings::kMain, "Userdir", dir);
}

// ---- the desktop users, backups and history ----

void CInstallerDlg::LoadUserLibrary() {
    // The vendor desktop's own users where its library loads, else our users file.
    EnableUserCommands(m_hUserLib.Load(m_settings, OpenVendorUserLibrary(*m_services.palmDesktop)));
}

void CInstallerDlg::EnableUserCommands(bool present) {
    for (int id : {kCmdBackup, kCmdHistory, kCmdBackupAll, kCmdRestore}) {
        EnableMenuItem(id, present);
    }
}

void CInstallerDlg::OnHistory() {
    if (m_strUserDir.empty()) return;
    m_view.RunHistory(m_hUserLib.Library(), m_strUserDir);
}

void CInstallerDlg::OnDesktopUsers() {
    CDesktopUserStore* store = m_hUserLib.Store();
    if (!store) return;
    m_view.RunDesktopUsers(
        *store, m_settings.ReadText(settings::kMain, CDesktopUserStore::kLastUserEntry, ""));
    // The first user made the store: backups and the history have somewhere to go now.
    if (!m_hUserLib.Present() && m_hUserLib.LoadAgain()) EnableUserCommands(true);
}

void CInstallerDlg::OnRestore() {
    if (m_bTransferRunning || !m_hUserLib.Present()) return;
    std::vector<std::string> chosen;
    if (!m_view.RunRestore(m_hUserLib.Library(), m_strUserDir, chosen)) return;
    m_listRestore = std::move(chosen);
    RefreshView();
}

void CInstallerDlg::StoreHandheldUser(const std::string& name) {
    m_settings.WriteText(settings::kMain, CDesktopUserStore::kLastUserEntry, name);
}

// ---- ports ----

void CInstallerDlg::RefreshPortLabels() {
    if (!m_services.connectionProbe) return;
    const ConnectionFacts facts = m_services.connectionProbe->Probe(false, {}, 0);
    std::vector<std::string> labels;
    for (int i = 0; i <= kNetIndex; ++i) {
        labels.push_back(PortBoxLabel(facts, m_settings, PortEntryName(i)));
    }
    m_view.ShowPortLabels(labels);
}

void CInstallerDlg::OnCheckConnection() {
    if (m_bTransferRunning || !m_services.connectionProbe) return;
    m_view.RunConnectionCheck(*m_services.connectionProbe, m_settings, GetPortName());
}
