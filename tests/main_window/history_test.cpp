// The open room's past from a fake server: the newest page on opening, older pages at the top,
// what a page never does, and pages that are not wanted any more.

#include "chat_fixture.h"
#include "history_pages.h"
#include "on_screen.h"
#include "room_history.h"

#include <QLineEdit>
#include <QScrollBar>

#include <functional>
#include <utility>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kBeginning = QStringLiteral("대화의 처음입니다");
const QString kRead = QStringLiteral("여기까지 읽었습니다");

class History : public ChatWindow {
protected:
    void open(const QString& room = QStringLiteral("r-1")) {
        controller->openRoom(room, QStringLiteral("팀"));
        settle();
    }
    // A page as the server writes it: entries "id" from `from` to `to` by 준호, every fifth the
    // user's own (by phone, under another nickname).
    wire::HistoryPage page(const QString& room, const QString& before, int from, int to,
                           bool hasOlder, const QString& readMark = "0") {
        wire::HistoryPage p{
            room.toStdString(), before.toStdString(), hasOlder, readMark.toStdString(), {}};
        for (int i = from; i <= to; ++i) {
            wire::HistoryEntry e;
            e.msgId = std::to_string(i);
            e.kind = "chat";
            const bool mine = i % 5 == 0;
            e.sender = mine ? "다른 이름" : "준호";
            e.senderPhone = mine ? kMyPhone : "01033334444";
            e.time = "2026-12-10T09:00:00";
            e.text = "글 " + std::to_string(i);
            p.entries.push_back(e);
        }
        return p;
    }
    void deliver(const wire::HistoryPage& p) {
        controller->receiveFrame(MessageType::HistoryPage, p.encode());
        settle();
    }
    QStringList ids() const {
        QStringList out;
        for (const ChatItem& item : chatItems())
            out << item.msgId;
        return out;
    }
    static QStringList range(int from, int to) {
        QStringList out;
        for (int i = from; i <= to; ++i)
            out << QString::number(i);
        return out;
    }
    RoomHistory& history() const { return *controller->session().history; }
};

} // namespace

TEST_F(History, OpeningShowsTheNewestPageWithTheReadLineAndMarksTheRoomReadOnce) {
    open();
    ASSERT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-1", "", "50"}}));
    EXPECT_TRUE(history().loading());
    const QString statusBefore = status();
    chat.clearFrames();

    deliver(page("r-1", "", 1, 3, false, "1"));
    EXPECT_FALSE(history().loading());
    EXPECT_EQ(ids(), range(1, 3));
    EXPECT_TRUE(transcriptText().startsWith(kBeginning + "\n2026년 12월 10일 목요일\n"));
    EXPECT_TRUE(transcriptText().contains("준호, 09:00: 글 1\n" + kRead + "\n준호, 09:00: 글 2\n"));
    // One read mark for the newest; no notification, beep or status text for any entry.
    EXPECT_EQ(sent(MessageType::ReadWatermark), QList<QStringList>({{"r-1", "3"}}));
    EXPECT_EQ(platform.calls, QStringList());
    EXPECT_EQ(status(), statusBefore);
    // The nothing-older page asks for nothing more.
    EXPECT_EQ(sent(MessageType::HistoryRequest).size(), 0);
}

TEST_F(History, MineByPhoneAndEntriesLookLikeLiveOnes) {
    open();
    wire::HistoryPage p = page("r-1", "", 4, 5, false);
    p.entries[0].replyTo = "2"; // not loaded: by id
    p.entries[1].replyTo = "4";
    p.entries[1].text = "[sticker:x]";
    deliver(p);
    ASSERT_EQ(chatItems().size(), 2);
    EXPECT_FALSE(chatItems()[0].mine);
    EXPECT_TRUE(chatItems()[1].mine); // the phone decides, not the nickname
    EXPECT_TRUE(transcriptText().endsWith("준호, 09:00: 글 4\n다른 이름, 09:00: [이모티콘]"));
    // Each reply keeps what it answers; only the loaded one has a quote to show.
    const TranscriptModel& model = ui().transcript().model();
    EXPECT_EQ(chatItems()[0].replyTo, "2");
    EXPECT_EQ(model.answered(chatItems()[0]), nullptr);
    EXPECT_EQ(chatItems()[1].replyTo, "4");
    const ChatItem* answered = model.answered(chatItems()[1]);
    ASSERT_NE(answered, nullptr);
    EXPECT_EQ(answered->sender, "준호");
    EXPECT_EQ(answered->text, "글 4");
}

