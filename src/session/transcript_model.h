#pragma once
// The open room's transcript as rows: messages, and the date, read, beginning and notice lines
// between them. Live messages are appended, pages of history go in above, edits and deletions
// change a row in place. A row costs its strings and a few numbers; views lay out and paint only
// the rows on screen.

#include <QAbstractListModel>
#include <QDate>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QSet>
#include <QString>

#include <deque>

namespace brindlewick {

// The user's own message before the server confirmed it: waiting in the outbox, or refused.
enum class SendState : quint8 { Sent, Waiting, Failed };

// One message as rows keep it.
struct ChatItem {
    QString msgId;  // "" when none
    QString sender; // "" when none
    QString text;   // body; the file's name for a file; the deletion note once deleted
    QString time;   // "HH:MM" (local) or ""
    bool mine = false;
    bool isFile = false;
    bool edited = false;  // the server changed the text since
    bool deleted = false; // the server removed it
    QString fileId;       // file entries only
    QString fileName;     // file entries only: the name, "file" when there was none at all
    qint64 fileSize = -1; // file entries only, -1 unknown
    QString replyTo;      // the id this answers, "" none
    QString pictureKey;   // the sender's picture (a file id), "" for the neutral one
    QDate day;            // local calendar day, invalid when unknown
    int minuteOfDay = -1; // local minutes since midnight, -1 unknown
    QString clientId;     // the outbox's id while not yet sent, else ""
    SendState sendState = SendState::Sent;
};

enum class RowKind : quint8 { Message, DateLine, ReadLine, Beginning, Notice };

struct TranscriptRow {
    RowKind kind = RowKind::Message;
    ChatItem item; // lines keep their text in item.text
    // The view's cache: the height laid out for a width (and whether the header was shown).
    mutable int layoutWidth = -1;
    mutable int layoutHeight = 0;
    mutable bool layoutHeader = false;
};

// What goes around a page besides its messages.
struct PageMarks {
    // Nothing is older: "대화의 처음입니다" and the first message's date line on top.
    bool beginning = false;
    // "여기까지 읽었습니다" before message `readLineBefore` of the page; the page's size means
    // before the row that was on top; -1 none.
    int readLineBefore = -1;
};

class TranscriptModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { KindRole = Qt::UserRole + 1, MessageIdRole };
    static const QString kDeletedText;   // "삭제된 메시지입니다"
    static const QString kBeginningText; // "대화의 처음입니다"
    static const QString kReadLineText;  // "여기까지 읽었습니다"
    // The date line's text, e.g. "2026년 12월 10일 목요일".
    static QString dayLineText(const QDate& day);
    // "1.2 MB", "340 KB", "12 B".
    static QString sizeText(qint64 bytes);

    explicit TranscriptModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    // DisplayRole and AccessibleTextRole: the row as a screen reader reads it.
    QVariant data(const QModelIndex& index, int role) const override;

    int size() const { return int(rows_.size()); }
    const TranscriptRow& row(int index) const { return rows_.at(std::size_t(index)); }
    // The message at `index`, null for lines and out of range.
    const ChatItem* message(int index) const;
    // "<sender>, <HH:MM>: <text>" (files: "…: 파일 <name> <size>"); lines: their text.
    QString spokenText(int index) const;
    int messageCount() const { return messages_; }

    // A stable number per row while it stays: grows downwards, kept across pages above.
    int seqOf(int index) const { return front_ + index; }
    // -1 when the row is gone.
    int indexOfSeq(int seq) const;
    // The newest message with this id, -1 when there is none (or the id is empty).
    int indexOfMsgId(const QString& msgId) const;
    // The row of the unsent message with this client id, -1 when there is none.
    int indexOfClientId(const QString& clientId) const;
    // The loaded message a reply answers, null when it is not loaded.
    const ChatItem* answered(const ChatItem& reply) const;

    // A message at the end, after a date line when its day differs from the last dated one's.
    void append(const ChatItem& item);
    // A centred line at the end (someone joined or left, a server notice).
    void appendNotice(const QString& text);
    // Older messages (oldest first) above everything, with their lines; ids already present are
    // skipped. Returns how many messages went in.
    int prepend(const QList<ChatItem>& items, const PageMarks& marks);
    // The newest message with this id changed in place; false when no row has it.
    bool markDeleted(const QString& msgId);
    bool markEdited(const QString& msgId, const QString& text);
    // The unsent message becomes `sent` (its id, time and day) in place; when a row already
    // shows that id (a page brought it first), the unsent row leaves instead. False when no row
    // has the client id.
    bool settle(const QString& clientId, const ChatItem& sent);
    bool setSendState(const QString& clientId, SendState state);
    // The unsent message leaves; false when no row has the client id.
    bool removeUnsent(const QString& clientId);
    // The top `count` rows leave (lines above what stays go with them).
    void removeFront(int count);
    void clear();

    bool showsBeginning() const { return showsBeginning_; }
    // Row index of the read line, -1 none.
    int readLineIndex() const { return readLineSeq_ < 0 ? -1 : indexOfSeq(readLineSeq_); }

signals:
    // A message's content changed in place (edit, delete): views drop its layout.
    void messageChanged(int index);

private:
    void insertFront(std::deque<TranscriptRow>& made);
    // Senders and times repeat from row to row: rows share one copy of each (up to a bound, so
    // a stream of made-up names cannot grow the table without end).
    void share(ChatItem& item);
    void forgetRow(const TranscriptRow& row, int seq);
    static TranscriptRow line(RowKind kind, const QString& text);

    std::deque<TranscriptRow> rows_;
    int front_ = 1 << 30; // seq of rows_[0]; both ends have room
    int messages_ = 0;
    QHash<QString, int> seqById_;
    QHash<QString, int> seqByClientId_; // unsent messages only
    QSet<QString> shared_;
    static constexpr qsizetype kSharedStrings = 4096;
    QDate lastDay_; // the newest dated message's day
    int readLineSeq_ = -1;
    bool showsBeginning_ = false;
};

} // namespace brindlewick
