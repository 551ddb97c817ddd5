#include "ui/qt/restore_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"
#include "ui/restore_layout.h"

using namespace restore;

namespace {

// Column texts and widths, the widths for the classic 8 pt font (6 pixels a character).
constexpr int kColumnTexts[] = {resources::kIdsRestoreColumnFile, resources::kIdsRestoreColumnSize,
                                resources::kIdsRestoreColumnDate};
constexpr int kColumnWidths[] = {190, 70, 110};

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CRestoreView::CRestoreView(IUserLibrary* library, std::string userDir, QWidget* parent)
    : QDialog(parent), m_dialog(*this, library, std::move(userDir)) {
    m_items = dlg::BuildFixedDialog(*this, RestoreTemplate());
    m_pUsers = static_cast<QComboBox*>(m_items[kIdUsers]);
    m_pList = static_cast<QTreeWidget*>(m_items[kIdList]);
    m_pAll = static_cast<QCheckBox*>(m_items[kIdAll]);
    m_pNote = static_cast<QLabel*>(m_items[kIdNote]);
    m_pOk = static_cast<QPushButton*>(m_items[kIdOk]);

    dlg::SetColumns(m_pList, kColumnTexts, kColumnWidths);

    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(static_cast<QPushButton*>(m_items[kIdCancel]), &QPushButton::clicked, this,
            &QDialog::reject);
    connect(m_pUsers, &QComboBox::activated, this,
            [this](int index) { m_dialog.OnUserChange(index); });
    connect(m_pAll, &QCheckBox::clicked, this,
            [this](bool checked) { m_dialog.OnAllClicked(checked); });
    connect(m_pList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (m_bFilling || column != 0) return;
        m_dialog.OnRowChecked(m_pList->indexOfTopLevelItem(item),
                              item->checkState(0) == Qt::Checked);
    });
    m_dialog.Init();
}

QWidget* CRestoreView::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

void CRestoreView::ShowUsers(const std::vector<std::string>& names, int selected) {
    m_pUsers->clear();
    for (const std::string& name : names) m_pUsers->addItem(Q(name));
    m_pUsers->setCurrentIndex(selected);
}

void CRestoreView::ShowRows(const std::vector<restore::Row>& rows) {
    m_bFilling = true;
    m_pList->clear();
    QList<QTreeWidgetItem*> items;
    for (const restore::Row& row : rows) {
        auto* item = new QTreeWidgetItem;
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
        item->setText(0, Q(row.fileName));
        item->setText(1, Q(row.size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(2, Q(row.date));
        items.append(item);
    }
    m_pList->addTopLevelItems(items);
    m_bFilling = false;
}

void CRestoreView::ShowNote(const std::string& text) {
    m_pNote->setText(Q(text));
}

void CRestoreView::ShowAllChecked(bool checked) {
    m_pAll->setChecked(checked);
}

void CRestoreView::EnableOk(bool enable) {
    m_pOk->setEnabled(enable);
}
