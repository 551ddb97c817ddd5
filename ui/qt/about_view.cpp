#include "ui/qt/about_view.h"

#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "resources/strings/dialog_texts.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/link_icons.h"

using namespace about;

namespace {

CAboutDlg::Opener DesktopOpener(CAboutDlg::Opener open) {
    if (open) return open;
    return [](const std::string& address) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
    };
}

}  // namespace

CAboutView::CAboutView(QWidget* parent, CAboutDlg::Opener openAddress)
    : QDialog(parent), m_dialog(*this, DesktopOpener(std::move(openAddress))) {
    const dlg::Template& tpl = AboutTemplate();
    setWindowTitle(
        QString::fromUtf8(resources::LoadItemText(resources::kDlgAbout, resources::kItemCaption)));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    m_pClient = new QWidget(this);
    dlg::CDialogBuilder builder(m_pClient, font());
    m_items = builder.Build(tpl);
    const QSize size = builder.ClientSize(tpl);
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
    connect(static_cast<QPushButton*>(Item(kIdOk)), &QPushButton::clicked, this, &QDialog::accept);

    m_dialog.OnInitDialog();
    ColourLinks();
}

QWidget* CAboutView::Item(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

bool CAboutView::ControlRect(int id, dlg::PxRect& rect) const {
    const QWidget* w = Item(id);
    if (!w) return false;
    const QRect r = w->geometry();
    rect = {r.x(), r.y(), r.width(), r.height()};
    return true;
}

void CAboutView::SetItemText(int id, const std::string& text) {
    if (auto* label = qobject_cast<QLabel*>(Item(id))) label->setText(QString::fromStdString(text));
}

void CAboutView::SetLinkCursor(bool hand) {
    m_pClient->setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CAboutView::ColourLinks() {
    const QColor highlight = palette().color(QPalette::Highlight);
    for (QObject* child : m_pClient->children()) {
        auto* label = qobject_cast<QLabel*>(child);
        if (!label) continue;
        QPalette colours = m_pClient->palette();
        if (CAboutDlg::IsLinkText(label->text().toStdString())) {
            colours.setColor(QPalette::WindowText, highlight);
        }
        label->setPalette(colours);
    }
}

bool CAboutView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pClient) {
        if (event->type() == QEvent::MouseMove) {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            m_dialog.OnMouseMove(p.x(), p.y());
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint p = mouse->position().toPoint();
            if (mouse->button() == Qt::LeftButton && m_dialog.OnLButtonUp(p.x(), p.y())) {
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CAboutView::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) ColourLinks();
}
