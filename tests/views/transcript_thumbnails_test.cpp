// Thumbnails below the links of picture files: written at once when at hand, put in later when
// they come, clickable like the link, one resource per file, released when entries leave.

#include "event_loop.h"
#include "transcript_view.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextImageFormat>
#include <gtest/gtest.h>

using namespace brindlewick;

namespace {

QImage thumb(QColor color, int width = 240, int height = 120) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

TranscriptEntry fileEntry(const QString& msgId, const QString& fileId, const QString& name) {
    TranscriptEntry e;
    e.msgId = msgId;
    e.sender = "보낸이";
    e.text = name;
    e.time = "2026-12-10T10:00:00";
    e.dayTime = e.time;
    e.isFile = true;
    e.fileId = fileId;
    return e;
}

class ThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        browser.resize(600, 300);
        browser.show();
        transcript.setThumbnailProvider([this](const QString& fileId) {
            asked.append(fileId);
            return atHand.value(fileId);
        });
    }

    struct Shown {
        int position;
        QTextImageFormat format;
        QImage image;
    };
    // The thumbnails in the document (entry pictures in front of headers are 16 px: left out).
    QList<Shown> thumbnails() {
        transcript.flush();
        QList<Shown> out;
        for (QTextBlock b = browser.document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat f = it.fragment().charFormat();
                if (!f.isImageFormat() || f.toImageFormat().width() <= 16)
                    continue;
                const QTextImageFormat image = f.toImageFormat();
                out.append({it.fragment().position(), image,
                            browser.document()
                                ->resource(QTextDocument::ImageResource, QUrl(image.name()))
                                .value<QImage>()});
            }
        return out;
    }

    QTextBrowser browser;
    TranscriptView transcript{&browser};
    QHash<QString, QImage> atHand;
    QStringList asked;
};

TEST_F(ThumbnailTest, OnlyPictureNamesGetAThumbnailBelowTheirLink) {
    struct Case {
        const char* name;
        bool picture;
    };
    const Case cases[] = {
        {"사진.png", true},   {"A.JPG", true},
        {"b.jpeg", true},     {"c.gif", true},
        {"d.webp", true},     {"e.bmp", true},
        {"notes.txt", false}, {"png", false},
        {".png", false},      {"archive.png.zip", false},
        {"x.svg", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString fileId = QStringLiteral("f%1").arg(n++);
        atHand.insert(fileId, thumb(Qt::red));
        asked.clear();
        const int before = int(thumbnails().size());
        transcript.appendEntry(fileEntry(fileId, fileId, c.name));
        EXPECT_EQ(asked, c.picture ? QStringList{fileId} : QStringList{});
        EXPECT_EQ(thumbnails().size(), before + (c.picture ? 1 : 0));
    }
    // Below the link, in the entry's own block, and the link still reads as before.
    EXPECT_TRUE(transcript.plainText().startsWith("\uFFFC 보낸이  "));
    EXPECT_TRUE(transcript.plainText().contains("[파일] 사진.png (클릭하여 저장)\n\uFFFC"));
    const QTextImageFormat first = thumbnails().first().format;
    EXPECT_EQ(first.width(), 240);
    EXPECT_EQ(first.height(), 120);
    EXPECT_TRUE(first.isAnchor());
    EXPECT_EQ(first.anchorHref(), "brindlewick-file://f0/%EC%82%AC%EC%A7%84.png");
}

TEST_F(ThumbnailTest, AThumbnailThatComesLaterGoesIntoEveryEntryWaitingForIt) {
    transcript.appendEntry(fileEntry("1", "pic", "a.png"));
    transcript.appendEntry(fileEntry("2", "other", "b.png"));
    transcript.appendEntry(fileEntry("3", "pic", "again.png"));
    transcript.appendEntry(fileEntry("4", "pic", "deleted.png"));
    transcript.markDeleted("4");
    EXPECT_TRUE(thumbnails().isEmpty());

    transcript.showThumbnail("unknown", thumb(Qt::blue)); // nobody waits: nothing happens
    transcript.showThumbnail("pic", thumb(Qt::green, 200, 100));
    const QList<Shown> shown = thumbnails();
    ASSERT_EQ(shown.size(), 2);
    // One resource for the file, each entry with its own link.
    EXPECT_EQ(shown[0].format.name(), shown[1].format.name());
    EXPECT_EQ(transcript.thumbnailResourceCount(), 1);
    EXPECT_EQ(shown[0].image.pixelColor(5, 5), QColor(Qt::green));
    EXPECT_TRUE(shown[0].format.anchorHref().endsWith("/a.png"));
    EXPECT_TRUE(shown[1].format.anchorHref().endsWith("/again.png"));
    // Coming again changes nothing.
    transcript.showThumbnail("pic", thumb(Qt::green, 200, 100));
    EXPECT_EQ(thumbnails().size(), 2);

    // The thumbnail is part of the entry: deleting it takes the picture too, and the entries
    // after it are still found where they are.
    EXPECT_TRUE(transcript.markDeleted("1"));
    EXPECT_EQ(thumbnails().size(), 1);
    EXPECT_FALSE(transcript.plainText().contains("a.png"));
    transcript.findSearchChanged("again.png");
    EXPECT_EQ(transcript.search().counterText(), "1 / 1");
    const TextRange match = transcript.search().matches().first();
    EXPECT_EQ(transcript.plainText().mid(match.location, match.length), "again.png");
}

TEST_F(ThumbnailTest, ClickingTheThumbnailSavesLikeTheLink) {
    atHand.insert("Pic-7", thumb(Qt::red, 240, 160));
    transcript.appendEntry(fileEntry("1", "Pic-7", "휴가 사진.jpg"));
    const QList<Shown> shown = thumbnails();
    ASSERT_EQ(shown.size(), 1);
    QSignalSpy clicked(&transcript, &TranscriptView::fileLinkClicked);
    QTextCursor cursor(browser.document());
    cursor.setPosition(shown[0].position);
    const QRect left = browser.cursorRect(cursor);
    const QPoint inside(left.x() + 120, left.bottom() - 40); // inside the picture
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, Qt::NoModifier, inside);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked[0][0].toString(), "Pic-7"); // the id's case kept
    EXPECT_EQ(clicked[0][1].toString(), "휴가 사진.jpg");
}

