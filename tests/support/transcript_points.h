#pragma once
// Points on the transcript's rows as a user aims at them, found through what the view shows
// (the pointer's shape), not through its layout internals.

#include "message_list_view.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPoint>
#include <QRect>

namespace brindlewick::test {

// The first point of `row`, brought into view, where the pointer becomes a hand: a link in the
// text, a file's name or its thumbnail. A null point when there is none.
inline QPoint linkPointIn(MessageListView* view, int row) {
    view->ensureVisible(row);
    view->settle();
    const QRect rect = view->visualRect(row);
    QWidget* viewport = view->viewport();
    for (int y = rect.top(); y <= rect.bottom(); y += 2)
        for (int x = rect.left(); x <= rect.right(); x += 2) {
            const QPointF at(x, y);
            QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
            if (viewport->cursor().shape() == Qt::PointingHandCursor)
                return {x, y};
        }
    return {};
}

} // namespace brindlewick::test
