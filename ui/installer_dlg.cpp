#include "ui/installer_dlg.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "engine/user_library.h"
#include "formats/doc/text_to_doc.h"
#include "resources/strings/dialog_texts.h"
#include "session/device_session.h"
#include "shell/com_ports.h"
#include "shell/connection_report.h"
#include "shell/hotsync_manager.h"
#include "shell/linux/linux_connection_probe.h"
#include "shell/palm_desktop.h"
#include "shell/port_holder.h"
#include "shell/settings_store.h"
#include "shell/system_services.h"
#include "ui/desktop_commands.h"
#include "ui/installer_layout.h"
#include "ui/link_icons.h"
#include "ui/links.h"

using namespace installer;
using resources::FormatString;
using resources::LoadString;

namespace {

constexpr int kTimerMs = 180;
constexpr int kPortChangePauseMs = 250;
constexpr int kTooltipDelayMs = 100;
constexpr int kUsbIndex = 8;
constexpr int kNetIndex = 9;
constexpr int kSpeeds[] = {256000, 128000, 115200, 57600, 38400, 19200, 9600};
constexpr int kDefaultSpeedIndex = 3;
constexpr int kColumnWidths[] = {140, 65, 126};
constexpr int kColumnWhere = 2;  // ours: where each file goes, before the path

// Menu item states as the system's menus report them.
constexpr unsigned kStateGrayed = 0x1;
constexpr unsigned kStateChecked = 0x8;

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int SpeedIndex(int speed) {
    for (int i = 0; i < 7; ++i) {
        if (kSpeeds[i] == speed) return i;
    }
    return kDefaultSpeedIndex;
}

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

CInstallerDlg::CInstallerDlg(InstallerServices services, QWidget* parent)
    : QDialog(parent),
      m_services(std::move(services)),
      m_settings(*m_services.settings),
      m_monitor(*this, {}, [this](int ms) { m_services.sleep(ms); }) {
    FillDefaults();
    BuildWindow();
    setWindowIcon(linkicons::ApplicationIcon());

    m_nResultCode = -1;
    m_bCloseOnFinish = m_settings.ReadInt(settings::kMain, "close", 0) != 0;
    m_nPort =
        m_settings.ReadInt(settings::kCom, "ComPort", DefaultComPort(*m_services.palmDesktop));
    m_bUsb = m_settings.ReadInt(settings::kCom, "USB", DefaultUsb(*m_services.palmDesktop)) != 0;
    m_bNet = m_settings.ReadInt(settings::kCom, "Net", 0) != 0;
    m_nSpeed = m_settings.ReadInt(settings::kCom, "Speed", 57600);
    m_strUserDir = m_settings.ReadText(settings::kMain, "Userdir", "");
    for (int i = 0; i < 16; ++i) {
        const std::string path =
            m_settings.ReadText(settings::kRecent, "Recent" + std::to_string(i), "");
        if (!path.empty() &&
            std::find(m_listRecent.begin(), m_listRecent.end(), path) == m_listRecent.end()) {
            m_listRecent.push_back(path);
        }
    }
}

CInstallerDlg::~CInstallerDlg() {
    m_timer.stop();
    if (m_bTransferRunning && m_pSession) m_run.Stop(*m_pSession);
    m_run.Join();
    if (g_pSession == m_pSession.get()) g_pSession = nullptr;
}

void CInstallerDlg::FillDefaults() {
    InstallerServices& s = m_services;
    if (!s.hotSyncManager) {
        m_pOwnHotSync = std::make_unique<CNoHotSyncManager>();
        s.hotSyncManager = m_pOwnHotSync.get();
    }
    if (!s.palmDesktop) {
        m_pOwnDesktop = std::make_unique<CNoPalmDesktop>();
        s.palmDesktop = m_pOwnDesktop.get();
    }
    if (!s.portHolders) {
        m_pOwnHolders = CreatePortHolderFinder();
        s.portHolders = m_pOwnHolders.get();
    }
    if (!s.connectionProbe) {
        m_pOwnProbe = std::make_unique<CLinuxConnectionProbe>();
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
            ::_exit(code);
        };
    }
    if (!s.askOkCancel) {
        s.askOkCancel = [this](const std::string& text) {
            QMessageBox box(QMessageBox::NoIcon, Q(LoadString(resources::kIdsAppTitle)), Q(text),
                            QMessageBox::Ok | QMessageBox::Cancel, this);
            box.setWindowFlag(Qt::WindowStaysOnTopHint);
            box.raise();
            box.activateWindow();
            return box.exec() == QMessageBox::Ok;
        };
    }
    if (!s.showMessage) {
        s.showMessage = [this](const std::string& text) {
            QMessageBox box(QMessageBox::NoIcon, Q(LoadString(resources::kIdsAppTitle)), Q(text),
                            QMessageBox::Ok, this);
            box.setWindowFlag(Qt::WindowStaysOnTopHint);
            box.exec();
        };
    }
    if (!s.convertText) {
        s.convertText = [](const std::string& text, std::string& db) {
            return ConvertTextFile(text, db);
        };
    }
    if (!s.openUrl) {
        s.openUrl = [](const std::string& url) { QDesktopServices::openUrl(QUrl(Q(url))); };
    }
    if (!s.showAbout) s.showAbout = [this] { desktop::ShowAbout(this, m_services.openUrl); };
    if (!s.showHelp) s.showHelp = [this] { desktop::OnHelp(m_services.openUrl); };
    if (!s.registerFileTypes) {
        s.registerFileTypes = [this](bool askAlways) {
            desktop::RegisterFileTypes(this, m_settings, askAlways);
        };
    }
    if (!s.unregisterFileTypes) {
        s.unregisterFileTypes = [this] { desktop::UnregisterFileTypes(m_settings); };
    }
    if (s.pictures) m_monitor.SetPictureConverter(s.pictures);
}

