#include "side_row_delegate.h"

#include "readable_color.h"
#include "sidebar_model.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace brindlewick {

namespace {

constexpr int kMargin = 4;
constexpr int kGap = 6;

} // namespace

const QString SideRowDelegate::kWaitingMark = QStringLiteral("전송 중");
const QString SideRowDelegate::kFailedMark = QStringLiteral("전송 실패");

QString SideRowDelegate::badgeText(qint64 unread) {
    if (unread <= 0)
        return QString();
    return unread > 999 ? QStringLiteral("999+") : QString::number(unread);
}

const SideRowDelegate::Fonts& SideRowDelegate::fontsFor(const QFont& base) const {
    if (!fonts_ || fonts_->base != base) {
        QFont bold = base;
        bold.setBold(true);
        QFont small = base;
        if (base.pixelSize() > 0)
            small.setPixelSize(std::max(8, base.pixelSize() - 2));
        else
            small.setPointSizeF(std::max(6.0, base.pointSizeF() - 1.5));
        fonts_.emplace(Fonts{base, base, bold, small, QFontMetrics(base), QFontMetrics(bold),
                             QFontMetrics(small)});
    }
    return *fonts_;
}

void SideRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    // The style draws the background, selection and focus; the texts are drawn here.
    opt.text.clear();
    opt.icon = QIcon();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const QString name = index.data(SidebarModel::NameRole).toString();
    const QString second = index.data(SidebarModel::SecondLineRole).toString();
    const QString time = index.data(SidebarModel::TimeRole).toString();
    const qint64 unread = index.data(SidebarModel::UnreadRole).toLongLong();
    const Fonts& fonts = fontsFor(option.font);

    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        opt.state & QStyle::State_Enabled
            ? (opt.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive)
            : QPalette::Disabled;
    const QColor background =
        opt.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
    const QColor text =
        opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor dim = readableOn(QColor(0x6e, 0x6e, 0x73), background, kSecondaryContrast);

    const QRect area = opt.rect.adjusted(kMargin, 2, -kMargin, -2);
    const int top =
        area.top() +
        std::max(0, (area.height() - fonts.boldMetrics.height() - fonts.smallMetrics.height() - 2) /
                        2);
    const QRect firstLine(area.left(), top, area.width(), fonts.boldMetrics.height());
    const QRect secondLine(area.left(), firstLine.bottom() + 3, area.width(),
                           fonts.smallMetrics.height());

    painter->save();
    // First line: the time on the right, the name in what is left.
    int nameRight = firstLine.right();
    if (!time.isEmpty()) {
        painter->setFont(fonts.small);
        painter->setPen(selected ? text : dim);
        const int width = fonts.smallMetrics.horizontalAdvance(time);
        painter->drawText(
            QRect(firstLine.right() - width, firstLine.top(), width, firstLine.height()),
            Qt::AlignRight | Qt::AlignVCenter, time);
        nameRight -= width + kGap;
    }
    const bool bold = unread > 0;
    const QFontMetrics& nameMetrics = bold ? fonts.boldMetrics : fonts.nameMetrics;
    painter->setFont(bold ? fonts.bold : fonts.name);
    painter->setPen(text);
    const QRect nameRect(firstLine.left(), firstLine.top(), nameRight - firstLine.left() + 1,
                         firstLine.height());
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(name, Qt::ElideRight, nameRect.width()));

    // Second line: the badge on the right, the last message or status in what is left.
    int secondRight = secondLine.right();
    if (const QString badge = badgeText(unread); !badge.isEmpty()) {
        painter->setFont(fonts.small);
        const int height = fonts.smallMetrics.height() + 2;
        const int width =
            std::max(height, fonts.smallMetrics.horizontalAdvance(badge) + height / 2 + 2);
        const QRect pill(secondLine.right() - width + 1, secondLine.center().y() - height / 2,
                         width, height);
        const QColor fill = selected ? opt.palette.color(group, QPalette::HighlightedText)
                                     : QColor(0xc6, 0x28, 0x28);
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(pill, height / 2.0, height / 2.0);
        painter->fillPath(path, fill);
        painter->setPen(readableOn(selected ? background : QColor(Qt::white), fill));
        painter->drawText(pill, Qt::AlignCenter, badge);
        secondRight = pill.left() - kGap;
    }
    // A room with the user's messages still unsent says so before its last message.
    int secondLeft = secondLine.left();
    if (const int unsent = index.data(SidebarModel::UnsentRole).toInt();
        unsent != SidebarModel::NoneUnsent) {
        const bool failed = unsent == SidebarModel::FailedUnsent;
        const QString mark = failed ? kFailedMark : kWaitingMark;
        painter->setFont(fonts.small);
        painter->setPen(selected ? text
                        : failed
                            ? readableOn(QColor(0xc6, 0x28, 0x28), background, kSecondaryContrast)
                            : dim);
        const int width = fonts.smallMetrics.horizontalAdvance(mark);
        painter->drawText(QRect(secondLeft, secondLine.top(), width, secondLine.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, mark);
        secondLeft += width + kGap;
    }
    if (!second.isEmpty() && secondRight > secondLeft) {
        painter->setFont(fonts.small);
        painter->setPen(selected ? text : dim);
        const QRect rect(secondLeft, secondLine.top(), secondRight - secondLeft + 1,
                         secondLine.height());
        painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
                          fonts.smallMetrics.elidedText(second, Qt::ElideRight, rect.width()));
    }
    painter->restore();
}

} // namespace brindlewick
