// Thumbnails of picture files inside their bubbles: asked for when a row comes, put in later when
// they arrive, clickable like the name, one per file, released when rows go.

#include "transcript_fixture.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace brindlewick;
using brindlewick::test::fileEntry;
using brindlewick::test::Shown;

namespace {

QImage thumb(QColor color, int width = 240, int height = 120) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

class ThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        transcript.setThumbnailProvider([this](const QString& fileId) {
            asked.append(fileId);
            return atHand.value(fileId);
        });
    }

    // The colour in the middle of the row's thumbnail as drawn, invalid when it has none.
    QColor thumbnailColour(const QString& msgId, QSize size = {240, 120}) {
        const int row = shown.rowOf(msgId);
        const auto layout = shown.layoutOf(row, size);
        if (!layout || layout->thumbnail.isEmpty())
            return {};
        return shown.grab().pixelColor(layout->thumbnail.center() +
                                       QPoint(0, shown.rectOf(msgId).top()));
    }
    int heightOf(const QString& msgId) { return shown.rectOf(msgId).height(); }

    Shown shown{{600, 700}};
    TranscriptView& transcript = shown.transcript;
    QHash<QString, QImage> atHand;
    QStringList asked;
};

TEST_F(ThumbnailTest, OnlyPictureNamesAskForAThumbnail) {
    const struct {
        const char* name;
        const char* fileId;
        bool picture;
    } cases[] = {
        {"사진.png", "f0", true},
        {"A.JPG", "f1", true},
        {"b.jpeg", "f2", true},
        {"c.gif", "f3", true},
        {"d.webp", "f4", true},
        {"e.bmp", "f5", true},
        {"notes.txt", "f6", false},
        {"png", "f7", false},
        {".png", "f8", false},
        {"x.svg", "f9", false},
        {"archive.png.zip", "fa", false},
        {"a.png", "bad id/with slash", false}, // no file to save: nothing to show
    };
    int expected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        transcript.clearChat();
        atHand.insert(c.fileId, thumb(Qt::red));
        asked.clear();
        transcript.appendEntry(fileEntry("1", c.name, c.fileId));
        EXPECT_EQ(asked, c.picture ? QStringList{c.fileId} : QStringList{});
        EXPECT_EQ(transcript.thumbnailResourceCount(), c.picture ? 1 : 0);
        EXPECT_EQ(thumbnailColour("1"), c.picture ? QColor(Qt::red) : QColor());
        expected += c.picture;
    }
    EXPECT_EQ(expected, 6);
}

TEST_F(ThumbnailTest, AThumbnailThatComesLaterGoesIntoEveryRowWaitingForIt) {
    transcript.appendEntry(fileEntry("1", "a.png", "pic"));
    transcript.appendEntry(fileEntry("2", "b.png", "other"));
    transcript.appendEntry(fileEntry("3", "again.png", "pic"));
    transcript.appendEntry(fileEntry("4", "deleted.png", "pic"));
    transcript.markDeleted("4");
    EXPECT_EQ(asked, QStringList({"pic", "other"})); // once per file
    const int plain = heightOf("1");
    const int deleted = heightOf("4");

    transcript.showThumbnail("unknown", thumb(Qt::blue)); // nobody waits: nothing happens
    EXPECT_EQ(transcript.thumbnailResourceCount(), 0);
    transcript.showThumbnail("pic", thumb(Qt::green));
    EXPECT_EQ(transcript.thumbnailResourceCount(), 1);
    EXPECT_GT(heightOf("1"), plain + 100);
    EXPECT_EQ(heightOf("3"), heightOf("1"));
    EXPECT_EQ(thumbnailColour("1"), QColor(Qt::green));
    EXPECT_EQ(thumbnailColour("3"), QColor(Qt::green));
    EXPECT_EQ(thumbnailColour("2"), QColor());
    EXPECT_EQ(heightOf("4"), deleted);
    // Coming again changes nothing.
    const QImage before = shown.grab();
    transcript.showThumbnail("pic", thumb(Qt::green));
    EXPECT_TRUE(shown.grab() == before);

    // Deleting a row takes its picture; the last row showing a file lets the file go.
    EXPECT_TRUE(transcript.markDeleted("1"));
    EXPECT_LT(heightOf("1"), plain + 20);
    EXPECT_EQ(transcript.thumbnailResourceCount(), 1);
    EXPECT_TRUE(transcript.markDeleted("3"));
    EXPECT_EQ(transcript.thumbnailResourceCount(), 0);
}

