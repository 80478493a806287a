#include "side_row_delegate.h"
#include "side_rows.h"
#include "sidebar_model.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QFont>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QRegularExpression>
#include <QTableView>
#include <gtest/gtest.h>

using namespace brindlewick;

namespace {

FriendRecord friendOf(QString phone, QString nick, QString alias = {}, QString status = {},
                      QString pic = {}) {
    return {phone, nick, alias, status, pic};
}

RoomRecord roomOf(QString room, QString title, QString peer = {}, qint64 unread = 0,
                  QString pic = {}) {
    RoomRecord r;
    r.room = room;
    r.title = title;
    r.peer = peer;
    r.unread = unread;
    r.profilePic = pic;
    return r;
}

QStringList titles(const QList<SideRow>& rows) {
    QStringList out;
    for (const SideRow& r : rows)
        out << r.title;
    return out;
}

const QList<FriendRecord> kFriends = {
    friendOf("01011112222", "minsu", "", "바쁨"),
    friendOf("01033334444", "Jiyoung", "지영이"),
    friendOf("01055556666", "", "", "회의 중"),
    friendOf("01077778888", "Hana", "", "", "pic-hana"),
};

const QList<RoomRecord> kRooms = {
    roomOf("dm:01011112222:01099990000", "", "01011112222", 3),
    roomOf("r-team", "개발팀", "", 0, "pic-team"),
    roomOf("memo-1", "", "", -2),
    roomOf("r-big", "Big Room", "", 1234567890123LL),
};

} // namespace

TEST(SideRowsTest, FriendRowsCarryDisplayNameAndStatusTitle) {
    const QList<SideRow> rows = rebuildSideRows(kFriends, kRooms, 0, "");
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(titles(rows),
              (QStringList{"minsu  (바쁨)", "지영이", "01055556666  (회의 중)", "Hana"}));
    EXPECT_EQ(rows[0].kind, SideRow::Kind::Friend);
    EXPECT_EQ(rows[0].name, "minsu");
    EXPECT_EQ(rows[0].phone, "01011112222");
    EXPECT_EQ(rows[0].status, "바쁨");
    EXPECT_EQ(rows[1].name, "지영이"); // alias before nick
    EXPECT_EQ(rows[2].name, "01055556666");
    EXPECT_EQ(rows[3].profilePic, "pic-hana");
    EXPECT_TRUE(rows[3].status.isEmpty());
}

TEST(SideRowsTest, RoomRowsCarryUnreadSuffixOnlyWhenPositive) {
    const QList<SideRow> rows = rebuildSideRows(kFriends, kRooms, 1, "");
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(titles(rows),
              (QStringList{"01011112222 [3]", "개발팀", "memo-1", "Big Room [1234567890123]"}));
    EXPECT_EQ(rows[0].kind, SideRow::Kind::Room);
    EXPECT_EQ(rows[0].name, "01011112222");
    EXPECT_EQ(rows[0].room, "dm:01011112222:01099990000");
    EXPECT_EQ(rows[0].phone, "01011112222");
    EXPECT_EQ(rows[0].unread, 3);
    EXPECT_EQ(rows[1].profilePic, "pic-team");
    EXPECT_EQ(rows[2].unread, -2);
}

TEST(SideRowsTest, NamesHoldingPlaceholdersStayLiteral) {
    const QList<SideRow> rows =
        rebuildSideRows({friendOf("1", "%1 %2", "", "%1")}, {roomOf("r", "%2%1", "", 5)}, 0, "");
    EXPECT_EQ(rows[0].title, "%1 %2  (%1)");
    EXPECT_EQ(rebuildSideRows({}, {roomOf("r", "%2%1", "", 5)}, 1, "")[0].title, "%2%1 [5]");
}

struct FilterCase {
    const char* label;
    int mode;
    QString filter;
    QStringList expectedTitles;
};

class SideRowsFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(SideRowsFilterTest, KeepsMatchingRowsInListOrder) {
    const FilterCase& c = GetParam();
    EXPECT_EQ(titles(rebuildSideRows(kFriends, kRooms, c.mode, c.filter)), c.expectedTitles);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SideRowsFilterTest,
    ::testing::Values(
        FilterCase{
            "emptyShowsAll", 0, "", {"minsu  (바쁨)", "지영이", "01055556666  (회의 중)", "Hana"}},
        FilterCase{"blankShowsAll",
                   0,
                   " \n\t ",
                   {"minsu  (바쁨)", "지영이", "01055556666  (회의 중)", "Hana"}},
        FilterCase{"upperCaseFindsLowerNick", 0, "MINSU", {"minsu  (바쁨)"}},
        FilterCase{"trimmed", 0, "  hana\n", {"Hana"}},
        FilterCase{"statusNotSearched", 0, "바쁨", {}},
        FilterCase{"nickHiddenByAliasNotSearched", 0, "jiyoung", {}},
        FilterCase{"aliasSearched", 0, "지영", {"지영이"}},
        FilterCase{"phoneSearched", 0, "5555", {"01055556666  (회의 중)"}},
        FilterCase{"phoneOfNamedFriend", 0, "0101111", {"minsu  (바쁨)"}},
        FilterCase{"otherModeValueMeansRooms", 7, "TEAM", {"개발팀"}},
        FilterCase{"roomIdSearched", 1, "memo", {"memo-1"}},
        FilterCase{"roomPeerAsNameSearched", 1, "01011112222", {"01011112222 [3]"}},
        FilterCase{"unreadSuffixNotSearched", 1, "[3]", {}}, FilterCase{"noMatch", 1, "zzz", {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SideRowsTest, DecomposedHangulFilterFindsComposedName) {
    const QString decomposed = QString::fromUtf8("지영").normalized(QString::NormalizationForm_D);
    EXPECT_EQ(titles(rebuildSideRows(kFriends, kRooms, 0, decomposed)), QStringList{"지영이"});
}

TEST(SideRowsTest, DuplicatesAreKeptAndEmptyListsGiveNoRows) {
    EXPECT_EQ(rebuildSideRows({kFriends[0], kFriends[0]}, {}, 0, "").size(), 2);
    EXPECT_TRUE(rebuildSideRows({}, {}, 0, "").isEmpty());
    EXPECT_TRUE(rebuildSideRows({}, {}, 1, "x").isEmpty());
}

// Stale indexes, as a view may hold while the rows shrink.
struct StaleIndexModel : SidebarModel {
    using SidebarModel::createIndex;
};

class SidebarModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.setRows(rebuildSideRows(kFriends, kRooms, 0, ""));
        model.setPictureProvider([this](const QString& id) -> std::optional<QImage> {
            asked << id;
            if (id == "pic-hana")
                return hana;
            return std::nullopt;
        });
    }
    QImage hana = [] {
        QImage img(64, 48, QImage::Format_ARGB32);
        img.fill(Qt::red);
        return img;
    }();
    QStringList asked;
    StaleIndexModel model;
};

TEST_F(SidebarModelTest, ShapeAndTitles) {
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.columnCount(), 2);
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 0);
    EXPECT_EQ(model.data(model.index(0, SidebarModel::NameColumn)).toString(), "minsu  (바쁨)");
    EXPECT_FALSE(model.data(model.index(0, SidebarModel::IconColumn)).isValid());
    EXPECT_FALSE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.setData(model.index(0, 1), "x"));
}

TEST_F(SidebarModelTest, OutOfRangeRowsAnswerNothing) {
    for (int row : {-1, 4, 100}) {
        EXPECT_FALSE(model.data(model.createIndex(row, 1), Qt::DisplayRole).isValid()) << row;
        EXPECT_FALSE(model.data(model.createIndex(row, 0), Qt::DecorationRole).isValid()) << row;
        EXPECT_FALSE(model.rowAt(row).has_value()) << row;
    }
    model.setRows({});
    EXPECT_FALSE(model.data(model.createIndex(0, 1), Qt::DisplayRole).isValid());
}

