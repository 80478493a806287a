#include "message_list_view.h"

#include "transcript_accessible.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <climits>

namespace brindlewick {

const QString MessageListView::kWaitingText = QStringLiteral("전송 중");
const QString MessageListView::kFailedText = QStringLiteral("전송 실패");

namespace {

constexpr int kUnitsPerRow = 16; // scroll bar steps per row
constexpr int kGroupMinutes = 3; // messages of one sender this close share a header
constexpr int kBottomSlack = 4;
constexpr int kScrollStep = 48;

int absoluteMinute(const ChatItem& m) {
    if (!m.day.isValid() || m.minuteOfDay < 0)
        return INT_MIN;
    return int(m.day.toJulianDay() % 1000000) * 1440 + m.minuteOfDay;
}

} // namespace

MessageListView::MessageListView(QWidget* parent) : QAbstractScrollArea(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(transcriptAccessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(kUnitsPerRow / 2);
    fonts_ = TranscriptFonts::fromApplication();
    useColors();
    newButton_ = new QPushButton(this);
    newButton_->setObjectName(QStringLiteral("newMessagesButton"));
    newButton_->setCursor(Qt::PointingHandCursor);
    newButton_->setFocusPolicy(Qt::TabFocus);
    newButton_->hide();
    connect(newButton_, &QPushButton::clicked, this, [this] {
        scrollToBottom();
        setFocus();
    });
}

MessageListView::~MessageListView() {
    dropAccessibleRows(true);
}

QAccessibleInterface* MessageListView::accessibleRow(int row) {
    if (!model_ || row < 0 || row >= model_->size())
        return nullptr;
    const int seq = model_->seqOf(row);
    if (const auto it = accessibleRows_.constFind(seq); it != accessibleRows_.cend())
        if (QAccessibleInterface* made = QAccessible::accessibleInterface(*it))
            return made;
    QAccessibleInterface* made = makeRowAccessible(this, seq);
    accessibleRows_.insert(seq, QAccessible::registerAccessibleInterface(made));
    return made;
}

void MessageListView::dropAccessibleRows(bool all) {
    for (auto it = accessibleRows_.begin(); it != accessibleRows_.end();) {
        if (all || !model_ || model_->indexOfSeq(it.key()) < 0) {
            QAccessible::deleteAccessibleInterface(it.value());
            it = accessibleRows_.erase(it);
        } else {
            ++it;
        }
    }
}

void MessageListView::setModel(TranscriptModel* model) {
    if (model_)
        disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    onReset();
    if (!model_)
        return;
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { onRowsRemoved(first, last); });
    connect(model_, &QAbstractItemModel::modelReset, this, &MessageListView::onReset);
    connect(model_, &TranscriptModel::messageChanged, this, &MessageListView::relayout);
}

// ---- layout cache --------------------------------------------------------------------------

bool MessageListView::startsGroup(int row) const {
    const ChatItem* m = model_->message(row);
    if (!m)
        return false;
    const ChatItem* prev = model_->message(row - 1);
    if (!prev || prev->mine != m->mine || prev->sender != m->sender)
        return true;
    const int a = absoluteMinute(*prev);
    const int b = absoluteMinute(*m);
    return a == INT_MIN || b == INT_MIN || b - a > kGroupMinutes || b < a;
}

bool MessageListView::showsTime(int row) const {
    const ChatItem* m = model_->message(row);
    if (!m || m->time.isEmpty())
        return false;
    const ChatItem* next = model_->message(row + 1);
    return !next || startsGroup(row + 1) || next->time != m->time;
}

const MessageLayout& MessageListView::layoutOf(int row) {
    const TranscriptRow& r = model_->row(row);
    const int seq = model_->seqOf(row);
    const bool header = r.kind == RowKind::Message && startsGroup(row);
    const auto found = cacheBySeq_.find(seq);
    if (found != cacheBySeq_.end()) {
        const auto it = *found;
        if (it->layout->width == contentWidth_ && r.layoutHeader == header &&
            r.layoutWidth == contentWidth_) {
            cache_.splice(cache_.begin(), cache_, it);
            return *it->layout;
        }
        cache_.erase(it);
        cacheBySeq_.erase(found);
    }
    RowContext context;
    context.header = header;
    if (r.kind == RowKind::Message) {
        context.answered = r.item.replyTo.isEmpty() ? nullptr : model_->answered(r.item);
        if (r.item.isFile && decorations_) {
            const QImage thumb = decorations_->thumbnail(r.item.fileId);
            if (!thumb.isNull())
                context.thumbnail = thumb.size();
        }
    }
    cache_.push_front({seq, layoutRow(r, context, contentWidth_, fonts_)});
    cacheBySeq_.insert(seq, cache_.begin());
    r.layoutWidth = contentWidth_;
    r.layoutHeight = cache_.front().layout->height;
    r.layoutHeader = header;
    while (cache_.size() > kCachedLayouts) {
        cacheBySeq_.remove(cache_.back().seq);
        cache_.pop_back();
    }
    return *cache_.front().layout;
}

void MessageListView::dropLayout(int seq) {
    const auto found = cacheBySeq_.find(seq);
    if (found == cacheBySeq_.end())
        return;
    cache_.erase(*found);
    cacheBySeq_.erase(found);
}

void MessageListView::relayout(int row) {
    if (!model_ || row < 0 || row >= model_->size())
        return;
    model_->row(row).layoutWidth = -1;
    dropLayout(model_->seqOf(row));
    if (const ChatItem* m = model_->message(row); m && !m->msgId.isEmpty())
        dropReplyLayouts(&m->msgId);
    scheduleSettle();
}

void MessageListView::dropReplyLayouts(const QString* answered) {
    for (auto it = cache_.begin(); it != cache_.end();) {
        const ChatItem* m = model_->message(model_->indexOfSeq(it->seq));
        if (m && !m->replyTo.isEmpty() && (!answered || m->replyTo == *answered)) {
            cacheBySeq_.remove(it->seq);
            it = cache_.erase(it);
        } else {
            ++it;
        }
    }
}

void MessageListView::relayoutAll() {
    cache_.clear();
    cacheBySeq_.clear();
    contentWidth_ = viewport()->width();
    if (model_)
        for (int i = 0; i < model_->size(); ++i)
            model_->row(i).layoutWidth = -1;
    scheduleSettle();
}

// ---- the place -----------------------------------------------------------------------------

int MessageListView::anchorRow() const {
    if (!model_ || model_->size() == 0)
        return -1;
    const int row = model_->indexOfSeq(anchorSeq_);
    return row;
}

std::pair<int, int> MessageListView::bottomAnchor() {
    const int count = model_ ? model_->size() : 0;
    const int height = viewport()->height();
    int sum = 0;
    for (int row = count - 1; row >= 0; --row) {
        sum += heightOf(row);
        if (sum >= height)
            return {row, sum - height};
    }
    return {0, 0};
}

void MessageListView::clampAnchor() {
    if (!model_ || model_->size() == 0) {
        anchorSeq_ = -1;
        anchorOffset_ = 0;
        return;
    }
    const auto [bottomRow, bottomOffset] = bottomAnchor();
    int row = anchorRow();
    if (followBottom_ || row < 0) {
        if (row < 0 && !followBottom_) {
            anchorSeq_ = model_->seqOf(0);
            anchorOffset_ = 0;
        } else {
            anchorSeq_ = model_->seqOf(bottomRow);
            anchorOffset_ = bottomOffset;
            return;
        }
        row = 0;
    }
    anchorOffset_ = std::clamp(anchorOffset_, 0, std::max(0, heightOf(row) - 1));
    if (row > bottomRow || (row == bottomRow && anchorOffset_ >= bottomOffset)) {
        anchorSeq_ = model_->seqOf(bottomRow);
        anchorOffset_ = bottomOffset;
        followBottom_ = true;
    }
}

void MessageListView::moveBy(int dy) {
    int row = anchorRow();
    if (row < 0)
        return;
    int offset = anchorOffset_ + dy;
    while (offset < 0 && row > 0)
        offset += heightOf(--row);
    offset = std::max(0, offset);
    const int last = model_->size() - 1;
    while (row < last && offset >= heightOf(row))
        offset -= heightOf(row++);
    anchorSeq_ = model_->seqOf(row);
    anchorOffset_ = offset;
    followBottom_ = false;
    clampAnchor();
    if (followBottom_)
        unseen_ = 0;
    syncScrollBar();
    updateButton();
    viewport()->update();
    if (dy < 0 && nearTop())
        emit nearTopReached();
}

void MessageListView::syncScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    const int count = model_ ? model_->size() : 0;
    int maximum = 0;
    int value = 0;
    if (count > 0) {
        const auto [bottomRow, bottomOffset] = bottomAnchor();
        const int bottomHeight = std::max(1, heightOf(bottomRow));
        maximum = bottomRow * kUnitsPerRow + bottomOffset * kUnitsPerRow / bottomHeight;
        const int row = std::max(0, anchorRow());
        value = followBottom_ ? maximum
                              : row * kUnitsPerRow +
                                    anchorOffset_ * kUnitsPerRow / std::max(1, heightOf(row));
    }
    syncing_ = true;
    bar->setRange(0, maximum);
    bar->setPageStep(std::max(kUnitsPerRow, viewport()->height() / 40 * kUnitsPerRow));
    bar->setValue(std::min(value, maximum));
    syncing_ = false;
}

