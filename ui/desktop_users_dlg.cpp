#include "ui/desktop_users_dlg.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdio>
#include <vector>

#include "resources/strings/dialog_texts.h"
#include "shell/desktop_users.h"
#include "ui/dialog_template.h"

using namespace deskusers;

namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

constexpr int kResource = resources::kDlgDesktopUsers;

// id, kind, text, x y w h, style; one layout for both languages.
constexpr Control kControls[] = {
    {resources::kItemText1, Kind::kStatic, resources::kItemText1, {7, 6, 246, 26}, kWordWrap},
    {kIdList, Kind::kListView, 0, {7, 34, 246, 86}, kNoSortHeader | kBorder | kTabStop},
    {resources::kItemText2, Kind::kStatic, resources::kItemText2, {7, 128, 60, 8}, kNoStyle},
    {kIdName, Kind::kDropList, 0, {68, 126, 118, 60}, kTabStop},
    {kIdAdd, Kind::kPushButton, kIdAdd, {193, 125, 60, 14}, kTabStop},
    {kIdRemove, Kind::kPushButton, kIdRemove, {7, 150, 60, 14}, kTabStop},
    {kIdClose, Kind::kDefPushButton, kIdClose, {193, 150, 60, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{kResource, 260, 171, kControls};
constexpr int kNameColumnWidth = 130;  // for the classic 8 pt font

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Format(int item, const std::string& value) {
    const char* pattern = resources::LoadItemText(kResource, item);
    const int n = std::snprintf(nullptr, 0, pattern, value.c_str());
    std::vector<char> text(static_cast<size_t>(n > 0 ? n : 0) + 1);
    std::snprintf(text.data(), text.size(), pattern, value.c_str());
    return text.data();
}

}  // namespace

CDesktopUsersDlg::CDesktopUsersDlg(CDesktopUserStore& store, std::string offered, QWidget* parent)
    : QDialog(parent), m_store(store), m_strOffered(std::move(offered)) {
    m_askYesNo = [this](const std::string& text) {
        QMessageBox box(QMessageBox::Question, windowTitle(), Q(text),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    m_showMessage = [this](const std::string& text) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), Q(text), QMessageBox::Ok, this);
        box.exec();
    };
    BuildWindow();
    Refresh();
}

void CDesktopUsersDlg::BuildWindow() {
    setWindowTitle(Q(resources::LoadItemText(kResource, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dlg::CDialogBuilder builder(this, font());
    m_items = builder.Build(kTemplate);
    setFixedSize(builder.ClientSize(kTemplate));

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
    // The selection stays visible when the list loses the focus.
    QPalette palette = m_pList->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    m_pList->setPalette(palette);

    m_pList->setColumnCount(2);
    m_pList->setHeaderLabels(
        {Q(resources::LoadItemText(kResource, 1101)), Q(resources::LoadItemText(kResource, 1102))});
    m_pList->setColumnWidth(0, kNameColumnWidth * dlg::BaseUnitsOf(font()).x / 6);
    m_pList->header()->setStretchLastSection(true);

    connect(static_cast<QPushButton*>(m_items[kIdClose]), &QPushButton::clicked, this,
            &QDialog::accept);
    connect(m_pAdd, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(m_pRemove, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(m_pList, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
    connect(m_pName, &QComboBox::editTextChanged, this, [this] { UpdateButtons(); });
}

void CDesktopUsersDlg::Refresh() {
    m_pList->clear();
    bool offeredIsUser = false;
    for (const DesktopUser& user : m_store.Users()) {
        auto* item = new QTreeWidgetItem(m_pList);
        item->setText(0, Q(user.name));
        item->setText(1, Q(m_store.Root() + user.folder + "/Backup/"));
        item->setToolTip(1, item->text(1));
        item->setData(0, Qt::UserRole, QVariant::fromValue<uint>(user.id));
        offeredIsUser = offeredIsUser || user.name == m_strOffered;
    }
    m_pName->clear();
    if (!m_strOffered.empty() && !offeredIsUser) {
        m_pName->addItem(Q(m_strOffered));
        m_pName->setCurrentIndex(0);
    } else {
        m_pName->setEditText(QString());
    }
    UpdateButtons();
}

void CDesktopUsersDlg::UpdateButtons() {
    m_pAdd->setEnabled(!m_pName->currentText().isEmpty());
    m_pRemove->setEnabled(m_pList->currentItem() != nullptr);
}

void CDesktopUsersDlg::OnAdd() {
    const std::string name = m_pName->currentText().toStdString();
    if (name.empty()) return;
    DesktopUser added;
    switch (m_store.AddUser(name, &added)) {
        case CDesktopUserStore::AddResult::kAdded:
            m_bChanged = true;
            Refresh();
            for (int i = 0; i < m_pList->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = m_pList->topLevelItem(i);
                if (item->data(0, Qt::UserRole).toUInt() == added.id) m_pList->setCurrentItem(item);
            }
            return;
        case CDesktopUserStore::AddResult::kBadName:
            m_showMessage(Format(kMsgBadName, name));
            return;
        case CDesktopUserStore::AddResult::kNameTaken:
            m_showMessage(Format(kMsgNameTaken, name));
            return;
        case CDesktopUserStore::AddResult::kNotWritten:
            m_showMessage(Format(kMsgNotWritten, m_store.UsersFilePath()));
            return;
    }
}

void CDesktopUsersDlg::OnRemove() {
    const QTreeWidgetItem* item = m_pList->currentItem();
    if (!item) return;
    const uint32_t id = item->data(0, Qt::UserRole).toUInt();
    if (!m_askYesNo(Format(kMsgAskRemove, item->text(0).toStdString()))) return;
    if (m_store.RemoveUser(id)) {
        m_bChanged = true;
    } else {
        m_showMessage(Format(kMsgNotWritten, m_store.UsersFilePath()));
    }
    Refresh();
}