TEST_F(History, ALiveMessageWhileThePageTravelsIsShownOnceInOrder) {
    open();
    receive(MessageType::Chat,
            {"r-1", "준호", "글 60", "2026-12-10T09:00:00+09:00", "60", "01033334444", ""});
    receive(MessageType::Chat,
            {"r-1", "준호", "글 61", "2026-12-10T09:00:00+09:00", "61", "01033334444", ""});
    settle();
    // The page repeats what came live (it was committed before the page was read).
    deliver(page("r-1", "", 11, 60, true, "55"));
    EXPECT_EQ(ids(), range(11, 61));
    EXPECT_EQ(transcriptText().count("글 60\n"), 1);
    EXPECT_EQ(platform.count("notify"), 0);
}

TEST_F(History, PagesForARoomNoLongerOpenAreDropped) {
    open("r-1");
    open("r-2");
    deliver(page("r-1", "", 1, 3, false));
    EXPECT_EQ(ids(), QStringList());
    EXPECT_TRUE(history().loading());
    deliver(page("r-2", "", 7, 8, false));
    EXPECT_EQ(ids(), range(7, 8));
    // Back to r-1: its own new request is answered, an old answer for r-2 is not shown.
    open("r-1");
    deliver(page("r-2", "", 7, 8, false));
    EXPECT_EQ(ids(), QStringList());
    deliver(page("r-1", "", 1, 2, false));
    EXPECT_EQ(ids(), range(1, 2));
}

TEST_F(History, ScrollingToTheTopLoadsOlderPagesOneAtATime) {
    open();
    deliver(page("r-1", "", 101, 150, true, "150"));
    ui().transcript().flush();
    QScrollBar* bar = ui().transcript().view()->verticalScrollBar();
    ASSERT_EQ(bar->value(), bar->maximum()); // everything read: at the bottom
    chat.clearFrames();

    bar->setValue(0);
    bar->setValue(1);
    bar->setValue(0);
    settle();
    ASSERT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-1", "101", "50"}}));
    // The row at the view's top and where it stands.
    const auto topText = [&] {
        MessageListView* view = ui().transcript().view();
        const int row = view->shownRows().first;
        return ui().transcript().model().spokenText(row) +
               QString::number(view->visualRect(row).top());
    };
    const QString topBefore = topText();
    deliver(page("r-1", "101", 51, 100, true, "150"));
    EXPECT_EQ(ids(), range(51, 150));
    EXPECT_GT(bar->value(), 0); // the reader still looks at what they looked at
    EXPECT_EQ(topText(), topBefore);

    chat.clearFrames();
    bar->setValue(0);
    settle();
    ASSERT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-1", "51", "50"}}));
    deliver(page("r-1", "51", 1, 50, false, "150"));
    EXPECT_EQ(ids(), range(1, 150));
    EXPECT_TRUE(transcriptText().startsWith(kBeginning + "\n"));
    EXPECT_EQ(transcriptText().count(kRead), 0);
    chat.clearFrames();
    bar->setValue(0);
    settle();
    EXPECT_EQ(sent(MessageType::HistoryRequest).size(), 0);
    EXPECT_EQ(sent(MessageType::ReadWatermark).size(), 0);
}