void CInstallerDlg::BuildWindow() {
    const resources::Language language = resources::CurrentLanguage();
    const dlg::Template& tpl = InstallerTemplate(language);
    setWindowTitle(Q(resources::LoadItemText(resources::kDlgInstaller, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    m_pMenuBar = new QMenuBar(this);
    m_pMenuBar->setNativeMenuBar(false);
    m_pClient = new QWidget(this);
    dlg::CDialogBuilder builder(m_pClient, font());
    m_items = builder.Build(tpl);
    builder.BuildMenu(m_pMenuBar, resources::kMenuInstaller, InstallerMenu(language), m_actions,
                      m_popups);
    m_pFileMenu = m_popups[resources::kItemPopupFile];

    const QSize client = builder.ClientSize(tpl);
    const int menuHeight = m_pMenuBar->sizeHint().height();
    m_pMenuBar->setGeometry(0, 0, client.width(), menuHeight);
    m_pClient->setGeometry(0, menuHeight, client.width(), client.height());
    setFixedSize(client.width(), menuHeight + client.height());

    m_pListView = static_cast<QTreeWidget*>(m_items[kIdList]);
    m_pStatus = static_cast<QLabel*>(m_items[kIdStatus]);
    m_pLinkIcon = static_cast<QLabel*>(m_items[kIdLinkIcon]);
    m_pPortBox = static_cast<QComboBox*>(m_items[kIdPort]);
    m_pSpeedBox = static_cast<QComboBox*>(m_items[kIdSpeed]);
    m_pProgress = static_cast<QProgressBar*>(m_items[kIdProgress]);
    m_pCloseBox = static_cast<QCheckBox*>(m_items[kIdCloseOnFinish]);
    m_pCancel = static_cast<QPushButton*>(m_items[kIdCancel]);

    // The boxes' items, unsorted, in this order.
    for (int n = 1; n <= 8; ++n) m_pPortBox->addItem(QStringLiteral("COM%1").arg(n));
    m_pPortBox->addItem(QStringLiteral("USB"));
    m_pPortBox->addItem(QStringLiteral("NET"));
    for (int speed : kSpeeds) m_pSpeedBox->addItem(QString::number(speed));

    connect(m_pPortBox, &QComboBox::activated, this, [this] { OnPortChange(); });
    connect(m_pSpeedBox, &QComboBox::activated, this, [this] { OnSpeedChange(); });
    connect(m_pCloseBox, &QCheckBox::clicked, this, [this] { OnCloseOnFinishClicked(); });
    connect(m_pCancel, &QPushButton::clicked, this, &CInstallerDlg::reject);
    connect(static_cast<QPushButton*>(m_items[kIdAdd]), &QPushButton::clicked, this,
            [this] { OnCommand(kIdAdd); });
    connect(static_cast<QPushButton*>(m_items[kIdRemove]), &QPushButton::clicked, this,
            [this] { OnCommand(kIdRemove); });
    connect(m_pMenuBar, &QMenuBar::triggered, this,
            [this](QAction* action) { OnCommand(action->data().toInt()); });

    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, &CInstallerDlg::OnTimer);
    m_tipTimer.setSingleShot(true);
    m_tipTimer.setInterval(kTooltipDelayMs);
    connect(&m_tipTimer, &QTimer::timeout, this, [this] {
        if (m_bTransferRunning || !m_pLinkIcon->underMouse()) return;
        QToolTip::showText(QCursor::pos(), Q(LoadString(resources::kIdsWebTooltip)), m_pLinkIcon);
    });
    m_pLinkIcon->installEventFilter(this);
    m_pListView->installEventFilter(this);
    // The list is looked at anew as it opens: adapters come and go.
    m_pPortBox->installEventFilter(this);
}

QWidget* CInstallerDlg::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QAction* CInstallerDlg::Action(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CInstallerDlg::SetPortFromText(const std::string& text) {
    int number = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9' && number < 100000) number = number * 10 + (c - '0');
    }
    m_nPort = number;
}

void CInstallerDlg::InitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;
    // 1, 2: the icons.
    setWindowIcon(linkicons::ApplicationIcon());
    const int iconSize = std::min(m_pLinkIcon->width(), m_pLinkIcon->height());
    for (int i = 0; i < 14; ++i) m_frames[i] = linkicons::AnimationFrame(i, iconSize);
    m_monitor.SetPictureConverter(m_services.pictures);
    SetAnimationFrame(0);
    // 3, 4: the link icon reports clicks and has its tooltip (the event filter).
    m_pLinkIcon->setCursor(Qt::PointingHandCursor);
    // 5: drops.
    setAcceptDrops(true);
    // 6: data exchange.
    m_pCloseBox->setChecked(m_bCloseOnFinish);
    // 7: port box, its list telling where each port goes.
    m_pPortBox->setCurrentIndex(m_nPort >= 2 && m_nPort <= 8 ? m_nPort - 1 : 0);
    if (m_bNet) m_pPortBox->setCurrentIndex(kNetIndex);
    if (m_bUsb) m_pPortBox->setCurrentIndex(kUsbIndex);
    RefreshPortLabels();
    // 8: speed box.
    m_pSpeedBox->setCurrentIndex(m_nSpeed == -1 ? -1 : SpeedIndex(m_nSpeed));
    // 9: the system menu's about entry is the window's context menu (contextMenuEvent).
    // 10: check marks.
    for (const OptionSetting& o : kOptions) {
        SetMenuCheck(o.id, m_settings.ReadInt(o.section, o.entry, o.def) != 0);
    }
    SetDestination(m_settings.ReadInt(settings::kMain, "Destination", kDestinationRam), false);
    // 11: the full layout, then the stored list state.
    m_rcFullWindow = size();
    ShowFileList(m_settings.ReadInt(settings::kMain, "FileList", 1) != 0);
    // 12: the list's columns, and where each file goes.
    m_pListView->setColumnCount(4);
    m_pListView->setHeaderLabels(
        {Q(LoadString(resources::kIdsColumnName)), Q(LoadString(resources::kIdsColumnSize)),
         Q(LoadString(resources::kIdsColumnWhere)), Q(LoadString(resources::kIdsColumnPath))});
    // The widths were set for the classic 8 pt font (6 pixels a character); they grow with
    // ours, the size column to its longest text, and the path takes the rest.
    const int baseX = dlg::BaseUnitsOf(font()).x;
    const QFontMetrics metrics(m_pListView->font());
    const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 2;
    m_pListView->setColumnWidth(0, kColumnWidths[0] * baseX / 6);
    m_pListView->setColumnWidth(
        1, std::max({kColumnWidths[1] * baseX / 6,
                     metrics.horizontalAdvance(QStringLiteral("1024 Bytes")) + padding,
                     metrics.horizontalAdvance(m_pListView->headerItem()->text(1)) + padding}));
    // Where each file goes: a narrow column, as wide as its longest short text, shown only
    // when a card may take files. The path takes the rest.
    int whereWidth = metrics.horizontalAdvance(m_pListView->headerItem()->text(kColumnWhere));
    for (int id : {resources::kIdsWhereRam, resources::kIdsWhereCard, resources::kIdsWhereAuto}) {
        whereWidth = std::max(whereWidth, metrics.horizontalAdvance(Q(LoadString(id))));
    }
    m_pListView->setColumnWidth(kColumnWhere, whereWidth + padding / 2);
    ShowWhereColumn();
    m_pListView->header()->setMinimumSectionSize(padding);
    m_pListView->header()->setStretchLastSection(true);
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
    m_timer.start();
}

int CInstallerDlg::exec() {
    InitDialog();
    return QDialog::exec();
}

void CInstallerDlg::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
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
    const int index = m_pPortBox->currentIndex();
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
    const int index = m_pSpeedBox->currentIndex();
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

void CInstallerDlg::UpdateCloseOnFinish() {
    m_bCloseOnFinish = m_pCloseBox->isChecked();
}

void CInstallerDlg::OnPortChange() {
    UpdateCloseOnFinish();
    CloseSession();
    m_services.sleep(kPortChangePauseMs);
    const std::string port = GetPortName();
    CreateSession(port, GetSpeed());
    RefreshPortLabels();
    RefreshView();
}

void CInstallerDlg::OnSpeedChange() {
    UpdateCloseOnFinish();
    ReopenSession();
}

void CInstallerDlg::OnCloseOnFinishClicked() {
    UpdateCloseOnFinish();
    m_settings.WriteInt(settings::kMain, "close", m_bCloseOnFinish ? 1 : 0);
}

bool CInstallerDlg::MenuStateIs(int id, unsigned state) const {
    const QAction* a = Action(id);
    if (!a) return false;
    unsigned current = 0;
    if (a->isChecked()) current |= kStateChecked;
    if (!a->isEnabled()) current |= kStateGrayed;
    return current == state;
}

void CInstallerDlg::SetMenuCheck(int id, bool on) {
    if (QAction* a = Action(id)) a->setChecked(on);
}

bool CInstallerDlg::IsFileListShown() const {
    return height() == m_rcFullWindow.height();
}

void CInstallerDlg::MoveControlBy(int id, int dy) {
    if (QWidget* w = Item(id)) w->move(w->x(), w->y() + dy);
}

void CInstallerDlg::ShowFileList(bool show) {
    if (show != IsFileListShown()) {
        const int offset = show ? kFileListOffset : -kFileListOffset;
        const int newHeight =
            show ? m_rcFullWindow.height() : m_rcFullWindow.height() - kFileListOffset;
        m_pClient->resize(m_pClient->width(), m_pClient->height() + offset);
        setFixedSize(m_rcFullWindow.width(), newHeight);
        for (int id : {kIdGroup, kIdList, kIdAdd, kIdRemove}) {
            QWidget* w = Item(id);
            w->setVisible(show);
            if (id != kIdGroup) w->setFocusPolicy(show ? Qt::StrongFocus : Qt::NoFocus);
        }
        for (int id : kMovedControls) MoveControlBy(id, offset);
    }
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
        setAcceptDrops(false);
        m_bTransferRunning = true;
        StartTransfer();
    }
}

