// Pages of older messages above the transcript: the lines around them, the reader's place, replies
// answered by what a page brings, and the cap on loaded messages.

#include "local_zone.h"
#include "text_match.h"
#include "transcript_fixture.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <functional>

using namespace brindlewick;
using brindlewick::test::chat;
using brindlewick::test::fileEntry;
using brindlewick::test::Shown;

namespace {

const QString kBeginning = QStringLiteral("대화의 처음입니다");
const QString kRead = QStringLiteral("여기까지 읽었습니다");

// Every row: a message's id, a line's text in brackets.
QStringList rowsOf(const TranscriptModel& model) {
    QStringList out;
    for (int row = 0; row < model.size(); ++row)
        out << (model.message(row) ? model.message(row)->msgId
                                   : "[" + model.row(row).item.text + "]");
    return out;
}

QStringList idsOf(const TranscriptView& t) {
    QStringList out;
    for (const ChatItem& item : t.chatItems())
        out << item.msgId;
    return out;
}

QList<TranscriptEntry> numbered(int from, int to, const QString& prefix = QStringLiteral("t")) {
    QList<TranscriptEntry> out;
    for (int i = from; i < to; ++i)
        out << chat(QString::number(i), prefix + QString::number(i));
    return out;
}

// What the reader sees of the rows.
void expectSameMessages(const TranscriptView& a, const TranscriptView& b) {
    const QList<ChatItem> x = a.chatItems();
    const QList<ChatItem> y = b.chatItems();
    ASSERT_EQ(x.size(), y.size());
    for (int i = 0; i < x.size(); ++i)
        EXPECT_EQ(std::tie(x[i].msgId, x[i].sender, x[i].text, x[i].time, x[i].mine, x[i].isFile,
                           x[i].edited, x[i].deleted, x[i].fileId, x[i].fileName, x[i].replyTo,
                           x[i].day, x[i].minuteOfDay),
                  std::tie(y[i].msgId, y[i].sender, y[i].text, y[i].time, y[i].mine, y[i].isFile,
                           y[i].edited, y[i].deleted, y[i].fileId, y[i].fileName, y[i].replyTo,
                           y[i].day, y[i].minuteOfDay))
            << i;
    EXPECT_EQ(a.plainText(), b.plainText());
}

class PagesTest : public ::testing::Test {
protected:
    LocalZone zone{"Asia/Seoul"};
    Shown shown;
    TranscriptView& transcript = shown.transcript;
};

} // namespace

// A page put in above looks exactly like the same messages arriving live.
TEST_F(PagesTest, APageLooksLikeTheSameMessagesLive) {
    TranscriptEntry deleted = chat("3", "", "2026-12-10T01:00:00Z", "밥", "1");
    deleted.deleted = true;
    TranscriptEntry edited = chat("4", "고친 글 https://a.example", "2026-12-10T01:01:00Z");
    edited.edited = true;
    TranscriptEntry mine = chat("5", "내 답", "2026-12-10T01:02:00Z", "나", "2");
    mine.mine = true;
    TranscriptEntry deletedFile = fileEntry("6", "", "", "2026-12-10T01:03:00Z");
    deletedFile.deleted = true;
    const QList<TranscriptEntry> page = {chat("1", "첫 줄\n둘째 줄", "2026-12-10T00:59:00Z"),
                                         fileEntry("2", "보고서.pdf", "F2", "2026-12-10T01:00:00Z"),
                                         deleted,
                                         edited,
                                         mine,
                                         deletedFile,
                                         chat("7", "끝", "2026-12-10T01:04:00Z", "밥", "99"),
                                         chat("8", "다음 날", "2026-12-10T16:00:00Z")};
    Shown live;
    for (const TranscriptEntry& e : page)
        live.transcript.appendEntry(e);
    EXPECT_EQ(transcript.prependEntries(page, {}), page.size());
    expectSameMessages(transcript, live.transcript);
    EXPECT_EQ(rowsOf(shown.model()), rowsOf(live.model()));
    EXPECT_EQ(rowsOf(shown.model()).count("[2026년 12월 11일 금요일]"), 1);
    EXPECT_TRUE(shown.grab() == live.grab());
}

