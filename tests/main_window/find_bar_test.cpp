// The find bar of the main window: opening, searching, stepping, the counter, and what opening
// a room or appending text does to the matches.

#include "chat_events.h"
#include "manage_fixture.h"
#include "messages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QScrollBar>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

// "한글" as stored by systems that decompose file names, and as typed.
const QString kHangulJamo = QString::fromUtf8("\u1112\u1161\u11AB\u1100\u1173\u11AF");
const QString kHangul = QString::fromUtf8("한글");

class FindBar : public ManageWindow {
protected:
    // One message per line: find searches what people wrote.
    void fill(const QStringList& lines) {
        for (const QString& line : lines)
            transcript().appendChatMsgId(QStringLiteral("m%1").arg(++written_),
                                         QStringLiteral("준호"), line, QString(), false, QString());
        transcript().flush();
    }
    // Through the header button and typing, as the user does.
    void search(const QString& text) {
        clickNamed("findButton");
        findField()->setText(text);
    }
    void clickNamed(const char* name) {
        QAbstractButton* button = widget<QAbstractButton>(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }
    // The row holding the current match, -1 none.
    int currentRow() const {
        const std::optional<TextRange> current = transcript().search().currentMatch();
        return current ? transcript().placeOf(*current).row : -1;
    }
    // The row is drawn wholly inside the view.
    bool wholeOnScreen(int row) const {
        const QRect rect = chatView()->visualRect(row);
        return !rect.isEmpty() && chatView()->viewport()->rect().contains(rect);
    }
    int scrolled() const { return chatView()->verticalScrollBar()->value(); }
    const QList<TextRange>& matches() const { return transcript().search().matches(); }
    qint64 currentIndex() const { return transcript().search().currentFindIndex(); }
    // The current match's text as the transcript shows it.
    QString currentMatchText() const { return matchText(matches().at(currentIndex())); }

private:
    int written_ = 0;
};

TEST_F(FindBar, SearchCases) {
    struct Case {
        const char* name;
        QStringList lines;
        QString find;
        QStringList found; // each match's text, in order
        QString counter;
    };
    const std::vector<Case> cases = {
        {"capitalisations",
         {"Hello there", "say HELLO", "hElLo!"},
         "hello",
         {"Hello", "HELLO", "hElLo"},
         "1 / 3"},
        {"upper-case find text", {"hello"}, "HELLO", {"hello"}, "1 / 1"},
        {"overlapping candidates do not overlap", {"aaaa"}, "aa", {"aa", "aa"}, "1 / 2"},
        {"composed find, decomposed text",
         {"파일 " + kHangulJamo + ".txt"},
         kHangul,
         {kHangulJamo},
         "1 / 1"},
        {"decomposed find, composed text", {"한글 파일"}, kHangulJamo, {kHangul}, "1 / 1"},
        {"a syllable is not matched inside its jamo",
         {kHangulJamo},
         QString::fromUtf8("하"),
         {},
         "결과 없음"},
        {"one match", {"안녕하세요", "반가워요"}, "반가", {"반가"}, "1 / 1"},
        {"no match", {"안녕"}, "xyz", {}, "결과 없음"},
        {"empty transcript", {}, "a", {}, "결과 없음"},
        {"empty find text", {"abc"}, "", {}, ""},
        {"find text is not trimmed", {"ab", "a b"}, " b", {" b"}, "1 / 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        transcript().clearChat();
        findField()->clear();
        fill(c.lines);
        search(c.find);
        EXPECT_EQ(counter(), c.counter);
        QStringList found;
        for (const TextRange& r : matches())
            found << matchText(r);
        EXPECT_EQ(found, c.found);
        if (c.found.isEmpty()) {
            EXPECT_EQ(currentIndex(), -1);
            EXPECT_EQ(selectedText(), "");
        } else {
            EXPECT_EQ(currentIndex(), 0);
            EXPECT_EQ(selectedText(), c.found.first());
        }
    }
}

TEST_F(FindBar, SteppingWrapsAroundAndIgnoresBadIndexes) {
    fill({"one x", "two x", "three x"});
    search("x");
    const QList<TextRange> found = matches();
    ASSERT_EQ(found.size(), 3);
    struct Step {
        const char* op;
        qint64 arg;
        qint64 index;
    };
    const std::vector<Step> steps = {
        {"prev", 0, 2}, {"next", 0, 0},  {"next", 0, 1},  {"next", 0, 2},
        {"next", 0, 0}, {"index", 2, 2}, {"index", 3, 2}, {"index", -1, 2},
        {"prev", 0, 1}, {"prev", 0, 0},  {"prev", 0, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.op) + " " + std::to_string(s.arg));
        if (s.op == std::string("next"))
            clickNamed("findNextBtn");
        else if (s.op == std::string("prev"))
            clickNamed("findPrevBtn");
        else
            transcript().highlightMatchAtIndex(s.arg);
        EXPECT_EQ(currentIndex(), s.index);
        EXPECT_EQ(counter(), QStringLiteral("%1 / 3").arg(s.index + 1));
        EXPECT_EQ(currentRow(), transcript().rowOfMsgId(QStringLiteral("m%1").arg(s.index + 1)));
        EXPECT_EQ(selectedText(), "x");
    }
}

TEST_F(FindBar, OneMatchIsShownAgainAndNoMatchesChangeNothing) {
    fill({"only once"});
    search("once");
    for (const char* button : {"findNextBtn", "findPrevBtn"}) {
        clickNamed(button);
        EXPECT_EQ(counter(), "1 / 1");
        EXPECT_EQ(selectedText(), "once");
    }

    findField()->setText(QStringLiteral("never"));
    ASSERT_EQ(counter(), "결과 없음");
    // Not even the counter is touched.
    widget<QLabel>("findResultLabel")->setText(QStringLiteral("untouched"));
    clickNamed("findNextBtn");
    clickNamed("findPrevBtn");
    transcript().highlightMatchAtIndex(0);
    EXPECT_EQ(counter(), "untouched");
    EXPECT_EQ(currentIndex(), -1);
}

TEST_F(FindBar, ReturnStepsUntilTheQueryChanges) {
    fill({"x1", "x2", "x3", "x4", "x5"});
    search("x");
    clickNamed("findNextBtn");
    clickNamed("findNextBtn");
    ASSERT_EQ(counter(), "3 / 5");
    QTest::keyClick(findField(), Qt::Key_Return);
    EXPECT_EQ(counter(), "4 / 5");
    QTest::keyClick(findField(), Qt::Key_Return);
    QTest::keyClick(findField(), Qt::Key_Return);
    EXPECT_EQ(counter(), "1 / 5"); // wraps around
    // A changed query is searched from the first match, by typing and by Return alike.
    {
        const QSignalBlocker quiet(findField());
        findField()->setText("x3");
    }
    QTest::keyClick(findField(), Qt::Key_Return);
    EXPECT_EQ(counter(), "1 / 1");
    findField()->setText("x");
    EXPECT_EQ(counter(), "1 / 5");
    EXPECT_EQ(currentIndex(), 0);

    // Emptying the text forgets the matches but leaves the view where it was.
    clickNamed("findNextBtn");
    const int place = scrolled();
    findField()->clear();
    EXPECT_EQ(counter(), "");
    EXPECT_TRUE(matches().isEmpty());
    EXPECT_EQ(currentRow(), -1);
    EXPECT_EQ(scrolled(), place);
}

TEST_F(FindBar, ClosingForgetsAndReopeningSearchesAgain) {
    fill({"a x", "b x", "c x"});
    search("x");
    clickNamed("findNextBtn");
    ASSERT_EQ(counter(), "2 / 3");
    const int place = scrolled();

    clickNamed("findCloseButton");
    EXPECT_FALSE(widget<QWidget>("findBar")->isVisible());
    EXPECT_EQ(counter(), "");
    EXPECT_TRUE(matches().isEmpty());
    EXPECT_EQ(currentIndex(), -1);
    EXPECT_EQ(findField()->text(), "x");
    EXPECT_EQ(scrolled(), place);
    EXPECT_TRUE(chatView()->hasFocus());

    // The menu's key equivalent brings it back, searched again from the first match.
    QMainWindow* window = controller->window();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(widget<QWidget>("findBar")->isVisible());
    EXPECT_TRUE(findField()->hasFocus());
    EXPECT_EQ(counter(), "1 / 3");
    EXPECT_EQ(currentIndex(), 0);

    // Opened with an empty field, it searches nothing and keeps the counter.
    clickNamed("findCloseButton");
    findField()->clear();
    clickNamed("findButton");
    EXPECT_EQ(counter(), "");
    EXPECT_TRUE(matches().isEmpty());
}

TEST_F(FindBar, TextAppendedAfterASearchWaitsForTheNextSearch) {
    room().open(QStringLiteral("r-1"), QStringLiteral("팀"));
    fill({"x one", "x two"});
    search("x");
    const QList<TextRange> before = matches();
    wire::ChatMessage message;
    message.room = "r-1";
    message.sender = "준호";
    message.text = "x three";
    message.time = "2024-01-02T10:20:30Z";
    message.msgId = "m1";
    const qsizetype entries = transcript().chatItems().size();
    controller->receiveFrame(wire::ChatMessage::kType, message.encode());
    ASSERT_TRUE(waitUntil([&] { return transcript().chatItems().size() == entries + 1; }));
    EXPECT_EQ(matches(), before);
    clickNamed("findNextBtn");
    EXPECT_EQ(counter(), "2 / 2");
    EXPECT_EQ(currentMatchText(), "x");
    clickNamed("findNextBtn");
    EXPECT_EQ(counter(), "1 / 2");

    // Return steps through what was searched; searching again finds the new text.
    QTest::keyClick(findField(), Qt::Key_Return);
    EXPECT_EQ(counter(), "2 / 2");
    findField()->clear();
    findField()->setText("x");
    EXPECT_EQ(counter(), "1 / 3");
    clickNamed("findPrevBtn");
    EXPECT_EQ(selectedText(), "x");
    EXPECT_EQ(currentRow(), transcript().rowOfMsgId("m1"));
}

TEST_F(FindBar, OpeningARoomClearsTheMatchesButKeepsTheBar) {
    fill({"x in the old room"});
    search("x");
    ASSERT_EQ(counter(), "1 / 1");
    room().open(QStringLiteral("r-2"), QStringLiteral("가족"));
    EXPECT_TRUE(widget<QWidget>("findBar")->isVisible());
    EXPECT_EQ(findField()->text(), "x");
    EXPECT_EQ(counter(), "");
    EXPECT_TRUE(matches().isEmpty());
    EXPECT_EQ(currentIndex(), -1);
    clickNamed("findNextBtn");
    EXPECT_EQ(counter(), "");

    fill({"new x", "newer x"});
    clickNamed("findButton"); // reopening searches the new transcript
    EXPECT_EQ(counter(), "1 / 2");
    EXPECT_EQ(selectedText(), "x");
}

TEST_F(FindBar, TheMatchIsScrolledIntoViewAndMarked) {
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("line %1").arg(i);
    lines[5] = QStringLiteral("needle near the top");
    lines[290] = QStringLiteral("needle near the end");
    fill(lines);
    chatView()->scrollToBottom();
    search("needle");
    ASSERT_EQ(counter(), "1 / 2");
    chatView()->settle();
    EXPECT_EQ(currentRow(), transcript().rowOfMsgId("m6"));
    EXPECT_TRUE(wholeOnScreen(currentRow()));
    const int topValue = scrolled();

    clickNamed("findNextBtn");
    chatView()->settle();
    EXPECT_EQ(counter(), "2 / 2");
    EXPECT_GT(scrolled(), topValue);
    EXPECT_EQ(currentRow(), transcript().rowOfMsgId("m291"));
    EXPECT_TRUE(wholeOnScreen(currentRow()));
    EXPECT_EQ(selectedText(), "needle");
    const TranscriptView::Place place = transcript().placeOf(*transcript().search().currentMatch());
    EXPECT_EQ(place.start, 0);
    EXPECT_EQ(place.length, 6);
}

} // namespace
