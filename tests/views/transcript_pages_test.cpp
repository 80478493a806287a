// Pages of older entries above the transcript, the lines around them and the cap on entries.

#include "event_loop.h"
#include "local_zone.h"
#include "transcript_view.h"

#include <QAbstractTextDocumentLayout>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <ctime>

using namespace brindlewick;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

const QString kObj = QString(QChar::ObjectReplacementCharacter);
const QString kBeginning = QStringLiteral("대화의 처음입니다");
const QString kRead = QStringLiteral("여기까지 읽었습니다");

TranscriptEntry chat(const QString& id, const QString& text, const QString& time = "",
                     const QString& replyTo = "") {
    TranscriptEntry e;
    e.msgId = id;
    e.sender = QStringLiteral("밥");
    e.text = text;
    e.time = time;
    e.dayTime = time;
    e.replyTo = replyTo;
    return e;
}

TranscriptEntry file(const QString& id, const QString& name, const QString& time = "") {
    TranscriptEntry e = chat(id, name, "");
    e.isFile = true;
    e.fileId = QStringLiteral("F") + id;
    e.dayTime = time;
    return e;
}

class PagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        browser.setLineWrapMode(QTextEdit::NoWrap);
        browser.resize(600, 300);
        browser.show();
    }
    QString text() { return transcript.plainText(); }
    QStringList ids() {
        QStringList out;
        for (const ChatItem& item : transcript.chatItems())
            out << item.msgId;
        return out;
    }
    // The entry under the start of `needle`'s text.
    int entryAtText(const QString& needle) {
        transcript.flush();
        QTextCursor c(browser.document());
        c.setPosition(int(text().indexOf(needle)) + 1);
        browser.ensureCursorVisible();
        browser.setTextCursor(c);
        browser.ensureCursorVisible();
        return transcript.entryAt(browser.cursorRect(c).center());
    }
    // The text of the block at the view's top and how far it is above the top edge.
    std::pair<QString, int> topOfView() {
        const QTextBlock block = browser.cursorForPosition(QPoint(0, 0)).block();
        const QRectF rect = browser.document()->documentLayout()->blockBoundingRect(block);
        return {block.text(), int(rect.bottom()) - browser.verticalScrollBar()->value()};
    }

    LocalZone zone{"Asia/Seoul"};
    QTextBrowser browser;
    TranscriptView transcript{&browser};
};

} // namespace

// A page written above looks exactly like the same entries arriving live.
TEST_F(PagesTest, APageLooksLikeTheSameEntriesLive) {
    TranscriptEntry deleted = chat("3", "", "2026-12-10T01:00:00Z", "1");
    deleted.deleted = true;
    TranscriptEntry edited = chat("4", "고친 글 https://a.example", "2026-12-10T01:01:00Z");
    edited.edited = true;
    TranscriptEntry mine = chat("5", "내 답", "2026-12-10T01:02:00Z", "2");
    mine.mine = true;
    TranscriptEntry deletedFile = file("6", "", "2026-12-10T01:03:00Z");
    deletedFile.fileId.clear();
    deletedFile.deleted = true;
    const QList<TranscriptEntry> page = {chat("1", "첫 줄\n둘째 줄", "2026-12-10T00:59:00Z"),
                                         file("2", "보고서.pdf", "2026-12-10T01:00:00Z"),
                                         deleted,
                                         edited,
                                         mine,
                                         deletedFile,
                                         chat("7", "끝", "2026-12-10T01:04:00Z", "99")};

    QTextBrowser liveBrowser;
    TranscriptView live(&liveBrowser);
    for (const TranscriptEntry& e : page)
        live.appendEntry(e);
    live.flush();
    EXPECT_EQ(transcript.prependEntries(page, {}), page.size());

    EXPECT_EQ(text(), live.plainText());
    // Formats alike, character by character (block numbering aside).
    const auto html = [](QTextDocument* doc) {
        return doc->toHtml().remove(QRegularExpression("-qt-user-state:\\d+;"));
    };
    EXPECT_EQ(html(browser.document()), html(liveBrowser.document()));
    ASSERT_EQ(transcript.chatItems().size(), live.chatItems().size());
    for (int i = 0; i < live.chatItems().size(); ++i) {
        const ChatItem& a = transcript.chatItems()[i];
        const ChatItem& b = live.chatItems()[i];
        EXPECT_EQ(std::tie(a.msgId, a.sender, a.text, a.time, a.mine, a.isFile, a.edited, a.deleted,
                           a.fileId, a.fileName),
                  std::tie(b.msgId, b.sender, b.text, b.time, b.mine, b.isFile, b.edited, b.deleted,
                           b.fileId, b.fileName))
            << i;
    }
    EXPECT_TRUE(text().contains("  ↳ 밥: [파일] 보고서.pdf\n" + kObj + " 밥  10:02\n내 답\n"));
    EXPECT_TRUE(text().contains(kObj + " 밥  10:00\n삭제된 메시지입니다\n"));
    EXPECT_TRUE(text().contains("고친 글 https://a.example (수정됨)\n"));
}

