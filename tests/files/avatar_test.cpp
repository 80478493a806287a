// Pictures: which id a person or room has, the cache, the downloads and who is told.

#include "avatar_requests.h"
#include "files_fixture.h"
#include "sidebar_model.h"

#include <QSignalSpy>

namespace brindlewick::test {
namespace {

FriendRecord friendOf(QString phone, QString nick, QString alias, QString pic) {
    return {std::move(phone), std::move(nick), std::move(alias), QString(), std::move(pic)};
}

RoomRecord roomOf(QString room, QString title, QString peer, QString pic) {
    return {std::move(room), std::move(title), std::move(peer), std::move(pic), 0};
}

TEST_F(FilesTest, PictureLookupTriesSelfThenFriendsThenRoomsFirstMatchWins) {
    controller->client->setProfilePic(""); // as it always is
    controller->friends = {
        friendOf("010A", "철수", "짝꿍", "fA"),
        friendOf("010B", "철수", "", "fB"),
        friendOf(kMyPhone, "나와같은번호", "", "fSelf"),
        friendOf("010D", "영희", "", ""),
    };
    controller->rooms = {
        roomOf("r1", "철수", "", "rTitle"),
        roomOf("dm:010C:" + QString(kMyPhone), "스터디", "010C", "rPeer"),
        roomOf("r3", "영희", "", "rYoung"),
    };
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
        EXPECT_EQ(controller->profilePicForPhoneOrNick(c.key), c.expected);
        EXPECT_EQ(controller->profilePicForSender(c.key), c.expected);
    }
}

TEST_F(FilesTest, ACachedPictureIsAnsweredWithoutARequest) {
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(Qt::green);
    controller->avatarCache.insert("cached", image);
    EXPECT_EQ(controller->imageForFileId("cached"), image);
    EXPECT_TRUE(controller->imageForFileId("").isNull());
    spin(20);
    EXPECT_TRUE(http.requests().empty());
}

TEST_F(FilesTest, OneRequestPerPictureWhileItIsOnItsWay) {
    http.setReply("GET", "/v1/files/p1", answer(200, pngOf(Qt::red)));
    EXPECT_TRUE(controller->imageForFileId("p1").isNull());
    EXPECT_TRUE(controller->imageForFileId("p1").isNull());
    ASSERT_TRUE(waitUntil([&] { return controller->avatarCache.contains("p1"); }));
    EXPECT_EQ(controller->imageForFileId("p1").pixelColor(0, 0), QColor(Qt::red));
    spin(20);
    EXPECT_EQ(requestCount("GET", "/v1/files/p1"), 1);
}

TEST_F(FilesTest, AFailedPictureIsNotAskedForAgainForAMinute) {
    qint64 now = 1000;
    controller->avatarRequests.setClock([&] { return now; });
    http.setReply("GET", "/v1/files/broken", answer(200, "not a picture"));
    http.setReply("GET", "/v1/files/empty", answer(200, ""));
    const QStringList ids = {"broken", "empty", "missing"}; // missing: 404
    for (const QString& id : ids)
        controller->imageForFileId(id);
    ASSERT_TRUE(waitUntil([&] {
        return std::none_of(ids.begin(), ids.end(), [&](const QString& id) {
            return controller->avatarRequests.running(id);
        });
    }));
    now += AvatarRequests::kFailurePauseMs - 1;
    for (const QString& id : ids)
        EXPECT_TRUE(controller->imageForFileId(id).isNull());
    spin(50);
    for (const QString& id : ids)
        EXPECT_EQ(requestCount("GET", "/v1/files/" + id), 1) << id.toStdString();

    now += 1;
    http.setReply("GET", "/v1/files/missing", answer(200, pngOf(Qt::blue)));
    controller->imageForFileId("missing");
    ASSERT_TRUE(waitUntil([&] { return controller->avatarCache.contains("missing"); }));
    EXPECT_EQ(requestCount("GET", "/v1/files/missing"), 2);
    EXPECT_TRUE(controller->avatarCache.size() == 1);
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
    controller->friends = {friendOf("010A", "철수", "", "pf")};
    controller->rebuildSideRows();
    ASSERT_EQ(controller->sideModel->rowCount(), 1);
    QSignalSpy changed(controller->sideModel, &QAbstractItemModel::dataChanged);
    const QModelIndex icon = controller->sideModel->index(0, SidebarModel::IconColumn);
    controller->sideModel->data(icon, Qt::DecorationRole); // a miss starts the download
    ASSERT_TRUE(waitUntil([&] { return controller->avatarCache.contains("pf"); }));
    EXPECT_GE(changed.count(), 1);
    const QPixmap shown = controller->sideModel->data(icon, Qt::DecorationRole).value<QPixmap>();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.toImage().pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
}

TEST_F(FilesTest, TheRoomHeaderTakesAnArrivingPictureOnlyWhenItIsTheRoomsOwn) {
    struct Case {
        const char* what;
        QString room;
        QString picture;
        bool header;
    };
    const QString me = kMyPhone;
    const Case cases[] = {
        {"direct room, peer first", "dm:010A:" + me, "pa", true},
        {"direct room, peer second", "dm:" + me + ":010Z", "pz", true},
        {"room id known as a peer", "010A", "pa", true},
        {"another person's picture", "dm:010A:" + me, "pz", false},
        {"too few parts", "dm:010A", "pa", false},
        {"group room: the room list is not asked", "group-1", "pg", false},
        {"no room open", "", "pa", false},
    };
    controller->friends = {friendOf("010A", "", "", "pa"), friendOf("010Z", "", "", "pz")};
    controller->rooms = {roomOf("group-1", "모임", "", "pg")};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString id = c.picture + QString::number(n++);
        // Each case its own picture id, so the cache never answers for an earlier case.
        for (FriendRecord& f : controller->friends)
            if (f.profilePic.startsWith(c.picture))
                f.profilePic = id;
        for (RoomRecord& r : controller->rooms)
            if (r.profilePic.startsWith(c.picture))
                r.profilePic = id;
        http.setReply("GET", "/v1/files/" + id, answer(200, pngOf(Qt::red)));
        controller->roomAvatarView->setPixmap(QPixmap());
        controller->currentRoom = c.room;
        controller->imageForFileId(id);
        ASSERT_TRUE(waitUntil([&] { return controller->avatarCache.contains(id); }));
        EXPECT_EQ(centreColor(controller->roomAvatarView) == QColor(Qt::red), c.header);
    }
}

} // namespace
} // namespace brindlewick::test