void MessageListView::scheduleSettle() {
    viewport()->update();
    if (settlePending_)
        return;
    settlePending_ = true;
    QMetaObject::invokeMethod(this, &MessageListView::settle, Qt::QueuedConnection);
}

void MessageListView::settle() {
    settlePending_ = false;
    if (contentWidth_ != viewport()->width())
        contentWidth_ = viewport()->width();
    clampAnchor();
    if (followBottom_)
        unseen_ = 0;
    syncScrollBar();
    updateButton();
    viewport()->update();
}

void MessageListView::updateButton() {
    const bool show = unseen_ > 0 && !followBottom_;
    if (show) {
        const QString text = QStringLiteral("새 메시지 %1개 ↓").arg(unseen_);
        if (newButton_->text() != text) {
            newButton_->setText(text);
            newButton_->setAccessibleName(QStringLiteral("새 메시지 %1개").arg(unseen_));
            newButton_->adjustSize();
        }
        const QRect area = viewport()->geometry();
        newButton_->move(area.center().x() - newButton_->width() / 2,
                         area.bottom() - newButton_->height() - 12);
        newButton_->raise();
    }
    newButton_->setVisible(show);
}

void MessageListView::onRowsInserted(int first, int last) {
    if (anchorSeq_ < 0 || model_->indexOfSeq(anchorSeq_) < 0) {
        // The first rows: the view starts at the bottom.
        anchorSeq_ = model_->seqOf(0);
        anchorOffset_ = 0;
        followBottom_ = true;
    } else if (first > 0 && !followBottom_) {
        for (int row = first; row <= last; ++row)
            if (model_->message(row))
                ++unseen_;
    }
    // The row above new rows may lose its time; the one below may lose its header.
    if (first > 0)
        dropLayout(model_->seqOf(first - 1));
    else if (last + 1 < model_->size())
        dropReplyLayouts(nullptr); // a page above may bring what replies quote
    scheduleSettle();
}