void CInstallerDlg::EnableRunControls(bool enable) {
    for (int id : {kIdSpeed, kIdPort, kIdList, kIdAdd, kIdRemove}) Item(id)->setEnabled(enable);
}

void CInstallerDlg::StartTransfer() {
    if (!m_pSession) return;
    m_nResultCode = 0;
    m_pSpeedBox->setCurrentIndex(SpeedIndex(m_pSession->GetLinkRate()));
    EnableRunControls(false);
    const bool backup =
        MenuStateIs(kCmdBackup, kStateChecked) && !MenuStateIs(kCmdBackup, kStateGrayed);
    const bool setTime =
        MenuStateIs(kCmdSetTime, kStateChecked) && !MenuStateIs(kCmdSetTime, kStateGrayed);
    if (m_services.pictures) {
        m_services.pictures->SetCompress(Action(kCmdPicCompress)->isChecked());
    }
    m_monitor.Start();
    m_pSession->m_bBackupAll = MenuStateIs(kCmdBackupAll, kStateChecked) ? 1 : 0;
    m_pSession->m_listRestore = m_listRestore;
    const bool verify = MenuStateIs(kCmdVerify, kStateChecked);
    m_run.Start(*m_pSession, m_listInstall, backup, setTime, this,
                RunPlacement{m_nDestination, "", verify});
}

