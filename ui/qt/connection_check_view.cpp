#include "ui/qt/connection_check_view.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"

namespace {

using namespace conncheck;
using dlg::Control;
using dlg::Kind;

// id, kind, text, x y w h, style. One layout for both languages: long lines of the report
// wrap, and it scrolls down.
constexpr Control kControls[] = {
    {kIdReport,
     Kind::kEdit,
     0,
     {7, 7, 386, 200},
     dlg::kReadOnly | dlg::kVScroll | dlg::kBorder | dlg::kTabStop},
    {kIdAgain, Kind::kPushButton, kIdAgain, {7, 213, 70, 14}, dlg::kTabStop},
    {kIdClose, Kind::kDefPushButton, kIdClose, {323, 213, 70, 14}, dlg::kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgConnectionCheck, 400, 234, kControls};

}  // namespace

CConnectionCheckView::CConnectionCheckView(IConnectionProbe& probe, const ISettingsStore& settings,
                                           const std::string& port, QWidget* parent)
    : QDialog(parent) {
    m_items = dlg::BuildFixedDialog(*this, kTemplate);
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
