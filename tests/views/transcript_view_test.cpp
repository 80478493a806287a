#include "event_loop.h"
#include "local_time.h"
#include "local_zone.h"
#include "transcript_view.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextLayout>
#include <gtest/gtest.h>

#include <ctime>

using namespace brindlewick;

namespace {

const QString kObj = QString(QChar::ObjectReplacementCharacter);

// Formats carry their size in pixels, as the window's widgets do.
int pixels(const QTextCharFormat& f) {
    return f.property(QTextFormat::FontPixelSize).toInt();
}

QImage solid(QColor color, int size = 40) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(color);
    return img;
}

class TranscriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        browser.setLineWrapMode(QTextEdit::NoWrap);
        browser.resize(900, 300);
        browser.show();
    }

    QTextDocument* doc() { return browser.document(); }
    QString text() { return transcript.plainText(); }

    // Format of the character at `pos`.
    QTextCharFormat formatAt(int pos) {
        QTextCursor c(doc());
        c.setPosition(pos + 1);
        return c.charFormat();
    }
    int indexOf(const QString& s) { return int(text().indexOf(s)); }

    // The lines as laid out on screen.
    QStringList visibleLines() {
        QStringList lines;
        transcript.flush(); // the burst's layout
        doc()->documentLayout()->documentSize();
        for (QTextBlock b = doc()->begin(); b.isValid(); b = b.next()) {
            QTextLayout* layout = b.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                QString s = b.text().mid(line.textStart(), line.textLength());
                if (s.endsWith(QChar(QChar::LineSeparator)))
                    s.chop(1);
                lines << s;
            }
        }
        return lines;
    }

    QTextBrowser browser;
    TranscriptView transcript{&browser};
};

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

TEST_F(TranscriptTest, LayoutOfEntriesAndSystemLines) {
    transcript.appendChat("[시스템] 첫 줄");
    transcript.appendChat("[시스템] 둘째 줄");
    transcript.appendChatMsgId("m1", "minsu", "안녕하세요", "2024-05-06T07:08:09Z", false, "");
    transcript.appendChatMsgId("m2", "나", "반가워요", "2024-05-06T07:09:00Z", true, "m1");
    transcript.appendChat("[시스템] 끝");
    transcript.appendFileChatFrom("minsu", "보고서 1.pdf", "F1", "m3", "", false);
    transcript.appendChatMsgId("m4", "minsu", "ok", "", false, "");

    const QString expected = "[시스템] 첫 줄\n"
                             "[시스템] 둘째 줄\n" +
                             kObj + " minsu  07:08\n안녕하세요\n\n  ↳ minsu: 안녕하세요\n" + kObj +
                             " 나  07:09\n반가워요\n\n[시스템] 끝\n" + kObj +
                             " minsu  \n[파일] 보고서 1.pdf (클릭하여 저장)\n\n" + kObj +
                             " minsu  \nok\n";
    EXPECT_EQ(text(), expected);
    EXPECT_EQ(visibleLines(), expected.split('\n'));
}

TEST_F(TranscriptTest, FirstLineHasNoLeadingBreak) {
    transcript.appendChatMsgId("", "a", "b", "", false, "");
    EXPECT_EQ(text(), kObj + " a  \nb\n");
    transcript.clearChat();
    transcript.appendChat("x");
    EXPECT_EQ(text(), "x");
    transcript.clearChat();
    transcript.appendFileChatFrom("a", "n", "F", "", "", false);
    EXPECT_TRUE(text().startsWith(kObj));
}

TEST_F(TranscriptTest, NoneIsIgnoredButEmptyTextIsALine) {
    transcript.appendChat(QString());
    EXPECT_TRUE(doc()->isEmpty());
    transcript.appendChat("a");
    transcript.appendChat("");
    transcript.appendChat(QString());
    EXPECT_EQ(text(), "a\n");
}