void MessageListView::onRowsRemoved(int, int) {
    if (anchorRow() < 0 && !followBottom_ && model_->size() > 0) {
        anchorSeq_ = model_->seqOf(0);
        anchorOffset_ = 0;
    }
    if (model_->size() > 0)
        dropLayout(model_->seqOf(0));
    if (model_->indexOfSeq(selectionSeq_) < 0)
        selectionSeq_ = -1;
    dropAccessibleRows(false);
    scheduleSettle();
}

void MessageListView::onReset() {
    dropAccessibleRows(true);
    cache_.clear();
    cacheBySeq_.clear();
    anchorSeq_ = -1;
    anchorOffset_ = 0;
    followBottom_ = true;
    unseen_ = 0;
    currentSeq_ = -1;
    selectionSeq_ = -1;
    selecting_ = false;
    scheduleSettle();
}

bool MessageListView::atBottom() {
    settle();
    return followBottom_;
}

bool MessageListView::nearTop() {
    int row = anchorRow();
    if (row < 0)
        return true;
    const int limit = viewport()->height() / 3;
    int above = anchorOffset_;
    while (row > 0 && above <= limit)
        above += heightOf(--row);
    return above <= limit;
}

void MessageListView::scrollToTop(int row) {
    if (!model_ || row < 0 || row >= model_->size())
        return;
    settle();
    anchorSeq_ = model_->seqOf(row);
    anchorOffset_ = 0;
    followBottom_ = false;
    moveBy(-4); // a little of what is above shows the row does not start the view by chance
}

