#pragma once
// Draws a sidebar row's name cell: the name (bold while unread) and, on the right, the last
// message's time; below, the last message or a friend's status cut to the width, and the unread
// count in a badge. Fonts and their metrics are kept between paints; only what is on screen is
// drawn.

#include <QFont>
#include <QFontMetrics>
#include <QStyledItemDelegate>

#include <optional>

namespace brindlewick {

class SideRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The badge's text: the count, "999+" beyond; "" for none.
    static QString badgeText(qint64 unread);
    // Before a room's last message while the user's messages there wait or failed.
    static const QString kWaitingMark; // "전송 중"
    static const QString kFailedMark;  // "전송 실패"

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    struct Fonts {
        QFont base;
        QFont name;
        QFont bold;
        QFont small;
        QFontMetrics nameMetrics;
        QFontMetrics boldMetrics;
        QFontMetrics smallMetrics;
    };
    const Fonts& fontsFor(const QFont& base) const;

    mutable std::optional<Fonts> fonts_;
};

} // namespace brindlewick
