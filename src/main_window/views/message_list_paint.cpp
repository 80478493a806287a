// Painting the rows on screen: bubbles, names, pictures, quotes, thumbnails, text with its
// links, marks and selection, times and send states, and the line rows.

#include "message_list_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace brindlewick {

namespace {

constexpr int kBubbleRadius = 10;

const QPixmap& placeholderPicture() {
    static const QPixmap picture = [] {
        QPixmap p =
            QPixmap::fromImage(QImage(QStringLiteral(":/brindlewick/views/user.png"))
                                   .scaled(MessageLayout::kPictureSize, MessageLayout::kPictureSize,
                                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        return p;
    }();
    return picture;
}

} // namespace

void MessageListView::useColors() {
    colors_ = TranscriptColors::forPalette(palette(), ++colorsGeneration_);
}

void MessageListView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        useColors();
        viewport()->update();
    } else if (event->type() == QEvent::FontChange) {
        fonts_ = TranscriptFonts::fromApplication();
        relayoutAll();
    }
    QAbstractScrollArea::changeEvent(event);
}

void MessageListView::paintEvent(QPaintEvent* event) {
    if (settlePending_)
        settle();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const int first = anchorRow();
    if (first < 0)
        return;
    const int height = viewport()->height();
    int y = firstRowTop();
    for (int row = first; row < model_->size() && y < height; ++row) {
        const int h = heightOf(row);
        if (y + h > 0)
            paintRow(painter, row, y, event->rect());
        y += h;
    }
}

void MessageListView::paintRow(QPainter& painter, int row, int y, const QRect&) {
    const MessageLayout& layout = layoutOf(row);
    const TranscriptRow& r = model_->row(row);
    if (r.kind == RowKind::Message)
        paintMessage(painter, row, layout, y);
    else
        paintLine(painter, r, layout, y);
}

void MessageListView::paintLine(QPainter& painter, const TranscriptRow& r,
                                const MessageLayout& layout, int y) {
    const QRect rect = layout.lineRect.translated(0, y);
    if (r.kind == RowKind::Notice) {
        painter.setFont(fonts_.small);
        painter.setPen(colors_.secondary);
        painter.drawText(rect, Qt::AlignHCenter | Qt::TextWordWrap, layout.lineText);
        return;
    }
    const bool readLine = r.kind == RowKind::ReadLine;
    const QFont& font = readLine ? fonts_.quoteName : fonts_.small;
    const QColor& color = readLine ? colors_.readLine : colors_.secondary;
    painter.setFont(font);
    painter.setPen(color);
    const int textWidth = QFontMetrics(font).horizontalAdvance(layout.lineText);
    painter.drawText(rect, Qt::AlignCenter, layout.lineText);
    if (r.kind == RowKind::Beginning)
        return;
    // Hairlines either side of the text.
    QColor hair = color;
    hair.setAlphaF(readLine ? 0.8f : 0.35f);
    painter.setPen(QPen(hair, 1));
    const int mid = rect.center().y() + 1;
    const int gap = textWidth / 2 + 10;
    const int cx = rect.center().x();
    if (cx - gap > rect.left())
        painter.drawLine(rect.left(), mid, cx - gap, mid);
    if (cx + gap < rect.right())
        painter.drawLine(cx + gap, mid, rect.right(), mid);
}