void CInstallerDlg::PostInstallDone() {
    // From the worker's thread: handled in the window's event loop.
    QMetaObject::invokeMethod(
        this, [this] { OnInstallDone(); }, Qt::QueuedConnection);
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
        done(0);
        return;
    }
    CreateSession(IdlePortName(), m_nSpeed);
    EnableRunControls(true);
    setAcceptDrops(true);
}

void CInstallerDlg::StopTransfer() {
    if (m_bTransferRunning) {
        m_monitor.ShowStatus(LoadString(resources::kIdsCancelling));
        m_timer.stop();
        // A worker that cannot be ended keeps the session; the process ends under both.
        const bool ended = m_pSession ? m_run.Stop(*m_pSession) : true;
        if (ended) CloseSession();
        m_bTransferRunning = false;
        m_settings.WriteInt(settings::kResult, "code", -2);
        if (m_nHotSyncStop == 0) {
            RestartHotSyncManager(*m_services.hotSyncManager, *m_services.palmDesktop, m_bUsb, "",
                                  m_services.sleep);
        }
        DeleteTempFiles();
        m_settings.Flush();
        m_services.exitProcess(0);
        return;
    }
    m_settings.WriteInt(settings::kResult, "code", m_nResultCode);
    CloseSession();
    DeleteTempFiles();
    if (m_nHotSyncStop == 0) {
        RestartHotSyncManager(*m_services.hotSyncManager, *m_services.palmDesktop, m_bUsb, "",
                              m_services.sleep);
    }
    m_timer.stop();
    m_settings.Flush();
}