TEST_F(History, ARefusalOrALostConnectionEndsTheWait) {
    open();
    ASSERT_TRUE(history().loading());
    receive(MessageType::ServerError, {"20", "방의 멤버가 아닙니다"});
    settle();
    EXPECT_FALSE(history().loading());
    EXPECT_TRUE(transcriptText().contains("[오류] 방의 멤버가 아닙니다"));

    // A lost connection forgets the request; signing in again asks anew.
    open("r-2");
    ASSERT_TRUE(history().loading());
    controller->session().events->chatDisconnected(QStringLiteral("서버 연결 종료"));
    settle();
    EXPECT_FALSE(history().loading());
    chat.clearFrames();
    receive(MessageType::AuthOk, {kMyPhone});
    settle();
    EXPECT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-2", "", "50"}}));
}

// Signing in again with a room open brings what was said while the connection was down below
// what is shown, and what changed meanwhile; a page that does not join reopens the room.
TEST_F(History, SigningInAgainCatchesUpTheOpenRoom) {
    open();
    deliver(page("r-1", "", 1, 10, false, "10"));
    ASSERT_EQ(ids(), range(1, 10));
    auto reconnect = [this] {
        controller->session().events->chatDisconnected(QStringLiteral("서버 연결 종료"));
        settle();
        chat.clearFrames();
        receive(MessageType::AuthOk, {kMyPhone});
        settle();
        EXPECT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-1", "", "50"}}));
        chat.clearFrames();
    };

    reconnect();
    wire::HistoryPage missed = page("r-1", "", 1, 14, false, "10");
    missed.entries[2].deleted = true;
    missed.entries[2].text.clear();
    missed.entries[3].edited = true;
    missed.entries[3].text = "고친 글";
    deliver(missed);
    EXPECT_EQ(ids(), range(1, 14));
    EXPECT_TRUE(chatItems()[2].deleted);
    EXPECT_EQ(chatItems()[3].text, "고친 글");
    EXPECT_TRUE(chatItems()[3].edited);
    EXPECT_EQ(sent(MessageType::ReadWatermark), QList<QStringList>({{"r-1", "14"}}));
    EXPECT_EQ(platform.calls, QStringList());

    // Nothing new: nothing changes and nothing is marked read.
    reconnect();
    deliver(page("r-1", "", 1, 14, false, "14"));
    EXPECT_EQ(ids(), range(1, 14));
    EXPECT_TRUE(chatItems()[2].deleted);
    EXPECT_TRUE(sent(MessageType::ReadWatermark).isEmpty());

    struct Case {
        const char* name;
        int liveId;           // a live message before the page; 0: none
        int pageFrom, pageTo; // what the newest page holds
    };
    // More than a page was missed; or a live message came first, and the missed ones belong
    // above it. Either way the room opens again at its newest page.
    for (const Case& c :
         {Case{"more than a page", 0, 100, 149}, Case{"live first", 152, 102, 151}}) {
        SCOPED_TRACE(c.name);
        reconnect();
        if (c.liveId)
            receive(MessageType::Chat,
                    {"r-1", "준호", "새 글", "", QString::number(c.liveId), "01033334444", ""});
        deliver(page("r-1", "", c.pageFrom, c.pageTo, true, "14"));
        EXPECT_TRUE(chatItems().isEmpty());
        EXPECT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-1", "", "50"}}));
        const int newest = std::max(c.liveId, c.pageTo);
        deliver(page("r-1", "", newest - 49, newest, true, "14"));
        EXPECT_EQ(ids(), range(newest - 49, newest));
    }
}

// A server without the extension never answers: nothing about history shows at all.
TEST_F(History, NoAnswerShowsNothing) {
    open();
    receive(MessageType::Chat, {"r-1", "준호", "안녕", "", "7", "01033334444", ""});
    settle();
    EXPECT_EQ(transcriptText(), "준호: 안녕");
}

