#pragma once
// The transcript of the open room, drawn into a QTextBrowser that the window owns: system lines,
// chat entries and file entries, the remembered entries, scrolling and find.
//
// Live entries grow the text at the end; pages of older entries go in above everything, keeping
// what the reader looks at in place. Every entry and every line has a text block of its own (line
// breaks inside an entry are line separators), which keeps a long transcript lean and lets an
// entry be found by its block. Pages put in above loaded text keep all but the top item in frames
// (see prependEntries). While the reader is at the bottom, the oldest entries
// leave beyond a cap. Network text is always inserted as plain text.

#include "text_match.h"
#include "transcript_index.h"
#include "transcript_search.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace brindlewick {

namespace transcript {
struct LocalTime;
}

// The picture in front of an entry. An empty key means the placeholder (image ignored).
struct EntryPicture {
    QString key; // the picture's file id
    QImage image;
};

// One message as the transcript shows it, whether it came live or in a page of history.
struct TranscriptEntry {
    QString msgId;
    QString sender;
    QString text;    // chat text; for a file, its name (null: none at all)
    QString time;    // ISO time shown in the header; "" shows none
    QString dayTime; // ISO time whose local day decides date lines; "" when unknown
    bool mine = false;
    QString replyTo;
    bool isFile = false;
    QString fileId;
    bool edited = false;
    bool deleted = false;
    EntryPicture picture;
};

// What goes around a page besides its entries.
struct PageMarks {
    // Nothing is older: "대화의 처음입니다" and the first entry's date line on top.
    bool beginning = false;
    // "여기까지 읽었습니다" before entry `readLineBefore` of the page; the page's size means
    // before the entry that was on top; -1 none.
    int readLineBefore = -1;
};

class TranscriptView : public QObject {
    Q_OBJECT
public:
    // Makes `view` read-only, link clicks reported (not followed), default font system 12.
    explicit TranscriptView(QTextBrowser* view, QObject* parent = nullptr);
    ~TranscriptView() override;

    // "HH:MM" of a time of at least 19 characters in this computer's time zone (converted from
    // the time's own offset; none means as given), else "". Unparsable times show characters
    // 11..15 as written.
    static QString formatTimeISO(const QString& time);
    // The start of a message as quoted elsewhere (reply lines, questions): the first
    // kQuoteLength characters on one line.
    static constexpr int kQuoteLength = 40;
    static QString quote(const QString& text);

    // Throughout, a null QString stands for "none"; for names it differs from "".
    void appendChat(const QString& text);
    void appendChatMsgId(const QString& msgId, const QString& sender, const QString& text,
                         const QString& time, bool mine, const QString& replyTo,
                         const EntryPicture& picture = {});
    // `dayTime`: the ISO time that places the entry among the date lines (the shown `time` is
    // often "").
    void appendFileChatFrom(const QString& sender, const QString& name, const QString& fileId,
                            const QString& msgId, const QString& time, bool mine,
                            const EntryPicture& picture = {}, const QString& dayTime = QString());
    // The same for an entry described whole (the live path of file entries with their day).
    void appendEntry(const TranscriptEntry& entry);
    // Puts older entries (oldest first) above everything. Ids already shown are skipped. What
    // the reader looks at stays in place. Returns how many entries went in.
    int prependEntries(const QList<TranscriptEntry>& entries, const PageMarks& marks);
    // Brings the read line to the top of the view, or the newest entry into view when there is
    // no read line.
    void scrollToReadLine();
    // Empties the transcript, the entries and the find state (not the find text).
    void clearChat();

    // At most this many entries stay while the reader is at the bottom: the oldest leave as new
    // ones arrive (and trimmed() says so), down to keptAfterTrim(cap) at once, since each removal
    // moves the layout of all that stays (fewer when the cut would fall inside a page put in
    // above). Reading further up keeps everything loaded.
    static constexpr int kDefaultEntryCap = 5000;
    static constexpr int keptAfterTrim(int cap) { return cap - 2 * cap / 5; }
    void setEntryCap(int cap) { entryCap_ = std::max(1, cap); }
    int entryCap() const { return entryCap_; }
    // The beginning line is shown: nothing older exists.
    bool showsBeginning() const { return showsBeginning_; }
    bool hasReadLine() const { return readLine_.isValid(); }
    // The view's top is within a third of its height from the transcript's top.
    bool nearTop() const;

    // The newest entry with this id replaced in place: its text by the deletion note, or by the
    // new text marked as edited. False (and nothing changed) when no entry has the id.
    bool markDeleted(const QString& msgId);
    bool markEdited(const QString& msgId, const QString& text);

    const QList<ChatItem>& chatItems() const { return index_.items(); }
    // Index into chatItems of the entry under a viewport position, -1 for anything else.
    int entryAt(const QPoint& viewportPos);
    // Index of the newest entry with this id, -1 when there is none (or the id is empty).
    int indexOfMsgId(const QString& msgId) const;
    QTextBrowser* view() const { return view_; }
    // The transcript's text as positions count it (pictures are U+FFFC, breaks are "\n").
    QString plainText() const;

    // Find bar logic; each reports the counter through findCounterChanged.
    void findSearchChanged(const QString& findText);
    void highlightMatchAtIndex(qint64 index);
    void findNext();
    void findPrev();
    void closeFind();
    const TranscriptSearch& search() const { return search_; }
    // Selects the range, scrolls it into view and highlights it briefly.
    void showRange(TextRange range);

