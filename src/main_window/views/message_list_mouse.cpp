// The pointer and the clipboard over the transcript: which row and character lie under a point,
// clicks on links, files and thumbnails, selecting text inside one message, and copying.

#include "message_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>

#include <algorithm>

namespace brindlewick {

MessageListView::Hit MessageListView::hitAt(const QPoint& pos) {
    Hit hit;
    const auto [first, last] = shownRows();
    if (first < 0)
        return hit;
    for (int row = first; row <= last; ++row) {
        const QRect rect = visualRect(row);
        if (rect.contains(pos)) {
            hit.row = row;
            hit.y = rect.top();
            hit.layout = &layoutOf(row);
            return hit;
        }
    }
    return hit;
}

int MessageListView::bodyPositionAt(const Hit& hit, const QPoint& pos) const {
    if (!hit.layout || !hit.layout->body)
        return -1;
    const QPointF local = QPointF(pos) - hit.layout->bodyAt - QPointF(0, hit.y);
    QTextLayout& body = *hit.layout->body;
    const QRectF bounds = body.boundingRect();
    if (local.y() < 0 || local.y() > bounds.height())
        return -1;
    for (int i = 0; i < body.lineCount(); ++i) {
        const QTextLine line = body.lineAt(i);
        if (local.y() >= line.y() && local.y() < line.y() + line.height())
            return line.xToCursor(local.x());
    }
    return -1;
}

int MessageListView::rowAt(const QPoint& viewportPos) {
    return hitAt(viewportPos).row;
}

int MessageListView::currentRow() const {
    return model_ ? model_->indexOfSeq(currentSeq_) : -1;
}

void MessageListView::setCurrentRow(int row) {
    const int seq = model_ && model_->message(row) ? model_->seqOf(row) : -1;
    if (seq == currentSeq_)
        return;
    currentSeq_ = seq;
    viewport()->update();
    emit currentRowChanged(row);
}

void MessageListView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    const Hit hit = hitAt(pos);
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        setCurrentRow(hit.row);
    if (event->button() != Qt::LeftButton || hit.row < 0 || !model_->message(hit.row)) {
        if (event->button() == Qt::LeftButton && selectionSeq_ >= 0) {
            selectionSeq_ = -1;
            viewport()->update();
        }
        return;
    }
    const int position = bodyPositionAt(hit, pos);
    selectionSeq_ = model_->seqOf(hit.row);
    selectionAnchor_ = selectionEnd_ = position;
    selecting_ = position >= 0;
    viewport()->update();
}

void MessageListView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (selecting_ && (event->buttons() & Qt::LeftButton)) {
        const int row = model_->indexOfSeq(selectionSeq_);
        const QRect rect = visualRect(row);
        if (row < 0)
            return;
        Hit hit{row, rect.isEmpty() ? 0 : rect.top(), &layoutOf(row)};
        int position = bodyPositionAt(hit, pos);
        if (position < 0) {
            const QPointF top = hit.layout->bodyAt + QPointF(0, hit.y);
            position = pos.y() < top.y() ? 0 : int(hit.layout->body->text().size());
        }
        selectionEnd_ = position;
        viewport()->update();
        return;
    }
    // The pointing hand over links, file names and thumbnails.
    const Hit hit = hitAt(pos);
    bool overLink = false;
    if (hit.layout && model_->message(hit.row)) {
        if (!hit.layout->thumbnail.isEmpty() &&
            hit.layout->thumbnail.translated(0, hit.y).contains(pos))
            overLink = true;
        const int position = bodyPositionAt(hit, pos);
        if (position >= 0) {
            if (hit.layout->fileLink && position < hit.layout->bodyLength)
                overLink = true;
            for (const LinkSpan& span : hit.layout->links)
                if (position >= span.start && position < span.start + span.length)
                    overLink = true;
        }
    }
    viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void MessageListView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const bool wasSelecting = selecting_;
    selecting_ = false;
    if (wasSelecting && selectionAnchor_ != selectionEnd_) {
        if (QClipboard* clipboard = QApplication::clipboard();
            clipboard && clipboard->supportsSelection())
            clipboard->setText(selectedText(), QClipboard::Selection);
        return; // a drag selected text: no click
    }
    const QPoint pos = event->position().toPoint();
    const Hit hit = hitAt(pos);
    if (hit.row < 0 || !model_->message(hit.row))
        return;
    if (!hit.layout->thumbnail.isEmpty() &&
        hit.layout->thumbnail.translated(0, hit.y).contains(pos)) {
        emit fileClicked(hit.row);
        return;
    }
    const int position = bodyPositionAt(hit, pos);
    if (position < 0)
        return;
    if (hit.layout->fileLink && position < hit.layout->bodyLength) {
        emit fileClicked(hit.row);
        return;
    }
    for (const LinkSpan& span : hit.layout->links)
        if (position >= span.start && position < span.start + span.length) {
            emit linkClicked(span.href);
            return;
        }
}

void MessageListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const Hit hit = hitAt(event->position().toPoint());
    if (hit.row < 0 || !hit.layout || !hit.layout->body || !model_->message(hit.row))
        return;
    // The whole text of the message.
    selectionSeq_ = model_->seqOf(hit.row);
    selectionAnchor_ = 0;
    selectionEnd_ = hit.layout->bodyLength;
    viewport()->update();
}

QString MessageListView::selectedText() const {
    if (!model_ || selectionSeq_ < 0 || selectionAnchor_ == selectionEnd_)
        return QString();
    const int row = model_->indexOfSeq(selectionSeq_);
    const ChatItem* item = model_->message(row);
    if (!item)
        return QString();
    const QString shown = shownBody(*item) + editNote(*item);
    const int from = std::clamp(std::min(selectionAnchor_, selectionEnd_), 0, int(shown.size()));
    const int to = std::clamp(std::max(selectionAnchor_, selectionEnd_), 0, int(shown.size()));
    QString out = shown.mid(from, to - from);
    out.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
    return out;
}

bool MessageListView::copy() {
    QString text = selectedText();
    if (text.isEmpty()) {
        const ChatItem* item = model_ ? model_->message(currentRow()) : nullptr;
        if (!item)
            return false;
        text = item->isFile ? item->fileName : item->text;
    }
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(text);
    return true;
}

} // namespace brindlewick