TEST_F(SidebarModelTest, IconComesFromProviderOrPlaceholder) {
    const QPixmap placeholder = SidebarModel::placeholderIcon();
    ASSERT_FALSE(placeholder.isNull());
    EXPECT_EQ(placeholder.size(), SidebarModel::iconSize());

    // No picture id: placeholder, and nothing is asked (so no download starts).
    const QPixmap none = model.data(model.index(0, 0), Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(none.toImage(), placeholder.toImage());
    EXPECT_TRUE(asked.isEmpty());

    const QPixmap pic = model.data(model.index(3, 0), Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(asked, QStringList{"pic-hana"});
    ASSERT_FALSE(pic.isNull());
    EXPECT_LE(pic.width(), SidebarModel::iconSize().width());
    EXPECT_EQ(pic.toImage().pixelColor(pic.width() / 2, pic.height() / 2), QColor(Qt::red));

    // A picture the cache does not hold yet: placeholder.
    model.setRows(rebuildSideRows({}, kRooms, 1, ""));
    const QPixmap team = model.data(model.index(1, 0), Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(team.toImage(), placeholder.toImage());
    EXPECT_EQ(asked.last(), "pic-team");
}

TEST_F(SidebarModelTest, SetRowsResetsAndRefreshIconsSignalsIconColumn) {
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QList<QModelIndex> changed;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& a, const QModelIndex& b) { changed << a << b; });
    model.setRows(rebuildSideRows(kFriends, kRooms, 1, ""));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(model.rowAt(0)->room, "dm:01011112222:01099990000");
    model.refreshIcons();
    ASSERT_EQ(changed.size(), 2);
    EXPECT_EQ(changed[0], model.index(0, 0));
    EXPECT_EQ(changed[1], model.index(3, 0));
}

// Rows of the chats list change one at a time as messages arrive: the moved row keeps its
// selection, the others keep theirs, and no reset throws the view's state away.
TEST(SidebarModelLive, ARoomRowMovesToTheTopAndChangesAlone) {
    struct Case {
        const char* name;
        const char* room;
        qint64 unread;
        bool toTop;
        QStringList titles; // after the update
        int moves;
        int changedRow; // -1: no change at all
    };
    const Case cases[] = {
        {"a lower room comes up with its count",
         "memo-1",
         1,
         true,
         {"memo-1 [1]", "01011112222 [3]", "개발팀", "Big Room [1234567890123]"},
         1,
         0},
        {"the last room",
         "r-big",
         7,
         true,
         {"Big Room [7]", "01011112222 [3]", "개발팀", "memo-1"},
         1,
         0},
        {"the top room changes in place",
         "dm:01011112222:01099990000",
         4,
         true,
         {"01011112222 [4]", "개발팀", "memo-1", "Big Room [1234567890123]"},
         0,
         0},
        {"cleared where it is",
         "r-team",
         0,
         false,
         {"01011112222 [3]", "개발팀", "memo-1", "Big Room [1234567890123]"},
         0,
         1},
        {"a room not shown",
         "r-9",
         1,
         true,
         {"01011112222 [3]", "개발팀", "memo-1", "Big Room [1234567890123]"},
         0,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SidebarModel model;
        model.setRows(rebuildSideRows(kFriends, kRooms, 1, ""));
        // Aborts on a move or change the model announces wrongly.
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        QItemSelectionModel selection(&model);
        selection.setCurrentIndex(model.index(2, SidebarModel::NameColumn),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QString selectedRoom = model.rowAt(2)->room;
        int resets = 0;
        int moves = 0;
        QList<int> changedRows;
        QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
        QObject::connect(&model, &QAbstractItemModel::rowsMoved, [&] { ++moves; });
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
                         [&](const QModelIndex& from, const QModelIndex& to) {
                             for (int row = from.row(); row <= to.row(); ++row)
                                 changedRows << row;
                         });

        RoomRecord record;
        record.room = QString::fromLatin1(c.room);
        for (const RoomRecord& r : kRooms)
            if (r.room == record.room)
                record = r;
        record.unread = c.unread;
        model.updateRoomRow(roomRow(record), c.toTop);

        EXPECT_EQ(titles(model.rows()), c.titles);
        EXPECT_EQ(resets, 0);
        EXPECT_EQ(moves, c.moves);
        EXPECT_EQ(changedRows, c.changedRow < 0 ? QList<int>{} : QList<int>{c.changedRow});
        // Every room is found where it now is, and the selection went with its row.
        for (int row = 0; row < model.rowCount(); ++row)
            EXPECT_EQ(model.rowOfRoom(model.rowAt(row)->room), row);
        const QModelIndexList selected = selection.selectedRows(SidebarModel::NameColumn);
        ASSERT_EQ(selected.size(), 1);
        EXPECT_EQ(model.rowAt(selected[0].row())->room, selectedRoom);
        EXPECT_EQ(selection.currentIndex().row(), selected[0].row());
    }
}

TEST(SidebarModelLive, RoomsWithUnreadMessagesAreBold) {
    SidebarModel model;
    model.setRows(rebuildSideRows(kFriends, kRooms, 1, ""));
    // kRooms: 3 unread, 0, -2, a large count.
    const bool bold[] = {true, false, false, true};
    for (int row = 0; row < 4; ++row) {
        const QVariant font = model.data(model.index(row, SidebarModel::NameColumn), Qt::FontRole);
        EXPECT_EQ(font.isValid() && font.value<QFont>().bold(), bold[row]) << row;
        EXPECT_FALSE(
            model.data(model.index(row, SidebarModel::IconColumn), Qt::FontRole).isValid());
    }
    // Friends are never bold; a room cleared in place is plain again.
    RoomRecord first = kRooms[0];
    first.unread = 0;
    model.updateRoomRow(roomRow(first), false);
    EXPECT_FALSE(model.data(model.index(0, SidebarModel::NameColumn), Qt::FontRole).isValid());
    model.setRows(rebuildSideRows(kFriends, kRooms, 0, ""));
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_FALSE(
            model.data(model.index(row, SidebarModel::NameColumn), Qt::FontRole).isValid());
    // A friends list has no room rows to update.
    model.updateRoomRow(roomRow(kRooms[3]), true);
    EXPECT_EQ(model.rowAt(0)->kind, SideRow::Kind::Friend);
}

// What the chats list shows of a room's last message, table by table.
TEST(SideRowsTest, AMemoRoomWithoutTitleIsNotNamedByItsId) {
    EXPECT_EQ(roomRow(roomOf("memo:4e03ab", "")).name, "나의 메모");
    EXPECT_EQ(roomRow(roomOf("memo:4e03ab", "장보기")).name, "장보기");
    EXPECT_EQ(roomRow(roomOf("group:x", "")).name, "group:x");
}

TEST(SideRowsPreview, LastMessageOnOneLine) {
    const QString longText(300, QChar(u'가'));
    struct Case {
        const char* label;
        LastMessage last;
        QString expected;
    };
    const Case cases[] = {
        {"text", {"안녕하세요", "", "t"}, "안녕하세요"},
        {"lineBreaksAndTabsBecomeSpaces",
         {"첫 줄\n둘째 줄\r\n\t셋째", "", "t"},
         "첫 줄 둘째 줄 셋째"},
        {"controlCharactersGo", {QStringLiteral("a\u0007b\u001bc"), "", "t"}, "abc"},
        {"picture", {"", "여행.JPG", "t"}, "사진"},
        {"otherFile", {"", "보고서.pdf", "t"}, "파일: 보고서.pdf"},
        {"fileWithoutExtension", {"", "README", "t"}, "파일: README"},
        {"none", {"", "", ""}, ""},
        {"long", {longText, "", "t"}, QString(kPreviewChars, QChar(u'가')) + u'…'},
        {"rightToLeftOverrideClosed",
         {QStringLiteral("\u202Eabc"), "", "t"},
         QStringLiteral("\u202Eabc\u202C")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(messagePreview(c.last), c.expected) << c.label;
    // A cut never leaves half of a surrogate pair.
    QString emoji = QString(kPreviewChars - 1, QChar(u'a')) + QStringLiteral("😀😀");
    const QString cut = messagePreview({emoji, "", "t"});
    EXPECT_FALSE(cut.at(cut.size() - 2).isHighSurrogate()) << cut.toStdString();
    EXPECT_TRUE(cut.endsWith(u'…'));
}

TEST(SideRowsPreview, TimeIsTodaysClockOrTheDate) {
    RoomRecord record = roomOf("r", "방");
    record.last = {"말", "", "2026-12-10T21:05:09"}; // no offset: taken as local
    const SideRow row = roomRow(record);
    EXPECT_EQ(row.preview, "말");
    EXPECT_EQ(row.lastDate, QDate(2026, 12, 10));
    struct Case {
        QDate today;
        QString expected;
    };
    const Case cases[] = {
        {QDate(2026, 12, 10), "21:05"},
        {QDate(2026, 12, 11), "12월 10일"},
        {QDate(2027, 1, 3), "12월 10일"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(previewTime(row, c.today), c.expected) << c.today.toString().toStdString();
    RoomRecord early = roomOf("r", "방");
    early.last = {"말", "", "2026-03-05T08:00:00"};
    EXPECT_EQ(previewTime(roomRow(early), QDate(2026, 12, 10)), "3월 5일");
    // A room without messages shows no time; a time that is no time shows none either.
    EXPECT_EQ(previewTime(roomRow(roomOf("r", "방")), QDate(2026, 12, 10)), "");
    RoomRecord broken = roomOf("r", "방");
    broken.last = {"말", "", "어제"};
    EXPECT_EQ(previewTime(roomRow(broken), QDate(2026, 12, 10)), "");
}

TEST(SideRowsPreview, ReaderHearsNameLastMessageAndCount) {
    RoomRecord record = roomOf("r", "개발팀", "", 3);
    record.last = {"배포 끝", "", "2026-12-10T21:05:09"};
    const QDate today(2026, 12, 10);
    struct Case {
        const char* label;
        SideRow row;
        QString expected;
    };
    RoomRecord controlled = roomOf("r", QStringLiteral("팀\n\u0007이름"), "", 0);
    const Case cases[] = {
        {"roomWithAll", roomRow(record), "개발팀, 배포 끝, 21:05, 안 읽은 메시지 3개"},
        {"roomWithoutMessages", roomRow(roomOf("r", "빈 방")), "빈 방"},
        {"controlCharactersLeaveTheName", roomRow(controlled), "팀이름"},
        {"friendWithStatus", friendRow(kFriends[0]), "minsu, 바쁨"},
        {"friendWithoutStatus", friendRow(kFriends[3]), "Hana"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(accessibleRowText(c.row, today), c.expected) << c.label;
}

TEST(SidebarModelRoles, NameColumnAnswersWhatTheDelegateDraws) {
    RoomRecord record = roomOf("r", "개발팀", "", 12);
    record.last = {"", "사진.png", QDateTime::currentDateTime().toString(Qt::ISODate)};
    SidebarModel model;
    model.setRows({roomRow(record), friendRow(kFriends[0])});
    const QModelIndex room = model.index(0, SidebarModel::NameColumn);
    EXPECT_EQ(room.data(SidebarModel::NameRole).toString(), "개발팀");
    EXPECT_EQ(room.data(SidebarModel::SecondLineRole).toString(), "사진");
    // Today's clock (or, past midnight meanwhile, the date).
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^(\\d\\d:\\d\\d|\\d+월 \\d+일)$"))
                    .match(room.data(SidebarModel::TimeRole).toString())
                    .hasMatch());
    EXPECT_EQ(room.data(SidebarModel::UnreadRole).toLongLong(), 12);
    EXPECT_TRUE(room.data(SidebarModel::IsRoomRole).toBool());
    EXPECT_TRUE(room.data(Qt::AccessibleTextRole).toString().startsWith("개발팀, 사진, "));
    EXPECT_TRUE(room.data(Qt::AccessibleTextRole).toString().endsWith(", 안 읽은 메시지 12개"));
    const QModelIndex person = model.index(1, SidebarModel::NameColumn);
    EXPECT_EQ(person.data(SidebarModel::SecondLineRole).toString(), "바쁨");
    EXPECT_FALSE(person.data(SidebarModel::IsRoomRole).toBool());
}

TEST(SideRowDelegateTest, BadgeTextAndARowDrawnWithItsBadge) {
    EXPECT_EQ(SideRowDelegate::badgeText(0), "");
    EXPECT_EQ(SideRowDelegate::badgeText(-3), "");
    EXPECT_EQ(SideRowDelegate::badgeText(7), "7");
    EXPECT_EQ(SideRowDelegate::badgeText(999), "999");
    EXPECT_EQ(SideRowDelegate::badgeText(1000), "999+");

    // The same row unread and read: only the unread one has the badge's red on its right.
    const auto render = [](qint64 unread) {
        RoomRecord record = roomOf("r", "개발팀", "", unread);
        record.last = {"긴 메시지가 한 줄에 다 들어가지 않으면 끝이 잘립니다 정말로 아주 길게", "",
                       "2026-12-10T21:05:09"};
        SidebarModel model;
        model.setRows({roomRow(record)});
        QTableView view;
        view.setModel(&model);
        SideRowDelegate delegate;
        view.setItemDelegateForColumn(SidebarModel::NameColumn, &delegate);
        view.horizontalHeader()->hide();
        view.verticalHeader()->hide();
        view.setColumnWidth(SidebarModel::IconColumn, 40);
        view.setColumnWidth(SidebarModel::NameColumn, 180);
        view.verticalHeader()->setDefaultSectionSize(44);
        view.resize(240, 80);
        QImage image(view.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        view.render(&image);
        const QRect cell = view.visualRect(model.index(0, SidebarModel::NameColumn))
                               .translated(view.viewport()->pos());
        int red = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.right() - 30; x <= cell.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c.red() > 150 && c.green() < 90 && c.blue() < 90;
            }
        return red;
    };
    EXPECT_GT(render(5), 20);
    EXPECT_EQ(render(0), 0);
}
