#pragma once
// The main window's widgets and their geometry. It decides nothing: slots show what the
// session's objects report, signals say what the user asked for. Widgets carry object names,
// which is how tests find them.

#include "room_session.h"

#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class QEvent;
class QImage;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableView;

class QWidget;

namespace brindlewick {

class SegmentedControl;
class TranscriptView;
class TranscriptModel;
class MessageListView;

// Where the window was: its frame's top-left corner, its size without the frame and the
// compose area's height below the divider. An empty size: nothing remembered. A maximised or
// full-screen window has its normal place here (the corner without the frame), for when it is
// restored, and `maximized` set.
struct WindowPlacement {
    QPoint position;
    QSize size;
    int composerHeight = 0;
    bool maximized = false;
};

class MainWindow : public QObject {
    Q_OBJECT
public:
    static constexpr double kDividerMinFromTop = 120.0;
    static constexpr double kDividerMinFromBottom = 60.0;
    static constexpr int kContentWidth = 840;
    static constexpr int kContentHeight = 540;
    static constexpr int kSplitHandleWidth = 1;
    static constexpr int kBottomPaneHeight = 90;

    // Builds the widget tree; nothing is shown until show().
    // Shows `transcriptModel` (the room session's) when given, else a model of its own.
    explicit MainWindow(TranscriptModel* transcriptModel = nullptr, QObject* parent = nullptr);
    ~MainWindow() override;

    // Takes ownership; the content keeps its tabled size below an in-window menu bar.
    void setMenuBar(QMenuBar* menuBar);
    // Centred on the screen (or where it was remembered, if that is on a screen; maximised if it
    // was), raised and activated.
    void show();
    // Used by the next show().
    void setRememberedPlacement(const WindowPlacement& placement) { remembered_ = placement; }
    WindowPlacement placement() const;
    void close();

    QMainWindow* window() const { return window_.get(); }
    TranscriptView& transcript() const { return *transcript_; }
    QTableView* sideTable() const { return sideTable_; }
    SegmentedControl* sideSegments() const { return sideSeg_; }
    QLineEdit* searchField() const { return searchField_; }
    QPlainTextEdit* composer() const { return composeView_; }
    QString statusText() const;
    QString headerText() const;

    // Where divider 0 of `splitter` may be dragged; other splitters and dividers keep `proposed`.
    double dividerMinimum(const QSplitter* splitter, double proposed, int dividerIndex) const;
    double dividerMaximum(const QSplitter* splitter, double proposed, int dividerIndex) const;

public slots:
    void setStatus(const QString& text);
    // "Brindlewick (3)" while messages are unread, "Brindlewick" otherwise.
    void setUnreadTotal(qint64 total);
    // A grey line over the empty sidebar list; "" hides it.
    void setSidebarHint(const QString& text);
    // The header of the open room; a null picture shows the neutral user picture.
    void showRoomHeader(const QString& text, const QImage& picture);
    // No room open: the prompt, no picture.
    void showNoRoomHeader();
    void setHeaderPicture(const QImage& picture);
    // Shows the bar for a pending reply, hides it for none.
    void showReply(const brindlewick::PendingReply& reply);
    // The transcript's menu at `globalPos`; each action is offered for its entry's id, disabled
    // when the id is empty.
    void showEntryMenu(const QPoint& globalPos, const QString& replyMsgId, const QString& editMsgId,
                       const QString& deleteMsgId);
    void clearComposer();
    void setComposerText(const QString& text);
    // The bar above the composer says "메시지 수정 중" while an own message is edited.
    void showEditing(bool editing);
    void setUploading(bool uploading);
    // Composer, "파일", "전송" and "방 나가기" work only with a room open.
    void setRoomOpen(bool open);
    void setUploadProgress(int percent);
    void openFindBar();
    void closeFindBar();
    // Empties the transcript and the find counter.
    void clearTranscript();

signals:
    // Return in the composer (Shift+Return starts a new line) or "전송".
    void sendRequested(const QString& text);
    void attachRequested();
    void fileDropped(const QString& path);
    // Pasted into the composer: a picture, or copied files (local, regular, in order).
    void imagePasted(const QImage& image);
    void filesPasted(const QStringList& paths);
    void fileLinkClicked(const QString& fileId, const QString& suggestedName);
    void addRequested();
    void refreshRequested();
    void leaveRoomRequested();
    void logoutRequested();
    // A right click in the transcript: the entry's index in its chatItems, -1 off any entry.
    void entryMenuRequested(int entryIndex, const QPoint& globalPos);
    void replyToEntryRequested(const QString& msgId);
    void deleteEntryRequested(const QString& msgId);
    void editEntryRequested(const QString& msgId);
    void replyCancelled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSidebar();
    void buildHeader();
    void buildFindBar();
    void buildSplit();
    void buildStatusLine();
    void layoutContent(int width, int height);
    void layoutBottomContainer();
    void layoutFindBar();
    void layoutReplyBar();
    void layoutProgressBar();
    bool composerKeyPressed(QKeyEvent* event);
    void searchTranscript();

    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<TranscriptView> transcript_;
    std::unique_ptr<QMenu> chatMenu_;
    QWidget* content_ = nullptr;
    SegmentedControl* sideSeg_ = nullptr;
    QPushButton* addBtn_ = nullptr;
    QPushButton* refreshBtn_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QTableView* sideTable_ = nullptr;
    QLabel* sideHint_ = nullptr;
    QLabel* roomAvatarView_ = nullptr;
    QLabel* roomLabel_ = nullptr;
    QList<QWidget*> headerButtons_; // find, leave, logout: kept at the right edge
    QWidget* findBar_ = nullptr;
    QLineEdit* findSearchField_ = nullptr;
    QLabel* findResultLabel_ = nullptr;
    QPushButton* findPrevBtn_ = nullptr;
    QPushButton* findNextBtn_ = nullptr;
    QWidget* findCloseBtn_ = nullptr;
    QSplitter* rightSplit_ = nullptr;
    MessageListView* chatView_ = nullptr;
    TranscriptModel* transcriptModel_ = nullptr; // the room session's; null: the transcript's own
    QWidget* chatScroll_ = nullptr;
    QWidget* bottomContainer_ = nullptr;
    QWidget* replyBar_ = nullptr;
    QLabel* replyPreviewLabel_ = nullptr;
    QWidget* replyCancelBtn_ = nullptr;
    QWidget* composeScroll_ = nullptr;
    QPlainTextEdit* composeView_ = nullptr;
    QPushButton* attachBtn_ = nullptr;
    QPushButton* sendBtn_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QProgressBar* uploadProgressBar_ = nullptr;
    WindowPlacement remembered_;
    QString searchedText_; // the find query last searched
    bool roomOpen_ = true;
    bool barShowsEdit_ = false; // the reply bar stands for an edit
    bool uploading_ = false;
    // Top edge of the composer until the first reply bar change; from then on 0.
    int composeTopInset_ = 4;
};

} // namespace brindlewick
