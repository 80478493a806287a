#include "history_pages.h"

#include "chat_client.h"
#include "conversation.h"
#include "display_text.h"
#include "incoming_events.h"
#include "main_window.h"
#include "room_history.h"
#include "room_session.h"
#include "transcript_view.h"

#include <QScrollBar>
#include <QTextBrowser>

#include <optional>

namespace brindlewick {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
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
}

void HistoryPages::loadOlderIfNearTop() {
    const TranscriptView& transcript = window_.transcript();
    if (transcript.nearTop() && !transcript.chatItems().isEmpty())
        history_.requestOlder(transcript.chatItems().constFirst().msgId);
}

TranscriptEntry HistoryPages::entryFor(const wire::HistoryEntry& e) const {
    TranscriptEntry entry;
    entry.msgId = qt(e.msgId);
    entry.sender = qt(e.sender);
    entry.isFile = e.kind == "file";
    // File entries show no time, as they do live; their time still places them by day.
    entry.time = entry.isFile ? QStringLiteral("") : qt(e.time);
    entry.dayTime = qt(e.time);
    entry.text = entry.isFile ? qt(e.fileName) : displayText(qt(e.text));
    entry.fileId = qt(e.fileId);
    entry.replyTo = qt(e.replyTo);
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
    const QList<ChatItem>& loaded = transcript.chatItems();
    // Only what is older than everything shown goes above it; live entries that came while the
    // page travelled are newer, and those it repeats are shown already.
    const std::optional<qint64> oldest =
        loaded.isEmpty() ? std::nullopt : idNumber(loaded.constFirst().msgId);
    const qint64 mark = idNumber(history_.readMark()).value_or(0);

    QList<TranscriptEntry> entries;
    entries.reserve(qsizetype(page.entries.size()));
    int firstUnread = -1;
    for (const wire::HistoryEntry& e : page.entries) {
        const std::optional<qint64> id = idNumber(qt(e.msgId));
        if (oldest && id && *id >= *oldest)
            continue;
        const TranscriptEntry entry = entryFor(e);
        if (firstUnread < 0 && id && *id > mark)
            firstUnread = int(entries.size());
        entries.append(entry);
    }

    // The read line follows the last message read when the room was opened, where that boundary
    // is among what this page brings.
    PageMarks marks;
    marks.beginning = !page.hasOlder;
    if (!transcript.hasReadLine() && !history_.readMark().isEmpty()) {
        if (firstUnread > 0 || (firstUnread == 0 && !page.hasOlder))
            marks.readLineBefore = firstUnread;
        else if (firstUnread < 0 && !newest && !loaded.isEmpty() &&
                 idNumber(loaded.constFirst().msgId).value_or(0) > mark)
            marks.readLineBefore = int(entries.size());
    }
    const int added = transcript.prependEntries(entries, marks);
    if (added == 0 && page.hasOlder && !newest)
        history_.stop(); // asking again would bring the same page

    if (newest) {
        if (marks.readLineBefore < 0 && firstUnread == 0 && page.hasOlder)
            transcript.view()->verticalScrollBar()->setValue(0); // unread beyond the page
        else
            transcript.scrollToReadLine();
        // One read mark for the newest message, when the page brought it.
        const QList<ChatItem>& items = transcript.chatItems();
        if (!items.isEmpty() && !page.entries.empty() &&
            items.constLast().msgId == qt(page.entries.back().msgId)) {
            const std::optional<qint64> newestId = idNumber(items.constLast().msgId);
            if (!newestId || *newestId > mark)
                client_.sendReadWatermarkToRoom(room, items.constLast().msgId);
        }
    }
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
            const QString text = displayText(qt(e.text));
            if (shown[index].text != text)
                transcript.markEdited(msgId, text);
        }
    }
    // Ids of a room have no gaps: the page joins the transcript when it goes on from its newest.
    if (hole || (!newer.isEmpty() && idNumber(newer.constFirst().msgId) != newestShown + 1)) {
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
}

} // namespace brindlewick