TEST_F(History, TheCapLetsOldEntriesGoAndPagingBringsThemBack) {
    ui().transcript().setEntryCap(60);
    open();
    deliver(page("r-1", "", 1, 50, false, "50"));
    for (int i = 51; i <= 80; ++i)
        receive(MessageType::Chat,
                {"r-1", "준호", QString("글 %1").arg(i), "2026-12-10T09:00:00+09:00",
                 QString::number(i), "01033334444", ""});
    settle();
    ui().transcript().flush();
    const int first = 81 - TranscriptView::keptAfterTrim(60);
    ASSERT_EQ(ids(), range(first, 80));
    EXPECT_FALSE(transcriptText().contains(kBeginning));
    EXPECT_TRUE(history().hasOlder());
    chat.clearFrames();
    ui().transcript().view()->verticalScrollBar()->setValue(0);
    settle();
    ASSERT_EQ(sent(MessageType::HistoryRequest),
              QList<QStringList>({{"r-1", QString::number(first), "50"}}));
    deliver(page("r-1", QString::number(first), 1, first - 1, false, "50"));
    EXPECT_EQ(ids(), range(1, 80));
    EXPECT_TRUE(transcriptText().startsWith(kBeginning));
}

// The find bar searches everything loaded, pages included, and its counter follows new pages.
TEST_F(History, FindCoversHistory) {
    open();
    deliver(page("r-1", "", 51, 100, true, "100"));
    ui().openFindBar();
    named<QLineEdit>("findSearchField")->setText(QStringLiteral("글 9"));
    // "글 9" and "글 90" to "글 99".
    EXPECT_EQ(named<QLabel>("findResultLabel")->text(), "1 / 10");
    ui().transcript().view()->verticalScrollBar()->setValue(0);
    settle();
    deliver(page("r-1", "51", 1, 50, false, "100"));
    EXPECT_EQ(named<QLabel>("findResultLabel")->text(), "2 / 11");
}

namespace {

// The view's own geometry, as the reader sees it.
class Landing : public History {
protected:
    QAbstractScrollArea* view() const { return ui().transcript().view(); }
    // The read line stands at the top of the view and the message after it is on screen.
    void expectLandedOn(const QString& firstUnread) {
        ui().transcript().flush();
        const QRect readLine = viewportRectOf(view(), kRead);
        ASSERT_FALSE(readLine.isEmpty());
        EXPECT_GE(readLine.top(), 0);
        EXPECT_LT(readLine.top(), view()->viewport()->height() / 4);
        EXPECT_TRUE(onScreen(view(), firstUnread)) << firstUnread.toStdString();
    }
    // Waits for the client to ask for the page before `before`; false if it never does.
    bool asksBefore(const QString& room, int before) {
        const QStringList request = {room, QString::number(before), "50"};
        return waitUntil([&] { return sent(MessageType::HistoryRequest).contains(request); });
    }
};

} // namespace

// However many pages are unread, opening asks for them one after another and shows the read
// line on top with the first unread message below it; the edge of a page changes nothing.
TEST_F(Landing, OpeningGoesBackToTheReadLineHoweverManyPagesItTakes) {
    struct Case {
        const char* room;
        int mark;      // the last message read
        int pages;     // pages the client needs, the newest (151..200) first
        bool hasOlder; // something older than the last page needed exists
    };
    for (const Case& c : {Case{"two pages", 120, 2, true}, Case{"three pages", 60, 3, true},
                          Case{"read line at a page's edge", 150, 2, true},
                          Case{"everything unread", 0, 4, false}}) {
        SCOPED_TRACE(c.room);
        chat.clearFrames();
        open(c.room);
        for (int p = 0; p < c.pages; ++p) {
            const int to = 200 - 50 * p;
            if (p > 0) {
                ASSERT_TRUE(asksBefore(c.room, to + 1));
            }
            const bool older = p + 1 < c.pages || c.hasOlder;
            deliver(page(c.room, p == 0 ? "" : QString::number(to + 1), to - 49, to, older,
                         QString::number(c.mark)));
        }
        EXPECT_EQ(ids(), range(201 - 50 * c.pages, 200));
        EXPECT_EQ(transcriptText().count(kRead), 1);
        expectLandedOn(QString("글 %1").arg(c.mark + 1));
        EXPECT_EQ(transcriptText().contains(kBeginning), !c.hasOlder);
        // Landed: nothing more is asked for, and the newest page's read mark was the only one.
        settle();
        EXPECT_EQ(sent(MessageType::HistoryRequest).size(), c.pages);
        EXPECT_EQ(sent(MessageType::ReadWatermark), QList<QStringList>({{c.room, "200"}}));
    }
}

