#include "ui/qt/desktop_users_view.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"

using namespace deskusers;

namespace {

constexpr int kResource = resources::kDlgDesktopUsers;

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CDesktopUsersView::CDesktopUsersView(CDesktopUserStore& store, std::string offered, QWidget* parent)
    : QDialog(parent), m_dialog(*this, store, std::move(offered)) {
    m_askYesNo = [this](const std::string& text) {
        return dlg::AskYesNo(this, windowTitle(), text);
    };
    m_showMessage = [this](const std::string& text) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), Q(text), QMessageBox::Ok, this);
        box.exec();
    };
    BuildWindow();
    m_dialog.Refresh();
}

void CDesktopUsersView::BuildWindow() {
    m_items = dlg::BuildFixedDialog(*this, DesktopUsersTemplate());
    m_pList = static_cast<QTreeWidget*>(m_items[kIdList]);
    m_pName = static_cast<QComboBox*>(m_items[kIdName]);
    m_pAdd = static_cast<QPushButton*>(m_items[kIdAdd]);
    m_pRemove = static_cast<QPushButton*>(m_items[kIdRemove]);
    // The name is typed or taken from the offer; its label's "&" leads there.
    m_pName->setEditable(true);
    m_pName->setInsertPolicy(QComboBox::NoInsert);
    static_cast<QLabel*>(m_items[resources::kItemText2])->setBuddy(m_pName);
    // Long folders keep their ends (the user's folder and "Backup/") in sight.
    m_pList->setTextElideMode(Qt::ElideMiddle);
    dlg::KeepSelectionShown(m_pList);

    m_pList->setColumnCount(2);
    m_pList->setHeaderLabels({Q(resources::LoadItemText(kResource, kColumnName)),
                              Q(resources::LoadItemText(kResource, kColumnFolder))});
    m_pList->setColumnWidth(0, kNameColumnWidth * dlg::BaseUnitsOf(font()).x / 6);
    m_pList->header()->setStretchLastSection(true);

    connect(static_cast<QPushButton*>(m_items[kIdClose]), &QPushButton::clicked, this,
            &QDialog::accept);
    connect(m_pAdd, &QPushButton::clicked, this, [this] { m_dialog.OnAdd(); });
    connect(m_pRemove, &QPushButton::clicked, this, [this] { m_dialog.OnRemove(); });
    connect(m_pList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!m_bFilling) m_dialog.OnRowChange(item ? m_pList->indexOfTopLevelItem(item) : -1);
    });
    connect(m_pName, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!m_bFilling) m_dialog.OnNameChange(text.toStdString());
    });
}

void CDesktopUsersView::ShowUsers(const std::vector<Row>& rows) {
    m_bFilling = true;
    m_pList->clear();
    for (const Row& row : rows) {
        auto* item = new QTreeWidgetItem(m_pList);
        item->setText(0, Q(row.name));
        item->setText(1, Q(row.folder));
        item->setToolTip(1, item->text(1));
    }
    m_pList->setCurrentItem(nullptr);
    m_bFilling = false;
}

void CDesktopUsersView::ShowOffer(const std::string& offered) {
    m_bFilling = true;
    m_pName->clear();
    if (!offered.empty()) {
        m_pName->addItem(Q(offered));
        m_pName->setCurrentIndex(0);
    } else {
        m_pName->setEditText(QString());
    }
    m_bFilling = false;
}

void CDesktopUsersView::SelectRow(int row) {
    m_bFilling = true;
    m_pList->setCurrentItem(m_pList->topLevelItem(row));
    m_bFilling = false;
}

void CDesktopUsersView::EnableAdd(bool enable) {
    m_pAdd->setEnabled(enable);
}

void CDesktopUsersView::EnableRemove(bool enable) {
    m_pRemove->setEnabled(enable);
}

bool CDesktopUsersView::AskYesNo(const std::string& text) {
    return m_askYesNo(text);
}

void CDesktopUsersView::ShowMessage(const std::string& text) {
    m_showMessage(text);
}
