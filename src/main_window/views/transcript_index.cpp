#include "transcript_index.h"

namespace brindlewick {

int TranscriptIndex::indexOfSeq(int seq) const {
    const qint64 index = qint64(seq) - front_;
    return index >= 0 && index < items_.size() ? int(index) : -1;
}

int TranscriptIndex::indexOfMsgId(const QString& msgId) const {
    if (msgId.isEmpty())
        return -1;
    const auto it = seqById_.constFind(msgId);
    return it == seqById_.cend() ? -1 : indexOfSeq(*it);
}

int TranscriptIndex::append(const ChatItem& item, const EntryPlace& place) {
    const int seq = front_ + int(items_.size());
    items_.append(item);
    places_.append(place);
    if (!item.msgId.isEmpty())
        seqById_.insert(item.msgId, seq);
    return seq;
}

void TranscriptIndex::prepend(const QList<ChatItem>& items, const QList<EntryPlace>& places) {
    Q_ASSERT(items.size() == places.size());
    const int first = frontSeq(int(items.size()));
    // QList keeps room at its front, so prepending is amortized constant time per entry.
    for (qsizetype i = items.size() - 1; i >= 0; --i) {
        items_.prepend(items.at(i));
        places_.prepend(places.at(i));
    }
    front_ = first;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString& id = items.at(i).msgId;
        if (!id.isEmpty() && !seqById_.contains(id))
            seqById_.insert(id, first + int(i));
    }
}

void TranscriptIndex::removeFront(int count) {
    count = std::min(count, size());
    for (int i = 0; i < count; ++i) {
        const QString& id = items_.at(i).msgId;
        const auto it = seqById_.find(id);
        if (it != seqById_.end() && *it == front_ + i)
            seqById_.erase(it);
    }
    // Erasing at the front moves the list's start; the rest stays where it is.
    items_.remove(0, count);
    places_.remove(0, count);
    front_ += count;
    if (!unresolved_.isEmpty())
        unresolved_.removeIf([this](const auto& it) { return it.value() < front_; });
}

void TranscriptIndex::clear() {
    items_.clear();
    places_.clear();
    seqById_.clear();
    unresolved_.clear();
    front_ = kFirstSeq;
}

void TranscriptIndex::addUnresolvedReply(const QString& answeredId, int seq) {
    if (!answeredId.isEmpty())
        unresolved_.insert(answeredId, seq);
}

QList<int> TranscriptIndex::takeUnresolvedReplies(const QString& answeredId) {
    QList<int> indices;
    if (unresolved_.isEmpty())
        return indices;
    for (const int seq : unresolved_.values(answeredId))
        if (const int index = indexOfSeq(seq); index >= 0)
            indices.append(index);
    unresolved_.remove(answeredId);
    return indices;
}

} // namespace brindlewick
