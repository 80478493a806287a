#pragma once
// Where a text of the transcript is drawn: the row a screen reader finds named with it, or in a
// text widget the place of its characters. Only the view as a scroll area is asked, whatever
// draws the transcript.

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QRect>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

namespace brindlewick::test {

// The rectangle of the first row or text holding `text`, in the viewport's coordinates; an
// empty rectangle when none holds it.
inline QRect viewportRectOf(QAbstractScrollArea* view, const QString& text) {
    QAccessibleInterface* whole = QAccessible::queryAccessibleInterface(view);
    if (!whole)
        return {};
    const auto local = [view](const QRect& screen) {
        return QRect(view->viewport()->mapFromGlobal(screen.topLeft()), screen.size());
    };
    for (int i = 0; i < whole->childCount(); ++i) {
        QAccessibleInterface* row = whole->child(i);
        if (row && row->text(QAccessible::Name).contains(text))
            return local(row->rect());
    }
    // A text widget's own reading of character places misses the offsets of nested frames; the
    // widget's cursor rectangle has them.
    if (const auto* edit = qobject_cast<const QTextEdit*>(view)) {
        const QTextCursor found = edit->document()->find(text);
        if (found.isNull())
            return {};
        QTextCursor start(edit->document());
        start.setPosition(found.selectionStart());
        QTextCursor end(edit->document());
        end.setPosition(found.selectionEnd());
        const QRect first = edit->cursorRect(start), last = edit->cursorRect(end);
        return QRect(first.topLeft(), QPoint(std::max(first.right(), last.left()), first.bottom()));
    }
    return {};
}

// The text is drawn wholly inside the viewport.
inline bool onScreen(QAbstractScrollArea* view, const QString& text) {
    const QRect rect = viewportRectOf(view, text);
    return !rect.isEmpty() && view->viewport()->rect().contains(rect);
}

} // namespace brindlewick::test
