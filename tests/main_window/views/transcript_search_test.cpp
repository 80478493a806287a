#include "transcript_search.h"
#include "transcript_view.h"

#include "transcript_fixture.h"
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace brindlewick;
using brindlewick::test::chat;
using brindlewick::test::Shown;

namespace {

QString nfd(const QString& s) {
    return s.normalized(QString::NormalizationForm_D);
}

struct SearchCase {
    const char* label;
    QString transcript;
    QString find;
    QList<TextRange> matches;
    QString counter;
};

class SearchCaseTest : public ::testing::TestWithParam<SearchCase> {};

} // namespace

TEST_P(SearchCaseTest, FindsExpectedRanges) {
    const SearchCase& c = GetParam();
    TranscriptSearch search;
    const bool found = search.findSearchChanged(c.find, c.transcript);
    EXPECT_EQ(found, !c.matches.isEmpty());
    ASSERT_EQ(search.matches().size(), c.matches.size());
    for (qsizetype i = 0; i < c.matches.size(); ++i) {
        EXPECT_EQ(search.matches()[i].location, c.matches[i].location) << i;
        EXPECT_EQ(search.matches()[i].length, c.matches[i].length) << i;
    }
    EXPECT_EQ(search.currentFindIndex(), c.matches.isEmpty() ? -1 : 0);
    EXPECT_EQ(search.counterText(), c.counter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchCaseTest,
    ::testing::Values(
        SearchCase{
            "capitalisations", "Hello hello\nHELLO", "hello", {{0, 5}, {6, 5}, {12, 5}}, "1 / 3"},
        SearchCase{"findTextUpperCase", "abc ABC", "ABC", {{0, 3}, {4, 3}}, "1 / 2"},
        SearchCase{"overlappingCandidates", "aaaa", "aa", {{0, 2}, {2, 2}}, "1 / 2"},
        SearchCase{"oddOverlap", "aaa", "aa", {{0, 2}}, "1 / 1"},
        SearchCase{"oneMatch", "안녕하세요 여러분", "여러", {{6, 2}}, "1 / 1"},
        SearchCase{"noMatch", "안녕하세요", "잘가", {}, "결과 없음"},
        SearchCase{"emptyTranscript", "", "x", {}, "결과 없음"},
        SearchCase{"emptyFindText", "abc", "", {}, ""},
        SearchCase{"findTextNotTrimmed", "a b", " b", {{1, 2}}, "1 / 1"},
        SearchCase{"longerThanText", "ab", "abc", {}, "결과 없음"},
        SearchCase{
            "composedFindsDecomposed", "x " + nfd("한국") + " 한", "한", {{2, 3}, {9, 1}}, "1 / 2"},
        SearchCase{
            "decomposedFindsComposed", "한국어 한국", nfd("한국"), {{0, 2}, {4, 2}}, "1 / 2"},
        SearchCase{"positionsAfterDecomposedText",
                   nfd("한") + " a " + nfd("한") + " a",
                   "a",
                   {{4, 1}, {10, 1}},
                   "1 / 2"},
        SearchCase{"noHalfSyllable", "각", "가", {}, "결과 없음"},
        SearchCase{"noHalfSyllableDecomposed", nfd("각"), "가", {}, "결과 없음"},
        SearchCase{"latinAccentBothWays", "Cafe\u0301 café", "CAFÉ", {{0, 5}, {6, 4}}, "1 / 2"},
        SearchCase{"noMatchBeforeCombiningMark", "q\u0307 q", "q", {{3, 1}}, "1 / 1"},
        SearchCase{"accentNotIgnored", "cafe", "café", {}, "결과 없음"},
        SearchCase{
            "pictureCharactersDoNotMatter", "\uFFFC minsu  07:08\nhi", "minsu", {{2, 5}}, "1 / 1"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TranscriptSearchTest, SteppingWrapsBothWays) {
    TranscriptSearch s;
    ASSERT_TRUE(s.findSearchChanged("x", "x x x x x"));
    struct Step {
        char op; // n = next, p = prev, h = highlight(arg)
        qint64 arg;
        qint64 index;
        const char* counter;
    };
    const Step steps[] = {
        {'p', 0, 4, "5 / 5"}, // prev right after a search goes to the last
        {'n', 0, 0, "1 / 5"}, // next at the last wraps to the first
        {'n', 0, 1, "2 / 5"},  {'h', 4, 4, "5 / 5"},
        {'h', 5, 4, "5 / 5"}, // out of range: no change
        {'h', -1, 4, "5 / 5"}, {'h', 2, 2, "3 / 5"},
        {'p', 0, 1, "2 / 5"},
    };
    for (const Step& st : steps) {
        if (st.op == 'n')
            EXPECT_TRUE(s.findNext());
        else if (st.op == 'p')
            EXPECT_TRUE(s.findPrev());
        else
            EXPECT_EQ(s.highlightMatchAtIndex(st.arg), st.arg >= 0 && st.arg < 5);
        EXPECT_EQ(s.currentFindIndex(), st.index) << st.op << st.arg;
        EXPECT_EQ(s.counterText(), st.counter) << st.op << st.arg;
    }
    // Searching again starts over at the first match.
    ASSERT_TRUE(s.findSearchChanged("x", "x x x x x"));
    EXPECT_EQ(s.counterText(), "1 / 5");
}

TEST(TranscriptSearchTest, OneMatchStaysAndNoMatchesChangeNothing) {
    TranscriptSearch s;
    ASSERT_TRUE(s.findSearchChanged("b", "abc"));
    EXPECT_TRUE(s.findNext());
    EXPECT_EQ(s.counterText(), "1 / 1");
    EXPECT_TRUE(s.findPrev());
    EXPECT_EQ(s.currentFindIndex(), 0);

    EXPECT_FALSE(s.findSearchChanged("z", "abc"));
    EXPECT_FALSE(s.findNext());
    EXPECT_FALSE(s.findPrev());
    EXPECT_EQ(s.counterText(), "결과 없음");
    EXPECT_EQ(s.currentFindIndex(), -1);

    s.reset();
    EXPECT_EQ(s.counterText(), "");
    EXPECT_FALSE(s.currentMatch());
}

// The find bar over a shown transcript: messages' text is searched (lines are not), the current
// match is brought into view and marked inside its row.
class TranscriptFindTest : public ::testing::Test {
protected:
    void SetUp() override {
        transcript.appendChat("[시스템] Word 시작");
        for (int i = 0; i < 20; ++i)
            transcript.appendChatMsgId(QString::number(i), "민수",
                                       i % 10 == 0 ? "the WORD here" : "filler", "", false, "");
        transcript.flush();
    }
    // Pixels of the find marks in a row as drawn: {current, other}.
    std::pair<int, int> marksIn(const QString& msgId) {
        const QRect rect = shown.rectOf(msgId);
        if (rect.isEmpty())
            return {-1, -1};
        const QImage image = shown.grab();
        return {test::pixelsOf(image, colors.findCurrent, rect),
                test::pixelsOf(image, colors.find, rect)};
    }
    QString currentText() {
        const auto match = transcript.search().currentMatch();
        if (!match)
            return QString();
        const auto place = transcript.placeOf(*match);
        const ChatItem* item = transcript.messageAt(place.row);
        return item ? shownBody(*item).mid(place.start, place.length) : QString();
    }

    Shown shown{{600, 300}};
    TranscriptView& transcript = shown.transcript;
    TranscriptColors colors = TranscriptColors::forPalette(shown.view.palette(), 0);
    QSignalSpy counter{&transcript, &TranscriptView::findCounterChanged};
};

TEST_F(TranscriptFindTest, StepsThroughMatchesMarkingThemInTheirRows) {
    ASSERT_FALSE(shown.onScreen(shown.rowOf("0")));
    transcript.findSearchChanged("word");
    ASSERT_EQ(transcript.search().matches().size(), 2);
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 2");
    EXPECT_EQ(currentText(), "WORD");
    EXPECT_EQ(transcript.placeOf(*transcript.search().currentMatch()).row, shown.rowOf("0"));
    // Brought into view and marked as the current one.
    EXPECT_TRUE(shown.onScreen(shown.rowOf("0")));
    EXPECT_GT(marksIn("0").first, 10);
    EXPECT_EQ(marksIn("0").second, 0);
    EXPECT_EQ(marksIn("1"), std::make_pair(0, 0));

    transcript.findNext();
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    EXPECT_TRUE(shown.onScreen(shown.rowOf("10")));
    EXPECT_GT(marksIn("10").first, 10);
    if (shown.onScreen(shown.rowOf("0"))) {
        EXPECT_EQ(marksIn("0").first, 0);
        EXPECT_GT(marksIn("0").second, 10);
    }
    transcript.findPrev();
    transcript.findPrev();
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    transcript.highlightMatchAtIndex(0);
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 2");

    transcript.closeFind();
    EXPECT_EQ(counter.last().at(0).toString(), "");
    EXPECT_EQ(transcript.search().currentFindIndex(), -1);
    EXPECT_EQ(test::pixelsOf(shown.grab(), colors.findCurrent), 0);
    EXPECT_EQ(test::pixelsOf(shown.grab(), colors.find), 0);
}

TEST_F(TranscriptFindTest, TextAppendedAfterASearchIsFoundOnlyByTheNextSearch) {
    transcript.findSearchChanged("word");
    const QList<TextRange> before = transcript.search().matches();
    transcript.appendChatMsgId("x", "a", "word again", "", false, "");
    transcript.findNext();
    transcript.findNext();
    transcript.findNext();
    EXPECT_EQ(transcript.search().matches(), before);
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    // Searched again, the current match stays the one the reader was on.
    transcript.findSearchChanged("word");
    EXPECT_EQ(transcript.search().matches().size(), 3);
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 3");
    transcript.findSearchChanged("wor");
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 3");
}

TEST_F(TranscriptFindTest, EmptyTextAndAnEmptyTranscript) {
    transcript.findSearchChanged("word");
    transcript.findSearchChanged("");
    EXPECT_EQ(counter.last().at(0).toString(), "");
    EXPECT_TRUE(transcript.search().matches().isEmpty());
    EXPECT_EQ(test::pixelsOf(shown.grab(), colors.findCurrent), 0);
    transcript.findSearchChanged("시스템"); // a line, not a message
    EXPECT_EQ(counter.last().at(0).toString(), "결과 없음");
    transcript.clearChat();
    transcript.findSearchChanged("x");
    EXPECT_EQ(counter.last().at(0).toString(), "결과 없음");
}

// Each match's place is the stretch of its row's text that reads as the searched text, however
// the text was written (decomposed syllables, line breaks of any kind, file names, edits).
TEST_F(TranscriptFindTest, PlacesCoverTheFoundText) {
    transcript.clearChat();
    transcript.appendFileChatFrom(nfd("민수"), nfd("자료 word.hwp"), "F1", "f", "", false);
    transcript.appendChatMsgId("r", "a", "line\nword\r\nx\u0301 word " + nfd("지영"), "", true,
                               "word");
    transcript.appendChat("word " + nfd("끝"));
    transcript.appendChatMsgId("e", "a", "옛 글", "", false, "");
    transcript.markEdited("e", "Word " + nfd("끝") + "\r\n지영");
    for (const QString& w : {QString("word"), QString("자료"), QString("끝"), QString("지영"),
                             QString("x\u0301"), QString("hwp")}) {
        SCOPED_TRACE(w.toStdString());
        transcript.findSearchChanged(w);
        int expected = 0;
        for (const ChatItem& item : transcript.chatItems())
            expected += int(findAllMatches(shownBody(item), w).size());
        ASSERT_EQ(transcript.search().matches().size(), expected);
        ASSERT_GT(expected, 0);
        for (const TextRange& match : transcript.search().matches()) {
            const auto place = transcript.placeOf(match);
            const ChatItem* item = transcript.messageAt(place.row);
            ASSERT_TRUE(item);
            EXPECT_EQ(shownBody(*item)
                          .mid(place.start, place.length)
                          .normalized(QString::NormalizationForm_C)
                          .compare(w.normalized(QString::NormalizationForm_C), Qt::CaseInsensitive),
                      0);
        }
    }
}

// A running find follows edits, deletions and pages, keeping its current match where it was.
TEST_F(TranscriptFindTest, EditsAndPagesDuringAFindKeepTheCurrentMatch) {
    transcript.clearChat();
    transcript.appendEntry(chat("1", "사과 하나"));
    transcript.appendEntry(chat("2", "배"));
    transcript.appendEntry(chat("3", "사과 둘"));
    transcript.findSearchChanged("사과");
    transcript.findNext();
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    ASSERT_TRUE(transcript.markEdited("2", "사과 셋"));
    EXPECT_EQ(counter.last().at(0).toString(), "3 / 3");
    EXPECT_EQ(transcript.placeOf(*transcript.search().currentMatch()).row, shown.rowOf("3"));
    EXPECT_GT(marksIn("2").second, 10); // the edited row is marked too
    EXPECT_GT(marksIn("3").first, 10);
    ASSERT_TRUE(transcript.markDeleted("1"));
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 2");
    EXPECT_EQ(marksIn("1"), std::make_pair(0, 0));
    transcript.prependEntries({chat("0", "사과")}, {});
    EXPECT_EQ(counter.last().at(0).toString(), "3 / 3");
    EXPECT_GT(marksIn("3").first, 10);
    EXPECT_GT(marksIn("0").second, 10);
    // The current match's own message changed: the find starts over.
    ASSERT_TRUE(transcript.markEdited("3", "포도"));
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 2");
    ASSERT_TRUE(transcript.markEdited("0", "포도"));
    ASSERT_TRUE(transcript.markEdited("2", "포도"));
    EXPECT_EQ(counter.last().at(0).toString(), "결과 없음");
}

TEST(NormalizedTextTest, PiecewiseEqualsWholeAndMapsBack) {
    const QStringList pieces = {"abc",
                                "\n" + nfd("한국어") + " 문서",
                                "\nx\u0301y " + nfd("각"),
                                "\n😀 e\u0301\u0323 ok",
                                "\nplain",
                                "\n\u212B " + nfd("값")};
    NormalizedText grown;
    QString whole;
    for (const QString& p : pieces) {
        grown.append(p);
        whole += p;
    }
    EXPECT_EQ(grown.text(), whole.normalized(QString::NormalizationForm_C));
    EXPECT_EQ(grown.originalSize(), whole.size());
    EXPECT_EQ(NormalizedText(whole).text(), grown.text());
    // Every match maps onto original text that normalizes to the found text.
    for (const QString& word : {QString("한국어"), QString("문서"), QString("ok"), QString("값"),
                                QString("Å"), QString("plain")}) {
        const QList<TextRange> found = findAllMatches(whole, word);
        ASSERT_EQ(found.size(), 1) << word.toStdString();
        EXPECT_EQ(whole.mid(found[0].location, found[0].length)
                      .normalized(QString::NormalizationForm_C)
                      .compare(word.normalized(QString::NormalizationForm_C), Qt::CaseInsensitive),
                  0)
            << word.toStdString();
        EXPECT_EQ(findAllMatches(grown, word), found);
    }
}
