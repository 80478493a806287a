#include "history_pages.h"

#include "message_list_view.h"

#include "chat_client.h"
#include "conversation.h"
#include "display_text.h"
#include "incoming_events.h"
#include "main_window.h"
#include "message_list_view.h"
#include "room_history.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QScrollBar>

#include <algorithm>
#include <optional>

namespace brindlewick {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// What an entry costs the transcript to lay out, by its characters.
qsizetype weight(const TranscriptEntry& entry) {
    return entry.text.size() + entry.sender.size() + entry.replyTo.size();
}

// Message ids count up within a room; an id that is not a number has no place in that order.
std::optional<qint64> idNumber(const QString& msgId) {
    bool ok = false;
    const qint64 n = msgId.toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

} // namespace

HistoryPages::HistoryPages(ChatClient& client, RoomSession& session, RoomHistory& history,
                           IncomingEvents& incoming, Conversation& conversation, MainWindow& window,
                           QObject* parent)
    : QObject(parent), client_(client), session_(session), history_(history), incoming_(incoming),
      conversation_(conversation), window_(window) {
    connect(&history_, &RoomHistory::pageArrived, this, &HistoryPages::pageArrived);
    connect(&history_, &RoomHistory::caughtUp, this, &HistoryPages::caughtUp);
    TranscriptView& transcript = window_.transcript();
    connect(&transcript, &TranscriptView::nearTopReached, this, &HistoryPages::loadOlderIfNearTop);
    connect(&transcript, &TranscriptView::trimmed, &history_, &RoomHistory::olderDropped);
    connect(&session_, &RoomSession::roomChanged, this, [this] { landing_ = false; });
    // The reader's own scrolling (wheel, bar actions, keys) ends a landing; the view's moves
    // from code do not count.
    MessageListView* view = transcript.view();
    connect(view, &MessageListView::readerScrolled, this, [this] { landing_ = false; });
    connect(view->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { landing_ = false; });
    view->installEventFilter(this);
}

bool HistoryPages::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress)
        landing_ = false; // keys move a list view's place without a slider action
    return QObject::eventFilter(watched, event);
}

void HistoryPages::land(bool hasOlder) {
    TranscriptView& transcript = window_.transcript();
    if (transcript.hasReadLine()) {
        landing_ = false;
        transcript.scrollToReadLine();
    } else if (!hasOlder || transcript.showsBeginning()) {
        landing_ = false;
        transcript.view()->verticalScrollBar()->setValue(0); // no read line: all is unread
    } else if (const ChatItem* oldest = transcript.firstMessage()) {
        // Without a connection nothing goes out; signing in again catches up and goes on.
        history_.requestOlder(oldest->msgId);
    }
}

void HistoryPages::loadOlderIfNearTop() {
    const TranscriptView& transcript = window_.transcript();
    if (!transcript.nearTop())
        return;
    if (const ChatItem* oldest = transcript.firstMessage())
        history_.requestOlder(oldest->msgId);
}

TranscriptEntry HistoryPages::entryFor(const wire::HistoryEntry& e) const {
    TranscriptEntry entry;
    entry.msgId = qt(e.msgId);
    entry.sender = shownText(e.sender);
    entry.isFile = e.kind == "file";
    entry.time = qt(e.time);
    entry.dayTime = qt(e.time);
    entry.text = entry.isFile ? shownText(e.fileName) : shownMessage(e.text);
    entry.fileId = qt(e.fileId);
    bool sized = false;
    const qint64 size = qt(e.fileSize).toLongLong(&sized);
    entry.fileSize = entry.isFile && sized && size >= 0 ? size : -1;
    entry.replyTo = shownText(e.replyTo, kSummaryChars);
    entry.edited = e.edited;
    entry.deleted = e.deleted;
    entry.mine = incoming_.isMine(entry.sender, qt(e.senderPhone));
    if (!entry.isFile || !entry.fileId.isEmpty())
        entry.picture = conversation_.pictureForSender(entry.sender);
    return entry;
}

