// Pictures: which id a person or room has, the cache, the downloads and who is told.

#include "avatar_requests.h"
#include "directory_service.h"
#include "files_fixture.h"
#include "picture_cache.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "sidebar_model.h"

#include <QLineEdit>
#include <QSignalSpy>

namespace brindlewick::test {
namespace {

TEST_F(FilesTest, PictureLookupTriesSelfThenFriendsThenRoomsFirstMatchWins) {
    serveLists(
        {
            friendJson("010A", "철수", "짝꿍", "", "fA"),
            friendJson("010B", "철수", "", "", "fB"),
            friendJson(kMyPhone, "나와같은번호", "", "", "fSelf"),
            friendJson("010D", "영희", "", "", ""),
        },
        {
            roomJson("r1", "철수", "", "rTitle"),
            roomJson("dm:010C:" + QString(kMyPhone), "스터디", "010C", "rPeer"),
            roomJson("r3", "영희", "", "rYoung"),
        });
    const struct {
        QString key;
        QString expected;
    } cases[] = {
        {"", ""},
        {kMyNick, ""},  // own nickname: own picture, which is none
        {kMyPhone, ""}, // own phone wins over a friend with that phone
        {"010A", "fA"}, // by phone
        {"짝꿍", "fA"}, // by alias
        {"철수", "fA"}, // two friends and a room match: the first friend
        {"010B", "fB"},
        {"영희", ""},        // a friend without a picture still wins over the room
        {"010C", "rPeer"},   // room by peer
        {"스터디", "rPeer"}, // room by title
        {"철", ""},          // exact matches only
        {"짝꿍 ", ""},
        {"모르는사람", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        EXPECT_EQ(controller->session().directory->pictureFor(c.key), c.expected);
    }
}

TEST_F(FilesTest, ACachedPictureIsAnsweredWithoutARequest) {
    http.setReply("GET", "/v1/files/cached", answer(200, pngOf(Qt::green)));
    PictureCache& pictures = *controller->session().pictures;
    QSignalSpy arrived(&pictures, &PictureCache::pictureArrived);
    EXPECT_TRUE(pictures.image("cached").isNull());
    ASSERT_TRUE(waitUntil([&] { return arrived.count() == 1; }));
    EXPECT_EQ(arrived.at(0).at(0).toString(), "cached");
    http.clearRequests();
    EXPECT_EQ(pictures.image("cached").pixelColor(0, 0), QColor(Qt::green));
    EXPECT_TRUE(pictures.image("").isNull());
    spin(20);
    EXPECT_TRUE(http.requests().empty());
}

TEST_F(FilesTest, OneRequestPerPictureWhileItIsOnItsWay) {
    http.setReply("GET", "/v1/files/p1", answer(200, pngOf(Qt::red)));
    PictureCache& pictures = *controller->session().pictures;
    EXPECT_TRUE(pictures.image("p1").isNull());
    EXPECT_TRUE(pictures.image("p1").isNull());
    ASSERT_TRUE(waitUntil([&] { return pictures.contains("p1"); }));
    EXPECT_EQ(pictures.image("p1").pixelColor(0, 0), QColor(Qt::red));
    spin(20);
    EXPECT_EQ(requestCount("GET", "/v1/files/p1"), 1);
}

TEST_F(FilesTest, AFailedPictureIsNotAskedForAgainForAMinute) {
    PictureCache& pictures = *controller->session().pictures;
    qint64 now = 1000;
    pictures.requests().setClock([&] { return now; });
    http.setReply("GET", "/v1/files/broken", answer(200, "not a picture"));
    http.setReply("GET", "/v1/files/empty", answer(200, ""));
    const QStringList ids = {"broken", "empty", "missing"}; // missing: 404
    for (const QString& id : ids)
        pictures.image(id);
    ASSERT_TRUE(waitUntil([&] {
        return std::none_of(ids.begin(), ids.end(),
                            [&](const QString& id) { return pictures.requests().running(id); });
    }));
    now += AvatarRequests::kFailurePauseMs - 1;
    for (const QString& id : ids)
        EXPECT_TRUE(pictures.image(id).isNull());
    spin(50);
    for (const QString& id : ids)
        EXPECT_EQ(requestCount("GET", "/v1/files/" + id), 1) << id.toStdString();

    now += 1;
    http.setReply("GET", "/v1/files/missing", answer(200, pngOf(Qt::blue)));
    pictures.image("missing");
    ASSERT_TRUE(waitUntil([&] { return pictures.contains("missing"); }));
    EXPECT_EQ(requestCount("GET", "/v1/files/missing"), 2);
    EXPECT_FALSE(pictures.contains("broken"));
    EXPECT_FALSE(pictures.contains("empty"));
}

TEST(AvatarRequests, RunningAndPausedIdsWait) {
    qint64 now = 0;
    AvatarRequests requests;
    requests.setClock([&] { return now; });
    EXPECT_TRUE(requests.begin("a"));
    EXPECT_FALSE(requests.begin("a"));
    EXPECT_TRUE(requests.begin("b"));
    requests.finish("a", true);
    EXPECT_TRUE(requests.begin("a")); // a newer copy may be fetched once done
    requests.finish("a", false);
    now = AvatarRequests::kFailurePauseMs - 1;
    EXPECT_FALSE(requests.begin("a"));
    now = AvatarRequests::kFailurePauseMs;
    EXPECT_TRUE(requests.begin("a"));
    requests.finish("a", true);
    requests.finish("a", false);
    EXPECT_FALSE(requests.begin("a"));
}

TEST_F(FilesTest, AnArrivingPictureReloadsTheSidebarIcons) {
    http.setReply("GET", "/v1/files/pf", answer(200, pngOf(Qt::red)));
    serveLists({friendJson("010A", "철수", "", "", "pf")});
    SidebarModel* model = controller->session().sidebar->model();
    ASSERT_EQ(model->rowCount(), 1);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    const QModelIndex icon = model->index(0, SidebarModel::IconColumn);
    model->data(icon, Qt::DecorationRole); // a miss starts the download
    ASSERT_TRUE(waitUntil([&] { return controller->session().pictures->contains("pf"); }));
    EXPECT_GE(changed.count(), 1);
    const QPixmap shown = model->data(icon, Qt::DecorationRole).value<QPixmap>();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.toImage().pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
}

// One rule for the header picture, whether the picture is cached when the room opens or arrives
// later: a direct room shows the other member's picture, any other room its record's.
TEST_F(FilesTest, TheRoomHeaderShowsTheRoomsOwnPictureOnOpenAndOnArrival) {
    struct Case {
        const char* what;
        QString room;
        QString picture; // the one picture the server has
        bool header;
    };
    const QString me = kMyPhone;
    const Case cases[] = {
        {"direct room, peer first", "dm:010A:" + me, "pa", true},
        {"direct room, peer second", "dm:" + me + ":010Z", "pz", true},
        {"another person's picture", "dm:010A:" + me, "pz", false},
        {"too few parts", "dm:010A", "pa", false},
        {"a friend's phone is no direct room", "010A", "pa", false},
        {"group room with a picture", "group-1", "pg", true},
        {"a group room is no person", "group-1", "pa", false},
        {"no room open", "", "pa", false},
    };
    QLabel* header = widget<QLabel>("roomAvatarView");
    // No sidebar rows, so only the header asks for pictures.
    widget<QLineEdit>("searchField")->setText("아무도 없음");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case its own picture ids, so the cache never answers for an earlier case.
        const QString suffix = QString::number(n++);
        serveLists({friendJson("010A", "", "", "", "pa" + suffix),
                    friendJson("010Z", "", "", "", "pz" + suffix)},
                   {roomJson("group-1", "모임", "", "pg" + suffix)});
        const QString id = c.picture + suffix;
        http.setReply("GET", "/v1/files/" + id, answer(200, pngOf(Qt::red)));

        // Arrival: the room opens before its picture is here.
        if (!c.room.isEmpty())
            controller->openRoom(c.room, "방");
        EXPECT_NE(centreColor(header), QColor(Qt::red));
        controller->session().pictures->image(id);
        ASSERT_TRUE(waitUntil([&] { return controller->session().pictures->contains(id); }));
        EXPECT_EQ(centreColor(header) == QColor(Qt::red), c.header);

        // Open: the same room again with the picture cached.
        controller->closeRoom();
        if (!c.room.isEmpty())
            controller->openRoom(c.room, "방");
        EXPECT_EQ(centreColor(header) == QColor(Qt::red), c.header);
        controller->closeRoom();
    }
}

} // namespace
} // namespace brindlewick::test