TEST_F(ThumbnailTest, ClickingTheThumbnailSavesLikeTheName) {
    atHand.insert("Pic-7", thumb(Qt::red, 240, 160));
    transcript.appendEntry(fileEntry("1", "휴가 사진.jpg", "Pic-7"));
    transcript.flush();
    const auto layout = shown.layoutOf(shown.rowOf("1"), {240, 160});
    ASSERT_TRUE(layout);
    ASSERT_FALSE(layout->thumbnail.isEmpty());
    QSignalSpy clicked(&transcript, &TranscriptView::fileLinkClicked);
    shown.click(layout->thumbnail.center() + QPoint(0, shown.rectOf("1").top()));
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked[0][0].toString(), "Pic-7"); // the id's case kept
    EXPECT_EQ(clicked[0][1].toString(), "휴가 사진.jpg");
}

TEST_F(ThumbnailTest, RowsOfHistoryPagesGetThumbnailsTheSameWay) {
    transcript.appendEntry(fileEntry("10", "live.png", "live"));
    atHand.insert("old-1", thumb(Qt::red));
    transcript.prependEntries({fileEntry("1", "one.png", "old-1"),
                               fileEntry("2", "two.gif", "old-2"),
                               fileEntry("3", "three.txt", "old-3")},
                              {});
    EXPECT_EQ(asked, (QStringList{"live", "old-1", "old-2"}));
    EXPECT_EQ(thumbnailColour("1"), QColor(Qt::red));
    transcript.showThumbnail("old-2", thumb(Qt::blue));
    transcript.showThumbnail("live", thumb(Qt::green));
    EXPECT_EQ(thumbnailColour("2"), QColor(Qt::blue));
    EXPECT_EQ(thumbnailColour("10"), QColor(Qt::green));
    EXPECT_EQ(thumbnailColour("3"), QColor());
    EXPECT_EQ(transcript.thumbnailResourceCount(), 3);
}

// A thumbnail arriving in a row above what the reader looks at moves nothing they see; at the
// bottom, the newest row stays in view as it grows.
TEST_F(ThumbnailTest, AThumbnailComingAboveTheReaderKeepsTheirPlace) {
    for (int i = 0; i < 60; ++i)
        transcript.appendEntry(fileEntry(QString::number(i),
                                         i < 2 ? QStringLiteral("pic-%1.png").arg(i)
                                               : QStringLiteral("text-%1.txt").arg(i),
                                         QStringLiteral("f%1").arg(i)));
    shown.view.scrollToTop(shown.rowOf("30"));
    const auto [first, last] = shown.view.shownRows();
    QList<QRect> before;
    for (int row = first; row <= last; ++row)
        before << shown.view.visualRect(row);
    transcript.showThumbnail("f1", thumb(Qt::red, 240, 200));
    transcript.flush();
    for (int row = first; row <= last; ++row)
        EXPECT_EQ(shown.view.visualRect(row), before[row - first]) << row;

    shown.view.scrollToBottom();
    transcript.appendEntry(fileEntry("60", "pic-60.png", "f60"));
    transcript.showThumbnail("f60", thumb(Qt::red, 240, 200));
    const QRect newest = shown.rectOf("60");
    EXPECT_GT(newest.height(), 200);
    EXPECT_EQ(newest.bottom(), shown.view.viewport()->height() - 1);
    EXPECT_TRUE(shown.view.followsBottom());
}

TEST_F(ThumbnailTest, ThumbnailsOfRowsThatLeaveGoWithThem) {
    transcript.setEntryCap(10);
    for (int i = 0; i < 10; ++i) {
        atHand.insert(QStringLiteral("f%1").arg(i), thumb(Qt::red, 60, 30));
        transcript.appendEntry(
            fileEntry(QString::number(i), "pic.png", QStringLiteral("f%1").arg(i)));
    }
    // Row 10 shows f9's again; row 11 waits for its thumbnail.
    transcript.appendEntry(fileEntry("10", "same.png", "f9"));
    transcript.appendEntry(fileEntry("11", "late.png", "late"));
    transcript.flush();
    const int kept = TranscriptView::keptAfterTrim(10);
    ASSERT_EQ(transcript.chatItems().size(), kept);
    // f6..f9 are shown by rows 6..10; "late" has none yet.
    EXPECT_EQ(transcript.thumbnailResourceCount(), 4);
    for (const char* id : {"8", "9", "10"}) // the rows in view
        EXPECT_EQ(thumbnailColour(id, {60, 30}), QColor(Qt::red)) << id;
    transcript.showThumbnail("f0", thumb(Qt::blue, 60, 30)); // its row left: nobody waits
    EXPECT_EQ(transcript.thumbnailResourceCount(), 4);
    transcript.showThumbnail("late", thumb(Qt::blue, 60, 30));
    EXPECT_EQ(thumbnailColour("11", {60, 30}), QColor(Qt::blue));
    EXPECT_EQ(transcript.thumbnailResourceCount(), 5);

    transcript.clearChat();
    EXPECT_EQ(transcript.thumbnailResourceCount(), 0);
    transcript.showThumbnail("f9", thumb(Qt::blue, 60, 30));
    EXPECT_EQ(transcript.thumbnailResourceCount(), 0);
}

} // namespace
