#pragma once
// The transcript's entries in document order and where each one sits. An entry is found by its
// text block and offsets inside that block, never by an absolute position, so entries put in
// above it or removed above it cost it nothing. Each entry has a sequence number that grows
// downwards; its block's user state holds it, and an index is its distance from the top's.

#include <QDate>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QString>
#include <QTextBlock>

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

// Offsets are within the entry's block: [start, end of block) is the entry, [start, markerEnd)
// its reply line, [bodyStart, bodyEnd) its text.
struct EntryPlace {
    QTextBlock block;
    int start = 0;
    int markerEnd = 0;
    int bodyStart = 0;
    int bodyEnd = 0;
    QDate day; // local calendar day, invalid when the entry has no time
};

class TranscriptIndex {
public:
    // Sequence numbers start in the middle of int's range: both ends have room.
    static constexpr int kFirstSeq = 1 << 30;

    const QList<ChatItem>& items() const { return items_; }
    int size() const { return int(items_.size()); }
    bool isEmpty() const { return items_.isEmpty(); }
    const EntryPlace& place(int index) const { return places_.at(index); }
    EntryPlace& place(int index) { return places_[index]; }
    ChatItem& item(int index) { return items_[index]; }

    int seqOf(int index) const { return front_ + index; }
    // The entry with this sequence number, -1 when it is not (or no longer) in the transcript.
    int indexOfSeq(int seq) const;
    // The newest entry with this id, -1 when there is none (or the id is empty).
    int indexOfMsgId(const QString& msgId) const;

    // Returns the new entry's sequence number.
    int append(const ChatItem& item, const EntryPlace& place);
    // The sequence number the entry `count` places above the top will get.
    int frontSeq(int count) const { return front_ - count; }
    // Entries written above the top, oldest first, with the numbers frontSeq(items.size())...
    // An id already present keeps pointing at its newer entry.
    void prepend(const QList<ChatItem>& items, const QList<EntryPlace>& places);
    // The top `count` entries leave.
    void removeFront(int count);
    void clear();

    // Entries whose reply line shows the answered id because that message was not loaded.
    void addUnresolvedReply(const QString& answeredId, int seq);
    // The entries (indices, still present) waiting for `answeredId`; they are forgotten.
    QList<int> takeUnresolvedReplies(const QString& answeredId);
    bool hasUnresolvedReplies() const { return !unresolved_.isEmpty(); }

private:
    QList<ChatItem> items_;
    QList<EntryPlace> places_; // parallel to items_
    QHash<QString, int> seqById_;
    QMultiHash<QString, int> unresolved_; // answered id -> seq
    int front_ = kFirstSeq;               // seq of items_[0]
};

} // namespace brindlewick