TEST_F(TranscriptTest, EntriesStayLeanOneBlockPerEntry) {
    for (int i = 0; i < 50; ++i)
        transcript.appendChatMsgId(QString::number(i), "s", "t", "", false, i % 2 ? "r" : "");
    // One block per entry plus the trailing empty line.
    EXPECT_EQ(doc()->blockCount(), 51);
}

TEST_F(TranscriptTest, ChatEntryAttributes) {
    transcript.appendChatMsgId("m2", "민수", "본문", "2024-05-06T07:08:09Z", false, "m1");
    transcript.appendChatMsgId("m3", "나", "내 글", "2024-05-06T07:08:09Z", true, "");

    const QTextCharFormat reply = formatAt(indexOf("↳"));
    EXPECT_EQ(pixels(reply), 10);
    EXPECT_EQ(reply.foreground().color(), QColor::fromRgbF(0.5f, 0.5f, 0.5f));
    EXPECT_NE(reply.fontWeight(), QFont::Bold);

    const QTextCharFormat other = formatAt(indexOf("민수"));
    EXPECT_EQ(pixels(other), 11);
    EXPECT_EQ(other.fontWeight(), QFont::Bold);
    EXPECT_EQ(other.foreground().color(), QColor::fromRgbF(0.2f, 0.2f, 0.8f, 1.0f));
    EXPECT_EQ(formatAt(indexOf("07:08")).foreground().color(), other.foreground().color());

    const QTextCharFormat own = formatAt(indexOf("나  "));
    EXPECT_EQ(own.fontWeight(), QFont::Bold);
    EXPECT_EQ(own.foreground().color(), QColor::fromRgbF(0.2f, 0.5f, 0.2f, 1.0f));

    for (const QString& body : {QString("본문"), QString("내 글")}) {
        const QTextCharFormat f = formatAt(indexOf(body));
        EXPECT_EQ(pixels(f), 12);
        EXPECT_NE(f.fontWeight(), QFont::Bold);
        EXPECT_EQ(f.foreground().color(), QColor(Qt::black));
        EXPECT_FALSE(f.isAnchor());
    }
    EXPECT_EQ(browser.font().pixelSize(), 12);
    EXPECT_TRUE(browser.isReadOnly());
    EXPECT_FALSE(browser.openLinks());
}

TEST_F(TranscriptTest, ReplyMarkerOnlyForNonEmptyReplyId) {
    transcript.appendChatMsgId("1", "a", "x", "", false, QString());
    transcript.appendChatMsgId("2", "a", "y", "", false, "");
    EXPECT_FALSE(text().contains("↳"));
    transcript.appendChatMsgId("3", "a", "z", "", false, "msg-77");
    EXPECT_TRUE(text().contains("\n  ↳ [답장 #msg-77]\n" + kObj + " a  \nz\n"));
}

TEST_F(TranscriptTest, SystemLineAttributes) {
    transcript.appendChat("알림");
    const QTextCharFormat f = formatAt(0);
    EXPECT_EQ(pixels(f), 12);
    EXPECT_FALSE(f.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(f.isAnchor());
}

TEST_F(TranscriptTest, FileEntryLinkAndRecord) {
    transcript.appendFileChatFrom("minsu", "보고 서.txt", "AbC9", "m5", "2024-05-06T07:08:09Z",
                                  true);
    ASSERT_EQ(transcript.chatItems().size(), 1);
    const ChatItem& item = transcript.chatItems()[0];
    EXPECT_TRUE(item.isFile);
    EXPECT_EQ(item.msgId, "m5");
    EXPECT_EQ(item.sender, "minsu");
    EXPECT_EQ(item.text, "[파일] 보고 서.txt");
    EXPECT_EQ(item.fileId, "AbC9");
    EXPECT_EQ(item.fileName, "보고 서.txt");
    EXPECT_EQ(item.time, "07:08");
    EXPECT_TRUE(item.mine);

    const QString lineText = "[파일] 보고 서.txt (클릭하여 저장)\n";
    const int start = indexOf(lineText);
    ASSERT_GE(start, 0);
    EXPECT_EQ(formatAt(start - 1).fontWeight(), QFont::Bold); // header's line break
    for (int pos = start; pos < start + lineText.size(); ++pos) {
        const QTextCharFormat f = formatAt(pos);
        EXPECT_TRUE(f.isAnchor()) << pos;
        EXPECT_EQ(f.anchorHref(), "brindlewick-file://AbC9/%EB%B3%B4%EA%B3%A0%20%EC%84%9C.txt")
            << pos;
        EXPECT_EQ(f.foreground().color(), QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f));
        EXPECT_TRUE(f.fontUnderline());
        EXPECT_EQ(pixels(f), 12);
    }
}

