#pragma once
// Shows the open room's past in its transcript: the newest page on opening (then one read mark
// for the newest message), older pages as the reader nears the top, and after signing in anew
// what was said while the connection was down. A page only ever adds or updates entries: it
// never notifies, beeps, sends read marks per entry or counts as unread.
// A room opens on its read line with the first unread message below it, however many pages of
// unread that takes; with nothing unread, at the bottom.

#include "messages.h"

#include <QObject>

namespace brindlewick {

class ChatClient;
class Conversation;
class IncomingEvents;
class MainWindow;
class RoomHistory;
class RoomSession;
struct TranscriptEntry;

class HistoryPages : public QObject {
    Q_OBJECT
public:
    HistoryPages(ChatClient& client, RoomSession& session, RoomHistory& history,
                 IncomingEvents& incoming, Conversation& conversation, MainWindow& window,
                 QObject* parent = nullptr);

    // The most characters of message text a page puts into the transcript at once, which the
    // transcript lays out before the window paints again. The page's older entries beyond it are
    // dropped and asked for again with the next page, as the reader scrolls up.
    static constexpr qsizetype kPageChars = 30000;

    // Asks for the page before the oldest loaded entry when the reader is near the top.
    void loadOlderIfNearTop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pageArrived(const wire::HistoryPage& page, bool newest);
    // Appends what the newest page has beyond the transcript and applies edits and deletions
    // made meanwhile; reopens the room when the page does not join what is shown.
    void caughtUp(const wire::HistoryPage& page);
    TranscriptEntry entryFor(const wire::HistoryEntry& e) const;
    // Opening goes on to the read line: the page before the oldest entry, or, once the read line
    // (or the room's beginning) is shown, the view brought to it.
    void land(bool hasOlder);

    ChatClient& client_;
    RoomSession& session_;
    RoomHistory& history_;
    IncomingEvents& incoming_;
    Conversation& conversation_;
    MainWindow& window_;
    // The newest page was all unread: older pages are on their way to the read line. Ends when
    // it is reached, when the reader scrolls or uses a key in the transcript (their place wins),
    // and when the room changes.
    bool landing_ = false;
};

} // namespace brindlewick
