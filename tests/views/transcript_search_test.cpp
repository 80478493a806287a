#include "event_loop.h"
#include "transcript_search.h"
#include "transcript_view.h"

#include <QSignalSpy>
#include <QTextBrowser>
#include <gtest/gtest.h>

using namespace brindlewick;

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

class TranscriptFindTest : public ::testing::Test {
protected:
    void SetUp() override {
        browser.resize(600, 200);
        browser.show();
        transcript.appendChat("[시스템] Word 시작");
        for (int i = 0; i < 20; ++i)
            transcript.appendChatMsgId(QString::number(i), "민수",
                                       i % 10 == 0 ? "the WORD here" : "filler", "", false, "");
    }
    QTextBrowser browser;
    TranscriptView transcript{&browser};
    QSignalSpy counter{&transcript, &TranscriptView::findCounterChanged};
};

TEST_F(TranscriptFindTest, SelectsMatchesInTheDocument) {
    transcript.findSearchChanged("word");
    ASSERT_EQ(transcript.search().matches().size(), 3);
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 3");
    EXPECT_EQ(browser.textCursor().selectedText(), "Word");
    EXPECT_EQ(browser.extraSelections().size(), 1);
    transcript.findNext();
    EXPECT_EQ(browser.textCursor().selectedText(), "WORD");
    EXPECT_EQ(counter.last().at(0).toString(), "2 / 3");
    transcript.findPrev();
    transcript.findPrev();
    EXPECT_EQ(counter.last().at(0).toString(), "3 / 3");
    EXPECT_TRUE(test::waitUntil([&] { return browser.extraSelections().isEmpty(); }));
}

TEST_F(TranscriptFindTest, TextAppendedAfterASearchIsFoundOnlyByTheNextSearch) {
    transcript.findSearchChanged("word");
    const QList<TextRange> before = transcript.search().matches();
    transcript.appendChatMsgId("x", "a", "word again", "", false, "");
    transcript.findNext();
    transcript.findNext();
    transcript.findNext();
    EXPECT_EQ(transcript.search().matches(), before);
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 3");
    transcript.findSearchChanged("word");
    EXPECT_EQ(transcript.search().matches().size(), 4);
    EXPECT_EQ(counter.last().at(0).toString(), "1 / 4");
}

TEST_F(TranscriptFindTest, EmptyFindTextAndCloseKeepTheSelection) {
    transcript.findSearchChanged("word");
    transcript.findNext();
    const QTextCursor selected = browser.textCursor();
    transcript.findSearchChanged("");
    EXPECT_EQ(counter.last().at(0).toString(), "");
    EXPECT_TRUE(transcript.search().matches().isEmpty());
    EXPECT_EQ(browser.textCursor(), selected);
    transcript.findSearchChanged("word");
    transcript.closeFind();
    EXPECT_EQ(counter.last().at(0).toString(), "");
    EXPECT_EQ(transcript.search().currentFindIndex(), -1);
}

TEST_F(TranscriptFindTest, DecomposedTranscriptTextIsSelectedWhole) {
    transcript.appendChatMsgId("d", nfd("지영"), "x", "", false, "");
    transcript.findSearchChanged("지영");
    ASSERT_EQ(transcript.search().matches().size(), 1);
    EXPECT_EQ(browser.textCursor().selectedText(), nfd("지영"));
}

TEST_F(TranscriptFindTest, EmptyTranscriptSaysNoResults) {
    transcript.clearChat();
    transcript.findSearchChanged("x");
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

TEST_F(TranscriptFindTest, KeptSearchTextMatchesTheDocument) {
    transcript.appendFileChatFrom(nfd("민수"), nfd("자료 word.hwp"), "F1", "", "", false);
    transcript.appendChatMsgId("r", "a", "line\nword\r\nx\u0301 word", "", true, "word");
    transcript.appendChat("word " + nfd("끝"));
    for (const QString& w : {QString("word"), QString("민수"), QString("자료"), QString("끝")}) {
        transcript.findSearchChanged(w);
        EXPECT_EQ(transcript.search().matches(), findAllMatches(transcript.plainText(), w))
            << w.toStdString();
    }
    // Text put into the document by someone else is still searched.
    QTextCursor(browser.document()).insertText("word ");
    transcript.findSearchChanged("word");
    EXPECT_EQ(transcript.search().matches(), findAllMatches(transcript.plainText(), "word"));
    EXPECT_EQ(transcript.search().matches().first().location, 0);
}
