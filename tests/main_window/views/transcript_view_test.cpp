// The transcript's rows (the model), the view that shows them and what the window calls: times,
// grouping, the place while messages come, selection and copy, clicks, and the accessible list.

#include "event_loop.h"
#include "local_time.h"
#include "local_zone.h"
#include "transcript_fixture.h"
#include "transcript_view.h"

#include <QAccessible>
#include <QClipboard>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <functional>

using namespace brindlewick;
using brindlewick::test::chat;
using brindlewick::test::fileEntry;
using brindlewick::test::Shown;

namespace {

ChatItem item(const QString& id, const QString& text = QStringLiteral("t"), const QDate& day = {}) {
    ChatItem m;
    m.msgId = id;
    m.sender = QStringLiteral("밥");
    m.text = text;
    m.day = day;
    return m;
}

QStringList idsOf(const TranscriptModel& model) {
    QStringList out;
    for (int row = 0; row < model.size(); ++row)
        out << (model.message(row) ? model.message(row)->msgId
                                   : QStringLiteral("<%1>").arg(int(model.row(row).kind)));
    return out;
}

QImage solid(QColor color, int size = 40) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

} // namespace

TEST(FormatTimeTest, ShowsTheViewersLocalTime) {
    const struct {
        const char* zone;
        QString in;
        QString out;
    } cases[] = {
        {"Asia/Seoul", "2024-05-06T07:08:09Z", "16:08"},
        {"UTC", "2024-05-06T07:08:09Z", "07:08"}, // the same hour, in another zone
        {"Asia/Seoul", "2024-05-06T07:08:09+09:00", "07:08"},
        {"Asia/Seoul", "2024-05-06T23:30:00.250-05:00", "13:30"}, // the next day there
        {"Asia/Seoul", "2024-05-06T07:08:09", "07:08"},           // no offset: as given
        {"UTC", "2024-05-06T07:08:09+09:00", "22:08"},
        {"America/New_York", "2024-01-15T12:00:00Z", "07:00"},
        {"America/New_York", "2024-07-15T12:00:00Z", "08:00"}, // summer time
        {"Asia/Seoul", "2024-05-06T07:08", ""},                // too short, offset or not
        {"Asia/Kathmandu", "2024-05-06T07:08:09Z", "12:53"},   // a zone of quarter hours
        {"Asia/Seoul", "2024-05-06T07:08:09+05:45", "10:23"},  // an offset of quarter hours
        {"Asia/Seoul", "2024-05-06T23:59:59+09:00", "23:59"},
        {"Asia/Seoul", "2024-05-06T15:59:00Z", "00:59"},    // the next day there
        {"Europe/Berlin", "2024-03-31T00:30:00Z", "01:30"}, // before summer time starts
        {"Europe/Berlin", "2024-03-31T01:30:00Z", "03:30"}, // after
    };
    for (const auto& c : cases) {
        LocalZone zone(c.zone);
        EXPECT_EQ(TranscriptView::formatTimeISO(c.in), c.out)
            << c.zone << " " << c.in.toStdString();
    }
}

TEST(FormatTimeTest, LocalDateFollowsTheZone) {
    const struct {
        const char* zone;
        QString in;
        QDate date;
    } cases[] = {
        {"Asia/Seoul", "2026-12-10T14:59:00Z", QDate(2026, 12, 10)},
        {"Asia/Seoul", "2026-12-10T15:00:00Z", QDate(2026, 12, 11)},
        {"America/New_York", "2026-12-10T04:59:00Z", QDate(2026, 12, 9)},
        {"UTC", "2026-12-10T23:30:00-01:00", QDate(2026, 12, 11)},
        {"UTC", "not a time at all, though long", QDate()},
    };
    for (const auto& c : cases) {
        LocalZone zone(c.zone);
        EXPECT_EQ(localTime(c.in).date, c.date) << c.zone << " " << c.in.toStdString();
    }
}

TEST(FormatTimeTest, TakesHoursAndMinutesOfLongEnoughTexts) {
    LocalZone zone("UTC");
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"2024-05-06T07:08:09Z", "07:08"},
        {"2024-05-06 07:08:09", "07:08"},
        {"2024-05-06T07:08", ""},
        {"2024-05-06T07:08:0", ""},
        {"", ""},
        {QString(), ""},
        {"abcdefghijklmnopqrstuvwxyz", "lmnop"},
        {"2024-05-06T한국어입니다:09+09:00", "한국어입니"},
        {"2024-05-06T07:99:09Z", "07:99"}, // no such minute
        {"2024-05-06T07:08:09+99:00", "07:08"},
    };
    for (const auto& c : cases) {
        const QString got = TranscriptView::formatTimeISO(c.in);
        EXPECT_EQ(got, c.out) << c.in.toStdString();
        EXPECT_FALSE(got.isNull());
    }
}

