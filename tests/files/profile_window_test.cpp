// The profile window opened from the sidebar, and its button.

#include "chat_protocol.h"
#include "files_fixture.h"
#include "profile_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTableView>

namespace brindlewick::test {
namespace {

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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        controller->showProfileViewerFor(c.row);
        QWidget* window = controller->profileWindow.get();
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
    controller->showProfileViewerFor(std::nullopt);
    EXPECT_EQ(visibleProfileWindows(), 1);
}

TEST_F(FilesTest, ProfileFromTheSidebarShowsItsPictureOnceItArrives) {
    http.setReply("GET", "/v1/files/pic", answer(200, pngOf(Qt::red, {40, 20})));
    controller->friends = {{"010A", "철수", "", "상태", "pic"}};
    controller->rebuildSideRows();
    controller->sideClickedRow = 5; // out of range: nothing
    controller->viewProfileClicked();
    EXPECT_FALSE(controller->profileWindow);
    controller->sideClickedRow = 0;
    controller->viewProfileClicked();
    ASSERT_TRUE(controller->profileWindow);
    auto* picture = controller->profileWindow->findChild<QLabel*>("profilePicture");
    ASSERT_TRUE(waitUntil([&] { return controller->avatarCache.contains("pic"); }));
    EXPECT_EQ(centreColor(picture), QColor(Qt::red));
    // Scaled to fit, keeping its proportions.
    EXPECT_EQ(picture->pixmap().width(), 2 * picture->pixmap().height());
}

TEST_F(FilesTest, TheButtonOpensTheConversationOfTheRowTheSidebarReportsNow) {
    controller->friends = {{"010A", "철수", "", "", ""}, {"010B", "영희", "", "", ""}};
    controller->rebuildSideRows();
    controller->sideClickedRow = 0;
    controller->viewProfileClicked();
    ASSERT_TRUE(controller->profileWindow);
    QPointer<QWidget> window = controller->profileWindow.get();

    controller->sideClickedRow = 1; // the sidebar moved on meanwhile
    window->findChild<QPushButton*>("profileChatButton")->click();
    EXPECT_FALSE(controller->profileWindow);
    EXPECT_EQ(controller->currentRoom, dmWith("010B"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());

    // Without a clicked row the selected one counts; without either nothing opens.
    controller->sideClickedRow = -1;
    controller->sideTable->selectRow(0);
    controller->profileChatAction();
    EXPECT_EQ(controller->currentRoom, dmWith("010A"));
    controller->sideTable->clearSelection();
    controller->profileChatAction();
    EXPECT_EQ(controller->currentRoom, dmWith("010A"));
}

TEST_F(FilesTest, ASecondProfileReplacesTheFirst) {
    SideRow row;
    row.name = "하나";
    controller->showProfileViewerFor(row);
    QPointer<QWidget> first = controller->profileWindow.get();
    row.name = "둘";
    controller->showProfileViewerFor(row);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(visibleProfileWindows(), 1);
    EXPECT_EQ(labelText(controller->profileWindow.get(), "profileName"), "둘");
    // Closing only hides it.
    controller->profileWindow->close();
    EXPECT_TRUE(controller->profileWindow);
    EXPECT_EQ(visibleProfileWindows(), 0);
}

} // namespace
} // namespace brindlewick::test
