#include "ui/readme_dlg.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>

#include "resources/strings/dialog_texts.h"
#include "ui/dialog_template.h"
#include "ui/link_icons.h"

namespace {

using dlg::Control;
using dlg::Kind;
using namespace dlg;  // styles

// id, kind, text, x y w h, style. OK and "Don't accept" share a place: only one shows.
constexpr Control kEnglish[] = {
    {CReadmeDlg::kIdText, Kind::kEdit, 0, {7, 7, 286, 166}, kVScroll | kHScroll | kReadOnly},
    {CReadmeDlg::kIdAccept, Kind::kPushButton, CReadmeDlg::kIdAccept, {177, 180, 56, 14}, kTabStop},
    {CReadmeDlg::kIdCancel, Kind::kPushButton, CReadmeDlg::kIdCancel, {237, 180, 56, 14}, kTabStop},
    {CReadmeDlg::kIdOk, Kind::kDefPushButton, CReadmeDlg::kIdOk, {237, 180, 56, 14}, kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgReadme, 300, 201, kEnglish};

}  // namespace

CReadmeDlg::CReadmeDlg() : QDialog(nullptr) {
    setWindowTitle(
        QString::fromUtf8(resources::LoadItemText(resources::kDlgReadme, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    dlg::CDialogBuilder builder(this, font());
    m_items = builder.Build(kTemplate);
    setFixedSize(builder.ClientSize(kTemplate));
    const auto button = [this](int id) { return static_cast<QPushButton*>(m_items[id]); };
    connect(button(kIdOk), &QPushButton::clicked, this, [this] { done(kIdOk); });
    connect(button(kIdAccept), &QPushButton::clicked, this, [this] { done(kIdOk); });
    connect(button(kIdCancel), &QPushButton::clicked, this, [this] { done(kIdCancel); });
}

QWidget* CReadmeDlg::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QPlainTextEdit* CReadmeDlg::TextBox() const {
    return static_cast<QPlainTextEdit*>(Item(kIdText));
}

QString CReadmeDlg::LoadText(const std::string& strPath, qint64 nMaxBytes) {
    QFile file(QFile::decodeName(strPath.c_str()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.read(nMaxBytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) text = QString::fromLatin1(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

void CReadmeDlg::InitDialog() {
    setWindowIcon(linkicons::ApplicationIcon());
    Item(kIdAccept)->setVisible(m_bLicence);
    Item(kIdCancel)->setVisible(m_bLicence);
    Item(kIdOk)->setVisible(!m_bLicence);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TextBox()->setPlainText(LoadText(m_strPath));
    QApplication::restoreOverrideCursor();
    TextBox()->moveCursor(QTextCursor::Start);
    setWindowTitle(QString::fromUtf8(m_strCaption.c_str()));
    // A licence is not accepted by a stray Enter.
    (m_bLicence ? Item(kIdCancel) : Item(kIdOk))->setFocus();
}

int CReadmeDlg::exec() {
    InitDialog();
    return QDialog::exec();
}

void CReadmeDlg::reject() {
    done(kIdCancel);
}
