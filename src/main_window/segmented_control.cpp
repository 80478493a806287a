#include "segmented_control.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QPushButton>

namespace brindlewick {

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    group_->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QPushButton(labels.at(i), this);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->installEventFilter(this);
        group_->addButton(button, i);
    }
    if (!labels.isEmpty())
        group_->button(0)->setChecked(true);
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            updateTabStop();
    });
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::segmentClicked);
    updateTabStop();
}

void SegmentedControl::updateTabStop() {
    for (QAbstractButton* button : group_->buttons())
        button->setFocusPolicy(button->isChecked() ? Qt::TabFocus : Qt::NoFocus);
}

bool SegmentedControl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    int step = 0;
    if (key->key() == Qt::Key_Left)
        step = -1;
    else if (key->key() == Qt::Key_Right)
        step = 1;
    if (step == 0 || key->modifiers() & ~Qt::KeypadModifier)
        return QWidget::eventFilter(watched, event);
    const int next = selectedSegment() + step;
    if (QAbstractButton* button = group_->button(next)) {
        button->setChecked(true);
        button->setFocus(Qt::TabFocusReason);
        emit segmentClicked(next);
    }
    return true;
}

int SegmentedControl::segmentCount() const {
    return static_cast<int>(group_->buttons().size());
}

int SegmentedControl::selectedSegment() const {
    return group_->checkedId();
}

void SegmentedControl::setSelectedSegment(int index) {
    if (QAbstractButton* button = group_->button(index))
        button->setChecked(true);
}

QString SegmentedControl::labelForSegment(int index) const {
    QAbstractButton* button = group_->button(index);
    return button ? button->text() : QString();
}

void SegmentedControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Equal widths share the control between the segments.
    const int count = segmentCount();
    int x = 0;
    for (int i = 0; i < count; ++i) {
        const int right = width() * (i + 1) / count;
        group_->button(i)->setGeometry(x, 0, right - x, height());
        x = right;
    }
}

} // namespace brindlewick