    // Appends of the current turn of the event loop share one edit of the document; this ends it
    // (lays out and scrolls) now instead of when control returns to the event loop. Callers that
    // need the view's layout before that (geometry, painting) call it first.
    void flush();

    // Number of distinct pictures held by the document (placeholder included).
    int pictureResourceCount() const { return int(pictures_.size()); }

    // A file entry named like a picture shows its thumbnail below the link, a click on it saving
    // the file as the link does. The provider gives a thumbnail at hand, or a null image (it
    // then sets about getting one, which showThumbnail puts in when it comes). Without a
    // provider no thumbnails are shown.
    using ThumbnailProvider = std::function<QImage(const QString& fileId)>;
    void setThumbnailProvider(ThumbnailProvider provider) {
        thumbnailProvider_ = std::move(provider);
    }
    // Puts the thumbnail into the entries waiting for it, keeping what the reader looks at in
    // place. Ignored for a file no entry waits for.
    void showThumbnail(const QString& fileId, const QImage& image);
    // Thumbnails held by the document: one resource per file, whatever shows it.
    int thumbnailResourceCount() const { return int(thumbnails_.size()); }

signals:
    void findCounterChanged(const QString& text);
    // A file link was clicked: the file id as written and a plain file name to suggest.
    void fileLinkClicked(const QString& fileId, const QString& suggestedName);
    // An http, https or mailto address in a message was clicked.
    void linkClicked(const QUrl& url);
    // The reader scrolled near the top (see nearTop()).
    void nearTopReached();
    // Entries left from the top to keep the cap; what was above them is no longer loaded.
    void trimmed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Picture {
        qint64 sourceKey = 0;
        QImage scaled;
        QTextImageFormat format;
    };

    struct Entry;
    Entry beginEntry();
    void finishEntry(Entry& entry);
    void appendLine(const QString& text, const QTextCharFormat& format);
    // Writes the entry's content at the writer's cursor; `place` gets its offsets in the block.
    // `answered`: what a reply answers when the caller found it; else it is looked up.
    // `shown`: the entry's time already read, when the caller has it.
    ChatItem writeEntry(Entry& writer, const TranscriptEntry& entry, EntryPlace& place, int seq,
                        const ChatItem* answered = nullptr,
                        const transcript::LocalTime* shown = nullptr);
    QString replyMarker(const QString& replyTo, int seq, const ChatItem* answered);
    // An edit in place of characters `from`..`to` of the entry's block, which are gone; the
    // caller writes and ends the edit.
    Entry rewrite(const EntryPlace& place, int from, int to);
    // Entry `index`'s reply line quotes entry `answered`.
    void rewriteMarker(int index, int answered);
    void replaceBody(int index, const QString& text, bool edited);
    void writePictureAndHeader(Entry& entry, const EntryPicture& picture, const QString& sender,
                               const QString& time, bool mine);
    void writeLine(Entry& writer, const QString& text, const QTextCharFormat& format);
    void trimToCap();
    // After writing a picture file's link: its thumbnail when at hand, else the entry waits.
    void writeThumbnailOrWait(Entry& writer, const QString& fileId, const QString& href, int seq);
    void writeThumbnail(Entry& writer, const QString& fileId, const QString& href,
                        const QImage& image);
    // Entries left: their thumbnails' resources go unless another entry still shows them.
    void releaseThumbnails();
    // Text went in or out above every match: the search copy is read afresh and a running find
    // keeps its current match.
    void textChangedAbove(int delta, int at = 0);
    const QTextImageFormat& pictureFormat(const EntryPicture& picture);
    void onAnchorClicked(const QUrl& url);
    void applyFind(bool showCurrent);
    void refreshSearchText();
    // Colours for the view's palette, given to the text already shown when they changed.
    void followPalette();

    QPointer<QTextBrowser> view_;
    TranscriptIndex index_;
    // The frame of the pages put in last above loaded text, and how many pages it holds.
    static constexpr int kPagesPerFrame = 4;
    QPointer<QTextFrame> topFrame_;
    int topFramePages_ = 0;
    QDate lastDay_;       // the newest dated entry's day
    QTextBlock readLine_; // "여기까지 읽었습니다", invalid when none
    bool showsBeginning_ = false;
    int entryCap_ = kDefaultEntryCap;
    bool followBottom_ = true; // the reader is at the bottom: growth keeps them there
    bool trimAllowed_ = true;  // followBottom_ when the burst began
    static constexpr int kBottomSlack = 4;
    TranscriptSearch search_;
    NormalizedText searchText_;        // the transcript's text as searched, kept while appending
    bool searchTextStale_ = false;     // an entry changed in place: read the document afresh
    QString findText_;                 // the last find, run again when an entry changes
    QHash<QString, Picture> pictures_; // picture key -> document resource
    int nextPictureId_ = 0;
    ThumbnailProvider thumbnailProvider_;
    QHash<QString, QTextImageFormat> thumbnails_; // file id -> document resource
    QMultiHash<QString, int> awaitedThumbnails_;  // file id -> seq of an entry waiting
    int nextThumbnailId_ = 0;
    bool scrollPending_ = false;
    bool batchOpen_ = false;
    QTextCursor batch_;
    QTimer flashTimer_;
    QString pressedHref_;
    int colorsGeneration_ = 0; // of the colours the document's text has
};

} // namespace brindlewick