// ---- the model ------------------------------------------------------------------------------

TEST(TranscriptModelTest, IdsAreOncePerTranscriptAndRowsKeepTheirNumbers) {
    TranscriptModel model;
    model.append(item("5"));
    model.append(item("6"));
    const int seq5 = model.seqOf(model.indexOfMsgId("5"));
    // Ids already loaded and ids twice in one page go in once; messages without an id always.
    EXPECT_EQ(model.prepend({item("3"), item("4"), item("4"), item("5"), item(""), item("")}, {}),
              4);
    EXPECT_EQ(idsOf(model), QStringList({"3", "4", "", "", "5", "6"}));
    EXPECT_EQ(model.messageCount(), 6);
    EXPECT_EQ(model.prepend({item("3")}, {}), 0);
    EXPECT_EQ(model.size(), 6);
    // A row's number outlives pages above it.
    EXPECT_EQ(model.indexOfSeq(seq5), 4);
    EXPECT_EQ(model.indexOfMsgId("5"), 4);
    EXPECT_EQ(model.indexOfMsgId(""), -1);
    EXPECT_EQ(model.indexOfMsgId("9"), -1);
    // A live message with an id seen before is the newest one with it.
    model.append(item("3", "again"));
    EXPECT_EQ(model.indexOfMsgId("3"), 6);
    // Rows that leave are forgotten; their numbers are not reused.
    model.removeFront(2);
    EXPECT_EQ(model.indexOfSeq(seq5), 2);
    EXPECT_EQ(model.indexOfMsgId("4"), -1);
    EXPECT_EQ(model.indexOfMsgId("3"), 4);
    EXPECT_EQ(model.messageCount(), 5);
    EXPECT_EQ(model.prepend({item("4")}, {}), 1);
    EXPECT_EQ(model.indexOfSeq(seq5), 3);
}

