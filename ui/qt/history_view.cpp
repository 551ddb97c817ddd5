#include "ui/qt/history_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"

using namespace history;

namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CHistoryView::CHistoryView(IUserLibrary* library, std::string userDir, QWidget* parent)
    : QDialog(parent), m_dialog(*this, library, std::move(userDir)) {
    m_askYesNo = [this](const std::string& text) { return dlg::AskYesNo(this, QString(), text); };
    BuildWindow();
    dlg::SetColumns(m_pList, kColumnTexts, kColumnWidths);
    m_dialog.OnInitDialog();
}

void CHistoryView::BuildWindow() {
    m_items = dlg::BuildFixedDialog(*this, HistoryTemplate());
    m_pUsers = static_cast<QComboBox*>(m_items[kIdUsers]);
    m_pList = static_cast<QTreeWidget*>(m_items[kIdList]);
    m_pAllFiles = static_cast<QCheckBox*>(m_items[kIdAllFiles]);
    m_pDelete = static_cast<QPushButton*>(m_items[kIdDelete]);
    dlg::KeepSelectionShown(m_pList);
    // Grid lines between the cells.
    m_pList->setStyleSheet(
        QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                       " border-bottom: 1px solid palette(midlight); }"
                       "QTreeView::item:selected { background: palette(highlight);"
                       " color: palette(highlighted-text); }"));

    connect(static_cast<QPushButton*>(m_items[kIdOk]), &QPushButton::clicked, this,
            &QDialog::accept);
    connect(m_pDelete, &QPushButton::clicked, this, [this] { m_dialog.OnDelete(); });
    connect(m_pAllFiles, &QCheckBox::clicked, this,
            [this](bool checked) { m_dialog.OnAllFilesClicked(checked); });
    connect(m_pList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!m_bFilling) m_dialog.OnRowChange(item ? m_pList->indexOfTopLevelItem(item) : -1);
    });
    connect(m_pUsers, &QComboBox::activated, this,
            [this](int index) { m_dialog.OnUserChange(index); });
}

void CHistoryView::ShowUsers(const std::vector<HistoryUser>& users, int selected) {
    m_pUsers->clear();
    for (const HistoryUser& user : users) {
        m_pUsers->addItem(Q(user.name), QVariant::fromValue<uint>(user.id));
    }
    m_pUsers->setCurrentIndex(selected);
}

void CHistoryView::ShowRows(const std::vector<HistoryRow>& rows) {
    m_bFilling = true;
    m_pList->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const HistoryRow& row : rows) {
        auto* item = new QTreeWidgetItem;
        item->setText(kColName, Q(row.name));
        item->setText(kColVersion, Q(row.version));
        item->setText(kColDate, Q(row.date));
        item->setText(kColExist, row.exists ? QStringLiteral("X") : QString());
        items.append(item);
    }
    m_pList->addTopLevelItems(items);
    m_pList->setCurrentItem(nullptr);
    m_bFilling = false;
}

void CHistoryView::ShowLastBackup(const std::string& text) {
    static_cast<QLabel*>(m_items[kIdLastBackup])->setText(Q(text));
}

void CHistoryView::EnableDelete(bool enable) {
    m_pDelete->setEnabled(enable);
}

bool CHistoryView::AskYesNo(const std::string& text) {
    return m_askYesNo(text);
}
