#pragma once
// The transcript of the open room: what the rest of the window calls to show messages. Messages
// and lines live in a TranscriptModel (the room session's); a MessageListView shows them. This
// class turns messages as they come (live or in pages of history) into rows, keeps the pictures
// and thumbnails the rows show, finds text, and keeps the number of loaded rows within a cap
// while the reader is at the bottom.

#include "message_list_view.h"
#include "text_match.h"
#include "transcript_model.h"
#include "transcript_search.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

namespace brindlewick {

// The picture in front of a message. An empty key means the neutral one (image ignored).
struct EntryPicture {
    QString key; // the picture's file id
    QImage image;
};

// One message as it arrives, live or in a page of history.
struct TranscriptEntry {
    QString msgId;
    QString sender;
    QString text;    // chat text; for a file, its name (null: none at all)
    QString time;    // ISO time shown beside the message; "" shows none
    QString dayTime; // ISO time whose local day decides date lines; "" when unknown
    bool mine = false;
    QString replyTo;
    bool isFile = false;
    QString fileId;
    qint64 fileSize = -1;
    bool edited = false;
    bool deleted = false;
    EntryPicture picture;
    // The user's message not yet confirmed: the outbox's id and whether it waits or failed.
    QString clientId;
    SendState sendState = SendState::Sent;
};

class TranscriptView : public QObject, private RowDecorations {
    Q_OBJECT
public:
    // Shows `model` (kept by its owner; without one the transcript keeps its own) in `view`.
    explicit TranscriptView(MessageListView* view, TranscriptModel* model = nullptr,
                            QObject* parent = nullptr);
    ~TranscriptView() override;

    // "HH:MM" of a time of at least 19 characters in this computer's time zone (converted from
    // the time's own offset; none means as given), else "". Unparsable times show characters
    // 11..15 as written.
    static QString formatTimeISO(const QString& time);
    // The start of a message as quoted elsewhere (reply lines, questions): the first
    // kQuoteLength characters on one line.
    static constexpr int kQuoteLength = 40;
    static QString quote(const QString& text);

    // A centred grey line (someone joined or left, a notice of the server). Null: nothing.
    void appendChat(const QString& text);
    void appendChatMsgId(const QString& msgId, const QString& sender, const QString& text,
                         const QString& time, bool mine, const QString& replyTo,
                         const EntryPicture& picture = {});
    void appendFileChatFrom(const QString& sender, const QString& name, const QString& fileId,
                            const QString& msgId, const QString& time, bool mine,
                            const EntryPicture& picture = {}, const QString& dayTime = QString(),
                            qint64 fileSize = -1);
    void appendEntry(const TranscriptEntry& entry);
    // Puts older messages (oldest first) above everything. Ids already shown are skipped. What
    // the reader looks at stays in place. Returns how many messages went in.
    int prependEntries(const QList<TranscriptEntry>& entries, const PageMarks& marks);
    // Brings the read line to the top of the view, or the bottom into view when there is none.
    void scrollToReadLine();
    // Empties the transcript and the find state (not the find text).
    void clearChat();

    // At most this many messages stay while the reader is at the bottom: the oldest leave as new
    // ones arrive (and trimmed() says so), down to keptAfterTrim(cap) at once. Reading further
    // up keeps everything loaded. A row costs a few hundred bytes.
    static constexpr int kDefaultEntryCap = 10000;
    static constexpr int keptAfterTrim(int cap) { return cap - 2 * cap / 5; }
    void setEntryCap(int cap) { entryCap_ = std::max(1, cap); }
    int entryCap() const { return entryCap_; }
    bool showsBeginning() const { return model_->showsBeginning(); }
    bool hasReadLine() const { return model_->readLineIndex() >= 0; }
    bool nearTop() const { return view_ && view_->nearTop(); }

    // The unsent message with this client id becomes `sent` in place (or leaves, when a row
    // already shows its id), changes its state, or leaves. False when no row has the client id.
    bool settleUnsent(const QString& clientId, const TranscriptEntry& sent);
    bool setSendState(const QString& clientId, SendState state);
    bool removeUnsent(const QString& clientId);

    // The newest message with this id changed in place. False when no row has the id.
    bool markDeleted(const QString& msgId);
    bool markEdited(const QString& msgId, const QString& text);