void MessageListView::ensureVisible(int row) {
    if (!model_ || row < 0 || row >= model_->size())
        return;
    settle();
    const QRect shown = visualRect(row);
    if (!shown.isEmpty() && shown.top() >= 0 && shown.bottom() < viewport()->height())
        return;
    const int top = anchorRow();
    if (row <= top || shown.isEmpty() == false) {
        if (row <= top || shown.top() < 0) {
            anchorSeq_ = model_->seqOf(row);
            anchorOffset_ = 0;
            followBottom_ = false;
            moveBy(-8);
            return;
        }
    }
    // Below the view: bring its bottom to the view's bottom.
    anchorSeq_ = model_->seqOf(row);
    anchorOffset_ = 0;
    followBottom_ = false;
    moveBy(heightOf(row) - viewport()->height() + 8);
}

void MessageListView::scrollToBottom() {
    followBottom_ = true;
    unseen_ = 0;
    settle();
}

std::pair<int, int> MessageListView::shownRows() {
    if (settlePending_)
        settle();
    const int first = anchorRow();
    if (first < 0)
        return {-1, -1};
    int y = firstRowTop();
    int row = first;
    const int last = model_->size() - 1;
    while (row < last && y + heightOf(row) < viewport()->height()) {
        y += heightOf(row);
        ++row;
    }
    return {first, row};
}

QRect MessageListView::visualRect(int row) {
    if (!model_ || row < 0 || row >= model_->size())
        return {};
    const auto [first, last] = shownRows();
    if (first < 0 || row < first || row > last)
        return {};
    int y = firstRowTop();
    for (int r = first; r < row; ++r)
        y += heightOf(r);
    return QRect(0, y, viewport()->width(), heightOf(row));
}

int MessageListView::firstRowTop() {
    const int height = viewport()->height();
    if (anchorRow() != 0)
        return -anchorOffset_;
    // Fewer rows than fill the view stand at its bottom, as in every messenger.
    int total = 0;
    for (int r = 0; r < model_->size() && total - anchorOffset_ < height; ++r)
        total += heightOf(r);
    return total - anchorOffset_ < height ? height - total : -anchorOffset_;
}

// ---- scrolling and geometry ---------------------------------------------------------------

void MessageListView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (contentWidth_ != viewport()->width()) {
        contentWidth_ = viewport()->width();
        cache_.clear();
        cacheBySeq_.clear();
    }
    settle();
}

void MessageListView::scrollContentsBy(int, int) {
    if (syncing_ || !model_ || model_->size() == 0)
        return;
    QScrollBar* bar = verticalScrollBar();
    const int value = bar->value();
    if (value >= bar->maximum()) {
        const bool wasFollowing = followBottom_;
        followBottom_ = true;
        unseen_ = 0;
        settle();
        if (!wasFollowing)
            updateButton();
        return;
    }
    const int row = std::clamp(value / kUnitsPerRow, 0, model_->size() - 1);
    anchorSeq_ = model_->seqOf(row);
    anchorOffset_ = (value % kUnitsPerRow) * heightOf(row) / kUnitsPerRow;
    followBottom_ = false;
    updateButton();
    viewport()->update();
    if (nearTop())
        emit nearTopReached();
}

void MessageListView::wheelEvent(QWheelEvent* event) {
    QPoint delta = event->pixelDelta();
    int dy = delta.y();
    if (dy == 0)
        dy = event->angleDelta().y() * kScrollStep / 120;
    if (dy != 0) {
        settle();
        moveBy(-dy);
        emit readerScrolled();
    }
    event->accept();
}

void MessageListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    const int page = std::max(kScrollStep, viewport()->height() - kScrollStep);
    switch (event->key()) {
    case Qt::Key_Up:
        moveBy(-kScrollStep);
        return;
    case Qt::Key_Down:
        moveBy(kScrollStep);
        return;
    case Qt::Key_PageUp:
        moveBy(-page);
        return;
    case Qt::Key_PageDown:
        moveBy(page);
        return;
    case Qt::Key_Home:
        if (model_ && model_->size() > 0) {
            anchorSeq_ = model_->seqOf(0);
            anchorOffset_ = 0;
            moveBy(0);
            emit nearTopReached();
        }
        return;
    case Qt::Key_End:
        scrollToBottom();
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

} // namespace brindlewick
