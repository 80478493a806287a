#include "transcript_model.h"

#include <QSet>

namespace brindlewick {

const QString TranscriptModel::kDeletedText = QStringLiteral("삭제된 메시지입니다");
const QString TranscriptModel::kBeginningText = QStringLiteral("대화의 처음입니다");
const QString TranscriptModel::kReadLineText = QStringLiteral("여기까지 읽었습니다");

namespace {

// Names read aloud and shown in lists carry no control or format characters (line breaks,
// direction marks): each becomes a space.
QString spoken(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return out;
}

} // namespace

QString TranscriptModel::dayLineText(const QDate& day) {
    // Spelled out here rather than taken from the locale, which may lack Korean data.
    static const char16_t* const weekdays[] = {u"월요일", u"화요일", u"수요일", u"목요일",
                                               u"금요일", u"토요일", u"일요일"};
    if (!day.isValid())
        return QString();
    return QStringLiteral("%1년 %2월 %3일 %4")
        .arg(day.year())
        .arg(day.month())
        .arg(day.day())
        .arg(QString::fromUtf16(weekdays[day.dayOfWeek() - 1]));
}

QString TranscriptModel::sizeText(qint64 bytes) {
    if (bytes < 0)
        return QString();
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024, 0, 'f', bytes < 10 * 1024 ? 1 : 0);
    if (bytes < 1024LL * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / (1024.0 * 1024 * 1024), 0, 'f', 1);
}

TranscriptModel::TranscriptModel(QObject* parent) : QAbstractListModel(parent) {}

int TranscriptModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : size();
}

QVariant TranscriptModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return spokenText(index.row());
    case KindRole:
        return int(row(index.row()).kind);
    case MessageIdRole:
        return row(index.row()).item.msgId;
    default:
        return {};
    }
}

const ChatItem* TranscriptModel::message(int index) const {
    if (index < 0 || index >= size())
        return nullptr;
    const TranscriptRow& r = row(index);
    return r.kind == RowKind::Message ? &r.item : nullptr;
}

QString TranscriptModel::spokenText(int index) const {
    if (index < 0 || index >= size())
        return QString();
    const TranscriptRow& r = row(index);
    if (r.kind != RowKind::Message)
        return spoken(r.item.text);
    const ChatItem& m = r.item;
    QString out = spoken(m.sender);
    if (!m.time.isEmpty())
        out += QStringLiteral(", ") + m.time;
    if (m.sendState != SendState::Sent)
        out += m.sendState == SendState::Waiting ? QStringLiteral(", 전송 중")
                                                 : QStringLiteral(", 전송 실패");
    out += QStringLiteral(": ");
    if (m.deleted)
        return out + kDeletedText;
    if (m.isFile) {
        out += QStringLiteral("파일 ") + spoken(m.fileName);
        if (m.fileSize >= 0)
            out += QLatin1Char(' ') + sizeText(m.fileSize);
        return out;
    }
    out += spoken(m.text);
    if (m.edited)
        out += QStringLiteral(" (수정됨)");
    return out;
}

int TranscriptModel::indexOfSeq(int seq) const {
    const int index = seq - front_;
    return index >= 0 && index < size() ? index : -1;
}

int TranscriptModel::indexOfMsgId(const QString& msgId) const {
    if (msgId.isEmpty())
        return -1;
    const auto it = seqById_.constFind(msgId);
    return it == seqById_.cend() ? -1 : indexOfSeq(*it);
}

int TranscriptModel::indexOfClientId(const QString& clientId) const {
    if (clientId.isEmpty())
        return -1;
    const auto it = seqByClientId_.constFind(clientId);
    return it == seqByClientId_.cend() ? -1 : indexOfSeq(*it);
}

bool TranscriptModel::settle(const QString& clientId, const ChatItem& sent) {
    const int index = indexOfClientId(clientId);
    if (index < 0)
        return false;
    if (indexOfMsgId(sent.msgId) >= 0)
        return removeUnsent(clientId);
    seqByClientId_.remove(clientId);
    TranscriptRow& r = rows_[std::size_t(index)];
    r.item.msgId = sent.msgId;
    r.item.time = sent.time;
    r.item.day = sent.day;
    r.item.minuteOfDay = sent.minuteOfDay;
    if (r.item.isFile && !sent.fileId.isEmpty())
        r.item.fileId = sent.fileId;
    r.item.clientId.clear();
    r.item.sendState = SendState::Sent;
    share(r.item);
    if (!sent.msgId.isEmpty())
        seqById_.insert(sent.msgId, seqOf(index));
    r.layoutWidth = -1;
    emit messageChanged(index);
    emit dataChanged(this->index(index), this->index(index));
    return true;
}

