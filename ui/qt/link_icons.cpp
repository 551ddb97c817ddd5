#include "ui/qt/link_icons.h"

#include <QPainter>
#include <QSvgRenderer>

namespace linkicons {
namespace {

QPixmap Render(const QString& resource, int size) {
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid()) return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(Render(QStringLiteral(":/icons/application.svg"), size));
    }
    return icon;
}

QPixmap AnimationFrame(int frame, int size) {
    if (frame < 0 || frame > 13 || size <= 0) return {};
    return Render(QStringLiteral(":/icons/link_%1.svg").arg(frame, 2, 10, QLatin1Char('0')), size);
}

}  // namespace linkicons