TEST(TranscriptModelTest, SpokenTextReadsEachRowWithoutControlCharacters) {
    ChatItem file = item("f", QStringLiteral("보고서.pdf"));
    file.isFile = true;
    file.fileId = "F1";
    file.fileName = QStringLiteral("보고서.pdf");
    file.fileSize = 1536 * 1024;
    file.time = "10:05";
    ChatItem unsized = file;
    unsized.fileSize = -1;
    ChatItem edited = item("e", "고친 글");
    edited.edited = true;
    edited.time = "09:00";
    ChatItem deleted = item("d", TranscriptModel::kDeletedText);
    deleted.deleted = true;
    ChatItem hostile = item("h", QString::fromUtf8("a\nb\r\nc\td\u202Ee\u2028f\u200Eg<b>x</b>"));
    hostile.sender = QString::fromUtf8("\u202E관리자\n");
    const struct {
        const char* name;
        ChatItem item;
        QString spoken;
    } cases[] = {
        {"file with size", file, QStringLiteral("밥, 10:05: 파일 보고서.pdf 1.5 MB")},
        {"file of unknown size", unsized, QStringLiteral("밥, 10:05: 파일 보고서.pdf")},
        {"edited", edited, QStringLiteral("밥, 09:00: 고친 글 (수정됨)")},
        {"deleted", deleted, QStringLiteral("밥: 삭제된 메시지입니다")},
        {"controls", hostile, QStringLiteral(" 관리자 : a b  c d e f g<b>x</b>")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TranscriptModel model;
        model.append(c.item);
        EXPECT_EQ(model.spokenText(0), c.spoken);
        EXPECT_EQ(model.data(model.index(0), Qt::AccessibleTextRole).toString(), c.spoken);
    }
    TranscriptModel model;
    model.appendNotice(QString::fromUtf8("민수\u202E님이\n들어왔습니다"));
    EXPECT_EQ(model.spokenText(0), QStringLiteral("민수 님이 들어왔습니다"));
    EXPECT_EQ(model.spokenText(5), QString());
}

TEST(TranscriptModelTest, SizesReadAsPeopleReadThem) {
    const struct {
        qint64 bytes;
        const char* text;
    } cases[] = {{0, "0 B"},       {1023, "1023 B"},     {1024, "1.0 KB"},
                 {1536, "1.5 KB"}, {10 * 1024, "10 KB"}, {1024 * 1024, "1.0 MB"},
                 {-1, ""},         {5LL << 30, "5.0 GB"}};
    for (const auto& c : cases)
        EXPECT_EQ(TranscriptModel::sizeText(c.bytes), QString::fromUtf8(c.text)) << c.bytes;
}

TEST(TranscriptModelTest, EditsAndDeletesChangeTheNewestRowInPlace) {
    TranscriptModel model;
    model.append(item("1", "지울 글"));
    model.append(item("2", "고칠 글"));
    QSignalSpy changed(&model, &TranscriptModel::messageChanged);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    EXPECT_TRUE(model.markDeleted("1"));
    EXPECT_TRUE(model.markEdited("2", "새 글"));
    EXPECT_TRUE(model.markEdited("1", "되살림")); // a removed message stays removed
    EXPECT_FALSE(model.markEdited("", "x"));
    EXPECT_FALSE(model.markDeleted("9"));
    EXPECT_EQ(changed.size(), 2);
    EXPECT_EQ(changed[0][0].toInt(), 0);
    EXPECT_EQ(changed[1][0].toInt(), 1);
    EXPECT_TRUE(inserted.isEmpty());
    EXPECT_TRUE(model.message(0)->deleted);
    EXPECT_EQ(model.message(0)->text, TranscriptModel::kDeletedText);
    EXPECT_FALSE(model.message(0)->edited);
    EXPECT_EQ(model.message(1)->text, "새 글");
    EXPECT_TRUE(model.message(1)->edited);
    // Deleting twice tells nobody again.
    EXPECT_TRUE(model.markDeleted("1"));
    EXPECT_EQ(changed.size(), 2);
}

TEST(TranscriptModelTest, LinesLeaveWithTheRowsBelowThemAndTheirFlagsToo) {
    TranscriptModel model;
    model.append(item("9"));
    PageMarks marks;
    marks.beginning = true;
    marks.readLineBefore = 1;
    model.prepend({item("7", "t", QDate(2026, 12, 9)), item("8", "t", QDate(2026, 12, 10))}, marks);
    ASSERT_TRUE(model.showsBeginning());
    ASSERT_GE(model.readLineIndex(), 0);
    const int count = model.messageCount();
    model.removeFront(model.indexOfMsgId("8") + 1);
    EXPECT_FALSE(model.showsBeginning());
    EXPECT_EQ(model.readLineIndex(), -1);
    EXPECT_EQ(model.messageCount(), count - 2);
    EXPECT_EQ(idsOf(model), QStringList({"9"}));
    model.clear();
    EXPECT_EQ(model.size(), 0);
    EXPECT_EQ(model.messageCount(), 0);
    EXPECT_EQ(model.indexOfMsgId("9"), -1);
}

// ---- the transcript as the window uses it ---------------------------------------------------

TEST(TranscriptEntriesTest, EntriesBecomeMessagesAsSent) {
    LocalZone zone("Asia/Seoul");
    Shown shown;
    TranscriptView& t = shown.transcript;
    t.appendChat(QString()); // no text: no line
    t.appendChat("");        // an empty line is a line
    t.appendChatMsgId(QString(), QString(), QString(), QString(), false, QString());
    t.appendFileChatFrom("민수", "보고 서.txt", "AbC9", "m5", "2024-05-06T07:08:09Z", true, {}, "",
                         2048);
    t.appendFileChatFrom("민수", QString(), "F2", "m6", "", false);
    t.appendChatMsgId("m7", "a", "one\ntwo\r\nthree", "", false, "m5");
    ASSERT_EQ(t.model().size(), 5);
    EXPECT_EQ(t.model().row(0).kind, RowKind::Notice);
    const QList<ChatItem> items = t.chatItems();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(std::tie(items[0].msgId, items[0].sender, items[0].text, items[0].time),
              std::make_tuple(QString(""), QString(""), QString(""), QString("")));
    EXPECT_FALSE(items[0].msgId.isNull() || items[0].text.isNull());
    const ChatItem& file = items[1];
    EXPECT_TRUE(file.isFile && file.mine);
    EXPECT_EQ(file.fileId, "AbC9");
    EXPECT_EQ(file.fileName, "보고 서.txt");
    EXPECT_EQ(file.text, "보고 서.txt");
    EXPECT_EQ(file.time, "16:08");
    EXPECT_EQ(file.fileSize, 2048);
    EXPECT_EQ(file.day, QDate(2024, 5, 6));
    EXPECT_EQ(items[2].fileName, "file"); // no name at all
    EXPECT_EQ(items[3].text, "one\ntwo\r\nthree");
    EXPECT_EQ(items[3].replyTo, "m5");
    EXPECT_EQ(t.indexOfMsgId("m7"), 3);
    EXPECT_EQ(t.firstMessage()->msgId, "");
    EXPECT_EQ(t.lastMessage()->msgId, "m7");
    EXPECT_EQ(t.plainText().split('\n').size(), 5); // a message's own line breaks read as spaces
    EXPECT_EQ(TranscriptView::quote(QString(39, 'a') + QString::fromUtf8("😀")), QString(39, 'a'));
    EXPECT_EQ(TranscriptView::quote("a\r\nb"), "a  b");
    EXPECT_EQ(TranscriptView::quote(QString(50, 'x')).size(), TranscriptView::kQuoteLength);
}

TEST(TranscriptEntriesTest, PicturesAreKeptOncePerKeyAndDrawnInTheHeader) {
    Shown shown;
    TranscriptView& t = shown.transcript;
    t.appendChatMsgId("1", "a", "x", "", false, "", {"pic-a", solid(Qt::red)});
    t.appendChatMsgId("2", "b", "x", "", false, "", {"pic-b", solid(Qt::blue)});
    t.appendChatMsgId("3", "c", "x", "", false, "", {});
    t.appendChatMsgId("4", "a", "x", "", false, "", {"pic-a", solid(Qt::red)});
    t.appendChatMsgId("5", "d", "x", "", false, "", {"pic-d", QImage()}); // not loaded yet
    EXPECT_EQ(t.pictureResourceCount(), 2);
    const QImage image = shown.grab();
    const auto centre = [&](const QString& id) {
        const auto layout = shown.layoutOf(shown.rowOf(id));
        EXPECT_TRUE(layout && layout->header) << id.toStdString();
        return layout
                   ? image.pixelColor(layout->picture.center() + QPoint(0, shown.rectOf(id).top()))
                   : QColor();
    };
    EXPECT_EQ(centre("1"), QColor(Qt::red));
    EXPECT_EQ(centre("2"), QColor(Qt::blue));
    EXPECT_EQ(centre("4"), QColor(Qt::red));
    EXPECT_NE(centre("3"), QColor(Qt::red));
    EXPECT_EQ(centre("3"), centre("5")); // the neutral picture

    // A sender's new picture shows wherever the sender's messages show it.
    t.appendChatMsgId("6", "b", "x", "", false, "", {"pic-a", solid(Qt::green)});
    shown.grab();
    EXPECT_EQ(t.pictureResourceCount(), 2);
    const QImage after = shown.grab();
    const auto layout = shown.layoutOf(shown.rowOf("1"));
    ASSERT_TRUE(layout);
    EXPECT_EQ(after.pixelColor(layout->picture.center() + QPoint(0, shown.rectOf("1").top())),
              QColor(Qt::green));
}

TEST(TranscriptEntriesTest, ClearingEmptiesRowsPicturesAndFind) {
    Shown shown;
    TranscriptView& t = shown.transcript;
    QSignalSpy counter(&t, &TranscriptView::findCounterChanged);
    t.setThumbnailProvider([](const QString&) { return solid(Qt::red); });
    t.appendChatMsgId("1", "a", "word", "", false, "", {"pic-a", solid(Qt::red)});
    t.appendFileChatFrom("a", "a.png", "F1", "2", "", false);
    t.findSearchChanged("word");
    ASSERT_EQ(t.search().matches().size(), 1);
    t.clearChat();
    EXPECT_EQ(t.model().size(), 0);
    EXPECT_TRUE(t.chatItems().isEmpty());
    EXPECT_EQ(t.pictureResourceCount(), 0);
    EXPECT_EQ(t.thumbnailResourceCount(), 0);
    EXPECT_TRUE(t.search().matches().isEmpty());
    ASSERT_FALSE(counter.isEmpty());
    EXPECT_EQ(counter.last().at(0).toString(), "");
    EXPECT_EQ(t.messageRowAt(QPoint(10, 10)), -1);
    // What comes next is shown at the bottom again.
    t.appendChatMsgId("3", "a", "x", "", false, "", {"pic-a", solid(Qt::red)});
    EXPECT_EQ(t.pictureResourceCount(), 1);
    EXPECT_TRUE(shown.onScreen(shown.rowOf("3")));
    EXPECT_TRUE(shown.view.followsBottom());
}

// The window may lose its view before the transcript (closing): nothing it calls crashes.
TEST(TranscriptEntriesTest, AViewDestroyedFirstIsHarmless) {
    auto* view = new MessageListView;
    TranscriptView transcript(view);
    transcript.setThumbnailProvider([](const QString&) { return QImage(); });
    transcript.appendChatMsgId("1", "a", "x", "", false, ""); // this turn's flush still due
    delete view;
    transcript.appendChat("after");
    transcript.appendFileChatFrom("a", "n.png", "F", "2", "", false);
    transcript.showThumbnail("F", solid(Qt::red));
    PageMarks marks;
    marks.readLineBefore = 0;
    transcript.prependEntries({chat("0", "older")}, marks);
    transcript.scrollToReadLine();
    transcript.findSearchChanged("x");
    transcript.findNext();
    EXPECT_EQ(transcript.messageRowAt(QPoint(1, 1)), -1);
    transcript.flush();
    QCoreApplication::processEvents();
    EXPECT_EQ(transcript.chatItems().size(), 3);
    transcript.clearChat();
    EXPECT_TRUE(transcript.chatItems().isEmpty());
}

// ---- grouping and times ---------------------------------------------------------------------

TEST(TranscriptLookTest, OneSendersMessagesWithinThreeMinutesShareAHeader) {
    LocalZone zone("UTC");
    Shown shown({600, 900});
    const struct {
        const char* id;
        const char* sender;
        const char* time;
        bool mine;
        bool header;
    } cases[] = {
        {"1", "a", "2026-12-10T10:00:00Z", false, true},  // the first
        {"2", "a", "2026-12-10T10:02:00Z", false, false}, // two minutes on
        {"3", "a", "2026-12-10T10:05:00Z", false, false}, // three minutes on
        {"4", "a", "2026-12-10T10:09:00Z", false, true},  // four
        {"5", "b", "2026-12-10T10:09:00Z", false, true},  // someone else
        {"6", "a", "2026-12-10T10:09:00Z", false, true},  // the first again, after b
        {"7", "a", "", false, true},                      // no time: a group of its own
        {"8", "a", "2026-12-10T10:10:00Z", false, true},
        {"9", "a", "2026-12-10T10:08:00Z", false, true},  // earlier than the one before
        {"10", "a", "2026-12-11T10:08:00Z", false, true}, // a day later, after its date line
        {"11", "a", "2026-12-11T10:08:30Z", true, false}, // one's own: never a picture
    };
    for (const auto& c : cases)
        shown.transcript.appendChatMsgId(c.id, c.sender, "본문", c.time, c.mine, "");
    for (const auto& c : cases)
        EXPECT_EQ(shown.hasHeader(shown.rowOf(c.id)), c.header) << c.id;
}

// The time stands beside the last bubble of a same-minute run of one sender.
TEST(TranscriptLookTest, TheTimeShowsOnTheLastOfASameMinuteRun) {
    LocalZone zone("UTC");
    Shown shown({600, 700});
    const struct {
        const char* id;
        const char* sender;
        const char* time;
        bool mine;
        bool timeShown;
    } cases[] = {
        {"1", "a", "2026-12-10T10:00:05Z", false, false},
        {"2", "a", "2026-12-10T10:00:50Z", false, true}, // the minute's last
        {"3", "a", "2026-12-10T10:01:00Z", false, true}, // its group's last
        {"4", "b", "2026-12-10T10:01:00Z", false, true}, // a new sender, the same minute
        {"5", "me", "2026-12-10T10:02:00Z", true, false},
        {"6", "me", "2026-12-10T10:02:40Z", true, true},
        {"7", "me", "", true, false}, // no time to show
    };
    for (const auto& c : cases)
        shown.transcript.appendChatMsgId(c.id, c.sender, "글", c.time, c.mine, "");
    const QImage image = shown.grab();
    const QColor base = shown.view.viewport()->palette().color(QPalette::Base);
    for (const auto& c : cases) {
        const int row = shown.rowOf(c.id);
        const auto layout = shown.layoutOf(row);
        ASSERT_TRUE(layout) << c.id;
        const QRect bubble = layout->bubble.translated(0, shown.rectOf(c.id).top());
        const QRect beside = c.mine ? QRect(bubble.left() - 47, bubble.top(), 44, bubble.height())
                                    : QRect(bubble.right() + 3, bubble.top(), 44, bubble.height());
        EXPECT_EQ(test::drawnIn(image, beside, base), c.timeShown) << c.id;
    }
}

// ---- the place while messages come ----------------------------------------------------------

namespace {

struct Filled : Shown {
    Filled() {
        for (int i = 0; i < 60; ++i)
            transcript.appendChatMsgId(QString::number(i), i % 2 ? "a" : "b",
                                       QStringLiteral("글 %1").arg(i), "", false, "");
        transcript.flush();
    }
};

} // namespace

TEST(TranscriptPlaceTest, AtTheBottomNewMessagesScrollIntoView) {
    Filled shown;
    EXPECT_TRUE(shown.view.followsBottom());
    EXPECT_TRUE(shown.onScreen(shown.rowOf("59")));
    EXPECT_FALSE(shown.onScreen(shown.rowOf("0")));
    QScrollBar* bar = shown.view.verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    for (int i = 60; i < 63; ++i)
        shown.transcript.appendChatMsgId(QString::number(i), "c", "새 글", "", false, "");
    EXPECT_TRUE(shown.onScreen(shown.rowOf("62")));
    const QRect last = shown.rectOf("62");
    EXPECT_LE(last.bottom(), shown.view.viewport()->height());
    EXPECT_GT(last.bottom(), shown.view.viewport()->height() - 8);
    EXPECT_FALSE(shown.view.newMessagesButton()->isVisible());
    EXPECT_EQ(bar->value(), bar->maximum());
}

// Scrolled up by any means, new messages leave the rows where they are and the button counts
// them; the button takes the reader down and goes.
TEST(TranscriptPlaceTest, ScrolledUpNewMessagesDoNotMoveTheView) {
    const struct {
        const char* name;
        std::function<void(Shown&)> scrollUp;
    } ways[] = {
        {"to a row", [](Shown& s) { s.view.scrollToTop(s.rowOf("20")); }},
        {"page up",
         [](Shown& s) {
             QTest::keyClick(&s.view, Qt::Key_PageUp);
             QTest::keyClick(&s.view, Qt::Key_PageUp);
         }},
        {"wheel",
         [](Shown& s) {
             const QPoint at(100, 100);
             QWheelEvent wheel(at, s.view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 360),
                               Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(s.view.viewport(), &wheel);
         }},
        {"scroll bar", [](Shown& s) { s.view.verticalScrollBar()->setValue(40); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        Filled shown;
        way.scrollUp(shown);
        shown.transcript.flush();
        EXPECT_FALSE(shown.view.followsBottom());
        const auto [first, last] = shown.view.shownRows();
        ASSERT_GE(first, 0);
        const QRect before = shown.view.visualRect(first);
        const int value = shown.view.verticalScrollBar()->value();
        for (int i = 60; i < 63; ++i)
            shown.transcript.appendChatMsgId(QString::number(i), "c", "새 글", "", false, "");
        shown.transcript.appendChat("누군가 들어왔습니다"); // not a message: not counted
        shown.transcript.flush();
        EXPECT_EQ(shown.view.shownRows().first, first);
        EXPECT_EQ(shown.view.visualRect(first), before);
        EXPECT_EQ(shown.view.verticalScrollBar()->value(), value);
        EXPECT_FALSE(shown.onScreen(shown.rowOf("62")));
        QPushButton* button = shown.view.newMessagesButton();
        EXPECT_TRUE(button->isVisible());
        EXPECT_EQ(button->text(), "새 메시지 3개 ↓");
        EXPECT_EQ(shown.view.unseenCount(), 3);
        // Still scrolled up, the count goes on.
        shown.transcript.appendChatMsgId("63", "c", "또", "", false, "");
        shown.transcript.flush();
        EXPECT_EQ(button->text(), "새 메시지 4개 ↓");

        QTest::mouseClick(button, Qt::LeftButton);
        shown.transcript.flush();
        EXPECT_TRUE(shown.view.followsBottom());
        EXPECT_FALSE(button->isVisible());
        EXPECT_EQ(shown.view.unseenCount(), 0);
        EXPECT_TRUE(shown.onScreen(shown.rowOf("63")));
        // Down again, new messages scroll in without the button.
        shown.transcript.appendChatMsgId("64", "c", "끝", "", false, "");
        EXPECT_TRUE(shown.onScreen(shown.rowOf("64")));
        EXPECT_FALSE(button->isVisible());
    }
}

TEST(TranscriptPlaceTest, ScrollingBackDownByHandHidesTheButton) {
    Filled shown;
    shown.view.scrollToTop(shown.rowOf("10"));
    shown.transcript.appendChatMsgId("60", "c", "새 글", "", false, "");
    shown.transcript.flush();
    ASSERT_TRUE(shown.view.newMessagesButton()->isVisible());
    QTest::keyClick(&shown.view, Qt::Key_End);
    EXPECT_TRUE(shown.view.followsBottom());
    EXPECT_FALSE(shown.view.newMessagesButton()->isVisible());
    EXPECT_TRUE(shown.onScreen(shown.rowOf("60")));
}

TEST(TranscriptPlaceTest, FewMessagesStandAtTheBottom) {
    Shown shown;
    shown.transcript.appendChatMsgId("1", "a", "하나", "", false, "");
    shown.transcript.appendChatMsgId("2", "a", "둘", "", false, "");
    const QRect last = shown.rectOf("2");
    EXPECT_EQ(last.bottom(), shown.view.viewport()->height() - 1);
    EXPECT_EQ(shown.rectOf("1").bottom() + 1, last.top());
    EXPECT_EQ(shown.transcript.messageRowAt(QPoint(10, 5)), -1); // the space above them
}

// ---- hit tests, clicks, selection and copy ----------------------------------------------------

TEST(TranscriptPointerTest, MessageRowAtFindsMessagesOnly) {
    LocalZone zone("UTC");
    Shown shown;
    TranscriptView& t = shown.transcript;
    t.appendChat("[알림] 시작");
    t.appendChatMsgId("1", "민수", "첫 글\n둘째 줄", "2026-12-10T10:00:00Z", false, "");
    t.appendFileChatFrom("민수", "a.txt", "F1", "2", "2026-12-11T10:00:00Z", false);
    t.appendChatMsgId("3", "나", "끝 글", "2026-12-11T10:01:00Z", true, "1");
    t.flush();
    for (int row = 0; row < t.model().size(); ++row) {
        const QRect rect = shown.view.visualRect(row);
        ASSERT_FALSE(rect.isEmpty()) << row;
        const bool message = t.model().message(row) != nullptr;
        for (const QPoint at :
             {rect.center(), rect.topLeft() + QPoint(2, 1), rect.bottomRight() - QPoint(2, 1)})
            EXPECT_EQ(t.messageRowAt(at), message ? row : -1) << row;
    }
    EXPECT_EQ(t.model().row(shown.rowOf("2") - 1).kind, RowKind::DateLine);
    EXPECT_EQ(t.messageRowAt(QPoint(5, -3)), -1);
    EXPECT_EQ(t.messageRowAt(QPoint(5, shown.view.viewport()->height() + 3)), -1);
}

TEST(TranscriptPointerTest, FileNamesAndAddressesAreClickable) {
    Shown shown;
    TranscriptView& t = shown.transcript;
    QSignalSpy files(&t, &TranscriptView::fileLinkClicked);
    QSignalSpy links(&t, &TranscriptView::linkClicked);
    // QUrl would lower-case "AbC-9", read "123" as an address and refuse "a~b".
    const QString ids[] = {"AbC-9", "123", "a~b"};
    for (const QString& id : ids)
        t.appendFileChatFrom("a", "100%25 보고서 " + id, id, "f" + id, "", false);
    t.appendFileChatFrom("a", "x.txt", "bad id/with slash", "bad", "", false);
    t.appendChatMsgId("l", "a", "보기: https://Example.com/a?b=1. 또는 mailto:x@y.kr", "", false,
                      "");
    t.appendChatMsgId("n", "a", "ftp://x.kr file:///etc", "", false, "");
    t.flush();
    for (const QString& id : ids)
        shown.click(shown.charPoint(shown.rowOf("f" + id), 3));
    shown.click(shown.charPoint(shown.rowOf("bad"), 2));
    const QString text = t.model().message(shown.rowOf("l"))->text;
    for (const char* at : {"https", "mailto", "보기", ". 또는"})
        shown.click(shown.charPoint(shown.rowOf("l"), int(text.indexOf(at)) + 2));
    shown.click(shown.charPoint(shown.rowOf("n"), 2));
    shown.click(shown.charPoint(shown.rowOf("n"), 14));
    ASSERT_EQ(files.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(files[i][0].toString(), ids[i]);
        EXPECT_EQ(files[i][1].toString(), "100%25 보고서 " + ids[i]);
    }
    ASSERT_EQ(links.size(), 2);
    EXPECT_EQ(links[0][0].toUrl(), QUrl("https://example.com/a?b=1"));
    EXPECT_EQ(links[1][0].toUrl(), QUrl("mailto:x@y.kr"));
    // A deleted file is no link any more.
    ASSERT_TRUE(t.markDeleted("fAbC-9"));
    shown.click(shown.charPoint(shown.rowOf("fAbC-9"), 3));
    EXPECT_EQ(files.size(), 3);
}

TEST(TranscriptPointerTest, DraggingSelectsTextThatCopies) {
    Shown shown;
    TranscriptView& t = shown.transcript;
    t.appendChatMsgId("1", "a", "hello world", "", false, "");
    t.appendChatMsgId("2", "a", "one\ntwo\r\nthree", "", false, "");
    t.appendChatMsgId("3", "a", "고칠 글", "", false, "");
    t.markEdited("3", "고친 글");
    t.flush();
    const int row = shown.rowOf("1");
    const struct {
        int from, to;
        QString selected;
    } drags[] = {
        {0, 5, "hello"},
        {11, 6, "world"}, // backwards
        {3, 3, ""},       // a click
    };
    for (const auto& d : drags) {
        shown.press(shown.boundaryPoint(row, d.from));
        shown.dragTo(shown.boundaryPoint(row, d.to));
        shown.release(shown.boundaryPoint(row, d.to));
        EXPECT_EQ(shown.view.selectedText(), d.selected) << d.from << "-" << d.to;
    }
    shown.press(shown.boundaryPoint(row, 0));
    shown.dragTo(shown.boundaryPoint(row, 5));
    shown.release(shown.boundaryPoint(row, 5));
    QApplication::clipboard()->clear();
    QTest::keyClick(&shown.view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "hello");

    // A double click takes the whole message, line breaks as written by the system.
    QTest::mouseDClick(shown.view.viewport(), Qt::LeftButton, Qt::NoModifier,
                       shown.charPoint(shown.rowOf("2"), 1));
    EXPECT_EQ(shown.view.selectedText(), "one\ntwo\nthree");
    EXPECT_TRUE(shown.view.copy());
    EXPECT_EQ(QApplication::clipboard()->text(), "one\ntwo\nthree");
    // The edit note is no part of the message.
    QTest::mouseDClick(shown.view.viewport(), Qt::LeftButton, Qt::NoModifier,
                       shown.charPoint(shown.rowOf("3"), 1));
    EXPECT_EQ(shown.view.selectedText(), "고친 글");
}

// Ctrl+C with nothing selected copies the message chosen by a click: its text or file name.
TEST(TranscriptPointerTest, CtrlCCopiesTheCurrentMessage) {
    Shown shown;
    TranscriptView& t = shown.transcript;
    t.appendChat("알림");
    t.appendChatMsgId("1", "a", "첫 줄\n둘째 줄", "", false, "");
    t.appendFileChatFrom("a", "지도.png", "F1", "2", "", false);
    t.flush();
    QApplication::clipboard()->setText("before");
    EXPECT_FALSE(shown.view.copy()); // nothing chosen
    EXPECT_EQ(QApplication::clipboard()->text(), "before");
    const struct {
        const char* id;
        QString copied;
    } cases[] = {{"1", "첫 줄\n둘째 줄"}, {"2", "지도.png"}};
    for (const auto& c : cases) {
        const QRect bubble =
            shown.layoutOf(shown.rowOf(c.id))->bubble.translated(0, shown.rectOf(c.id).top());
        shown.click(bubble.bottomRight() - QPoint(3, 2)); // inside the bubble, past the text
        EXPECT_EQ(shown.view.currentRow(), shown.rowOf(c.id));
        QTest::keyClick(&shown.view, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), c.copied) << c.id;
    }
    // A click on a line chooses nothing.
    shown.click(shown.view.visualRect(0).center());
    EXPECT_EQ(shown.view.currentRow(), -1);
}

// ---- the accessible list --------------------------------------------------------------------

TEST(TranscriptAccessibleTest, RowsAreNamedListItemsShowingWhenOnScreen) {
    Filled shown;
    shown.view.setAccessibleName("대화 내용");
    shown.transcript.appendChat("민수\u202E님이 들어왔습니다");
    shown.transcript.flush();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&shown.view);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), "대화 내용");
    const TranscriptModel& model = shown.model();
    ASSERT_EQ(list->childCount(), model.size());
    int showing = 0;
    for (int row = 0; row < model.size(); ++row) {
        QAccessibleInterface* child = list->child(row);
        ASSERT_TRUE(child) << row;
        EXPECT_EQ(child->role(), QAccessible::ListItem);
        const QString name = child->text(QAccessible::Name);
        EXPECT_EQ(name, model.spokenText(row));
        for (const QChar c : name)
            EXPECT_FALSE(c.category() == QChar::Other_Control ||
                         c.category() == QChar::Other_Format)
                << row;
        EXPECT_EQ(list->indexOfChild(child), row);
        EXPECT_EQ(child->parent(), list);
        EXPECT_EQ(child->state().offscreen, !shown.onScreen(row)) << row;
        showing += !child->state().offscreen;
        EXPECT_EQ(list->child(row), child) << "kept while the row stays";
    }
    EXPECT_GT(showing, 0);
    EXPECT_FALSE(list->child(0)->state().invalid);
    EXPECT_TRUE(list->child(0)->state().offscreen);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), "b: 글 0");
    EXPECT_EQ(list->child(model.size() - 1)->text(QAccessible::Name), "민수 님이 들어왔습니다");

    // Scrolled up: the top rows show and the new ones do not; the button is a child too.
    shown.view.scrollToTop(0);
    shown.transcript.appendChatMsgId("60", "c", "새 글", "", false, "");
    shown.transcript.flush();
    EXPECT_FALSE(list->child(0)->state().offscreen);
    EXPECT_TRUE(list->child(shown.rowOf("60"))->state().offscreen);
    ASSERT_EQ(list->childCount(), model.size() + 1);
    QAccessibleInterface* button = list->child(model.size());
    ASSERT_TRUE(button);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_TRUE(button->text(QAccessible::Name).startsWith("새 메시지"));
    EXPECT_EQ(list->indexOfChild(button), model.size());

    // A row that leaves takes its child with it.
    QAccessibleInterface* first = list->child(0);
    const QAccessible::Id firstId = QAccessible::uniqueId(first);
    shown.transcript.setEntryCap(5);
    shown.view.scrollToBottom();
    shown.transcript.appendChatMsgId("61", "c", "끝", "", false, "");
    shown.transcript.flush();
    EXPECT_LT(model.messageCount(), 10);
    EXPECT_EQ(QAccessible::accessibleInterface(firstId), nullptr);
    EXPECT_EQ(list->childCount(), model.size());
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), model.spokenText(0));
}