bool TranscriptModel::setSendState(const QString& clientId, SendState state) {
    const int index = indexOfClientId(clientId);
    if (index < 0 || state == SendState::Sent)
        return false;
    TranscriptRow& r = rows_[std::size_t(index)];
    if (r.item.sendState != state) {
        r.item.sendState = state;
        r.layoutWidth = -1;
        emit messageChanged(index);
        emit dataChanged(this->index(index), this->index(index));
    }
    return true;
}

bool TranscriptModel::removeUnsent(const QString& clientId) {
    const int index = indexOfClientId(clientId);
    if (index < 0)
        return false;
    // Rows below move up one: their numbers follow.
    beginRemoveRows({}, index, index);
    const int seq = seqOf(index);
    forgetRow(rows_[std::size_t(index)], seq);
    rows_.erase(rows_.begin() + index);
    // Views keep layouts by number: the rows that took new numbers lay out again.
    for (std::size_t i = std::size_t(index); i < rows_.size(); ++i)
        rows_[i].layoutWidth = -1;
    if (readLineSeq_ > seq)
        --readLineSeq_;
    for (auto* table : {&seqById_, &seqByClientId_})
        for (auto it = table->begin(); it != table->end(); ++it)
            if (*it > seq)
                --*it;
    endRemoveRows();
    return true;
}

const ChatItem* TranscriptModel::answered(const ChatItem& reply) const {
    return message(indexOfMsgId(reply.replyTo));
}

TranscriptRow TranscriptModel::line(RowKind kind, const QString& text) {
    TranscriptRow r;
    r.kind = kind;
    r.item.text = text;
    return r;
}

void TranscriptModel::share(ChatItem& item) {
    for (QString* text : {&item.sender, &item.time}) {
        const auto it = shared_.constFind(*text);
        if (it != shared_.cend())
            *text = *it;
        else if (shared_.size() < kSharedStrings)
            shared_.insert(*text);
    }
}

void TranscriptModel::append(const ChatItem& item) {
    const bool dayLine = item.day.isValid() && lastDay_.isValid() && lastDay_ != item.day;
    const int first = size();
    beginInsertRows({}, first, first + (dayLine ? 1 : 0));
    if (dayLine)
        rows_.push_back(line(RowKind::DateLine, dayLineText(item.day)));
    if (item.day.isValid())
        lastDay_ = item.day;
    TranscriptRow r;
    r.item = item;
    share(r.item);
    rows_.push_back(std::move(r));
    ++messages_;
    if (!item.msgId.isEmpty())
        seqById_.insert(item.msgId, seqOf(size() - 1));
    if (!item.clientId.isEmpty() && item.sendState != SendState::Sent)
        seqByClientId_.insert(item.clientId, seqOf(size() - 1));
    endInsertRows();
}

void TranscriptModel::appendNotice(const QString& text) {
    beginInsertRows({}, size(), size());
    rows_.push_back(line(RowKind::Notice, text));
    endInsertRows();
}