TEST_F(TranscriptTest, FileEntryNameVariants) {
    // Empty name: labelled by id, linked as "file", recorded with an empty name.
    transcript.appendFileChatFrom("a", "", "F1", "", "", false);
    // No name at all: the record shows the id and names the file "file".
    transcript.appendFileChatFrom("a", QString(), "F2", "", "", false);
    const auto& items = transcript.chatItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].text, "[파일] ");
    EXPECT_EQ(items[0].fileName, "");
    EXPECT_EQ(items[1].text, "[파일] F2");
    EXPECT_EQ(items[1].fileName, "file");
    EXPECT_TRUE(text().contains("[파일] F1 (클릭하여 저장)"));
    EXPECT_TRUE(text().contains("[파일] F2 (클릭하여 저장)"));
    EXPECT_EQ(formatAt(indexOf("[파일] F1")).anchorHref(), "brindlewick-file://F1/file");
}

TEST_F(TranscriptTest, FileIdUnfitForLinkShowsPlainLine) {
    transcript.appendFileChatFrom("a", "x.txt", "bad id/with slash", "", "", false);
    const QTextCharFormat f = formatAt(indexOf("[파일] x.txt"));
    EXPECT_FALSE(f.isAnchor());
    EXPECT_FALSE(f.fontUnderline());
    EXPECT_FALSE(f.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(pixels(f), 12);
    EXPECT_EQ(transcript.chatItems().size(), 1);
}

TEST_F(TranscriptTest, FileWithoutIdFallsBackToSystemLine) {
    transcript.appendChatMsgId("1", "a", "b", "", false, "");
    transcript.appendFileChatFrom("minsu", "a.txt", "", "m1", "", false);
    transcript.appendFileChatFrom(QString(), QString(), QString(), "m2", "", false);
    EXPECT_EQ(text(), kObj + " a  \nb\n\nminsu: [파일] a.txt\n: [파일] ");
    EXPECT_EQ(transcript.chatItems().size(), 1);
}

TEST_F(TranscriptTest, ChatItemsRecordMissingValuesAsEmpty) {
    transcript.appendChatMsgId(QString(), QString(), QString(), QString(), false, QString());
    ASSERT_EQ(transcript.chatItems().size(), 1);
    const ChatItem& item = transcript.chatItems()[0];
    EXPECT_EQ(item.msgId, "");
    EXPECT_EQ(item.sender, "");
    EXPECT_EQ(item.text, "");
    EXPECT_EQ(item.time, "");
    EXPECT_FALSE(item.isFile);
    EXPECT_EQ(text(), kObj + "   \n\n");
}

TEST_F(TranscriptTest, NetworkTextIsPlainText) {
    const QString hostile =
        "<b>x</b><img src=\"file:///etc/passwd\"><a href=\"http://e\">l</a>&amp;";
    transcript.appendChatMsgId(hostile, hostile, hostile, "", false, hostile);
    transcript.appendFileChatFrom(hostile, hostile, "F", "", "", false);
    transcript.appendChat(hostile);
    const QString t = text();
    EXPECT_EQ(t.count(hostile), 6); // reply id, sender x2, body, file label, system line
    EXPECT_FALSE(formatAt(indexOf("<b>")).isAnchor());
    int images = 0;
    for (QChar c : t)
        images += c == QChar::ObjectReplacementCharacter;
    EXPECT_EQ(images, 2); // only the two entry pictures
}

TEST_F(TranscriptTest, LineBreaksInMessagesStayInsideTheEntry) {
    const QString frameMarkers = QString(QChar(0xFDD0)) + QChar(0xFDD1);
    transcript.appendChatMsgId("1", "a", "one\ntwo\r\nthree\rfour" + frameMarkers, "", false, "");
    EXPECT_EQ(text(), kObj + " a  \none\ntwo\nthree\nfour\uFFFD\uFFFD\n");
    EXPECT_EQ(doc()->blockCount(), 2);
    EXPECT_EQ(transcript.chatItems()[0].text, "one\ntwo\r\nthree\rfour" + frameMarkers);
}

TEST_F(TranscriptTest, PicturesAreSharedDocumentResources) {
    const QImage red = solid(Qt::red), blue = solid(Qt::blue);
    transcript.appendChatMsgId("1", "a", "x", "", false, "", {"pic-a", red});
    transcript.appendChatMsgId("2", "b", "x", "", false, "", {"pic-b", blue});
    transcript.appendChatMsgId("3", "a", "x", "", false, "", {"pic-a", red});
    transcript.appendChatMsgId("4", "c", "x", "", false, "", {});
    transcript.appendFileChatFrom("d", "f", "F", "", "", false, {});
    transcript.appendChatMsgId("6", "a", "x", "", false, "", {"pic-a", red.copy()});
    EXPECT_EQ(transcript.pictureResourceCount(), 3);

    QStringList names;
    const QString t = text();
    for (int i = 0; i < t.size(); ++i) {
        if (t[i] != QChar::ObjectReplacementCharacter)
            continue;
        const QTextCharFormat f = formatAt(i);
        ASSERT_TRUE(f.isImageFormat());
        const QTextImageFormat img = f.toImageFormat();
        EXPECT_EQ(img.width(), 16);
        EXPECT_EQ(img.height(), 16);
        EXPECT_FALSE(formatAt(i + 1).isImageFormat()); // a space after it, before the header
        EXPECT_EQ(t[i + 1], ' ');
        names << img.name();
    }
    ASSERT_EQ(names.size(), 6);
    EXPECT_EQ(names[0], names[2]);
    EXPECT_EQ(names[0], names[5]);
    EXPECT_NE(names[0], names[1]);
    EXPECT_EQ(names[3], names[4]);
    EXPECT_NE(names[3], names[0]);

    const QImage shown =
        doc()->resource(QTextDocument::ImageResource, QUrl(names[0])).value<QImage>();
    EXPECT_EQ(shown.size(), QSize(16, 16));
    EXPECT_EQ(shown.pixelColor(8, 8), QColor(Qt::red));
    const QImage placeholder =
        doc()->resource(QTextDocument::ImageResource, QUrl(names[3])).value<QImage>();
    EXPECT_EQ(placeholder.size(), QSize(16, 16));
}

TEST_F(TranscriptTest, EarlierEntriesKeepTheirPicture) {
    transcript.appendChatMsgId("1", "a", "x", "", false, "", {}); // picture not loaded yet
    transcript.appendChatMsgId("2", "a", "x", "", false, "", {"pic-a", solid(Qt::red)});
    transcript.appendChatMsgId("3", "a", "x", "", false, "", {"pic-a", solid(Qt::green)});
    const QString t = text();
    QStringList names;
    for (int i = 0; i < t.size(); ++i)
        if (t[i] == QChar::ObjectReplacementCharacter)
            names << formatAt(i).toImageFormat().name();
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(doc()
                  ->resource(QTextDocument::ImageResource, QUrl(names[1]))
                  .value<QImage>()
                  .pixelColor(8, 8),
              QColor(Qt::red));
    EXPECT_EQ(doc()
                  ->resource(QTextDocument::ImageResource, QUrl(names[2]))
                  .value<QImage>()
                  .pixelColor(8, 8),
              QColor(Qt::green));
    EXPECT_NE(names[0], names[1]);
}

TEST_F(TranscriptTest, ClearChatEmptiesEverythingAndResourcesComeBack) {
    QSignalSpy counter(&transcript, &TranscriptView::findCounterChanged);
    transcript.appendChatMsgId("1", "a", "word", "", false, "", {"pic-a", solid(Qt::red)});
    transcript.findSearchChanged("word");
    ASSERT_EQ(transcript.search().matches().size(), 1);
    transcript.clearChat();
    EXPECT_TRUE(doc()->isEmpty());
    EXPECT_TRUE(transcript.chatItems().isEmpty());
    EXPECT_TRUE(transcript.search().matches().isEmpty());
    EXPECT_EQ(transcript.search().currentFindIndex(), -1);
    EXPECT_EQ(transcript.search().counterText(), "");
    ASSERT_FALSE(counter.isEmpty());
    EXPECT_EQ(counter.last().at(0).toString(), "");

    // The picture is registered again after clearing.
    transcript.appendChatMsgId("2", "a", "x", "", false, "", {"pic-a", solid(Qt::red)});
    const QTextImageFormat img = formatAt(0).toImageFormat();
    EXPECT_EQ(
        doc()->resource(QTextDocument::ImageResource, QUrl(img.name())).value<QImage>().size(),
        QSize(16, 16));
}

TEST_F(TranscriptTest, ScrollsToEndOnceAfterABurst) {
    for (int i = 0; i < 30; ++i)
        transcript.appendChatMsgId(QString::number(i), "a", "x", "", false, "");
    test::spin(20);
    QScrollBar* bar = browser.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(0); // the user scrolled up
    for (int i = 0; i < 30; ++i)
        transcript.appendChat("line");
    EXPECT_EQ(bar->value(), 0); // deferred to the event loop
    test::spin(20);
    EXPECT_EQ(bar->value(), bar->maximum());
}

// QUrl would lower-case "AbC-9", read "123" as 0.0.0.123 and reject "a~b".
TEST_F(TranscriptTest, ClickOnFileLinkReportsIdAsWritten) {
    QSignalSpy clicked(&transcript, &TranscriptView::fileLinkClicked);
    const QString ids[] = {"AbC-9", "123", "a~b"};
    transcript.appendChat("intro");
    for (const QString& id : ids)
        transcript.appendFileChatFrom("a", "100%25 보고서 " + id, id, "", "", false);
    test::spin(20);
    for (const QString& id : ids) {
        QTextCursor c(doc());
        c.setPosition(indexOf("[파일] 100%25 보고서 " + id) + 2);
        const QPoint pos = browser.cursorRect(c).center();
        ASSERT_FALSE(browser.anchorAt(pos).isEmpty()) << id.toStdString();
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, pos);
    }
    ASSERT_EQ(clicked.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(clicked[i][0].toString(), ids[i]);
        EXPECT_EQ(clicked[i][1].toString(), "100%25 보고서 " + ids[i]);
    }
}

