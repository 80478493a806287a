#pragma once
// What the transcript tests share: entries in one line, a transcript shown at a fixed size, and
// where the view draws the parts of a row (laid out the way the view lays it out).

#include "message_layout.h"
#include "message_list_view.h"
#include "transcript_view.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace brindlewick::test {

inline TranscriptEntry chat(const QString& id, const QString& text, const QString& time = {},
                            const QString& sender = QStringLiteral("밥"),
                            const QString& replyTo = {}) {
    TranscriptEntry e;
    e.msgId = id;
    e.sender = sender;
    e.text = text;
    e.time = time;
    e.dayTime = time;
    e.replyTo = replyTo;
    return e;
}

inline TranscriptEntry fileEntry(const QString& id, const QString& name, const QString& fileId,
                                 const QString& time = {}) {
    TranscriptEntry e = chat(id, name, time);
    e.isFile = true;
    e.fileId = fileId;
    return e;
}

// A transcript in a shown window; the place settles when asked, never by waiting.
class Shown {
public:
    explicit Shown(QSize size = {600, 400}) {
        view.resize(size);
        view.show();
        transcript.flush();
    }
    TranscriptModel rows; // the room's, as the session keeps it
    MessageListView view;
    TranscriptView transcript{&view, &rows};

    const TranscriptModel& model() const { return rows; }
    int rowOf(const QString& msgId) const { return transcript.rowOfMsgId(msgId); }
    QRect rectOf(const QString& msgId) {
        transcript.flush();
        return view.visualRect(rowOf(msgId));
    }
    bool onScreen(int row) {
        transcript.flush();
        return !view.visualRect(row).isEmpty();
    }
    QImage grab() {
        transcript.flush();
        return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // The rows as a view made just now draws them, at the bottom: what the view shows after
    // any change must look the same.
    QImage freshGrab() {
        MessageListView fresh;
        fresh.resize(view.size());
        fresh.setModel(&rows);
        fresh.show();
        fresh.settle();
        return fresh.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // The layout the view draws `row` with: the header is whichever of the two makes the
    // row as tall as it stands on screen. Null when the row is not on screen.
    std::unique_ptr<MessageLayout> layoutOf(int row, QSize thumbnail = {}) {
        const QRect rect = view.visualRect(row);
        if (rect.isEmpty())
            return nullptr;
        for (const bool header : {false, true}) {
            RowContext context;
            context.header = header;
            const TranscriptRow& r = model().row(row);
            if (r.kind == RowKind::Message && !r.item.replyTo.isEmpty())
                context.answered = model().answered(r.item);
            context.thumbnail = thumbnail;
            auto layout =
                layoutRow(r, context, view.viewport()->width(), TranscriptFonts::fromApplication());
            if (layout->height == rect.height())
                return layout;
        }
        return nullptr;
    }
    // Whether the view draws `row` with its sender's picture and name.
    bool hasHeader(int row) {
        transcript.flush();
        const auto layout = layoutOf(row);
        return layout && layout->header;
    }
    // The viewport point in the middle of character `at` of the row's body.
    QPoint charPoint(int row, int at) {
        transcript.flush();
        const auto layout = layoutOf(row);
        if (!layout || !layout->body)
            return {-1, -1};
        const QTextLine line = layout->body->lineForTextPosition(at);
        const qreal x0 = line.cursorToX(at);
        const qreal x1 = line.cursorToX(at + 1);
        const QPointF local(layout->bodyAt.x() + (x0 + x1) / 2,
                            layout->bodyAt.y() + line.y() + line.height() / 2);
        return (local + QPointF(0, view.visualRect(row).top())).toPoint();
    }

    // The viewport point on the boundary before character `at` of the row's body.
    QPoint boundaryPoint(int row, int at) {
        transcript.flush();
        const auto layout = layoutOf(row);
        if (!layout || !layout->body)
            return {-1, -1};
        const QTextLine line = layout->body->lineForTextPosition(at);
        const QPointF local(layout->bodyAt.x() + line.cursorToX(at),
                            layout->bodyAt.y() + line.y() + line.height() / 2);
        return (local + QPointF(0, view.visualRect(row).top())).toPoint();
    }

    // Mouse events as a pointer makes them, the button held while it moves.
    void press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(view.viewport(), button, Qt::NoModifier, at);
    }
    void dragTo(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, view.viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
    }
    void release(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(view.viewport(), button, Qt::NoModifier, at);
    }
    void click(QPoint at) {
        press(at);
        release(at);
    }
};

// Whether any pixel of `area` differs from `background`.
inline bool drawnIn(const QImage& image, const QRect& area, QColor background) {
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (image.pixelColor(x, y) != background)
                return true;
    return false;
}

// How many pixels of `image` (within `area`) have exactly `color`.
inline int pixelsOf(const QImage& image, QColor color, QRect area = {}) {
    if (area.isNull())
        area = image.rect();
    area = area.intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) == color;
    return count;
}

} // namespace brindlewick::test
