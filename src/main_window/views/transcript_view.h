#pragma once
// The transcript of the open room, drawn into a QTextBrowser that the window owns: system lines,
// chat entries and file entries, the remembered entries, scrolling and find.
//
// Text only grows at the end. Each entry goes in with one edit and, where the visible lines allow,
// in one text block (line breaks inside an entry are line separators), which keeps a long
// transcript lean. Network text is always inserted as plain text.

#include "text_match.h"
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
#include <QTextImageFormat>
#include <QTimer>
#include <QUrl>

namespace brindlewick {

struct ChatItem {
    QString msgId;  // "" when none
    QString sender; // "" when none
    QString text;   // body, or "[파일] " and the name for a file entry
    QString time;   // "HH:MM" or ""
    bool mine = false;
    bool isFile = false;
    bool edited = false;  // the server changed the text since
    bool deleted = false; // the server removed it; text is the deletion note
    QString fileId;       // file entries only
    QString fileName;     // file entries only: the name, "file" when there was none at all
};

// The picture in front of an entry. An empty key means the placeholder (image ignored).
struct EntryPicture {
    QString key; // the picture's file id
    QImage image;
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
    void appendFileChatFrom(const QString& sender, const QString& name, const QString& fileId,
                            const QString& msgId, const QString& time, bool mine,
                            const EntryPicture& picture = {});
    // Empties the transcript, the entries and the find state (not the find text).
    void clearChat();

    // The newest entry with this id replaced in place: its text by the deletion note, or by the
    // new text marked as edited. False (and nothing changed) when no entry has the id.
    bool markDeleted(const QString& msgId);
    bool markEdited(const QString& msgId, const QString& text);

    const QList<ChatItem>& chatItems() const { return chatItems_; }
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

signals:
    void findCounterChanged(const QString& text);
    // A file link was clicked: the file id as written and a plain file name to suggest.
    void fileLinkClicked(const QString& fileId, const QString& suggestedName);
    // An http, https or mailto address in a message was clicked.
    void linkClicked(const QUrl& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Picture {
        qint64 sourceKey = 0;
        QImage scaled;
        QTextImageFormat format;
    };

    // Document positions of an entry: [start, end) in all, [bodyStart, bodyEnd) its text.
    struct Span {
        int start = 0;
        int bodyStart = 0;
        int bodyEnd = 0;
        int end = 0;
    };

    struct Entry;
    Entry beginEntry();
    void finishEntry(Entry& entry);
    void recordItem(const ChatItem& item, const Entry& entry);
    void replaceBody(int index, const QString& text, bool edited);
    void writePictureAndHeader(Entry& entry, const EntryPicture& picture, const QString& sender,
                               const QString& time, bool mine);
    const QTextImageFormat& pictureFormat(const EntryPicture& picture);
    void onAnchorClicked(const QUrl& url);
    void applyFind(bool showCurrent);
    void refreshSearchText();

    QPointer<QTextBrowser> view_;
    QList<ChatItem> chatItems_;
    QList<Span> spans_;           // parallel to chatItems_, ascending
    QHash<QString, int> byMsgId_; // id -> newest entry index
    TranscriptSearch search_;
    NormalizedText searchText_;        // the transcript's text as searched, kept while appending
    bool searchTextStale_ = false;     // an entry changed in place: read the document afresh
    QString findText_;                 // the last find, run again when an entry changes
    QHash<QString, Picture> pictures_; // picture key -> document resource
    int nextPictureId_ = 0;
    bool scrollPending_ = false;
    bool batchOpen_ = false;
    QTextCursor batch_;
    QTimer flashTimer_;
    QString pressedHref_;
};

} // namespace brindlewick