void HistoryPages::pageArrived(const wire::HistoryPage& page, bool newest) {
    const QString room = qt(page.room);
    if (!session_.isOpen() || session_.room() != room)
        return;
    TranscriptView& transcript = window_.transcript();
    const ChatItem* first = transcript.firstMessage();
    // Only what is older than everything shown goes above it; live entries that came while the
    // page travelled are newer, and those it repeats are shown already.
    const std::optional<qint64> oldest = first ? idNumber(first->msgId) : std::nullopt;
    const qint64 mark = idNumber(history_.readMark()).value_or(0);

    // Newest first, up to the page's share of text; what is older waits for the next page.
    QList<TranscriptEntry> entries;
    QList<std::optional<qint64>> ids;
    qsizetype characters = 0;
    qsizetype older = 0; // entries of the page left for the next one
    for (auto e = page.entries.rbegin(); e != page.entries.rend(); ++e) {
        const std::optional<qint64> id = idNumber(qt(e->msgId));
        if (oldest && id && *id >= *oldest)
            continue;
        TranscriptEntry entry = entryFor(*e);
        characters += weight(entry);
        if (!entries.isEmpty() && characters > kPageChars) {
            older = page.entries.rend() - e;
            break;
        }
        entries.append(std::move(entry));
        ids.append(id);
    }
    std::reverse(entries.begin(), entries.end());
    std::reverse(ids.begin(), ids.end());
    const bool hasOlder = page.hasOlder || older > 0;
    if (older > 0) {
        history_.olderDropped(); // asked for again, from the oldest entry taken
        window_.setStatus(QStringLiteral("대화 기록이 너무 커서 %1개 중 %2개만 불러왔습니다")
                              .arg(entries.size() + older)
                              .arg(entries.size()));
    }
    int firstUnread = -1;
    for (int i = 0; i < ids.size() && firstUnread < 0; ++i)
        if (ids.at(i) && *ids.at(i) > mark)
            firstUnread = i;

    // The read line follows the last message read when the room was opened, where that boundary
    // is among what this page brings.
    PageMarks marks;
    marks.beginning = !hasOlder;
    if (!transcript.hasReadLine() && !history_.readMark().isEmpty()) {
        if (firstUnread > 0 || (firstUnread == 0 && !hasOlder))
            marks.readLineBefore = firstUnread;
        else if (firstUnread < 0 && !newest && first && idNumber(first->msgId).value_or(0) > mark)
            marks.readLineBefore = int(entries.size());
    }
    const int added = transcript.prependEntries(entries, marks);
    if (added == 0 && hasOlder && !newest) {
        history_.stop(); // asking again would bring the same page
        landing_ = false;
    }

    if (newest) {
        // Unread beyond the page: its oldest on top while the pages before it come.
        landing_ = marks.readLineBefore < 0 && firstUnread == 0 && hasOlder &&
                   !history_.readMark().isEmpty();
        if (marks.readLineBefore < 0 && firstUnread == 0 && hasOlder)
            transcript.view()->verticalScrollBar()->setValue(0);
        else
            transcript.scrollToReadLine();
        // One read mark for the newest message, when the page brought it.
        const ChatItem* last = transcript.lastMessage();
        if (last && !page.entries.empty() && last->msgId == qt(page.entries.back().msgId)) {
            const std::optional<qint64> newestId = idNumber(last->msgId);
            if (!newestId || *newestId > mark)
                client_.sendReadWatermarkToRoom(room, last->msgId);
        }
    }
    if (landing_)
        land(hasOlder);
    else
        loadOlderIfNearTop();
}

void HistoryPages::caughtUp(const wire::HistoryPage& page) {
    const QString room = qt(page.room);
    if (!session_.isOpen() || session_.room() != room)
        return;
    TranscriptView& transcript = window_.transcript();
    const QList<ChatItem>& shown = transcript.chatItems();
    qint64 oldestShown = 0, newestShown = 0;
    for (const ChatItem& item : shown)
        if (const std::optional<qint64> id = idNumber(item.msgId)) {
            oldestShown = oldestShown ? std::min(oldestShown, *id) : *id;
            newestShown = std::max(newestShown, *id);
        }
    QList<TranscriptEntry> newer;
    bool hole = false;
    for (const wire::HistoryEntry& e : page.entries) {
        const QString msgId = qt(e.msgId);
        const std::optional<qint64> id = idNumber(msgId);
        if (!id || *id < oldestShown)
            continue;
        if (*id > newestShown) {
            newer.append(entryFor(e));
            continue;
        }
        const int index = transcript.indexOfMsgId(msgId);
        if (index < 0) {
            hole = true; // a live message came before this page: it belongs above that one
            break;
        }
        if (e.deleted) {
            transcript.markDeleted(msgId);
        } else if (e.edited) {
            const QString text = shownMessage(e.text);
            if (shown[index].text != text)
                transcript.markEdited(msgId, text);
        }
    }
    // Ids of a room have no gaps: the page joins the transcript when it goes on from its newest.
    // More text than a page may bring at once is taken as a newest page of its own, too.
    qsizetype characters = 0;
    for (const TranscriptEntry& entry : std::as_const(newer))
        characters += weight(entry);
    if (hole || (!newer.isEmpty() && idNumber(newer.constFirst().msgId) != newestShown + 1) ||
        characters > kPageChars) {
        // Reopened: the newest page again, from the top, with its read line. Asked first, so
        // that the emptied transcript's scrolling finds a request under way, not a reason to
        // page back from what it held.
        history_.open(room);
        window_.clearTranscript();
        return;
    }
    for (const TranscriptEntry& entry : std::as_const(newer))
        transcript.appendEntry(entry);
    if (!newer.isEmpty())
        client_.sendReadWatermarkToRoom(room, newer.constLast().msgId);
    if (landing_)
        land(history_.hasOlder()); // the page on its way was lost with the connection
}

} // namespace brindlewick