    const TranscriptModel& model() const { return *model_; }
    // The messages loaded, oldest first.
    QList<ChatItem> chatItems() const;
    // The row of the message under a viewport position, -1 for anything else.
    int messageRowAt(const QPoint& viewportPos);
    const ChatItem* messageAt(int row) const { return model_->message(row); }
    // The oldest and newest messages loaded, null when none.
    const ChatItem* firstMessage() const;
    const ChatItem* lastMessage() const;
    // The place in chatItems() of the newest message with this id, -1 when there is none.
    int indexOfMsgId(const QString& msgId) const;
    // The row of the newest message with this id, -1 when there is none.
    int rowOfMsgId(const QString& msgId) const { return model_->indexOfMsgId(msgId); }
    MessageListView* view() const { return view_; }
    // Every row as a screen reader reads it, one per line.
    QString plainText() const;

    // Find bar logic; each reports the counter through findCounterChanged. Matches are searched
    // in the messages' text.
    void findSearchChanged(const QString& findText);
    void highlightMatchAtIndex(qint64 index);
    void findNext();
    void findPrev();
    void closeFind();
    const TranscriptSearch& search() const { return search_; }
    // The row and the stretch of its text a match of the searched text covers; row -1 if none.
    struct Place {
        int row = -1;
        int start = 0;
        int length = 0;
    };
    Place placeOf(TextRange match) const;

    // Applies what this turn's appends changed (the cap, the place) now rather than when control
    // returns to the event loop.
    void flush();

    // Distinct pictures of senders held.
    int pictureResourceCount() const { return int(pictures_.size()); }

    // A file entry named like a picture shows its thumbnail in its bubble, a click on it saving
    // the file as the name does. The provider gives a thumbnail at hand, or a null image (it
    // then sets about getting one, which showThumbnail puts in when it comes). Without a
    // provider no thumbnails are shown.
    using ThumbnailProvider = std::function<QImage(const QString& fileId)>;
    void setThumbnailProvider(ThumbnailProvider provider) {
        thumbnailProvider_ = std::move(provider);
    }
    // Puts the thumbnail into the rows waiting for it. Ignored for a file no row shows.
    void showThumbnail(const QString& fileId, const QImage& image);
    // Thumbnails held: one per file, whatever shows it.
    int thumbnailResourceCount() const { return int(thumbnails_.size()); }

signals:
    void findCounterChanged(const QString& text);
    // A file was clicked: its id as written and a plain file name to suggest.
    void fileLinkClicked(const QString& fileId, const QString& suggestedName);
    // An http, https or mailto address in a message was clicked.
    void linkClicked(const QUrl& url);
    // The reader scrolled near the top (see nearTop()).
    void nearTopReached();
    // Messages left from the top to keep the cap; what was above them is no longer loaded.
    void trimmed();

private:
    QPixmap picture(const QString& key) const override;
    QImage thumbnail(const QString& fileId) const override;
    QList<RowMark> marks(int row) const override;

    ChatItem itemFor(const TranscriptEntry& entry);
    void keepPicture(const EntryPicture& picture);
    // A picture file's row asks for its thumbnail once it is in the model.
    void wantThumbnail(const ChatItem& item);
    void releaseRows(int first, int count);
    void trimToCap();
    void scheduleFlush();
    // The searched text for the rows as they are now.
    void refreshSearchText();
    void addSearchText(int row);
    void applyFind(bool showCurrent);
    void onFileClicked(int row);
    void onLinkClicked(const QString& href);

    QPointer<MessageListView> view_;
    std::unique_ptr<TranscriptModel> ownModel_;
    QPointer<TranscriptModel> model_;
    int entryCap_ = kDefaultEntryCap;
    bool flushPending_ = false;

    QHash<QString, QPixmap> pictures_;      // sender picture key -> round-ready pixmap
    QHash<QString, qint64> pictureSources_; // key -> the source image's cache key
    ThumbnailProvider thumbnailProvider_;
    QHash<QString, QImage> thumbnails_;  // file id -> thumbnail
    QHash<QString, int> thumbnailUsers_; // file id -> rows showing (or awaiting) it

    TranscriptSearch search_;
    QString findText_;
    NormalizedText searchText_;
    // Per message in the searched text, in order: where its text starts and its row's number.
    std::vector<qsizetype> searchStarts_;
    std::vector<int> searchSeqs_;
    bool searchStale_ = true;
};

} // namespace brindlewick