TEST_F(ThumbnailTest, EntriesOfHistoryPagesGetThumbnailsTheSameWay) {
    transcript.appendEntry(fileEntry("10", "live", "live.png"));
    atHand.insert("old-1", thumb(Qt::red));
    transcript.prependEntries({fileEntry("1", "old-1", "one.png"),
                               fileEntry("2", "old-2", "two.gif"),
                               fileEntry("3", "old-3", "three.txt")},
                              {});
    EXPECT_EQ(asked, (QStringList{"live", "old-1", "old-2"}));
    EXPECT_EQ(thumbnails().size(), 1);
    transcript.showThumbnail("old-2", thumb(Qt::blue));
    transcript.showThumbnail("live", thumb(Qt::green));
    const QList<Shown> shown = thumbnails();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[0].format.anchorHref().endsWith("/one.png"));
    EXPECT_TRUE(shown[1].format.anchorHref().endsWith("/two.gif"));
    EXPECT_TRUE(shown[2].format.anchorHref().endsWith("/live.png"));
}

TEST_F(ThumbnailTest, AThumbnailComingAboveTheReaderKeepsTheirPlace) {
    for (int i = 0; i < 60; ++i)
        transcript.appendEntry(fileEntry(QString::number(i), QStringLiteral("f%1").arg(i),
                                         i < 2 ? QStringLiteral("pic-%1.png").arg(i)
                                               : QStringLiteral("text-%1.txt").arg(i)));
    transcript.flush();
    QScrollBar* bar = browser.verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    // Where the reader sees one entry in the middle.
    const auto shownAt = [&](const QString& name) {
        QTextCursor cursor(browser.document());
        cursor.setPosition(int(transcript.plainText().indexOf(name)));
        return browser.cursorRect(cursor).top();
    };
    const int before = shownAt("text-40.txt");
    ASSERT_GT(before, -400);
    transcript.showThumbnail("f1", thumb(Qt::red, 240, 200));
    transcript.flush();
    EXPECT_EQ(thumbnails().size(), 1);
    EXPECT_NEAR(shownAt("text-40.txt"), before, 1);

    // At the bottom, the newest text stays in view instead.
    bar->setValue(bar->maximum());
    transcript.appendEntry(fileEntry("60", "f60", "pic-60.png"));
    transcript.flush();
    transcript.showThumbnail("f60", thumb(Qt::red, 240, 200));
    transcript.flush();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(ThumbnailTest, ResourcesOfEntriesThatLeaveGoWithThem) {
    transcript.setEntryCap(10);
    for (int i = 0; i < 10; ++i) {
        atHand.insert(QStringLiteral("f%1").arg(i), thumb(Qt::red));
        transcript.appendEntry(
            fileEntry(QString::number(i), QStringLiteral("f%1").arg(i), "pic.png"));
    }
    // Entry 12 waits for its thumbnail; entry 11 shows f9's again.
    transcript.appendEntry(fileEntry("11", "f9", "same.png"));
    transcript.appendEntry(fileEntry("12", "late", "late.png"));
    transcript.flush();
    EXPECT_EQ(transcript.chatItems().size(), TranscriptView::keptAfterTrim(10));
    const int kept = TranscriptView::keptAfterTrim(10);
    // f0..f9 are shown by entries 0..9; after the cut only the newest `kept` entries remain.
    QSet<QString> stillShown;
    for (const ChatItem& item : transcript.chatItems())
        if (item.fileId != "late")
            stillShown.insert(item.fileId);
    EXPECT_EQ(transcript.thumbnailResourceCount(), stillShown.size());
    EXPECT_LT(transcript.thumbnailResourceCount(), 10);
    EXPECT_EQ(thumbnails().size(), kept - 1);
    for (const Shown& s : thumbnails())
        EXPECT_FALSE(s.image.isNull());
    transcript.showThumbnail("late", thumb(Qt::blue));
    EXPECT_EQ(thumbnails().size(), kept);

    transcript.clearChat();
    EXPECT_EQ(transcript.thumbnailResourceCount(), 0);
    transcript.showThumbnail("f9", thumb(Qt::blue)); // no entry waits any more
    EXPECT_TRUE(thumbnails().isEmpty());
}

} // namespace
