#include "ui/qt/default_types_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/link_icons.h"

using namespace defaulttypes;

CDefaultTypesView::CDefaultTypesView(QWidget* parent, std::function<void()> onHelp)
    : QDialog(parent), m_dialog(*this, std::move(onHelp)) {
    const dlg::Template& tpl = DefaultTypesTemplate();
    setWindowTitle(QString::fromUtf8(
        resources::LoadItemText(resources::kDlgDefaultTypes, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(linkicons::ApplicationIcon());

    auto* client = new QWidget(this);
    dlg::CDialogBuilder builder(client, font());
    m_items = builder.Build(tpl);
    const QSize size = builder.ClientSize(tpl);
    client->setGeometry(0, 0, size.width(), size.height());
    setFixedSize(size);

    auto* icon = static_cast<QLabel*>(Item(kIdIcon));
    icon->setPixmap(linkicons::ApplicationIcon().pixmap(std::min(icon->width(), icon->height())));
    for (int id : {kIdYes, kIdNo}) {
        connect(static_cast<QPushButton*>(Item(id)), &QPushButton::clicked, this,
                [this, id] { m_dialog.OnAnswer(id); });
    }
    connect(static_cast<QPushButton*>(Item(kIdHelp)), &QPushButton::clicked, this,
            [this] { m_dialog.OnHelp(); });
    Item(kIdYes)->setFocus();
}

QWidget* CDefaultTypesView::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

void CDefaultTypesView::showEvent(QShowEvent* event) {
    m_dialog.OnInitDialog();
    QDialog::showEvent(event);
}

void CDefaultTypesView::reject() {
    m_dialog.OnCancel();
}

void CDefaultTypesView::SetDontAsk(bool checked) {
    static_cast<QCheckBox*>(Item(kIdDontAsk))->setChecked(checked);
}

bool CDefaultTypesView::DontAsk() const {
    return static_cast<QCheckBox*>(Item(kIdDontAsk))->isChecked();
}

void CDefaultTypesView::EndDialog(int result) {
    done(result);
}

CDefaultTypesQuestion::Runner DefaultTypesRunner(QWidget* parent, std::function<void()> onHelp) {
    return [parent, onHelp](int& dontAsk) {
        CDefaultTypesView dialog(parent, onHelp);
        dialog.Dialog().m_nDontAsk = dontAsk;
        const int result = dialog.exec();
        dontAsk = dialog.Dialog().m_nDontAsk;
        return result;
    };
}
