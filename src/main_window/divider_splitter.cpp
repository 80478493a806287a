#include "divider_splitter.h"

#include <QMouseEvent>
#include <QSplitterHandle>

#include <algorithm>
#include <cmath>

namespace brindlewick {

namespace {

class DividerHandle : public QSplitterHandle {
public:
    DividerHandle(Qt::Orientation orientation, DividerSplitter* parent)
        : QSplitterHandle(orientation, parent), owner_(parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            offset_ = pick(event->position().toPoint());
        QSplitterHandle::mousePressEvent(event);
    }

    // Qt's own move would skip the owner's limits, so the position is computed here.
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton))
            return;
        const QPoint inSplitter = owner_->mapFromGlobal(event->globalPosition().toPoint());
        const int proposed = pick(inSplitter) - offset_;
        const int divider = owner_->indexOf(this) - 1;
        moveSplitter(owner_->constrainedPosition(proposed, divider));
    }

private:
    int pick(const QPoint& point) const {
        return orientation() == Qt::Horizontal ? point.x() : point.y();
    }

    DividerSplitter* owner_;
    int offset_ = 0;
};

} // namespace

DividerSplitter::DividerSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {
    setOpaqueResize(true);
    setChildrenCollapsible(false);
}

void DividerSplitter::setDividerLimits(Constraint min, Constraint max) {
    min_ = std::move(min);
    max_ = std::move(max);
}

int DividerSplitter::constrainedPosition(int proposed, int dividerIndex) const {
    double position = proposed;
    if (min_)
        position = std::max(position, min_(this, proposed, dividerIndex));
    if (max_)
        position = std::min(position, max_(this, proposed, dividerIndex));
    return static_cast<int>(std::lround(position));
}

QSplitterHandle* DividerSplitter::createHandle() {
    return new DividerHandle(orientation(), this);
}

} // namespace brindlewick
