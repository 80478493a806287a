#include "user_picture.h"

#include <QPainter>
#include <QPainterPath>

namespace brindlewick {

QPixmap genericUserPicture() {
    // Kept as an image: a static pixmap would outlive the application object.
    static const QImage picture = [] {
        QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xd8, 0xd8, 0xd8));
        painter.drawEllipse(QRectF(0, 0, 64, 64));
        painter.setBrush(QColor(0x9a, 0x9a, 0x9a));
        painter.drawEllipse(QRectF(21, 12, 22, 22));
        QPainterPath shoulders;
        shoulders.moveTo(12, 56);
        shoulders.cubicTo(14, 40, 50, 40, 52, 56);
        shoulders.closeSubpath();
        painter.drawPath(shoulders);
        return image;
    }();
    return QPixmap::fromImage(picture);
}

} // namespace brindlewick