// Whatever was on top (an entry of either kind or a system line), the page joins it with the
// transcript's usual spacing, and every entry is still found and changed in its own place.
TEST_F(PagesTest, APageJoinsWhatWasOnTop) {
    const struct {
        const char* name;
        std::function<void(TranscriptView&)> live;
        QList<TranscriptEntry> page;
        QString expected;
    } cases[] = {
        {"chat below chat",
         [](TranscriptView& t) { t.appendEntry(chat("3", "셋")); },
         {chat("1", "하나"), chat("2", "둘")},
         kObj + " 밥  \n하나\n\n" + kObj + " 밥  \n둘\n\n" + kObj + " 밥  \n셋\n"},
        {"system line below chat",
         [](TranscriptView& t) {
             t.appendChat("[시스템] 입장");
             t.appendEntry(chat("3", "셋"));
         },
         {chat("2", "둘")},
         kObj + " 밥  \n둘\n\n[시스템] 입장\n" + kObj + " 밥  \n셋\n"},
        {"chat below file",
         [](TranscriptView& t) { t.appendEntry(chat("3", "셋")); },
         {file("2", "a.txt")},
         kObj + " 밥  \n[파일] a.txt (클릭하여 저장)\n\n" + kObj + " 밥  \n셋\n"},
        {"file below chat",
         [](TranscriptView& t) { t.appendEntry(file("3", "b.txt")); },
         {chat("2", "둘")},
         kObj + " 밥  \n둘\n\n" + kObj + " 밥  \n[파일] b.txt (클릭하여 저장)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        transcript.clearChat();
        c.live(transcript);
        transcript.flush();
        transcript.prependEntries(c.page, {});
        transcript.flush();
        EXPECT_EQ(text(), c.expected);
        // Each entry is found under its own text and changes in place.
        for (int i = 0; i < transcript.chatItems().size(); ++i) {
            const ChatItem item = transcript.chatItems()[i];
            EXPECT_EQ(entryAtText(item.text), i) << item.msgId.toStdString();
        }
        for (int i = 0; i < transcript.chatItems().size(); ++i)
            ASSERT_TRUE(
                transcript.markEdited(transcript.chatItems()[i].msgId, "새" + QString::number(i)));
        for (int i = 0; i < transcript.chatItems().size(); ++i)
            EXPECT_TRUE(text().contains("새" + QString::number(i) + " (수정됨)\n")) << i;
        EXPECT_FALSE(text().contains("하나") || text().contains("둘\n") || text().contains("셋"));
    }
}

TEST_F(PagesTest, IdsAlreadyShownAreNeverShownTwice) {
    transcript.appendEntry(chat("50", "live"));
    transcript.flush();
    EXPECT_EQ(transcript.prependEntries({chat("48", "a"), chat("49", "b"), chat("50", "live")}, {}),
              2);
    EXPECT_EQ(ids(), QStringList({"48", "49", "50"}));
    EXPECT_EQ(text().count("live"), 1);
    EXPECT_EQ(transcript.prependEntries({chat("48", "a")}, {}), 0);
    EXPECT_EQ(ids(), QStringList({"48", "49", "50"}));
}

TEST_F(PagesTest, DayLinesWhereTheDayChangesAndAtTheBeginning) {
    const QString wed = "2026년 12월 9일 수요일";
    const QString thu = "2026년 12월 10일 목요일";
    const QString fri = "2026년 12월 11일 금요일";
    // 23:30 UTC on the 9th is already the 10th in Seoul.
    transcript.appendEntry(chat("5", "e", "2026-12-09T23:30:00Z"));
    transcript.appendEntry(chat("6", "f", "2026-12-10T10:00:00+09:00"));
    transcript.appendEntry(file("7", "g.txt", "2026-12-11T00:00:01+09:00"));
    transcript.flush();
    EXPECT_FALSE(text().contains(thu)); // a single day so far has nothing to change from
    EXPECT_TRUE(text().contains("\n\n" + fri + "\n" + kObj + " 밥  \n[파일] g.txt"));

    transcript.prependEntries(
        {chat("3", "c", "2026-12-09T09:00:00+09:00"), chat("4", "d", "2026-12-09T10:00:00+09:00")},
        {});
    EXPECT_TRUE(text().contains("d\n\n" + thu + "\n" + kObj + " 밥  08:30\ne\n"));
    EXPECT_EQ(text().count(wed), 0);
    PageMarks beginning;
    beginning.beginning = true;
    transcript.prependEntries({chat("1", "a", "2026-12-09T08:00:00+09:00")}, beginning);
    EXPECT_TRUE(text().startsWith(kBeginning + "\n" + wed + "\n" + kObj + " 밥  08:00\na\n\n" +
                                  kObj + " 밥  09:00\nc\n"));
    EXPECT_TRUE(transcript.showsBeginning());
    EXPECT_EQ(text().count(thu), 1);
    EXPECT_EQ(text().count(fri), 1);
    // The beginning is shown once, whatever comes again.
    EXPECT_EQ(transcript.prependEntries({chat("1", "a", "2026-12-09T08:00:00+09:00")}, beginning),
              0);
    EXPECT_EQ(text().count(kBeginning), 1);
    EXPECT_EQ(text().count(wed), 1);
}

TEST_F(PagesTest, ReadLineGoesWhereTheCallerSaysOnce) {
    const QList<TranscriptEntry> page = {chat("1", "a"), chat("2", "b"), chat("3", "c")};
    const struct {
        int before;
        bool beginning;
        QString expected;
    } cases[] = {
        {0, true, kBeginning + "\n" + kRead + "\n" + kObj + " 밥  \na\n"},
        {2, false, "b\n\n" + kRead + "\n" + kObj + " 밥  \nc\n"},
        {3, false, "c\n\n" + kRead + "\n" + kObj + " 밥  \nlive\n"},
        {-1, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        transcript.clearChat();
        transcript.appendEntry(chat("4", "live"));
        transcript.flush();
        PageMarks marks;
        marks.readLineBefore = c.before;
        marks.beginning = c.beginning;
        transcript.prependEntries(page, marks);
        EXPECT_EQ(text().count(kRead), c.expected.isEmpty() ? 0 : 1);
        EXPECT_TRUE(text().contains(c.expected));
        EXPECT_EQ(transcript.hasReadLine(), !c.expected.isEmpty());
        // A later page adds one only where none was placed yet.
        PageMarks again;
        again.readLineBefore = 0;
        transcript.prependEntries({chat("0", "z")}, again);
        EXPECT_EQ(text().count(kRead), 1);
    }
}

// Paging above keeps the reader's view in place, at the top or further down.
TEST_F(PagesTest, PrependKeepsWhatTheReaderSees) {
    for (const int scrolled : {0, 137}) {
        SCOPED_TRACE(scrolled);
        transcript.clearChat();
        for (int i = 100; i < 160; ++i)
            transcript.appendEntry(chat(QString::number(i), "live " + QString::number(i)));
        transcript.flush();
        browser.verticalScrollBar()->setValue(scrolled);
        const auto before = topOfView();
        QList<TranscriptEntry> page;
        for (int i = 50; i < 100; ++i)
            page << chat(QString::number(i), "old " + QString::number(i));
        ASSERT_EQ(transcript.prependEntries(page, {}), 50);
        test::spin(10);
        const auto after = topOfView();
        EXPECT_EQ(after.first.right(12), before.first.right(12));
        EXPECT_NEAR(after.second, before.second, 1);
        EXPECT_GT(browser.verticalScrollBar()->value(), 1000);
    }
}

TEST_F(PagesTest, RepliesQuoteMessagesThatALaterPageBrings) {
    transcript.appendEntry(chat("20", "답장", "", "5"));
    transcript.flush();
    EXPECT_TRUE(text().startsWith("  ↳ [답장 #5]\n"));
    transcript.prependEntries({chat("5", "원래 글"), chat("6", "그 다음", "", "5")}, {});
    EXPECT_EQ(text().count("  ↳ 밥: 원래 글\n"), 2);
    EXPECT_FALSE(text().contains("[답장 #5]"));
    // The rewritten entry's text is still where it is found and changed.
    EXPECT_TRUE(transcript.markEdited("20", "고침"));
    EXPECT_TRUE(text().endsWith("  ↳ 밥: 원래 글\n" + kObj + " 밥  \n고침 (수정됨)\n"));
    EXPECT_EQ(entryAtText("고침"), 2);
}

TEST_F(PagesTest, FindCountsPagedEntriesAndKeepsItsMatch) {
    QSignalSpy counter(&transcript, &TranscriptView::findCounterChanged);
    transcript.appendEntry(chat("10", "사과 하나"));
    transcript.appendEntry(chat("11", "사과 둘"));
    transcript.flush();
    transcript.findSearchChanged("사과");
    transcript.findNext();
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    transcript.prependEntries({chat("7", "사과"), chat("8", "배"), chat("9", "사과 셋")}, {});
    EXPECT_EQ(counter.last().at(0).toString(), "4 / 4");
    EXPECT_EQ(transcript.search().matches().size(), 4);
}

TEST_F(PagesTest, TheCapTrimsFromTheTopOnlyAtTheBottom) {
    transcript.setEntryCap(10);
    QSignalSpy trimmed(&transcript, &TranscriptView::trimmed);
    PageMarks beginning;
    beginning.beginning = true;
    beginning.readLineBefore = 0;
    transcript.prependEntries({chat("0", "zero")}, beginning);
    for (int i = 1; i <= 24; ++i)
        transcript.appendEntry(chat(QString::number(i), "t" + QString::number(i)));
    transcript.flush();
    // 25 entries in one burst with a cap of 10: the oldest leave, down to 6 at once.
    ASSERT_EQ(TranscriptView::keptAfterTrim(10), 6);
    EXPECT_EQ(ids(), QStringList({"19", "20", "21", "22", "23", "24"}));
    EXPECT_TRUE(text().startsWith(kObj + " 밥  \nt19\n\n"));
    EXPECT_FALSE(transcript.showsBeginning());
    EXPECT_FALSE(transcript.hasReadLine());
    EXPECT_EQ(trimmed.count(), 1);
    EXPECT_EQ(transcript.indexOfMsgId("18"), -1);
    EXPECT_FALSE(transcript.markDeleted("3"));
    EXPECT_TRUE(transcript.markDeleted("19"));
    EXPECT_TRUE(text().startsWith(kObj + " 밥  \n삭제된 메시지입니다\n\n"));
    EXPECT_EQ(entryAtText("t21"), 2);

    // Reading further up: the burst keeps everything; back at the bottom, the next one trims.
    test::spin(10);
    browser.verticalScrollBar()->setValue(0);
    for (int i = 25; i <= 30; ++i)
        transcript.appendEntry(chat(QString::number(i), "t" + QString::number(i)));
    transcript.flush();
    EXPECT_EQ(transcript.chatItems().size(), 12);
    test::spin(10);
    transcript.appendEntry(chat("31", "t31"));
    transcript.flush();
    EXPECT_EQ(ids(), QStringList({"26", "27", "28", "29", "30", "31"}));
    EXPECT_EQ(trimmed.count(), 2);

    // Paged back in above what was trimmed, entries are found again.
    transcript.prependEntries({chat("24", "t24"), chat("25", "t25")}, {});
    EXPECT_EQ(transcript.indexOfMsgId("24"), 0);
    EXPECT_EQ(entryAtText("t25"), 1);
}

// Page after page above live entries reads like the same entries arriving live, and the cap
// trims through the pages at the bottom: the entries that stay are found, searched and changed.
TEST_F(PagesTest, ManyPagesReadAsOneAndTrimThroughThem) {
    QTextBrowser liveBrowser;
    TranscriptView live(&liveBrowser);
    for (int i = 1; i <= 10; ++i)
        live.appendEntry(chat(QString::number(i), "t" + QString::number(i)));
    live.flush();
    transcript.appendEntry(chat("10", "t10"));
    transcript.flush();
    for (const int top : {7, 4, 1}) {
        QList<TranscriptEntry> page;
        for (int i = top; i < top + 3; ++i)
            page << chat(QString::number(i), "t" + QString::number(i));
        ASSERT_EQ(transcript.prependEntries(page, {}), 3);
    }
    EXPECT_EQ(text(), live.plainText());
    transcript.findSearchChanged("t");
    EXPECT_EQ(transcript.search().matches(), findAllMatches(text(), "t"));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(entryAtText("t" + QString::number(i + 1)), i);
    // Each page's first entry and its neighbours change in place.
    for (const char* id : {"3", "4", "5", "7", "8"})
        ASSERT_TRUE(transcript.markEdited(id, QStringLiteral("t%1 고침").arg(id)));
    EXPECT_EQ(text(),
              live.plainText().replace(QRegularExpression("(t[34578])\n"), "\\1 고침 (수정됨)\n"));

    transcript.setEntryCap(9);
    transcript.flush();
    test::spin(10);
    browser.verticalScrollBar()->setValue(browser.verticalScrollBar()->maximum());
    transcript.appendEntry(chat("11", "t11"));
    transcript.flush();
    // Everything older than the newest ones leaves; what stays is unbroken and ends live.
    const QStringList kept = ids();
    ASSERT_LE(kept.size(), TranscriptView::keptAfterTrim(9));
    ASSERT_FALSE(kept.isEmpty());
    EXPECT_EQ(kept.last(), "11");
    QString expected;
    for (int i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].toInt(), 12 - kept.size() + i);
        expected += (i ? "\n" : "") + kObj + " 밥  \nt" + kept[i] + "\n";
    }
    EXPECT_EQ(text(), expected);
    EXPECT_EQ(transcript.search().matches(), findAllMatches(text(), "t"));
    EXPECT_EQ(entryAtText("t11"), kept.size() - 1);
    EXPECT_TRUE(transcript.markEdited(kept.first(), "고침"));
    EXPECT_TRUE(text().startsWith(kObj + " 밥  \n고침 (수정됨)\n\n"));

    // Paged back in, the trimmed entries read as before.
    QList<TranscriptEntry> back;
    for (int i = 1; i < kept.first().toInt(); ++i)
        back << chat(QString::number(i), "t" + QString::number(i));
    transcript.prependEntries(back, {});
    EXPECT_EQ(ids().size(), 11);
    EXPECT_TRUE(text().startsWith(kObj + " 밥  \nt1\n\n" + kObj + " 밥  \nt2\n"));
}

TEST_F(PagesTest, OpensAtTheReadLineOrAtTheBottom) {
    QList<TranscriptEntry> page;
    for (int i = 0; i < 60; ++i)
        page << chat(QString::number(i), "m" + QString::number(i));
    PageMarks marks;
    marks.readLineBefore = 20;
    transcript.prependEntries(page, marks);
    transcript.scrollToReadLine();
    QTextCursor top = browser.cursorForPosition(QPoint(4, 12));
    EXPECT_TRUE(top.block().text().endsWith(kRead)) << top.block().text().toStdString();

    transcript.clearChat();
    transcript.prependEntries(page, {});
    transcript.scrollToReadLine();
    EXPECT_EQ(browser.verticalScrollBar()->value(), browser.verticalScrollBar()->maximum());
    EXPECT_GT(browser.verticalScrollBar()->maximum(), 0);
}
