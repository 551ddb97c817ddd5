#include "ui/qt/readme_view.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/link_icons.h"

CReadmeView::CReadmeView() : QDialog(nullptr), m_dialog(*this) {
    const dlg::Template& tpl = readme::ReadmeTemplate();
    setWindowTitle(
        QString::fromUtf8(resources::LoadItemText(resources::kDlgReadme, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    dlg::CDialogBuilder builder(this, font());
    m_items = builder.Build(tpl);
    setFixedSize(builder.ClientSize(tpl));
    for (int id : {CReadmeDlg::kIdOk, CReadmeDlg::kIdAccept, CReadmeDlg::kIdCancel}) {
        connect(static_cast<QPushButton*>(m_items[id]), &QPushButton::clicked, this,
                [this, id] { m_dialog.OnButton(id); });
    }
}

QWidget* CReadmeView::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QPlainTextEdit* CReadmeView::TextBox() const {
    return static_cast<QPlainTextEdit*>(Item(CReadmeDlg::kIdText));
}

int CReadmeView::exec() {
    setWindowIcon(linkicons::ApplicationIcon());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_dialog.OnInitDialog();
    QApplication::restoreOverrideCursor();
    return QDialog::exec();
}

void CReadmeView::reject() {
    m_dialog.OnCancel();
}

void CReadmeView::ShowButtons(bool licence) {
    Item(CReadmeDlg::kIdAccept)->setVisible(licence);
    Item(CReadmeDlg::kIdCancel)->setVisible(licence);
    Item(CReadmeDlg::kIdOk)->setVisible(!licence);
}

void CReadmeView::SetText(const std::string& text) {
    TextBox()->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    TextBox()->moveCursor(QTextCursor::Start);
}

void CReadmeView::SetCaption(const std::string& text) {
    setWindowTitle(QString::fromUtf8(text.c_str()));
}

void CReadmeView::FocusItem(int id) {
    if (QWidget* w = Item(id)) w->setFocus();
}

void CReadmeView::EndDialog(int result) {
    done(result);
}
