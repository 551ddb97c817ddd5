#include "ui/about_dlg.h"

#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "cc_version.h"
#include "resources/strings/dialog_texts.h"
#include "ui/dialog_template.h"
#include "ui/link_icons.h"
#include "ui/links.h"

namespace {

using namespace about;
using dlg::Control;
using dlg::Kind;
using resources::kItemText1;
using resources::kItemText2;

constexpr int kNoId = -1;  // statics without an id of their own

// id, kind, text, x y w h, style. The texts are wider than in the classic template, as our
// dialog font needs, and the links' areas grow with them; the usage note may take two lines.
constexpr Control kControls[] = {
    {kIdName, Kind::kStatic, kItemText1, {43, 10, 124, 9}, dlg::kNoStyle},
    {kNoId, Kind::kStatic, kItemText2, {43, 23, 135, 9}, dlg::kNoStyle},
    {kIdNote, Kind::kStatic, 0, {43, 37, 135, 18}, dlg::kWordWrap},
    {kIdWeb, Kind::kStatic, 0, {43, 58, 120, 9}, dlg::kNoStyle},
    {kIdHiddenIcon, Kind::kIcon, 0, {10, 58, 21, 20}, dlg::kNoStyle},
    {kIdMail, Kind::kStatic, 0, {43, 71, 120, 9}, dlg::kNoStyle},
    {kIdAppIcon, Kind::kIcon, 0, {10, 10, 21, 20}, dlg::kNoStyle},
    {kIdOk, Kind::kDefPushButton, kIdOk, {71, 97, 40, 14}, dlg::kTabStop},
};
constexpr dlg::Template kTemplate{resources::kDlgAbout, 183, 119, kControls};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent, Opener openAddress)
    : QDialog(parent), m_open(std::move(openAddress)) {
    if (!m_open) {
        m_open = [](const std::string& address) { QDesktopServices::openUrl(QUrl(Q(address))); };
    }
    setWindowTitle(
        QString::fromUtf8(resources::LoadItemText(resources::kDlgAbout, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    m_pClient = new QWidget(this);
    dlg::CDialogBuilder builder(m_pClient, font());
    m_items = builder.Build(kTemplate);
    const QSize size = builder.ClientSize(kTemplate);
    m_pClient->setGeometry(0, 0, size.width(), size.height());
    setFixedSize(size);

    // The statics and icons let the mouse through to the dialog, as statics without the
    // notify style do; the dialog's own area then sees every move and release.
    for (QObject* child : m_pClient->children()) {
        if (auto* label = qobject_cast<QLabel*>(child)) {
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
    }
    m_pClient->setMouseTracking(true);
    m_pClient->installEventFilter(this);

    const int iconSize = std::min(Item(kIdAppIcon)->width(), Item(kIdAppIcon)->height());
    static_cast<QLabel*>(Item(kIdAppIcon))
        ->setPixmap(linkicons::ApplicationIcon().pixmap(iconSize));
    static_cast<QLabel*>(Item(kIdHiddenIcon))->setPixmap(linkicons::AnimationFrame(0, iconSize));
    Item(kIdHiddenIcon)->hide();
    // The name with the version the build gave the whole program.
    auto* name = static_cast<QLabel*>(Item(kIdName));
    name->setText(name->text().replace(QStringLiteral("%s"), QStringLiteral(CC_VERSION)));
    static_cast<QLabel*>(Item(kIdWeb))->setText(QString::fromUtf8(links::kWebSite));
    static_cast<QLabel*>(Item(kIdMail))->setText(QString::fromUtf8(links::kSupportMail));
    connect(static_cast<QPushButton*>(Item(kIdOk)), &QPushButton::clicked, this, &QDialog::accept);

    // Initialisation: the usage note through the member, then the link colours.
    m_strText = resources::LoadString(resources::kIdsAboutNote);
    static_cast<QLabel*>(Item(kIdNote))->setText(QString::fromUtf8(m_strText.c_str()));
    ColourLinks();
}

QWidget* CAboutDlg::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

bool CAboutDlg::HitTest(int id, const QPoint& point) const {
    const QWidget* w = id == kNoId ? nullptr : Item(id);
    return w && w->geometry().contains(point);
}

void CAboutDlg::OnMouseMove(const QPoint& point) {
    if (HitTest(kIdMail, point) || HitTest(kIdHiddenIcon, point) || HitTest(kIdWeb, point)) {
        m_pClient->setCursor(Qt::PointingHandCursor);
    } else {
        m_pClient->setCursor(Qt::ArrowCursor);
    }
}

bool CAboutDlg::OnLButtonUp(const QPoint& point) {
    if (HitTest(kIdMail, point)) {
        m_open(std::string("mailto:") + links::kSupportMail);
    } else if (HitTest(kIdWeb, point) || HitTest(kIdHiddenIcon, point)) {
        m_open(links::kWebSite);
    } else {
        return false;
    }
    return true;
}

void CAboutDlg::ColourLinks() {
    const QString web = QString::fromUtf8(links::kWebSite);
    const QString mail = QString::fromUtf8(links::kSupportMail);
    const QColor highlight = palette().color(QPalette::Highlight);
    for (QObject* child : m_pClient->children()) {
        auto* label = qobject_cast<QLabel*>(child);
        if (!label) continue;
        QPalette colours = m_pClient->palette();
        if (label->text() == web || label->text() == mail) {
            colours.setColor(QPalette::WindowText, highlight);
        }
        label->setPalette(colours);
    }
}

bool CAboutDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pClient) {
        if (event->type() == QEvent::MouseMove) {
            OnMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && OnLButtonUp(mouse->position().toPoint())) {
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CAboutDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) ColourLinks();
}
