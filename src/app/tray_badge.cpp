#include "tray_badge.h"

#include <QFont>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <memory>

namespace brindlewick {

namespace {

// Draws the application's picture and, with a text, the red disc over it; at whatever size a
// panel asks for, and only then, so a size nobody looks at costs nothing.
class BadgeEngine : public QIconEngine {
public:
    BadgeEngine(std::shared_ptr<QSvgRenderer> svg, QString text)
        : svg_(std::move(svg)), text_(std::move(text)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        svg_->render(painter, rect);
        if (text_.isEmpty())
            return;
        const qreal size = std::min(rect.width(), rect.height());
        // The disc covers most of a small icon: the number is what matters there.
        const qreal diameter = size * (text_.size() > 1 ? 0.72 : 0.6);
        const QRectF disc(rect.right() + 1 - diameter, rect.top(), diameter, diameter);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0xd9, 0x30, 0x25));
        painter->drawEllipse(disc);
        QFont font = painter->font();
        font.setBold(true);
        font.setPixelSize(
            std::max(6, static_cast<int>(diameter * (text_.size() > 2 ? 0.42 : 0.6))));
        painter->setFont(font);
        painter->setPen(Qt::white);
        painter->drawText(disc, Qt::AlignCenter, text_);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        // What panels ask for; any other size is drawn as well.
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24),
                QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine* clone() const override { return new BadgeEngine(svg_, text_); }
    QString key() const override { return QStringLiteral("brindlewick-badge"); }

private:
    std::shared_ptr<QSvgRenderer> svg_;
    QString text_;
};

std::shared_ptr<QSvgRenderer> builtInPicture() {
    // Parsed once; drawing it at a size is what each size costs.
    static const std::shared_ptr<QSvgRenderer> renderer = [] {
        auto svg = std::make_shared<QSvgRenderer>(
            QStringLiteral(":/brindlewick/app/org.brindlewick.Brindlewick.svg"));
        return svg->isValid() ? svg : nullptr;
    }();
    return renderer;
}

} // namespace

QString badgeText(qint64 count) {
    if (count <= 0)
        return QString();
    return count > 99 ? QStringLiteral("99+") : QString::number(count);
}

QIcon applicationIcon(qint64 unread) {
    if (!builtInPicture())
        return QIcon();
    return QIcon(new BadgeEngine(builtInPicture(), badgeText(unread)));
}

} // namespace brindlewick
