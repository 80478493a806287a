// What the main window shows where a control or a list would otherwise look dead.

#include "client_under_test.h"
#include "main_window.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "signed_in_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

TEST(RoomControls, WorkOnlyWithARoomOpen) {
    SignedInWindow signedIn;
    ASSERT_TRUE(signedIn.start());
    ClientUnderTest& controller = *signedIn.controller;
    QMainWindow* window = controller.window();
    const char* names[] = {"composeView", "sendBtn", "attachBtn", "leaveButton"};
    auto enabled = [&] {
        QStringList out;
        for (const char* name : names)
            if (window->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled())
                out << QString::fromLatin1(name);
        return out;
    };
    const QStringList all{"composeView", "sendBtn", "attachBtn", "leaveButton"};
    EXPECT_EQ(enabled(), QStringList());
    controller.openRoom("r-1", "팀");
    EXPECT_EQ(enabled(), all);
    // An upload holds "파일" until it ends, also across a room change.
    controller.session().window->setUploading(true);
    controller.openRoom("r-2", "가족");
    EXPECT_EQ(enabled(), QStringList({"composeView", "sendBtn", "leaveButton"}));
    controller.session().window->setUploading(false);
    EXPECT_EQ(enabled(), all);
    controller.closeRoom();
    EXPECT_EQ(enabled(), QStringList());
    // The buttons that work anywhere stay on.
    for (const char* name : {"addBtn", "refreshButton", "findButton", "logoutButton"})
        EXPECT_TRUE(window->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) << name;
}

TEST(SidebarHints, SayWhyTheListIsEmpty) {
    struct Case {
        const char* name;
        QByteArray friends;
        QByteArray rooms;
        SidebarController::Mode mode;
        QString filter;
        QString hint; // "" for none shown
    };
    const QByteArray one = R"([{"phone":"01033334444","nick":"준호"}])";
    const QByteArray room = R"([{"room_name":"r-1","title":"팀"}])";
    const std::vector<Case> cases = {
        {"no friends", "[]", room, SidebarController::Mode::Friends, "",
         "친구가 없습니다. + 로 친구를 추가하세요"},
        {"no chats", one, "[]", SidebarController::Mode::Chats, "", "대화가 없습니다"},
        {"filter without match", one, room, SidebarController::Mode::Friends, "없는 이름",
         "검색 결과가 없습니다"},
        {"a blank filter is no filter", "[]", room, SidebarController::Mode::Friends, "  ",
         "친구가 없습니다. + 로 친구를 추가하세요"},
        {"rows shown", one, room, SidebarController::Mode::Chats, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SignedInWindow signedIn;
        ASSERT_TRUE(signedIn.start(c.friends, c.rooms));
        ClientUnderTest& controller = *signedIn.controller;
        controller.showSidebar(c.mode);
        controller.session().window->searchField()->setText(c.filter);
        auto* label = controller.window()->findChild<QLabel*>("sideEmptyHint");
        EXPECT_EQ(label->isVisible() ? label->text() : QString(), c.hint);
    }
}

} // namespace
