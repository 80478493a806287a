#include "tray_badge.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace brindlewick {

namespace {

// Panels ask for these; rendering each keeps the digits sharp instead of scaled.
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128};

QIcon builtInIcon() {
    QSvgRenderer renderer(QStringLiteral(":/brindlewick/app/org.brindlewick.Brindlewick.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (const int size : kSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon applicationIcon() {
    return QIcon::fromTheme(QStringLiteral("org.brindlewick.Brindlewick"), builtInIcon());
}

QString badgeText(qint64 count) {
    if (count <= 0)
        return QString();
    return count > 99 ? QStringLiteral("99+") : QString::number(count);
}

QIcon badgedIcon(const QIcon& base, qint64 count) {
    const QString text = badgeText(count);
    if (text.isEmpty())
        return base;
    QIcon badged;
    for (const int size : kSizes) {
        QPixmap pixmap = base.pixmap(size, size);
        if (pixmap.isNull()) {
            pixmap = QPixmap(size, size);
            pixmap.fill(Qt::transparent);
        }
        // The disc covers most of a small icon: the number is what matters there.
        const qreal diameter = size * (text.size() > 1 ? 0.72 : 0.6);
        const QRectF disc(size - diameter, 0, diameter, diameter);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xd9, 0x30, 0x25));
        painter.drawEllipse(disc);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(std::max(6, static_cast<int>(diameter * (text.size() > 2 ? 0.42 : 0.6))));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(disc, Qt::AlignCenter, text);
        painter.end();
        badged.addPixmap(pixmap);
    }
    return badged;
}

} // namespace brindlewick