void CInstallerDlg::reject() {
    StopTransfer();
    QDialog::reject();
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
    ShowWhereColumn();
    RefreshFileList();
}

void CInstallerDlg::ShowWhereColumn() {
    // Everything goes to the memory: the column would only repeat that. When it shows, the
    // name and the path each give up half the room, so that both stay readable and the
    // list needs no scrolling.
    const bool shown = m_nDestination != kDestinationRam;
    m_pListView->setColumnHidden(kColumnWhere, !shown);
    const int nameWidth = kColumnWidths[0] * dlg::BaseUnitsOf(font()).x / 6;
    const int half = shown ? m_pListView->columnWidth(kColumnWhere) / 2 : 0;
    m_pListView->setColumnWidth(0, nameWidth - half);
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

void CInstallerDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window menu's about entry, where the desktop leaves the window menu its own.
    const char* text = LoadString(resources::kIdsAboutMenu);
    if (!*text) return;
    QMenu menu(this);
    menu.addSeparator();
    QAction* about = menu.addAction(Q(text));
    if (menu.exec(event->globalPos()) == about) OnSysCommand(kCmdAboutSys);
}

void CInstallerDlg::OnLinkClicked() {
    if (!m_bTransferRunning) m_services.openUrl(links::kWebSite);
}

bool CInstallerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pLinkIcon) {
        switch (event->type()) {
            case QEvent::Enter:
                if (!m_bTransferRunning) m_tipTimer.start();
                break;
            case QEvent::Leave:
                m_tipTimer.stop();
                QToolTip::hideText();
                break;
            case QEvent::ToolTip:
                return true;  // ours comes after its own delay
            case QEvent::MouseButtonRelease:
                OnLinkClicked();
                return true;
            default:
                break;
        }
    } else if (watched == m_pPortBox &&
               (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)) {
        RefreshPortLabels();
    } else if (watched == m_pListView && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            RemoveSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CInstallerDlg::keyPressEvent(QKeyEvent* event) {
    // Enter presses the default button, Cancel, as the dialog manager does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- the engine's view ----

void CInstallerDlg::SetStatus(const std::string& text) {
    m_pStatus->setText(Q(text));
}

void CInstallerDlg::SetCaption(const std::string& text) {
    setWindowTitle(Q(text));
}

void CInstallerDlg::SetProgress(int position, int rangeMax) {
    m_pProgress->setRange(0, std::max(rangeMax, 1));
    m_pProgress->setValue(std::clamp(position, 0, std::max(rangeMax, 1)));
}

void CInstallerDlg::SetElapsed(const std::string& text) {
    static_cast<QLabel*>(Item(kIdElapsed))->setText(Q(text));
}

void CInstallerDlg::SetAnimationFrame(int frame) {
    if (frame >= 0 && frame < 14) m_pLinkIcon->setPixmap(m_frames[frame]);
}

bool CInstallerDlg::AskOkCancel(const std::string& text) {
    return m_services.askOkCancel(text);
}

void CInstallerDlg::SetCancelButtonToOk() {
    m_pCancel->setText(Q(LoadString(resources::kIdsOkButton)));
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