int TranscriptModel::prepend(const QList<ChatItem>& items, const PageMarks& marks) {
    const bool beginning = marks.beginning && !showsBeginning_;
    QList<const ChatItem*> kept;
    QSet<QString> pageIds;
    int readLineAt = -1; // index into kept; kept.size(): before the old top
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i == marks.readLineBefore && readLineAt < 0)
            readLineAt = int(kept.size());
        const ChatItem& item = items.at(i);
        if (!item.msgId.isEmpty()) {
            if (seqById_.contains(item.msgId) || pageIds.contains(item.msgId))
                continue;
            pageIds.insert(item.msgId);
        }
        if (item.isFile && item.fileId.isEmpty() && !item.deleted)
            continue; // nothing to link to
        kept.append(&item);
    }
    if (marks.readLineBefore >= items.size() && readLineAt < 0)
        readLineAt = int(kept.size());
    if (readLineSeq_ >= 0)
        readLineAt = -1;
    if (kept.isEmpty() && !beginning && readLineAt < 0)
        return 0;

    std::deque<TranscriptRow> made;
    int readLineOffset = -1; // position of the read line within `made`
    auto readLineHere = [&](int at) {
        if (at == readLineAt) {
            readLineOffset = int(made.size());
            made.push_back(line(RowKind::ReadLine, kReadLineText));
        }
    };
    if (beginning)
        made.push_back(line(RowKind::Beginning, kBeginningText));
    QDate prevDay;
    for (int i = 0; i < kept.size(); ++i) {
        const ChatItem& item = *kept.at(i);
        if (item.day.isValid()) {
            if ((prevDay.isValid() && prevDay != item.day) || (!prevDay.isValid() && beginning))
                made.push_back(line(RowKind::DateLine, dayLineText(item.day)));
            prevDay = item.day;
        }
        readLineHere(i);
        TranscriptRow r;
        r.item = item;
        share(r.item);
        made.push_back(std::move(r));
    }
    // A date line between the page and what was on top when their days differ.
    QDate oldFirstDay;
    for (const TranscriptRow& r : rows_)
        if (r.kind == RowKind::Message) {
            oldFirstDay = r.item.day;
            break;
        }
    if (prevDay.isValid() && oldFirstDay.isValid() && prevDay != oldFirstDay &&
        !(rows_.size() && rows_.front().kind == RowKind::DateLine))
        made.push_back(line(RowKind::DateLine, dayLineText(oldFirstDay)));
    readLineHere(int(kept.size()));
    if (!lastDay_.isValid())
        lastDay_ = prevDay;
    if (beginning)
        showsBeginning_ = true;
    insertFront(made);
    if (readLineOffset >= 0)
        readLineSeq_ = front_ + readLineOffset;
    return int(kept.size());
}

void TranscriptModel::insertFront(std::deque<TranscriptRow>& made) {
    const int count = int(made.size());
    beginInsertRows({}, 0, count - 1);
    front_ -= count;
    for (int i = count - 1; i >= 0; --i) {
        TranscriptRow& r = made[std::size_t(i)];
        if (r.kind == RowKind::Message) {
            ++messages_;
            if (!r.item.msgId.isEmpty())
                seqById_.insert(r.item.msgId, front_ + i);
        }
        rows_.push_front(std::move(r));
    }
    endInsertRows();
}

bool TranscriptModel::markDeleted(const QString& msgId) {
    const int index = indexOfMsgId(msgId);
    if (index < 0)
        return false;
    TranscriptRow& r = rows_[std::size_t(index)];
    if (!r.item.deleted) {
        r.item.deleted = true;
        r.item.edited = false;
        r.item.text = kDeletedText;
        r.layoutWidth = -1;
        emit messageChanged(index);
        emit dataChanged(this->index(index), this->index(index));
    }
    return true;
}

bool TranscriptModel::markEdited(const QString& msgId, const QString& text) {
    const int index = indexOfMsgId(msgId);
    if (index < 0)
        return false;
    TranscriptRow& r = rows_[std::size_t(index)];
    if (!r.item.deleted) { // a removed message stays removed
        r.item.edited = true;
        r.item.text = text.isNull() ? QLatin1String("") : text;
        r.layoutWidth = -1;
        emit messageChanged(index);
        emit dataChanged(this->index(index), this->index(index));
    }
    return true;
}

void TranscriptModel::forgetRow(const TranscriptRow& r, int seq) {
    if (r.kind == RowKind::Message) {
        --messages_;
        const auto it = seqById_.find(r.item.msgId);
        if (it != seqById_.end() && *it == seq)
            seqById_.erase(it);
        const auto unsent = seqByClientId_.find(r.item.clientId);
        if (unsent != seqByClientId_.end() && *unsent == seq)
            seqByClientId_.erase(unsent);
    } else if (r.kind == RowKind::Beginning) {
        showsBeginning_ = false;
    }
    if (seq == readLineSeq_)
        readLineSeq_ = -1;
}

void TranscriptModel::removeFront(int count) {
    count = std::min(count, size());
    if (count <= 0)
        return;
    beginRemoveRows({}, 0, count - 1);
    for (int i = 0; i < count; ++i) {
        forgetRow(rows_.front(), front_);
        rows_.pop_front();
        ++front_;
    }
    endRemoveRows();
}

void TranscriptModel::clear() {
    beginResetModel();
    rows_.clear();
    front_ = 1 << 30;
    messages_ = 0;
    seqById_.clear();
    seqByClientId_.clear();
    shared_.clear();
    lastDay_ = QDate();
    readLineSeq_ = -1;
    showsBeginning_ = false;
    endResetModel();
}

} // namespace brindlewick