TEST_F(TranscriptTest, EntryAtFindsTheEntryUnderAPosition) {
    transcript.appendChat("[시스템] 시작");
    transcript.appendChatMsgId("1", "민수", "첫 글\n둘째 줄", "", false, "");
    transcript.appendChat("[시스템] 가운데");
    transcript.appendFileChatFrom("민수", "a.txt", "F1", "2", "", false);
    transcript.appendChatMsgId("3", "나", "끝 글", "", true, "1");
    transcript.flush();
    const auto at = [&](const QString& s, int offset = 1) {
        QTextCursor c(doc());
        c.setPosition(indexOf(s) + offset);
        return transcript.entryAt(browser.cursorRect(c).center());
    };
    EXPECT_EQ(at("첫 글"), 0);
    EXPECT_EQ(at("둘째 줄"), 0);
    EXPECT_EQ(at("민수"), 0); // the header belongs to its entry
    EXPECT_EQ(at("[파일] a.txt"), 1);
    EXPECT_EQ(at("↳"), 2);
    EXPECT_EQ(at("끝 글"), 2);
    EXPECT_EQ(at("[시스템] 시작"), -1);
    EXPECT_EQ(at("[시스템] 가운데"), -1);
    EXPECT_EQ(transcript.entryAt(QPoint(5, browser.viewport()->height() - 2)), -1); // below all
    transcript.clearChat();
    EXPECT_EQ(transcript.entryAt(QPoint(5, 5)), -1);
}

