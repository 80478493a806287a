#pragma once
// The transcript on screen: a scroll area that lays out and paints only the rows it shows.
//
// The place is a row and a pixel offset into it (the anchor), not a position in a document, so
// rows put in above or taken away above cost nothing and move nothing. The scroll bar counts
// rows. While the reader is at the bottom, new rows scroll into view; while they read further
// up, new rows leave the view where it is and a "새 메시지 N개 ↓" button takes them down.

#include "message_layout.h"
#include "transcript_model.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <list>
#include <memory>

class QAccessibleInterface;
class QPushButton;

namespace brindlewick {

// A stretch of a row's body to mark: a find match.
struct RowMark {
    int start = 0;
    int length = 0;
    bool current = false;
};

// What the view shows beside the model's data; the transcript's owner provides it.
class RowDecorations {
public:
    virtual ~RowDecorations() = default;
    // The sender's picture at MessageLayout::kPictureSize, null for the neutral one.
    virtual QPixmap picture(const QString& key) const = 0;
    // A picture file's thumbnail when at hand, else null.
    virtual QImage thumbnail(const QString& fileId) const = 0;
    // Find matches inside the row's body.
    virtual QList<RowMark> marks(int row) const = 0;
};

class MessageListView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Shown where the time goes on the user's unsent messages.
    static const QString kWaitingText; // "전송 중"
    static const QString kFailedText;  // "전송 실패"

    explicit MessageListView(QWidget* parent = nullptr);
    ~MessageListView() override;

    void setModel(TranscriptModel* model);
    TranscriptModel* model() const { return model_; }
    void setDecorations(const RowDecorations* decorations) { decorations_ = decorations; }

    // Row index under a viewport position, -1 for none.
    int rowAt(const QPoint& viewportPos);
    // The row's rectangle in viewport coordinates when on screen, else an empty rect.
    QRect visualRect(int row);
    // The rows (partly) on screen, first and last; (-1, -1) when none.
    std::pair<int, int> shownRows();
    bool atBottom();
    // Whether growth keeps the reader at the bottom (as of the last settle or scroll).
    bool followsBottom() const { return followBottom_; }
    // The content above the view's top is less than a third of the view's height.
    bool nearTop();
    // Brings `row` to the top of the view (with a small margin).
    void scrollToTop(int row);
    // Brings `row` into view, moving as little as needed.
    void ensureVisible(int row);
    void scrollToBottom();
    // Applies what changed since the last turn of the event loop: the place and the scroll bar.
    void settle();

    // The message chosen by a click, -1 none.
    int currentRow() const;
    void setCurrentRow(int row);
    // The text selected inside a message, empty when none.
    QString selectedText() const;
    // Copies the selected text, else the current message's text. False when nothing to copy.
    bool copy();
    // Rows whose layout depends on something outside the model (a thumbnail arrived, a picture).
    void relayout(int row);
    void relayoutAll();

    // Rows that came while the reader was away from the bottom (the button's count).
    int unseenCount() const { return unseen_; }
    QPushButton* newMessagesButton() const { return newButton_; }
    // The accessible child of a row, made on first use and kept while the row stays.
    QAccessibleInterface* accessibleRow(int row);

signals:
    void nearTopReached();
    // The reader turned the wheel over the view (the scroll bar reports its own actions).
    void readerScrolled();
    void fileClicked(int row);
    void linkClicked(const QString& href);
    void currentRowChanged(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Cached {
        int seq;
        std::unique_ptr<MessageLayout> layout;
    };
    const MessageLayout& layoutOf(int row);
    int heightOf(int row) { return layoutOf(row).height; }
    bool startsGroup(int row) const;
    bool showsTime(int row) const;
    void dropLayout(int seq);
    // Replies quote what they answer: their layouts go when it comes or changes (null: any).
    void dropReplyLayouts(const QString* answered);
    // Moves the anchor by `dy` pixels (positive: down the transcript), within the content.
    void moveBy(int dy);
    // The anchor that shows the last row at the bottom.
    std::pair<int, int> bottomAnchor();
    void clampAnchor();
    void syncScrollBar();
    void scheduleSettle();
    void updateButton();
    void onRowsInserted(int first, int last);
    void onRowsRemoved(int first, int last);
    void onReset();
    int anchorRow() const;
    // Where the anchor row starts in viewport coordinates.
    int firstRowTop();
    void paintRow(QPainter& painter, int row, int y, const QRect& clip);
    void paintMessage(QPainter& painter, int row, const MessageLayout& layout, int y);
    void paintLine(QPainter& painter, const TranscriptRow& r, const MessageLayout& layout, int y);
    struct Hit {
        int row = -1;
        int y = 0; // row top in viewport coordinates
        const MessageLayout* layout = nullptr;
    };
    Hit hitAt(const QPoint& pos);
    // Character position in the body under `pos`, -1 outside it.
    int bodyPositionAt(const Hit& hit, const QPoint& pos) const;
    void useColors();

    QPointer<TranscriptModel> model_;
    const RowDecorations* decorations_ = nullptr;
    TranscriptFonts fonts_;
    TranscriptColors colors_;
    int colorsGeneration_ = 0;
    // The place: the row at the top of the view (by sequence number) and how far into it.
    int anchorSeq_ = -1;
    int anchorOffset_ = 0;
    bool followBottom_ = true;
    bool settlePending_ = false;
    bool syncing_ = false;
    int unseen_ = 0;
    int contentWidth_ = 0;
    std::list<Cached> cache_; // most recently used first
    QHash<int, std::list<Cached>::iterator> cacheBySeq_;
    static constexpr std::size_t kCachedLayouts = 200;
    int currentSeq_ = -1;
    // Text selection inside one message.
    int selectionSeq_ = -1;
    int selectionAnchor_ = -1;
    int selectionEnd_ = -1;
    bool selecting_ = false;
    QPushButton* newButton_ = nullptr;
    QHash<int, unsigned> accessibleRows_; // seq -> QAccessible::Id
    void dropAccessibleRows(bool all);
};

} // namespace brindlewick