void MessageListView::paintMessage(QPainter& painter, int row, const MessageLayout& layout, int y) {
    const ChatItem& item = model_->row(row).item;
    const int seq = model_->seqOf(row);
    const bool mine = item.mine;
    painter.save();
    painter.translate(0, y);
    if (seq == currentSeq_)
        painter.fillRect(
            QRect(0, layout.bubble.top() - 2, viewport()->width(), layout.bubble.height() + 4),
            colors_.current);
    if (layout.header) {
        QPixmap picture = decorations_ ? decorations_->picture(item.pictureKey) : QPixmap();
        if (picture.isNull())
            picture = placeholderPicture();
        QPainterPath circle;
        circle.addEllipse(QRectF(layout.picture));
        painter.save();
        painter.setClipPath(circle);
        painter.drawPixmap(layout.picture, picture);
        painter.restore();
        painter.setFont(fonts_.name);
        painter.setPen(colors_.name);
        painter.drawText(layout.nameRect, Qt::AlignLeft | Qt::AlignVCenter, layout.name);
    }
    const QColor& bubble = mine ? colors_.ownBubble : colors_.otherBubble;
    const QColor& text = mine ? colors_.ownText : colors_.otherText;
    const QColor& note = mine ? colors_.ownNote : colors_.otherNote;
    const QColor& link = mine ? colors_.ownLink : colors_.otherLink;
    painter.setPen(Qt::NoPen);
    painter.setBrush(bubble);
    painter.drawRoundedRect(layout.bubble, kBubbleRadius, kBubbleRadius);
    if (!layout.quote.isEmpty()) {
        painter.fillRect(QRect(layout.quote.left(), layout.quote.top(), 2, layout.quote.height()),
                         colors_.quoteBar);
        const QFontMetrics nameMetrics(fonts_.quoteName);
        painter.setFont(fonts_.quoteName);
        painter.setPen(text);
        painter.drawText(QPoint(layout.quote.left() + 8, layout.quote.top() + nameMetrics.ascent()),
                         layout.quoteName);
        painter.setFont(fonts_.small);
        painter.setPen(note);
        painter.drawText(QPoint(layout.quote.left() + 8, layout.quote.top() + nameMetrics.height() +
                                                             2 +
                                                             QFontMetrics(fonts_.small).ascent()),
                         layout.quoteText);
    }
    if (!layout.thumbnail.isEmpty() && decorations_) {
        const QImage thumb = decorations_->thumbnail(item.fileId);
        if (!thumb.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(layout.thumbnail, thumb);
        }
    }
    if (layout.body) {
        QList<QTextLayout::FormatRange> ranges;
        const int length = int(layout.body->text().size());
        if (item.deleted || (item.isFile && !layout.fileLink)) {
            QTextLayout::FormatRange r;
            r.start = 0;
            r.length = length;
            r.format.setForeground(note);
            ranges.append(r);
        } else if (item.isFile) {
            QTextLayout::FormatRange r;
            r.start = 0;
            r.length = layout.bodyLength;
            r.format.setForeground(link);
            ranges.append(r);
        }
        for (const LinkSpan& span : layout.links) {
            QTextLayout::FormatRange r;
            r.start = span.start;
            r.length = span.length;
            r.format.setForeground(link);
            ranges.append(r);
        }
        if (layout.bodyLength < length) { // " (수정됨)"
            QTextLayout::FormatRange r;
            r.start = layout.bodyLength;
            r.length = length - layout.bodyLength;
            r.format.setForeground(note);
            ranges.append(r);
        }
        if (decorations_)
            for (const RowMark& mark : decorations_->marks(row)) {
                QTextLayout::FormatRange r;
                r.start = mark.start;
                r.length = mark.length;
                r.format.setBackground(mark.current ? colors_.findCurrent : colors_.find);
                r.format.setForeground(colors_.findText);
                ranges.append(r);
            }
        if (seq == selectionSeq_ && selectionAnchor_ != selectionEnd_) {
            QTextLayout::FormatRange r;
            r.start = std::min(selectionAnchor_, selectionEnd_);
            r.length = std::abs(selectionEnd_ - selectionAnchor_);
            r.format.setBackground(colors_.selection);
            r.format.setForeground(colors_.selectionText);
            ranges.append(r);
        }
        painter.setPen(text);
        layout.body->draw(&painter, layout.bodyAt, ranges);
    }
    if (!layout.sizeRect.isEmpty()) {
        painter.setFont(fonts_.small);
        painter.setPen(note);
        painter.drawText(layout.sizeRect, Qt::AlignLeft | Qt::AlignVCenter, layout.sizeText);
    }
    // An unsent message says so where its time goes.
    QString stamp;
    if (item.sendState == SendState::Waiting)
        stamp = kWaitingText;
    else if (item.sendState == SendState::Failed)
        stamp = kFailedText;
    else if (showsTime(row))
        stamp = item.time;
    if (!stamp.isEmpty()) {
        painter.setFont(fonts_.small);
        painter.setPen(item.sendState == SendState::Failed ? colors_.failed : colors_.secondary);
        const QFontMetrics metrics(fonts_.small);
        const int w = metrics.horizontalAdvance(stamp);
        const int x = mine ? layout.bubble.left() - 5 - w : layout.bubble.right() + 6;
        painter.drawText(QPoint(x, layout.bubble.bottom() - metrics.descent() - 1), stamp);
    }
    painter.restore();
}

} // namespace brindlewick