TEST_F(TranscriptTest, DeletedAndEditedEntriesChangeInPlace) {
    transcript.appendChatMsgId("1", "민수", "지울 글", "", false, "");
    transcript.appendChatMsgId("2", "민수", "고칠 글", "", false, "");
    transcript.appendFileChatFrom("민수", "a.txt", "F1", "3", "", false);
    transcript.appendChatMsgId("4", "민수", "그대로", "", false, "");
    transcript.findSearchChanged("글");
    ASSERT_EQ(transcript.search().matches().size(), 2);

    EXPECT_TRUE(transcript.markDeleted("1"));
    EXPECT_TRUE(transcript.markEdited("2", "새 글 https://a.kr"));
    EXPECT_TRUE(transcript.markDeleted("3"));
    EXPECT_FALSE(transcript.markDeleted("99"));
    EXPECT_FALSE(transcript.markEdited("", "x"));
    EXPECT_TRUE(transcript.markEdited("1", "되살림")); // a deleted message stays deleted

    const QString expected = kObj + " 민수  \n삭제된 메시지입니다\n\n" + kObj +
                             " 민수  \n새 글 https://a.kr (수정됨)\n\n" + kObj +
                             " 민수  \n삭제된 메시지입니다\n\n" + kObj + " 민수  \n그대로\n";
    EXPECT_EQ(text(), expected);
    const QColor grey = QColor::fromRgbF(0.5f, 0.5f, 0.5f);
    EXPECT_EQ(formatAt(indexOf("삭제된")).foreground().color(), grey);
    EXPECT_EQ(formatAt(indexOf("새 글")).foreground().color(), QColor(Qt::black));
    EXPECT_EQ(formatAt(indexOf("https")).anchorHref(), "https://a.kr");
    EXPECT_EQ(formatAt(indexOf("(수정됨)")).foreground().color(), grey);
    // The file entry lost its link with its text.
    EXPECT_FALSE(formatAt(text().lastIndexOf("삭제된")).isAnchor());

    const QList<ChatItem>& items = transcript.chatItems();
    EXPECT_EQ(items[0].text, "삭제된 메시지입니다");
    EXPECT_TRUE(items[0].deleted);
    EXPECT_EQ(items[1].text, "새 글 https://a.kr");
    EXPECT_TRUE(items[1].edited);
    EXPECT_FALSE(items[3].edited || items[3].deleted);

    // The running find follows the new text; a new find too.
    EXPECT_EQ(transcript.search().matches().size(), 1);
    transcript.findSearchChanged("지울");
    EXPECT_EQ(transcript.search().counterText(), "결과 없음");
    transcript.findSearchChanged("그대로");
    ASSERT_EQ(transcript.search().matches().size(), 1);
    EXPECT_EQ(transcript.search().matches()[0].location, indexOf("그대로"));

    // Positions after the changes still find their entries, and appends go on after them.
    transcript.appendChatMsgId("5", "민수", "다음", "", false, "");
    transcript.flush();
    for (const auto& [s, index] :
         {std::pair<QString, int>{"그대로", 3}, {"다음", 4}, {"새 글", 1}}) {
        QTextCursor c(doc());
        c.setPosition(indexOf(s) + 1);
        EXPECT_EQ(transcript.entryAt(browser.cursorRect(c).center()), index) << s.toStdString();
    }
    EXPECT_TRUE(text().endsWith(kObj + " 민수  \n다음\n"));
}