// Whatever was on top, the page joins it as if all had come live: groups, headers and replies
// take in the rows on both sides.
TEST_F(PagesTest, APageJoinsWhatWasOnTop) {
    const struct {
        const char* name;
        std::function<void(TranscriptView&)> live;
        QList<TranscriptEntry> page;
        QStringList rows;
    } cases[] = {
        {"one sender's group across the join",
         [](TranscriptView& t) { t.appendEntry(chat("3", "셋", "2026-12-10T10:01:00+09:00")); },
         {chat("1", "하나", "2026-12-10T10:00:00+09:00"),
          chat("2", "둘", "2026-12-10T10:00:00+09:00")},
         {"1", "2", "3"}},
        {"a notice on top",
         [](TranscriptView& t) {
             t.appendChat("[알림] 입장");
             t.appendEntry(chat("3", "셋"));
         },
         {chat("2", "둘")},
         {"2", "[[알림] 입장]", "3"}},
        {"a file above a message",
         [](TranscriptView& t) { t.appendEntry(chat("3", "셋")); },
         {fileEntry("2", "a.txt", "F2")},
         {"2", "3"}},
        {"the answered message comes with the page",
         [](TranscriptView& t) {
             t.appendEntry(chat("3", "답장", "", "준", "1"));
             t.appendEntry(chat("4", "또 답장", "", "준", "2"));
         },
         {chat("1", "원래 글"), fileEntry("2", "자료.pdf", "F2")},
         {"1", "2", "3", "4"}},
        {"another day on top",
         [](TranscriptView& t) { t.appendEntry(chat("3", "셋", "2026-12-11T10:00:00+09:00")); },
         {chat("2", "둘", "2026-12-10T10:00:00+09:00")},
         {"2", "[2026년 12월 11일 목요일]", "3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        transcript.clearChat();
        c.live(transcript);
        shown.grab(); // the rows on top laid out as they stood
        transcript.prependEntries(c.page, {});
        QStringList rows = c.rows;
        rows.replaceInStrings("목요일", "금요일");
        EXPECT_EQ(rowsOf(shown.model()), rows);
        EXPECT_TRUE(shown.grab() == shown.freshGrab());
        // Every message changes in place, found by its id.
        for (const ChatItem& item : transcript.chatItems())
            ASSERT_TRUE(transcript.markEdited(item.msgId, "새 " + item.msgId));
        for (const ChatItem& item : transcript.chatItems())
            EXPECT_EQ(item.text, "새 " + item.msgId);
        EXPECT_TRUE(shown.grab() == shown.freshGrab()) << "after the edits";
    }
}

TEST_F(PagesTest, IdsAlreadyShownAreNeverShownTwice) {
    transcript.appendEntry(chat("50", "live"));
    EXPECT_EQ(transcript.prependEntries({chat("48", "a"), chat("49", "b"), chat("50", "live")}, {}),
              2);
    EXPECT_EQ(idsOf(transcript), QStringList({"48", "49", "50"}));
    EXPECT_EQ(transcript.prependEntries({chat("48", "a")}, {}), 0);
    EXPECT_EQ(idsOf(transcript), QStringList({"48", "49", "50"}));
}

TEST_F(PagesTest, DateLinesWhereTheDayChangesAndAtTheBeginning) {
    const QString wed = "[2026년 12월 9일 수요일]";
    const QString thu = "[2026년 12월 10일 목요일]";
    const QString fri = "[2026년 12월 11일 금요일]";
    // 23:30 UTC on the 9th is already the 10th in Seoul.
    transcript.appendEntry(chat("5", "e", "2026-12-09T23:30:00Z"));
    transcript.appendEntry(chat("6", "f", "2026-12-10T10:00:00+09:00"));
    transcript.appendEntry(fileEntry("7", "g.txt", "F7", "2026-12-11T00:00:01+09:00"));
    // A single day so far has nothing to change from.
    EXPECT_EQ(rowsOf(shown.model()), QStringList({"5", "6", fri, "7"}));

    transcript.prependEntries(
        {chat("3", "c", "2026-12-09T09:00:00+09:00"), chat("4", "d", "2026-12-09T10:00:00+09:00")},
        {});
    EXPECT_EQ(rowsOf(shown.model()), QStringList({"3", "4", thu, "5", "6", fri, "7"}));
    EXPECT_EQ(transcript.chatItems().at(2).time, "08:30");
    PageMarks beginning;
    beginning.beginning = true;
    transcript.prependEntries({chat("1", "a", "2026-12-09T08:00:00+09:00")}, beginning);
    EXPECT_EQ(rowsOf(shown.model()),
              QStringList({"[" + kBeginning + "]", wed, "1", "3", "4", thu, "5", "6", fri, "7"}));
    EXPECT_TRUE(transcript.showsBeginning());
    // The beginning is shown once, whatever comes again.
    EXPECT_EQ(transcript.prependEntries({chat("1", "a", "2026-12-09T08:00:00+09:00")}, beginning),
              0);
    EXPECT_EQ(rowsOf(shown.model()).count("[" + kBeginning + "]"), 1);
    EXPECT_EQ(rowsOf(shown.model()).count(wed), 1);
    // Live messages of a later day get their line too.
    transcript.appendEntry(chat("8", "h", "2026-12-12T09:00:00+09:00"));
    EXPECT_EQ(rowsOf(shown.model()).mid(10), QStringList({"[2026년 12월 12일 토요일]", "8"}));
}

TEST_F(PagesTest, TheReadLineGoesWhereTheCallerSaysOnce) {
    const QList<TranscriptEntry> page = {chat("1", "a"), chat("2", "b"), chat("3", "c")};
    const QString read = "[" + kRead + "]";
    const struct {
        int before;
        bool beginning;
        QStringList rows;
    } cases[] = {
        {0, true, {"[" + kBeginning + "]", read, "1", "2", "3", "4"}},
        {2, false, {"1", "2", read, "3", "4"}},
        {3, false, {"1", "2", "3", read, "4"}}, // before what was on top
        {-1, false, {"1", "2", "3", "4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        transcript.clearChat();
        transcript.appendEntry(chat("4", "live"));
        PageMarks marks;
        marks.readLineBefore = c.before;
        marks.beginning = c.beginning;
        transcript.prependEntries(page, marks);
        EXPECT_EQ(rowsOf(shown.model()), c.rows);
        EXPECT_EQ(transcript.hasReadLine(), c.before >= 0);
        // A later page adds one only where none was placed yet.
        PageMarks again;
        again.readLineBefore = 0;
        transcript.prependEntries({chat("0", "z")}, again);
        EXPECT_EQ(rowsOf(shown.model()).count(read), 1);
    }
}

// Pages above leave every row the reader sees where it was, wherever they were reading.
TEST_F(PagesTest, APageAboveKeepsWhatTheReaderSees) {
    const struct {
        const char* name;
        std::function<void(Shown&)> place;
    } places[] = {
        {"at the top", [](Shown& s) { s.view.scrollToTop(0); }},
        {"a row's middle at the top",
         [](Shown& s) {
             s.view.scrollToTop(s.rowOf("130"));
             const QPoint at(50, 50);
             QWheelEvent wheel(at, s.view.viewport()->mapToGlobal(at), QPoint(0, 17), QPoint(),
                               Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(s.view.viewport(), &wheel);
         }},
        {"at the bottom", [](Shown& s) { s.view.scrollToBottom(); }},
    };
    for (const auto& p : places) {
        SCOPED_TRACE(p.name);
        transcript.clearChat();
        for (const TranscriptEntry& e : numbered(100, 160, "live "))
            transcript.appendEntry(e);
        transcript.flush();
        p.place(shown);
        const auto [first, last] = shown.view.shownRows();
        ASSERT_GE(first, 0);
        QStringList ids;
        QList<QRect> rects;
        for (int row = first; row <= last; ++row) {
            ids << shown.model().message(row)->msgId;
            rects << shown.view.visualRect(row);
        }
        ASSERT_EQ(transcript.prependEntries(numbered(50, 100, "old "), {}), 50);
        transcript.flush();
        for (int i = 0; i < ids.size(); ++i)
            EXPECT_EQ(shown.rectOf(ids[i]), rects[i]) << ids[i].toStdString();
    }
}

// Replies to messages a page brings, or that change later, quote them as they are now.
TEST_F(PagesTest, RepliesQuoteWhatAPageBringsAndWhatChanges) {
    transcript.appendEntry(chat("20", "답장", "", "준", "5"));
    transcript.appendEntry(chat("21", "또 답장", "", "준", "6"));
    const ChatItem* reply = transcript.messageAt(shown.rowOf("20"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(shown.model().answered(*reply), nullptr);
    shown.grab(); // laid out with the answered messages unknown
    transcript.prependEntries({chat("5", "원래 글"), chat("6", "그 다음", "", "밥", "5")}, {});
    reply = transcript.messageAt(shown.rowOf("20"));
    ASSERT_TRUE(shown.model().answered(*reply));
    EXPECT_EQ(shown.model().answered(*reply)->text, "원래 글");
    EXPECT_TRUE(shown.grab() == shown.freshGrab());
    // The answered message edited, then deleted: the quotes follow.
    ASSERT_TRUE(transcript.markEdited("5", "고친 원래 글, 훨씬 더 길게 고쳐서 한 줄을 넘기는 글"));
    EXPECT_TRUE(shown.grab() == shown.freshGrab());
    ASSERT_TRUE(transcript.markDeleted("6"));
    EXPECT_TRUE(shown.grab() == shown.freshGrab());
}

TEST_F(PagesTest, FindCountsPagedMessagesAndKeepsItsMatch) {
    QSignalSpy counter(&transcript, &TranscriptView::findCounterChanged);
    transcript.appendEntry(chat("10", "사과 하나"));
    transcript.appendEntry(chat("11", "사과 둘"));
    transcript.findSearchChanged("사과");
    transcript.findNext();
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    transcript.prependEntries({chat("7", "사과"), chat("8", "배"), chat("9", "사과 셋")}, {});
    EXPECT_EQ(counter.last().at(0).toString(), "4 / 4");
    const auto place = transcript.placeOf(*transcript.search().currentMatch());
    EXPECT_EQ(place.row, shown.rowOf("11"));
    EXPECT_EQ(place.start, 0);
}

TEST_F(PagesTest, TheCapTrimsFromTheTopOnlyAtTheBottom) {
    transcript.setEntryCap(20);
    QSignalSpy trimmed(&transcript, &TranscriptView::trimmed);
    PageMarks marks;
    marks.beginning = true;
    marks.readLineBefore = 0;
    transcript.prependEntries({chat("0", "zero")}, marks);
    for (const TranscriptEntry& e : numbered(1, 41))
        transcript.appendEntry(e);
    transcript.flush();
    // 41 messages in one burst with a cap of 20: the oldest leave, down to 12 at once.
    ASSERT_EQ(TranscriptView::keptAfterTrim(20), 12);
    EXPECT_EQ(rowsOf(shown.model()), idsOf(transcript));
    EXPECT_EQ(idsOf(transcript).first(), "29");
    EXPECT_EQ(idsOf(transcript).size(), 12);
    EXPECT_FALSE(transcript.showsBeginning());
    EXPECT_FALSE(transcript.hasReadLine());
    EXPECT_EQ(trimmed.count(), 1);
    EXPECT_EQ(transcript.indexOfMsgId("28"), -1);
    EXPECT_FALSE(transcript.markDeleted("3"));
    EXPECT_TRUE(transcript.markDeleted("29"));
    EXPECT_TRUE(shown.onScreen(shown.rowOf("40")));
    EXPECT_TRUE(shown.grab() == shown.freshGrab());

    // Reading further up: a burst keeps everything; back at the bottom, the next one trims.
    shown.view.scrollToTop(0);
    ASSERT_FALSE(shown.view.followsBottom());
    for (const TranscriptEntry& e : numbered(41, 51))
        transcript.appendEntry(e);
    transcript.flush();
    EXPECT_EQ(transcript.chatItems().size(), 22);
    EXPECT_EQ(trimmed.count(), 1);
    shown.view.scrollToBottom();
    transcript.appendEntry(chat("51", "t51"));
    transcript.flush();
    EXPECT_EQ(idsOf(transcript).first(), "40");
    EXPECT_EQ(idsOf(transcript).size(), 12);
    EXPECT_EQ(trimmed.count(), 2);

    // Paged back in above what was trimmed, messages are found again.
    transcript.prependEntries({chat("38", "t38"), chat("39", "t39")}, {});
    EXPECT_EQ(transcript.indexOfMsgId("38"), 0);
    EXPECT_EQ(transcript.rowOfMsgId("39"), 1);
}

// Page after page above live messages reads like the same messages arriving live; the cap trims
// through the pages at the bottom, and what stays is found, searched and changed.
TEST_F(PagesTest, ManyPagesReadAsOneAndTrimThroughThem) {
    Shown live;
    for (const TranscriptEntry& e : numbered(1, 11))
        live.transcript.appendEntry(e);
    transcript.appendEntry(chat("10", "t10"));
    for (const int top : {7, 4, 1})
        ASSERT_EQ(transcript.prependEntries(numbered(top, top + 3), {}), 3);
    expectSameMessages(transcript, live.transcript);
    EXPECT_TRUE(shown.grab() == live.grab());
    transcript.findSearchChanged("t");
    EXPECT_EQ(transcript.search().counterText(), "1 / 10");
    for (const char* id : {"3", "4", "5", "7", "8"}) {
        ASSERT_TRUE(transcript.markEdited(id, QStringLiteral("t%1 고침").arg(id)));
        ASSERT_TRUE(live.transcript.markEdited(id, QStringLiteral("t%1 고침").arg(id)));
    }
    expectSameMessages(transcript, live.transcript);

    transcript.setEntryCap(9);
    shown.view.scrollToBottom();
    transcript.appendEntry(chat("11", "t11"));
    transcript.flush();
    // Everything older than the newest ones leaves; what stays is unbroken and ends live.
    const QStringList kept = idsOf(transcript);
    ASSERT_EQ(kept.size(), TranscriptView::keptAfterTrim(9));
    for (int i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i].toInt(), 12 - kept.size() + i);
    transcript.findSearchChanged("t");
    EXPECT_EQ(transcript.search().matches().size(), kept.size());
    EXPECT_TRUE(transcript.markEdited(kept.first(), "고침"));
    transcript.closeFind(); // a view of its own shows no marks
    EXPECT_TRUE(shown.grab() == shown.freshGrab());

    // Paged back in, the trimmed messages read as before.
    QList<TranscriptEntry> back = numbered(1, kept.first().toInt());
    transcript.prependEntries(back, {});
    EXPECT_EQ(idsOf(transcript).size(), 11);
    EXPECT_EQ(idsOf(transcript).first(), "1");
}

TEST_F(PagesTest, OpensAtTheReadLineOrAtTheBottom) {
    PageMarks marks;
    marks.readLineBefore = 20;
    transcript.prependEntries(numbered(0, 60, "m"), marks);
    transcript.scrollToReadLine();
    const int readLine = shown.model().readLineIndex();
    ASSERT_GE(readLine, 0);
    const QRect line = shown.view.visualRect(readLine);
    ASSERT_FALSE(line.isEmpty());
    EXPECT_GE(line.top(), 0);
    EXPECT_LT(line.top(), 10);
    EXPECT_TRUE(shown.onScreen(shown.rowOf("20"))); // the first unread message
    EXPECT_FALSE(shown.onScreen(shown.rowOf("59")));
    EXPECT_FALSE(shown.view.followsBottom());
    // Messages that come meanwhile do not move it.
    transcript.appendEntry(chat("60", "new"));
    transcript.flush();
    EXPECT_EQ(shown.view.visualRect(readLine), line);

    transcript.clearChat();
    transcript.prependEntries(numbered(0, 60, "m"), {});
    transcript.scrollToReadLine();
    EXPECT_TRUE(shown.view.followsBottom());
    EXPECT_TRUE(shown.onScreen(shown.rowOf("59")));
    EXPECT_FALSE(shown.onScreen(shown.rowOf("0")));
}
