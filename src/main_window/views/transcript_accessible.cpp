#include "transcript_accessible.h"

#include "message_list_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPushButton>
#include <QScrollBar>

namespace brindlewick {

namespace {

class RowAccessible : public QAccessibleInterface {
public:
    RowAccessible(MessageListView* view, int seq) : view_(view), seq_(seq) {}

    bool isValid() const override { return view_ && row() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return view_ ? QAccessible::queryAccessibleInterface(view_) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Description))
            return QString();
        return t == QAccessible::Name ? view_->model()->spokenText(row()) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect local = view_->visualRect(row());
        if (local.isEmpty())
            return {};
        return QRect(view_->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const QRect shown = view_->visualRect(row());
        const QRect area = view_->viewport()->rect();
        s.offscreen = shown.isEmpty() || !shown.intersects(area) || !view_->isVisible();
        s.selectable = view_->model()->message(row()) != nullptr;
        s.selected = s.selectable && view_->currentRow() == row();
        s.readOnly = true;
        return s;
    }

    int row() const { return view_ && view_->model() ? view_->model()->indexOfSeq(seq_) : -1; }

private:
    QPointer<MessageListView> view_;
    int seq_;
};

class TranscriptAccessible : public QAccessibleWidget {
public:
    explicit TranscriptAccessible(MessageListView* view)
        : QAccessibleWidget(view, QAccessible::List) {}

    MessageListView* list() const { return static_cast<MessageListView*>(widget()); }
    int rows() const { return list()->model() ? list()->model()->size() : 0; }
    bool buttonShown() const { return list()->newMessagesButton()->isVisible(); }

    int childCount() const override { return rows() + (buttonShown() ? 1 : 0); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0)
            return nullptr;
        if (index < rows())
            return list()->accessibleRow(index);
        if (index == rows() && buttonShown())
            return QAccessible::queryAccessibleInterface(list()->newMessagesButton());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child)
            return -1;
        if (child->object() == list()->newMessagesButton())
            return buttonShown() ? rows() : -1;
        const auto* row = dynamic_cast<const RowAccessible*>(child);
        return row ? row->row() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = list()->viewport()->mapFromGlobal(QPoint(x, y));
        if (buttonShown() &&
            list()->newMessagesButton()->geometry().contains(list()->mapFromGlobal(QPoint(x, y))))
            return QAccessible::queryAccessibleInterface(list()->newMessagesButton());
        const int row = list()->rowAt(local);
        return row >= 0 ? list()->accessibleRow(row) : nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return widget()->accessibleName();
        return QAccessibleWidget::text(t);
    }
};

} // namespace

QAccessibleInterface* makeRowAccessible(MessageListView* view, int seq) {
    return new RowAccessible(view, seq);
}

QAccessibleInterface* transcriptAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("brindlewick::MessageListView") && object &&
        object->isWidgetType())
        return new TranscriptAccessible(static_cast<MessageListView*>(object));
    return nullptr;
}

} // namespace brindlewick
