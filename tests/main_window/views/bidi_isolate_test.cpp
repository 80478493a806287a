// Names that would reorder the text around them (U+202E and friends, right-to-left letters) are
// drawn isolated, their own direction controls closed inside the isolate.

#include "bidi_isolate.h"
#include "message_layout.h"
#include "message_list_view.h"
#include "side_rows.h"
#include "transcript_view.h"

#include <QTextLayout>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace brindlewick;

namespace {

const QString FSI = QString(QChar(0x2068));
const QString PDI = QString(QChar(0x2069));
const QString LRI = QString(QChar(0x2066));
const QString RLI = QString(QChar(0x2067));
const QString RLO = QString(QChar(0x202E));
const QString LRE = QString(QChar(0x202A));
const QString RLE = QString(QChar(0x202B));
const QString PDF = QString(QChar(0x202C));
const QString ZWSP = QString(QChar(0x200B));
const QString kHebrew = QString::fromUtf8("שלום");

// Every closer closes the innermost opener of its kind, and nothing stays open.
bool nestedWell(const QString& text) {
    std::vector<bool> open; // true: isolate
    for (QChar c : text) {
        switch (c.direction()) {
        case QChar::DirLRE:
        case QChar::DirRLE:
        case QChar::DirLRO:
        case QChar::DirRLO:
            open.push_back(false);
            break;
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
            open.push_back(true);
            break;
        case QChar::DirPDF:
        case QChar::DirPDI:
            if (open.empty() || open.back() != (c.direction() == QChar::DirPDI))
                return false;
            open.pop_back();
            break;
        default:
            break;
        }
    }
    return open.empty();
}

QString visible(const QString& text) {
    QString out;
    for (QChar c : text)
        out += c.category() == QChar::Other_Format || c.unicode() < 0x20
                   ? QStringLiteral("<%1>").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                   : QString(c);
    return out;
}

TEST(Isolated, NamesThatCouldMoveTextAreIsolatedAndClosed) {
    const struct {
        const char* name;
        QString in;
        QString out;
    } cases[] = {
        {"Korean", QString::fromUtf8("관리자"), QString::fromUtf8("관리자")},
        {"Latin with digits and marks", "Anna (2) - 12.5%", "Anna (2) - 12.5%"},
        {"zero width only", QString::fromUtf8("관") + ZWSP + QString::fromUtf8("리자"),
         QString::fromUtf8("관") + ZWSP + QString::fromUtf8("리자")},
        {"empty", "", ""},
        {"override", RLO + QString::fromUtf8("관리자"),
         FSI + RLO + QString::fromUtf8("관리자") + PDF + PDI},
        {"file name", "invoice" + RLO + "fdp.exe", FSI + "invoice" + RLO + "fdp.exe" + PDF + PDI},
        {"right to left", kHebrew, FSI + kHebrew + PDI},
        {"a closer that would end the isolate", "abc" + PDI + RLO + "xyz",
         FSI + "abc" + RLO + "xyz" + PDF + PDI},
        {"closers that close nothing", PDF + PDF + "a" + RLO, FSI + "a" + RLO + PDF + PDI},
        {"isolate and override left open", RLI + "a" + RLO + "b",
         FSI + RLI + "a" + RLO + "b" + PDF + PDI + PDI},
        {"an isolate closes the override inside it", LRI + "a" + RLO + "b" + PDI + "c",
         FSI + LRI + "a" + RLO + "b" + PDF + PDI + "c" + PDI},
        {"a PDF cannot reach out of an isolate", LRE + LRI + PDF + "a",
         FSI + LRE + LRI + "a" + PDI + PDF + PDI},
        {"line breaks would end the isolate", "a\nb" + RLO, FSI + "a b" + RLO + PDF + PDI},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString got = isolated(c.in);
        EXPECT_EQ(got, c.out) << visible(got).toStdString();
        EXPECT_TRUE(nestedWell(got));
    }
}

// Every short name over an alphabet of letters, separators and direction controls: isolated, it
// nests well, and among other text the whole nests as well as that text did.
TEST(Isolated, EveryShortNameNestsWell) {
    const QString alphabet[] = {"a", kHebrew.left(1), "\n", RLO, LRE, PDF, LRI, RLI, PDI};
    constexpr int kSymbols = int(std::size(alphabet));
    int names = 0;
    for (int length = 1; length <= 4; ++length) {
        int combinations = 1;
        for (int i = 0; i < length; ++i)
            combinations *= kSymbols;
        for (int n = 0; n < combinations; ++n) {
            QString name;
            for (int i = 0, rest = n; i < length; ++i, rest /= kSymbols)
                name += alphabet[rest % kSymbols];
            const QString got = isolated(name);
            ASSERT_TRUE(nestedWell(got)) << visible(name).toStdString();
            ASSERT_TRUE(nestedWell("[" + got + "] 3 " + isolated(name + name)));
            ASSERT_FALSE(got.contains(u'\n'));
            ++names;
        }
    }
    EXPECT_GT(names, 6000);
    // Cut anywhere, then balanced: still well nested.
    const QString long_ = isolated(RLO + LRI + "abc" + RLO + "def");
    for (qsizetype cut = 0; cut <= long_.size(); ++cut)
        EXPECT_TRUE(nestedWell(balancedBidi(QStringView(long_).left(cut)))) << cut;
}

// Laid out as the window lays out text: the words after a name stay after it, whatever the
// name holds.
TEST(Isolated, TheTextAroundANameKeepsItsPlace) {
    const QString names[] = {RLO + "xyz", "xyz" + PDI + RLO, kHebrew, RLI + "x" + PDF + RLO};
    for (const QString& name : names) {
        const QString before = QStringLiteral("AAA ");
        const QString after = QStringLiteral(" ZZZ");
        const QString text = before + isolated(name) + after;
        QTextLayout layout(text);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(100000);
        layout.endLayout();
        const qsizetype nameStart = before.size();
        const qsizetype nameEnd = text.size() - after.size();
        const qreal beforeRight = line.cursorToX(int(before.size()) - 1);
        const qreal afterLeft = line.cursorToX(int(nameEnd) + 1);
        SCOPED_TRACE(visible(name).toStdString());
        EXPECT_LT(beforeRight, afterLeft);
        for (qsizetype i = nameStart; i <= nameEnd; ++i) {
            const qreal x = line.cursorToX(int(i));
            EXPECT_GE(x, beforeRight) << i;
            EXPECT_LE(x, afterLeft) << i;
        }
    }
}

TEST(Isolated, SidebarRowsIsolateNamesAndStatus) {
    FriendRecord f;
    f.phone = "010";
    f.nick = RLO + QString::fromUtf8("관리자");
    f.status = kHebrew;
    const SideRow friendRow = brindlewick::friendRow(f);
    EXPECT_EQ(friendRow.name, f.nick);
    EXPECT_EQ(friendRow.title, isolated(f.nick) + "  (" + isolated(kHebrew) + ")");
    EXPECT_TRUE(nestedWell(friendRow.title));

    RoomRecord r;
    r.room = "r-1";
    r.title = "team" + RLO;
    r.unread = 3;
    const SideRow roomRow = brindlewick::roomRow(r);
    EXPECT_EQ(roomRow.title, FSI + "team" + RLO + PDF + PDI + " [3]");
    r.title = QString::fromUtf8("팀");
    EXPECT_EQ(brindlewick::roomRow(r).title, QString::fromUtf8("팀 [3]"));
}

// The transcript draws each name on its own; what screen readers read of a row holds no
// direction controls at all, while the messages keep the names as sent.
TEST(TranscriptBidi, RowsReadWithoutDirectionControls) {
    MessageListView list;
    TranscriptView view(&list);
    const QString sender = RLO + QString::fromUtf8("관리자");
    view.appendChatMsgId("1", sender, "hi" + RLO, "", false, QString());
    view.appendChatMsgId("2", QString::fromUtf8("준호"), kHebrew + LRE, "", false, "1");
    view.appendFileChatFrom(QString::fromUtf8("준호"), "invoice" + RLO + "fdp.exe", "f1", "3", "",
                            false);
    view.appendChat(RLI + "공지" + PDF);
    for (int row = 0; row < view.model().size(); ++row) {
        const QString spoken = view.model().spokenText(row);
        for (const QChar c : spoken)
            EXPECT_NE(c.category(), QChar::Other_Format) << visible(spoken).toStdString();
    }
    EXPECT_EQ(view.model().spokenText(2), QString::fromUtf8("준호: 파일 invoice fdp.exe"));
    EXPECT_EQ(view.chatItems().at(0).sender, sender);
    EXPECT_EQ(view.chatItems().at(2).fileName, "invoice" + RLO + "fdp.exe");
}

// The edit note after a message's text stays after it, whatever the text leaves open.
TEST(TranscriptBidi, TheEditNoteKeepsItsPlaceAfterTheText) {
    const QString texts[] = {"abc" + RLO + "xyz",
                             "abc" + RLE + "xyz",
                             "abc" + RLI + "xyz",
                             "abc" + LRI + RLO + "xyz",
                             "abc" + PDI + RLO + "x" + PDF + RLO,
                             "abc " + kHebrew};
    const TranscriptFonts fonts = TranscriptFonts::fromApplication();
    for (const QString& text : texts) {
        SCOPED_TRACE(visible(text).toStdString());
        TranscriptRow row;
        row.item.msgId = "1";
        row.item.sender = "a";
        row.item.text = text;
        row.item.edited = true;
        const auto layout = layoutRow(row, {}, 600, fonts);
        ASSERT_TRUE(layout->body);
        const QTextLine line = layout->body->lineAt(0);
        ASSERT_EQ(layout->body->lineCount(), 1);
        qreal textRight = 0;
        for (int i = 0; i <= layout->bodyLength; ++i)
            textRight = std::max(textRight, line.cursorToX(i));
        const QString shown = layout->body->text();
        const int note = int(shown.lastIndexOf(QStringLiteral("(수정됨)")));
        ASSERT_GT(note, layout->bodyLength - 1);
        for (int i = note; i <= int(shown.size()); ++i)
            EXPECT_GE(line.cursorToX(i), textRight - 0.5) << i;
    }
}

} // namespace
