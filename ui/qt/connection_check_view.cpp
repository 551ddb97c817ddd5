#include "ui/qt/connection_check_view.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"

using namespace conncheck;

CConnectionCheckView::CConnectionCheckView(IConnectionProbe& probe, const ISettingsStore& settings,
                                           const std::string& port, QWidget* parent)
    : QDialog(parent) {
    m_items = dlg::BuildFixedDialog(*this, ConnectionCheckTemplate());
    m_pLogic = std::make_unique<CConnectionCheckDlg>(probe, settings, port, *this);
    connect(static_cast<QPushButton*>(Item(kIdAgain)), &QPushButton::clicked, this,
            [this] { m_pLogic->OnCheckAgain(); });
    connect(static_cast<QPushButton*>(Item(kIdClose)), &QPushButton::clicked, this,
            &QDialog::accept);
}

QWidget* CConnectionCheckView::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QPlainTextEdit* CConnectionCheckView::ReportBox() const {
    return static_cast<QPlainTextEdit*>(Item(kIdReport));
}

void CConnectionCheckView::showEvent(QShowEvent* event) {
    if (!m_bShown) {
        m_bShown = true;
        m_pLogic->OnInitDialog();
        Item(kIdClose)->setFocus();
    }
    QDialog::showEvent(event);
}

void CConnectionCheckView::ShowReport(const std::string& text, bool) {
    ReportBox()->setPlainText(QString::fromStdString(text));
}