// A reader who scrolls or uses a key while the pages come keeps their place; the pages still go
// in above, and the read line is where it belongs.
TEST_F(Landing, TheReadersOwnScrollingWinsOverLanding) {
    QWidget* transcript = view();
    const std::pair<const char*, std::function<void()>> moves[] = {
        {"scroll bar",
         [&] { view()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); }},
        {"key", [&] { QTest::keyClick(transcript, Qt::Key_Down); }},
    };
    for (const auto& [name, move] : moves) {
        SCOPED_TRACE(name);
        const QString room = QString::fromLatin1(name);
        chat.clearFrames();
        open(room);
        deliver(page(room, "", 151, 200, true, "120"));
        ASSERT_TRUE(asksBefore(room, 151));
        move();
        ui().transcript().flush();
        // The message the reader looks at: the first of the page wholly in view.
        QString looked;
        for (int n = 151; n <= 200 && looked.isEmpty(); ++n)
            if (onScreen(view(), QString("글 %1").arg(n)))
                looked = QString("글 %1").arg(n);
        ASSERT_FALSE(looked.isEmpty());
        const QRect before = viewportRectOf(view(), looked);
        deliver(page(room, "151", 101, 150, true, "120"));
        ui().transcript().flush();
        EXPECT_EQ(ids(), range(101, 200));
        EXPECT_EQ(viewportRectOf(view(), looked), before) << looked.toStdString();
        EXPECT_EQ(transcriptText().count(kRead), 1);
        EXPECT_FALSE(onScreen(view(), kRead)); // above the view, not brought to it
    }
}

// Another room opened on the way ends the landing: the old room's page shows nowhere and asks
// for nothing more.
TEST_F(Landing, AnotherRoomOpenedOnTheWayEndsIt) {
    open("r-1");
    deliver(page("r-1", "", 151, 200, true, "120"));
    ASSERT_TRUE(asksBefore("r-1", 151));
    chat.clearFrames();
    open("r-2");
    deliver(page("r-1", "151", 101, 150, true, "120"));
    deliver(page("r-2", "", 1, 60, false, "60"));
    ui().transcript().flush();
    EXPECT_EQ(ids(), range(1, 60));
    settle();
    EXPECT_EQ(sent(MessageType::HistoryRequest), QList<QStringList>({{"r-2", "", "50"}}));
    QScrollBar* bar = view()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum()); // everything read: the bottom
}

// The connection lost while a page is on its way: once signed in again, what came meanwhile goes
// below and the landing goes on from the oldest entry.
TEST_F(Landing, ALostConnectionOnTheWayResumesAfterSigningIn) {
    open();
    deliver(page("r-1", "", 151, 200, true, "120"));
    ASSERT_TRUE(asksBefore("r-1", 151));
    controller->session().events->chatDisconnected(QStringLiteral("서버 연결 종료"));
    settle();
    chat.clearFrames();
    receive(MessageType::AuthOk, {kMyPhone});
    ASSERT_TRUE(waitUntil([&] {
        return sent(MessageType::HistoryRequest) == QList<QStringList>({{"r-1", "", "50"}});
    }));
    deliver(page("r-1", "", 153, 202, true, "120"));
    EXPECT_EQ(ids(), range(151, 202));
    ASSERT_TRUE(asksBefore("r-1", 151));
    deliver(page("r-1", "151", 101, 150, true, "120"));
    EXPECT_EQ(ids(), range(101, 202));
    expectLandedOn("글 121");
}
