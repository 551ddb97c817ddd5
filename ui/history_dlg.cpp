#include "ui/history_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "engine/backup_copy.h"
#include "engine/backup_folder.h"
#include "engine/user_library.h"
#include "resources/strings/dialog_texts.h"
#include "ui/dialog_template.h"

using namespace history;

namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

constexpr int kIdUserLabel = resources::kItemText1;

// id, kind, text, x y w h, style. One layout serves both languages: the label and the check
// box have room for the German texts.
constexpr Control kControls[] = {
    {kIdUserLabel, Kind::kStatic, resources::kItemText1, {7, 9, 40, 8}, kNoStyle},
    {kIdUsers, Kind::kDropList, 0, {48, 7, 140, 120}, kVScroll | kTabStop},
    {kIdList, Kind::kListView, 0, {7, 25, 266, 128}, kNoSortHeader | kBorder | kTabStop},
    {kIdLastBackup, Kind::kStatic, 0, {7, 157, 266, 9}, kNoStyle},
    {kIdAllFiles, Kind::kCheckBox, kIdAllFiles, {7, 169, 130, 10}, kTabStop},
    {kIdDelete, Kind::kPushButton, kIdDelete, {166, 184, 50, 14}, kTabStop},
    {kIdOk, Kind::kDefPushButton, kIdOk, {223, 184, 50, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgHistory, 280, 204, kControls};

// Column texts and widths, the widths for the classic 8 pt font (6 pixels a character).
constexpr int kColumnTexts[] = {resources::kIdsHistoryName, resources::kIdsHistoryVersion,
                                resources::kIdsHistoryDate, resources::kIdsHistoryExists};
constexpr int kColumnWidths[] = {130, 53, 150, 48};
enum Column { kColName, kColVersion, kColDate, kColExist };

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CHistoryDlg::CHistoryDlg(IUserLibrary* library, std::string userDir, QWidget* parent)
    : QDialog(parent), m_strUserDir(std::move(userDir)), m_pLibrary(library) {
    m_askYesNo = [this](const std::string& text) {
        QMessageBox box(QMessageBox::Question, QString(), Q(text),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    BuildWindow();

    // 1: the users, the window's own selected.
    FillUsers();
    // 2: the columns.
    m_pList->setColumnCount(4);
    QStringList headers;
    for (int id : kColumnTexts) headers << Q(resources::LoadString(id));
    m_pList->setHeaderLabels(headers);
    const int baseX = dlg::BaseUnitsOf(font()).x;
    for (int c = 0; c < 4; ++c) m_pList->setColumnWidth(c, kColumnWidths[c] * baseX / 6);
    // 3, 4.
    LoadLog();
    ScanBackups();
    m_pDelete->setEnabled(false);
}

void CHistoryDlg::BuildWindow() {
    setWindowTitle(Q(resources::LoadItemText(resources::kDlgHistory, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dlg::CDialogBuilder builder(this, font());
    m_items = builder.Build(kTemplate);
    setFixedSize(builder.ClientSize(kTemplate));

    m_pUsers = static_cast<QComboBox*>(m_items[kIdUsers]);
    m_pList = static_cast<QTreeWidget*>(m_items[kIdList]);
    m_pAllFiles = static_cast<QCheckBox*>(m_items[kIdAllFiles]);
    m_pDelete = static_cast<QPushButton*>(m_items[kIdDelete]);
    // The selection stays visible when the list loses the focus.
    QPalette palette = m_pList->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    m_pList->setPalette(palette);
    // Grid lines between the cells.
    m_pList->setStyleSheet(
        QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                       " border-bottom: 1px solid palette(midlight); }"
                       "QTreeView::item:selected { background: palette(highlight);"
                       " color: palette(highlighted-text); }"));

    connect(static_cast<QPushButton*>(m_items[kIdOk]), &QPushButton::clicked, this,
            &QDialog::accept);
    connect(m_pDelete, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(m_pAllFiles, &QCheckBox::clicked, this, [this] { OnAllFilesClicked(); });
    connect(m_pList, &QTreeWidget::currentItemChanged, this, [this] { OnRowChange(); });
    connect(m_pUsers, &QComboBox::activated, this, [this] { OnUserChange(); });
}

void CHistoryDlg::FillUsers() {
    int selected = -1;
    std::vector<HistoryUser> users = HistoryUsers(m_pLibrary, m_strUserDir, selected);
    std::vector<size_t> order(users.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    // The list shows the names sorted, as a sorted drop-down list does: without regard to
    // case, equal names in the order they came.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return Q(users[a].name).compare(Q(users[b].name), Qt::CaseInsensitive) < 0;
    });
    for (size_t i : order) {
        m_pUsers->addItem(Q(users[i].name), QVariant::fromValue<uint>(users[i].id));
        if (static_cast<int>(i) == selected) m_pUsers->setCurrentIndex(m_pUsers->count() - 1);
    }
    if (selected < 0) m_pUsers->setCurrentIndex(-1);
}

void CHistoryDlg::LoadLog() {
    m_rows = LoadHistoryLog(m_strUserDir);
    ShowRows();
}

void CHistoryDlg::ScanBackups() {
    ::ScanBackups(m_strUserDir, m_rows, m_bAllFiles != 0);
    ShowRows();
    // When the whole handheld was last backed up here, below the installations.
    static_cast<QLabel*>(m_items[kIdLastBackup])
        ->setText(Q(LastBackupNote(m_strUserDir + kBackupFolder)));
}

void CHistoryDlg::ShowRows() {
    m_pList->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_rows.size()));
    for (const HistoryRow& row : m_rows) {
        auto* item = new QTreeWidgetItem;
        item->setText(kColName, Q(row.name));
        item->setText(kColVersion, Q(row.version));
        item->setText(kColDate, Q(row.date));
        item->setText(kColExist, row.exists ? QStringLiteral("X") : QString());
        items.append(item);
    }
    m_pList->addTopLevelItems(items);
    OnRowChange();
}

void CHistoryDlg::OnUserChange() {
    const int index = m_pUsers->currentIndex();
    if (index < 0) return;
    const uint32_t id = m_pUsers->itemData(index).toUInt();
    m_strUserDir = GetUserDirectoryById(m_pLibrary, id, m_strUserDir);
    LoadLog();
    ScanBackups();
}

void CHistoryDlg::OnAllFilesClicked() {
    m_bAllFiles = m_pAllFiles->isChecked() ? 1 : 0;
    LoadLog();
    ScanBackups();
}

void CHistoryDlg::OnRowChange() {
    const QTreeWidgetItem* item = m_pList->currentItem();
    m_pDelete->setEnabled(item && item->text(kColExist) == QStringLiteral("X"));
}

void CHistoryDlg::OnDelete() {
    const QTreeWidgetItem* item = m_pList->currentItem();
    if (!item) return;
    const int row = m_pList->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size() || !m_rows[size_t(row)].exists) {
        return;
    }
    const std::string name = m_rows[size_t(row)].name;
    if (!m_askYesNo(resources::FormatString(resources::kIdsDeleteBackup, name.c_str()))) return;
    DeleteBackup(m_strUserDir, name);  // a failure is not reported: the row keeps its "X"
    LoadLog();
    ScanBackups();
}
