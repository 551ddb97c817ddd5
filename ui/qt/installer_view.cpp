#include "ui/qt/installer_view.h"

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

#include "resources/strings/dialog_texts.h"
#include "session/device_session.h"
#include "shell/settings_store.h"
#include "ui/installer_layout.h"
#include "ui/qt/connection_check_view.h"
#include "ui/qt/desktop_commands.h"
#include "ui/qt/desktop_users_view.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/history_view.h"
#include "ui/qt/link_icons.h"
#include "ui/qt/restore_view.h"

using namespace installer;
using resources::LoadString;

namespace {

constexpr int kTooltipDelayMs = 100;

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CInstallerView::CInstallerView(InstallerServices services, QWidget* parent)
    : QDialog(parent), m_dialog(*this, WithQtServices(std::move(services))) {
    BuildWindow();
    setWindowIcon(linkicons::ApplicationIcon());
}

CInstallerView::~CInstallerView() {
    m_timer.stop();
}

InstallerServices CInstallerView::WithQtServices(InstallerServices s) {
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
    if (!s.chooseFiles) {
        s.chooseFiles = [this](std::vector<std::string>& files) {
            return ChooseFilesDialog(this, files);
        };
    }
    if (!s.openUrl) {
        s.openUrl = [](const std::string& url) { QDesktopServices::openUrl(QUrl(Q(url))); };
    }
    if (!s.showAbout) {
        s.showAbout = [this] { desktop::ShowAbout(this, m_dialog.Services().openUrl); };
    }
    if (!s.showHelp) s.showHelp = [this] { desktop::OnHelp(m_dialog.Services().openUrl); };
    ISettingsStore* settings = s.settings;
    if (!s.registerFileTypes) {
        s.registerFileTypes = [this, settings](bool askAlways) {
            desktop::RegisterFileTypes(this, *settings, askAlways);
        };
    }
    if (!s.unregisterFileTypes) {
        s.unregisterFileTypes = [settings] { desktop::UnregisterFileTypes(*settings); };
    }
    return s;
}

void CInstallerView::BuildWindow() {
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
    for (int n = 0; n <= kNetIndex; ++n) m_pPortBox->addItem(Q(PortEntryName(n)));
    for (int speed : kSpeeds) m_pSpeedBox->addItem(QString::number(speed));

    connect(m_pPortBox, &QComboBox::activated, this, [this] { m_dialog.OnPortChange(); });
    connect(m_pSpeedBox, &QComboBox::activated, this, [this] { m_dialog.OnSpeedChange(); });
    connect(m_pCloseBox, &QCheckBox::clicked, this, [this] { m_dialog.OnCloseOnFinishClicked(); });
    connect(m_pCancel, &QPushButton::clicked, this, &CInstallerView::reject);
    connect(static_cast<QPushButton*>(m_items[kIdAdd]), &QPushButton::clicked, this,
            [this] { m_dialog.OnCommand(kIdAdd); });
    connect(static_cast<QPushButton*>(m_items[kIdRemove]), &QPushButton::clicked, this,
            [this] { m_dialog.OnCommand(kIdRemove); });
    // A check item has toggled itself already; the window sets its mark again from its own.
    connect(m_pMenuBar, &QMenuBar::triggered, this,
            [this](QAction* action) { m_dialog.OnCommand(action->data().toInt()); });

    connect(&m_timer, &QTimer::timeout, this, [this] { m_dialog.OnTimer(); });
    m_tipTimer.setSingleShot(true);
    m_tipTimer.setInterval(kTooltipDelayMs);
    connect(&m_tipTimer, &QTimer::timeout, this, [this] {
        if (m_dialog.m_bTransferRunning || !m_pLinkIcon->underMouse()) return;
        QToolTip::showText(QCursor::pos(), Q(LoadString(resources::kIdsWebTooltip)), m_pLinkIcon);
    });
    m_pLinkIcon->installEventFilter(this);
    m_pListView->installEventFilter(this);
    // The list is looked at anew as it opens: adapters come and go.
    m_pPortBox->installEventFilter(this);
}

QWidget* CInstallerView::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QAction* CInstallerView::Action(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CInstallerView::InitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;
    // The icons: the window's, and the link icon's frames at its size.
    setWindowIcon(linkicons::ApplicationIcon());
    const int iconSize = std::min(m_pLinkIcon->width(), m_pLinkIcon->height());
    for (int i = 0; i < 14; ++i) m_frames[i] = linkicons::AnimationFrame(i, iconSize);
    // The link icon reports clicks and has its tooltip (the event filter).
    m_pLinkIcon->setCursor(Qt::PointingHandCursor);
    // The full layout, before the stored list state may collapse it.
    m_rcFullWindow = size();
    SetUpColumns();
    m_dialog.OnInitDialog();
}

void CInstallerView::SetUpColumns() {
    m_pListView->setColumnCount(4);
    m_pListView->setHeaderLabels(
        {Q(LoadString(resources::kIdsColumnName)), Q(LoadString(resources::kIdsColumnSize)),
         Q(LoadString(resources::kIdsColumnWhere)), Q(LoadString(resources::kIdsColumnPath))});
    // The widths were set for the classic 8 pt font (6 pixels a character); they grow with
    // ours, the size column to its longest text, and the path takes the rest.
    const int baseX = dlg::BaseUnitsOf(font()).x;
    const QFontMetrics metrics(m_pListView->font());
    const int padding = metrics.horizontalAdvance(QLatin1Char('M')) * 2;
    m_pListView->setColumnWidth(kColName, kColumnWidths[0] * baseX / 6);
    m_pListView->setColumnWidth(
        kColSize,
        std::max({kColumnWidths[1] * baseX / 6,
                  metrics.horizontalAdvance(QStringLiteral("1024 Bytes")) + padding,
                  metrics.horizontalAdvance(m_pListView->headerItem()->text(kColSize)) + padding}));
    // Where each file goes: a narrow column, as wide as its longest short text, shown only
    // when a card may take files. The path takes the rest.
    int whereWidth = metrics.horizontalAdvance(m_pListView->headerItem()->text(kColWhere));
    for (int id : {resources::kIdsWhereRam, resources::kIdsWhereCard, resources::kIdsWhereAuto}) {
        whereWidth = std::max(whereWidth, metrics.horizontalAdvance(Q(LoadString(id))));
    }
    m_pListView->setColumnWidth(kColWhere, whereWidth + padding / 2);
    m_pListView->header()->setMinimumSectionSize(padding);
    m_pListView->header()->setStretchLastSection(true);
}

int CInstallerView::exec() {
    InitDialog();
    return QDialog::exec();
}

void CInstallerView::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

void CInstallerView::reject() {
    m_dialog.OnCancel();
}

void CInstallerView::contextMenuEvent(QContextMenuEvent* event) {
    // The window menu's about entry, where the desktop leaves the window menu its own.
    const char* text = LoadString(resources::kIdsAboutMenu);
    if (!*text) return;
    QMenu menu(this);
    menu.addSeparator();
    QAction* about = menu.addAction(Q(text));
    if (menu.exec(event->globalPos()) == about) m_dialog.OnSysCommand(kCmdAboutSys);
}

bool CInstallerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pLinkIcon) {
        switch (event->type()) {
            case QEvent::Enter:
                if (!m_dialog.m_bTransferRunning) m_tipTimer.start();
                break;
            case QEvent::Leave:
                m_tipTimer.stop();
                QToolTip::hideText();
                break;
            case QEvent::ToolTip:
                return true;  // ours comes after its own delay
            case QEvent::MouseButtonRelease:
                m_dialog.OnLinkClicked();
                return true;
            default:
                break;
        }
    } else if (watched == m_pPortBox &&
               (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)) {
        m_dialog.RefreshPortLabels();
    } else if (watched == m_pListView && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            m_dialog.RemoveSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CInstallerView::keyPressEvent(QKeyEvent* event) {
    // Enter presses the default button, Cancel, as the dialog manager does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- what a run shows ----

void CInstallerView::SetStatus(const std::string& text) {
    m_pStatus->setText(Q(text));
}

void CInstallerView::SetCaption(const std::string& text) {
    setWindowTitle(Q(text));
}

void CInstallerView::SetProgress(int position, int rangeMax) {
    m_pProgress->setRange(0, std::max(rangeMax, 1));
    m_pProgress->setValue(std::clamp(position, 0, std::max(rangeMax, 1)));
}

void CInstallerView::SetElapsed(const std::string& text) {
    static_cast<QLabel*>(Item(kIdElapsed))->setText(Q(text));
}

void CInstallerView::SetAnimationFrame(int frame) {
    if (frame >= 0 && frame < 14) m_pLinkIcon->setPixmap(m_frames[frame]);
}

void CInstallerView::SetCancelButtonToOk() {
    m_pCancel->setText(Q(LoadString(resources::kIdsOkButton)));
}

// ---- the boxes ----

int CInstallerView::PortIndex() const {
    return m_pPortBox->currentIndex();
}

void CInstallerView::SetPortIndex(int index) {
    m_pPortBox->setCurrentIndex(index);
}

int CInstallerView::SpeedIndex() const {
    return m_pSpeedBox->currentIndex();
}

void CInstallerView::SetSpeedIndex(int index) {
    m_pSpeedBox->setCurrentIndex(index);
}

bool CInstallerView::CloseOnFinish() const {
    return m_pCloseBox->isChecked();
}

void CInstallerView::SetCloseOnFinish(bool checked) {
    m_pCloseBox->setChecked(checked);
}

// ---- menu 131 ----

void CInstallerView::SetMenuCheck(int id, bool on) {
    if (QAction* a = Action(id)) a->setChecked(on);
}

void CInstallerView::EnableMenuItem(int id, bool enable) {
    if (QAction* a = Action(id)) a->setEnabled(enable);
}

// ---- the window ----

bool CInstallerView::IsFileListShown() const {
    return height() == m_rcFullWindow.height();
}

void CInstallerView::MoveControlBy(int id, int dy) {
    if (QWidget* w = Item(id)) w->move(w->x(), w->y() + dy);
}

void CInstallerView::SetFileListArea(bool show) {
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

void CInstallerView::EnableRunControls(bool enable) {
    for (int id : {kIdSpeed, kIdPort, kIdList, kIdAdd, kIdRemove}) Item(id)->setEnabled(enable);
}

void CInstallerView::AcceptDrops(bool accept) {
    setAcceptDrops(accept);
}

void CInstallerView::StartTimer(int ms) {
    m_timer.start(ms);
}

void CInstallerView::StopTimer() {
    m_timer.stop();
}

void CInstallerView::EndDialog(int result) {
    if (result == kIdCancel) {
        QDialog::reject();
    } else {
        done(result);
    }
}

void CInstallerView::PostInstallDone() {
    // From the worker's thread: handled in the window's event loop.
    QMetaObject::invokeMethod(
        this, [this] { m_dialog.OnInstallDone(); }, Qt::QueuedConnection);
}

// ---- the windows opened from this one ----

int CInstallerView::Exec(QDialog& dialog) {
    return m_execDialog ? m_execDialog(dialog) : dialog.exec();
}

void CInstallerView::RunHistory(IUserLibrary* library, const std::string& userDir) {
    CHistoryView dialog(library, userDir, this);
    Exec(dialog);
}

void CInstallerView::RunDesktopUsers(CDesktopUserStore& store, const std::string& offered) {
    CDesktopUsersView dialog(store, offered, this);
    Exec(dialog);
}

bool CInstallerView::RunRestore(IUserLibrary* library, const std::string& userDir,
                                std::vector<std::string>& chosen) {
    CRestoreView dialog(library, userDir, this);
    if (Exec(dialog) != QDialog::Accepted) return false;
    chosen = dialog.Dialog().ChosenFiles();
    return true;
}

void CInstallerView::RunConnectionCheck(IConnectionProbe& probe, const ISettingsStore& settings,
                                        const std::string& port) {
    CConnectionCheckView dialog(probe, settings, port, this);
    Exec(dialog);
}
