// The profile window opened from the sidebar, and its button.

#include "chat_protocol.h"
#include "directory_actions.h"
#include "files_fixture.h"
#include "picture_cache.h"
#include "profile_window.h"
#include "room_session.h"
#include "sidebar_controller.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace brindlewick::test {
namespace {

using RowAction = SidebarController::RowAction;

QString labelText(QWidget* window, const char* name) {
    auto* label = window->findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<none>");
}

QString dmWith(const QString& other) {
    return QString::fromStdString(ChatProtocol::dmRoomForPhone(kMyPhone, other.toStdString()));
}

int visibleProfileWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->objectName() == "profileWindow" && w->isVisible();
    return n;
}

TEST_F(FilesTest, ProfileShowsWhatTheRowHas) {
    struct Case {
        const char* what;
        SideRow row;
        QString name, phone, status; // "<none>": no such label
        bool button;
    };
    auto friendRow = [](QString name, QString phone, QString status) {
        SideRow r;
        r.kind = SideRow::Kind::Friend;
        r.title = name;
        r.name = name;
        r.phone = phone;
        r.status = status;
        return r;
    };
    SideRow group;
    group.kind = SideRow::Kind::Room;
    group.title = "스터디 모임 (3)";
    group.room = "group-1";
    const Case cases[] = {
        {"friend", friendRow("철수", "010A", "<b>바빠요</b>"), "철수", "010A", "<b>바빠요</b>",
         true},
        {"friend without status", friendRow("영희", "010B", ""), "영희", "010B", "<none>", true},
        {"group room", group, "스터디 모임 (3)", "", "<none>", false},
    };
    DirectoryActions& actions = *controller->session().directoryActions;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        actions.showProfile(c.row);
        QWidget* window = actions.profileWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), "프로필");
        EXPECT_EQ(window->size(), QSize(320, 380));
        EXPECT_EQ(labelText(window, "profileName"), c.name);
        EXPECT_EQ(labelText(window, "profilePhone"), c.phone);
        EXPECT_EQ(labelText(window, "profileStatus"), c.status);
        auto* button = window->findChild<QPushButton*>("profileChatButton");
        EXPECT_EQ(button != nullptr, c.button);
        if (button) {
            EXPECT_EQ(button->text(), "1:1 대화하기");
            EXPECT_EQ(button->geometry(), QRect(100, 332, 120, 32));
        }
        EXPECT_EQ(window->findChild<QLabel*>("profileName")->geometry(), QRect(20, 234, 280, 26));
        // No picture id: the placeholder.
        EXPECT_FALSE(window->findChild<QLabel*>("profilePicture")->pixmap().isNull());
        EXPECT_EQ(visibleProfileWindows(), 1);
    }
    // "프로필 보기" on no row changes nothing.
    controller->actOnSidebarRow(-1, RowAction::ViewProfile);
    EXPECT_EQ(visibleProfileWindows(), 1);
}

TEST_F(FilesTest, ProfileFromTheSidebarShowsItsPictureOnceItArrives) {
    http.setReply("GET", "/v1/files/pic", answer(200, pngOf(Qt::red, {40, 20})));
    serveLists({friendJson("010A", "철수", "", "상태", "pic")});
    DirectoryActions& actions = *controller->session().directoryActions;
    controller->actOnSidebarRow(5, RowAction::ViewProfile); // out of range: nothing
    EXPECT_EQ(actions.profileWindow(), nullptr);
    controller->actOnSidebarRow(0, RowAction::ViewProfile);
    ASSERT_NE(actions.profileWindow(), nullptr);
    EXPECT_EQ(labelText(actions.profileWindow(), "profileStatus"), "상태");
    auto* picture = actions.profileWindow()->findChild<QLabel*>("profilePicture");
    ASSERT_TRUE(waitUntil([&] { return controller->session().pictures->contains("pic"); }));
    EXPECT_EQ(centreColor(picture), QColor(Qt::red));
    // Scaled to fit, keeping its proportions.
    EXPECT_EQ(picture->pixmap().width(), 2 * picture->pixmap().height());
}

TEST_F(FilesTest, TheButtonOpensTheConversationOfTheRowThatWasClicked) {
    serveLists({friendJson("010A", "철수"), friendJson("010B", "영희")});
    DirectoryActions& actions = *controller->session().directoryActions;
    controller->actOnSidebarRow(0, RowAction::ViewProfile);
    ASSERT_NE(actions.profileWindow(), nullptr);
    QPointer<QWidget> window = actions.profileWindow();

    // The sidebar moves on meanwhile: a new order from the server, then a filter.
    serveLists({friendJson("010B", "영희"), friendJson("010A", "철수")});
    widget<QLineEdit>("searchField")->setText("영희");
    ASSERT_EQ(controller->sidebarRows().size(), 1);
    window->findChild<QPushButton*>("profileChatButton")->click();
    EXPECT_EQ(actions.profileWindow(), nullptr);
    EXPECT_EQ(controller->openRoomId(), dmWith("010A"));
    EXPECT_EQ(controller->session().room->title(), "철수");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST_F(FilesTest, ASecondProfileReplacesTheFirst) {
    DirectoryActions& actions = *controller->session().directoryActions;
    SideRow row;
    row.name = "하나";
    actions.showProfile(row);
    QPointer<QWidget> first = actions.profileWindow();
    row.name = "둘";
    actions.showProfile(row);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(visibleProfileWindows(), 1);
    EXPECT_EQ(labelText(actions.profileWindow(), "profileName"), "둘");
    // Closing only hides it.
    actions.profileWindow()->close();
    EXPECT_NE(actions.profileWindow(), nullptr);
    EXPECT_EQ(visibleProfileWindows(), 0);
}

} // namespace
} // namespace brindlewick::test
