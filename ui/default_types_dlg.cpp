#include "ui/default_types_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "resources/strings/dialog_texts.h"
#include "ui/dialog_template.h"
#include "ui/link_icons.h"

namespace {

using namespace defaulttypes;
using dlg::Control;
using dlg::Kind;

constexpr int kNoId = -1;

// id, kind, text, x y w h, style. One layout serves both languages; the German lines are
// the longer ones.
constexpr Control kControls[] = {
    {kIdIcon, Kind::kIcon, 0, {8, 8, 21, 20}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, resources::kItemText1, {38, 8, 200, 9}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, resources::kItemText2, {38, 18, 200, 9}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, resources::kItemText3, {38, 33, 200, 9}, dlg::kNoStyle},
    {kIdDontAsk, Kind::kCheckBox, kIdDontAsk, {38, 49, 200, 10}, dlg::kTabStop},
    {kIdYes, Kind::kDefPushButton, kIdYes, {38, 67, 56, 14}, dlg::kTabStop},
    {kIdNo, Kind::kPushButton, kIdNo, {100, 67, 56, 14}, dlg::kTabStop},
    {kIdHelp, Kind::kPushButton, kIdHelp, {182, 67, 56, 14}, dlg::kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgDefaultTypes, 246, 89, kControls};

}  // namespace

CDefaultTypesDlg::CDefaultTypesDlg(QWidget* parent, std::function<void()> onHelp)
    : QDialog(parent), m_onHelp(std::move(onHelp)) {
    setWindowTitle(QString::fromUtf8(
        resources::LoadItemText(resources::kDlgDefaultTypes, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(linkicons::ApplicationIcon());

    auto* client = new QWidget(this);
    dlg::CDialogBuilder builder(client, font());
    m_items = builder.Build(kTemplate);
    const QSize size = builder.ClientSize(kTemplate);
    client->setGeometry(0, 0, size.width(), size.height());
    setFixedSize(size);

    auto* icon = static_cast<QLabel*>(Item(kIdIcon));
    icon->setPixmap(linkicons::ApplicationIcon().pixmap(std::min(icon->width(), icon->height())));
    connect(static_cast<QPushButton*>(Item(kIdYes)), &QPushButton::clicked, this,
            [this] { OnAnswer(kIdYes); });
    connect(static_cast<QPushButton*>(Item(kIdNo)), &QPushButton::clicked, this,
            [this] { OnAnswer(kIdNo); });
    connect(static_cast<QPushButton*>(Item(kIdHelp)), &QPushButton::clicked, this, [this] {
        if (m_onHelp) m_onHelp();
    });
    Item(kIdYes)->setFocus();
}

QWidget* CDefaultTypesDlg::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

void CDefaultTypesDlg::showEvent(QShowEvent* event) {
    static_cast<QCheckBox*>(Item(kIdDontAsk))->setChecked(m_nDontAsk != 0);
    QDialog::showEvent(event);
}

void CDefaultTypesDlg::OnAnswer(int result) {
    m_nDontAsk = static_cast<QCheckBox*>(Item(kIdDontAsk))->isChecked() ? 1 : 0;
    done(result);
}

void CDefaultTypesDlg::reject() {
    done(IDefaultTypesQuestion::kNoAnswer);
}

IDefaultTypesQuestion::Answer CDefaultTypesQuestion::Ask(bool& dontAsk) {
    CDefaultTypesDlg dialog(m_pParent, m_onHelp);
    dialog.m_nDontAsk = dontAsk ? 1 : 0;
    const int result = dialog.exec();
    if (result == kYes || result == kNo) {
        dontAsk = dialog.m_nDontAsk != 0;
        return static_cast<Answer>(result);
    }
    return kNoAnswer;
}