TEST_F(TranscriptTest, RepliesQuoteTheAnsweredEntryWhenInView) {
    const QString longText = QString(45, QChar(u'가')) + "\n끝";
    transcript.appendChatMsgId("1", "김민수", "짧은\n글", "", false, "");
    transcript.appendChatMsgId("2", "나", longText, "", true, "");
    transcript.appendChatMsgId("3", "나", "a", "", true, "1");
    transcript.appendChatMsgId("4", "나", "b", "", true, "2");
    transcript.appendChatMsgId("5", "나", "c", "", true, "77");
    EXPECT_TRUE(text().contains("\n  ↳ 김민수: 짧은 글\n" + kObj + " 나  \na\n"));
    EXPECT_TRUE(text().contains("\n  ↳ 나: " + QString(40, QChar(u'가')) + "\n" + kObj));
    EXPECT_TRUE(text().contains("\n  ↳ [답장 #77]\n"));
    EXPECT_EQ(TranscriptView::quote(QString(39, 'a') + QString::fromUtf8("😀")), QString(39, 'a'));
    EXPECT_EQ(TranscriptView::quote("a\r\nb"), "a  b");
}

TEST_F(TranscriptTest, AddressesInMessagesAreLinksAndClicksReportThem) {
    QSignalSpy opened(&transcript, &TranscriptView::linkClicked);
    QSignalSpy files(&transcript, &TranscriptView::fileLinkClicked);
    transcript.appendChatMsgId("1", "a", "보기: https://Example.com/a?b=1. 또는 mailto:x@y.kr", "",
                               false, "");
    transcript.appendChatMsgId("2", "a", "www.example.com ftp://x.kr file:///etc", "", false, "");
    EXPECT_EQ(formatAt(indexOf("https")).anchorHref(), "https://Example.com/a?b=1");
    EXPECT_FALSE(formatAt(indexOf("1. 또는") + 1).isAnchor());
    EXPECT_FALSE(formatAt(indexOf("보기")).isAnchor());
    EXPECT_EQ(formatAt(indexOf("mailto")).anchorHref(), "mailto:x@y.kr");
    EXPECT_EQ(formatAt(indexOf("mailto")).foreground().color(),
              QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f));
    for (const char* plain : {"www", "ftp", "file"})
        EXPECT_FALSE(formatAt(indexOf(plain)).isAnchor()) << plain;
    EXPECT_FALSE(browser.toHtml().contains("<a href=\"file"));

    test::spin(20);
    for (const char* link : {"https", "mailto"}) {
        QTextCursor c(doc());
        c.setPosition(indexOf(link) + 2);
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, browser.cursorRect(c).center());
    }
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0][0].toUrl(), QUrl("https://example.com/a?b=1"));
    EXPECT_EQ(opened[1][0].toUrl(), QUrl("mailto:x@y.kr"));
    EXPECT_TRUE(files.isEmpty());
}

TEST(TranscriptLifetimeTest, BrowserDestroyedFirstIsHarmless) {
    auto* browser = new QTextBrowser;
    TranscriptView transcript(browser);
    transcript.appendChatMsgId("1", "a", "x", "", false, ""); // edit of this turn still open
    delete browser;
    transcript.appendChat("after");
    transcript.appendFileChatFrom("a", "n", "F", "", "", false);
    transcript.findSearchChanged("x");
    transcript.findNext();
    transcript.clearChat();
    transcript.flush();
    test::spin(5);
    EXPECT_TRUE(transcript.chatItems().isEmpty());
}
