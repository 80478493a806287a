// The main window as built by showMain: widget tree, frames at 840 x 540, texts, fonts,
// resizing, the divider limits and the wiring of every control.

#include "chat_events.h"
#include "client_under_test.h"
#include "directory_service.h"
#include "divider_splitter.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_window.h"
#include "segmented_control.h"
#include "sidebar_controller.h"
#include "transcript_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QByteArray kFriends =
    R"([{"phone":"01033334444","nick":"준호"},{"PhoneNumber":"01055556666","Nickname":"서연"}])";
const QByteArray kRooms = R"({"rooms":[{"room_name":"r-1","title":"팀","unread_count":2}]})";

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        http.setReply("GET", "/v1/friends", {200, kFriends, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, kRooms, std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller = std::make_unique<ClientUnderTest>(
            QStringLiteral("01011112222"), QStringLiteral("민지"), QString(""), config, platform);
        // The status line as each list update and connection event left it.
        const auto record = [this] { statusHistory << ui().statusText(); };
        QObject::connect(controller->session().directory.get(), &Directory::listsChanged, record);
        QObject::connect(controller->session().events.get(), &ChatEvents::connectionChanged,
                         record);
        controller->showMain();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
        // The lists arrive on their own; the tests start from them.
        ASSERT_TRUE(controller->waitForLists());
    }

    brindlewick::MainWindow& ui() const { return *controller->session().window; }
    QMainWindow* window() const { return controller->window(); }
    QWidget* content() const { return window()->centralWidget(); }
    template <typename T = QWidget> T* named(const char* name) const {
        T* found = window()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    MessageListView* chatView() const { return named<MessageListView>("chatView"); }
    QSplitter* rightSplit() const { return named<QSplitter>("rightSplit"); }
    // The transcript's context menu is a window of its own, not a child of the main window.
    static QMenu* chatMenu() {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("chatContextMenu"))
                return qobject_cast<QMenu*>(widget);
        ADD_FAILURE() << "no chatContextMenu";
        return nullptr;
    }

    // Makes the content area `width` x `height` and lets the views follow.
    void resizeContent(int width, int height) {
        const QSize extra = window()->size() - content()->size();
        window()->resize(QSize(width, height) + extra);
        QApplication::processEvents();
    }

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
    QStringList statusHistory;
};

TEST_F(MainWindow, InitialState) {
    // The lists' two unread messages.
    EXPECT_EQ(window()->windowTitle(), "Brindlewick (2)");
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(content()->size(), QSize(840, 540));

    // The lists were fetched (friends first) and their counts replaced "연결 중…".
    const auto requests = http.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/v1/friends");
    EXPECT_EQ(requests[0].query, "phone=01011112222");
    EXPECT_EQ(requests[1].path, "/v1/rooms");
    EXPECT_EQ(controller->session().directory->friends().size(), 2);
    EXPECT_EQ(controller->session().directory->rooms().size(), 1);
    EXPECT_TRUE(statusHistory.contains("친구 2 · 채팅 1"));
    // The connection opened too, after the window was shown.
    EXPECT_TRUE(chat.waitForConnection());
    EXPECT_TRUE(waitUntil([&] { return statusHistory.contains("서버 연결됨 — 인증 중…"); }));

    EXPECT_EQ(ui().sideSegments()->selectedSegment(), 0);
    EXPECT_EQ(ui().sideSegments()->segmentCount(), 2);
    EXPECT_EQ(ui().sideSegments()->labelForSegment(0), "친구");
    EXPECT_EQ(ui().sideSegments()->labelForSegment(1), "채팅");
    EXPECT_EQ(ui().searchField()->text(), "");
    EXPECT_EQ(ui().searchField()->placeholderText(), "검색");
    EXPECT_FALSE(named<QLabel>("roomAvatarView")->isVisible());
    EXPECT_FALSE(named<QLabel>("roomAvatarView")->pixmap().isNull());
    EXPECT_EQ(named<QLabel>("roomLabel")->text(), "방을 선택하세요");
    EXPECT_FALSE(named("findBar")->isVisible());
    EXPECT_FALSE(named("replyBar")->isVisible());
    EXPECT_EQ(ui().transcript().model().size(), 0);
    EXPECT_EQ(chatView()->model(), &ui().transcript().model());
    EXPECT_TRUE(ui().composer()->document()->isEmpty());
    EXPECT_FALSE(ui().composer()->isReadOnly());
    EXPECT_EQ(ui().composer()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(ui().composer()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(named<QLabel>("findResultLabel")->text(), "");
    // With no room open only what needs a room is off.
    const QList<QWidget*> needRoom = {named("composeView"), named("sendBtn"), named("attachBtn"),
                                      named("leaveButton")};
    for (QWidget* widget : content()->findChildren<QWidget*>()) {
        bool inRoomControl = false;
        for (QWidget* control : needRoom)
            inRoomControl = inRoomControl || widget == control || control->isAncestorOf(widget);
        EXPECT_EQ(widget->isEnabled(), !inRoomControl) << widget->objectName().toStdString();
    }

    QTableView* table = ui().sideTable();
    EXPECT_FALSE(table->horizontalHeader()->isVisible());
    EXPECT_FALSE(table->verticalHeader()->isVisible());
    // Two lines a row: the name, then the last message.
    EXPECT_EQ(table->verticalHeader()->defaultSectionSize(), 44);
    EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(MainWindow, TextsAndTooltips) {
    struct Expect {
        const char* name;
        QString text;
        QString toolTip;
    };
    const Expect buttons[] = {
        {"addBtn", "+", "친구 추가 또는 메모방 만들기"},
        {"refreshButton", "↻", "새로고침"},
        {"findButton", "대화 검색", ""},
        {"leaveButton", "방 나가기", ""},
        {"logoutButton", "로그아웃", ""},
        {"findPrevBtn", "이전", ""},
        {"findNextBtn", "다음", ""},
        {"findCloseButton", "✕", ""},
        {"attachBtn", "파일", ""},
        {"sendBtn", "전송", ""},
        {"replyCancelButton", "✕", ""},
    };
    for (const Expect& e : buttons) {
        auto* button = named<QAbstractButton>(e.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), e.text) << e.name;
        EXPECT_EQ(button->toolTip(), e.toolTip) << e.name;
    }
}

// Spec frames turned top-left based (y = parent height - y - height), each in its parent.
TEST_F(MainWindow, FramesAt840By540) {
    struct Frame {
        const char* name;
        QRect rect;
    };
    const Frame frames[] = {
        {"sideSeg", {12, 18, 140, 24}},
        {"addBtn", {156, 16, 42, 28}},
        {"refreshButton", {202, 16, 34, 28}},
        {"searchField", {12, 52, 224, 22}},
        {"sideTable", {12, 82, 224, 410}},
        {"roomAvatarView", {250, 18, 26, 26}},
        {"roomLabel", {282, 20, 290, 22}},
        {"findButton", {580, 16, 80, 28}},
        {"leaveButton", {665, 16, 80, 28}},
        {"logoutButton", {750, 16, 75, 28}},
        {"findBar", {250, 48, 576, 30}},
        {"rightSplit", {250, 50, 576, 446}},
        {"statusLabel", {12, 506, 800, 20}},
        // find bar (576 x 30)
        {"findSearchField", {4, 3, 200, 24}},
        {"findPrevBtn", {210, 2, 40, 26}},
        {"findNextBtn", {252, 2, 40, 26}},
        {"findResultLabel", {300, 6, 180, 20}},
        {"findCloseButton", {548, 4, 22, 22}},
        // split view panes: the compose area keeps its 90 points, the divider is thin
        {"chatScroll", {0, 0, 576, 355}},
        {"bottomContainer", {0, 356, 576, 90}},
        // compose area (576 x 90)
        {"replyBar", {0, 2, 576, 24}},
        {"composeScroll", {0, 4, 420, 86}},
        {"attachBtn", {426, 58, 66, 28}},
        {"sendBtn", {496, 58, 76, 28}},
        // reply bar (576 x 24)
        // as tall as its font needs, centred in the bar
        {"replyPreviewLabel", {4, 3, 530, 18}},
        {"replyCancelButton", {548, 1, 22, 22}},
    };
    for (const Frame& f : frames) {
        QWidget* widget = named(f.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), f.rect) << f.name;
    }
    EXPECT_EQ(rightSplit()->orientation(), Qt::Vertical);
    EXPECT_EQ(rightSplit()->handleWidth(), 1);
    EXPECT_EQ(chatView()->parentWidget(), named("chatScroll"));
    EXPECT_EQ(ui().composer()->parentWidget(), named("composeScroll"));
    // Children of the content view in table order, then the upload's bar beside the status line
    // and the highlight shown over everything while a file is dragged in.
    QStringList order;
    for (QObject* child : content()->children())
        if (child->isWidgetType())
            order << child->objectName();
    EXPECT_EQ(order, QStringList({"sideSeg", "addBtn", "refreshButton", "searchField", "sideTable",
                                  "sideEmptyHint", "roomAvatarView", "roomLabel", "findButton",
                                  "leaveButton", "logoutButton", "findBar", "rightSplit",
                                  "statusLabel", "uploadProgressBar", "dropHighlight"}));
}

TEST_F(MainWindow, FontsAndColours) {
    const QColor darkGray = QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3);
    EXPECT_TRUE(named<QLabel>("roomLabel")->font().bold());
    EXPECT_EQ(named<QLabel>("roomLabel")->font().pixelSize(), 13);
    EXPECT_EQ(ui().composer()->font().pixelSize(), 12);
    for (QLabel* label : {named<QLabel>("findResultLabel"), named<QLabel>("replyPreviewLabel")}) {
        EXPECT_EQ(label->font().pixelSize(), 11) << label->objectName().toStdString();
        EXPECT_EQ(label->palette().color(QPalette::WindowText), darkGray);
    }
    EXPECT_EQ(named<QLabel>("statusLabel")->palette().color(QPalette::WindowText), darkGray);
    EXPECT_EQ(named<QLabel>("statusLabel")->font(),
              QApplication::font(named<QLabel>("statusLabel")));
}

TEST_F(MainWindow, ContextMenus) {
    auto titles = [](QMenu* menu) {
        QStringList out;
        for (QAction* action : menu->actions())
            out << action->text();
        return out;
    };
    EXPECT_EQ(controller->session().sidebar->contextMenu()->title(), "SideMenu");
    EXPECT_EQ(titles(controller->session().sidebar->contextMenu()),
              QStringList({"프로필 보기", "대화 열기", "방 나가기"}));
    EXPECT_EQ(chatMenu()->title(), "ChatMenu");
    EXPECT_EQ(titles(chatMenu()), QStringList({"답장하기", "수정하기", "삭제하기", "복사"}));
    for (QMenu* menu : {controller->session().sidebar->contextMenu(), chatMenu()})
        for (QAction* action : menu->actions()) {
            EXPECT_TRUE(action->isEnabled());
            EXPECT_TRUE(action->shortcut().isEmpty());
        }
    EXPECT_EQ(ui().sideTable()->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(chatView()->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(MainWindow, ResizingKeepsTheRulesAndTheMinimum) {
    resizeContent(1000, 700);
    EXPECT_EQ(rightSplit()->geometry(), QRect(250, 50, 736, 606));
    EXPECT_EQ(ui().sideTable()->geometry(), QRect(12, 82, 224, 570));
    EXPECT_EQ(ui().sideSegments()->geometry(), QRect(12, 18, 140, 24));
    EXPECT_EQ(named("logoutButton")->geometry(), QRect(910, 16, 75, 28));
    EXPECT_EQ(named("findBar")->geometry(), QRect(250, 48, 736, 30));
    EXPECT_EQ(named("findCloseButton")->geometry().right(), 736 - 6 - 1);
    EXPECT_EQ(named<QLabel>("statusLabel")->geometry().top(), 700 - 34);

    // Wherever the divider goes, the buttons keep to the bottom right and the composer
    // keeps the rest of the width.
    for (int bottomHeight : {90, 200, 60}) {
        const int total = rightSplit()->height() - 1;
        rightSplit()->setSizes({total - bottomHeight, bottomHeight});
        QApplication::processEvents();
        QWidget* bottom = named("bottomContainer");
        const int w = bottom->width();
        const int h = bottom->height();
        SCOPED_TRACE(h);
        EXPECT_EQ(w, 736);
        EXPECT_EQ(named("attachBtn")->geometry(), QRect(w - 150, h - 32, 66, 28));
        EXPECT_EQ(named("sendBtn")->geometry(), QRect(w - 80, h - 32, 76, 28));
        EXPECT_EQ(named("composeScroll")->width(), w - 156);
        EXPECT_EQ(named("composeScroll")->geometry().bottom(), h - 1);
    }

    window()->resize(100, 100);
    QApplication::processEvents();
    EXPECT_GE(window()->width(), 680);
    EXPECT_GE(window()->height(), 440);
}

TEST_F(MainWindow, DividerLimits) {
    QSplitter* split = rightSplit();
    const double height = split->height();
    QSplitter other;
    struct Case {
        const QSplitter* splitter;
        int divider;
        double proposed;
        double min;
        double max;
    };
    const Case cases[] = {
        {split, 0, 200.0, 120.0, height - 60.0},
        {split, 1, 200.0, 200.0, 200.0},
        {&other, 0, 33.0, 33.0, 33.0},
        {nullptr, 0, 7.0, 7.0, 7.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ui().dividerMinimum(c.splitter, c.proposed, c.divider), c.min);
        EXPECT_EQ(ui().dividerMaximum(c.splitter, c.proposed, c.divider), c.max);
    }

    // Dragging the real divider stops at both limits, which follow the current height.
    auto drag = [&](int toY) {
        QSplitterHandle* handle = split->handle(1);
        const QPoint start(20, 0);
        const QPoint startGlobal = handle->mapToGlobal(start);
        QMouseEvent press(QEvent::MouseButtonPress, start, startGlobal, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &press);
        const QPoint target = split->mapToGlobal(QPoint(20, toY));
        QMouseEvent move(QEvent::MouseMove, handle->mapFromGlobal(target), target, Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, handle->mapFromGlobal(target), target,
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &release);
        // The divider's coordinate is where the transcript pane ends.
        return named("chatScroll")->height();
    };
    EXPECT_EQ(drag(5), 120);
    EXPECT_EQ(drag(200), 200);
    EXPECT_EQ(drag(10000), split->height() - 60);
    resizeContent(840, 700);
    EXPECT_EQ(drag(10000), split->height() - 60);
    EXPECT_EQ(drag(-50), 120);
}

TEST_F(MainWindow, EveryControlIsWiredAndNothingCrashes) {
    ui().sideSegments()->findChildren<QPushButton*>()[1]->click();
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Chats);
    ui().sideSegments()->findChildren<QPushButton*>()[0]->click();
    EXPECT_EQ(controller->sidebarMode(), SidebarController::Mode::Friends);
    ui().searchField()->setText(QStringLiteral("준"));

    named<QPushButton>("findButton")->click();
    EXPECT_TRUE(named("findBar")->isVisible());
    // In front of the split view, whose top strip it covers.
    EXPECT_EQ(content()->children().last(), named("findBar"));
    named<QLineEdit>("findSearchField")->setText(QStringLiteral("안녕"));
    named<QAbstractButton>("findCloseButton")->click();
    EXPECT_FALSE(named("findBar")->isVisible());

    // Alerts and panels answer "cancel" (the last button), so no action goes further.
    platform.alertAnswers = std::deque<int>(20, Platform::kFirstButton + 2);
    for (QAbstractButton* button : content()->findChildren<QAbstractButton*>()) {
        if (button->objectName() == QLatin1String("logoutButton"))
            continue;
        button->click();
    }
    for (QMenu* menu : {controller->session().sidebar->contextMenu(), chatMenu()})
        for (QAction* action : menu->actions())
            action->trigger();
    QTest::keyClicks(ui().composer(), QStringLiteral("hello"));
    QTest::keyClick(ui().composer(), Qt::Key_Return);
    QTest::mouseClick(chatView()->viewport(), Qt::LeftButton);

    // Logout asks first; "취소" leaves the window as it was.
    platform.alertAnswers = {Platform::kFirstButton + 1};
    bool loggedOut = false;
    controller->setOnLogout([&] { loggedOut = true; });
    named<QPushButton>("logoutButton")->click();
    EXPECT_FALSE(loggedOut);
    platform.alertAnswers = {Platform::kFirstButton};
    named<QPushButton>("logoutButton")->click();
    EXPECT_TRUE(loggedOut);
    EXPECT_TRUE(window()->isVisible());
}

TEST_F(MainWindow, StatusLineIsReplacedWhole) {
    ui().setStatus(QStringLiteral("한 번째 상태 텍스트"));
    ui().setStatus(QStringLiteral("둘"));
    EXPECT_EQ(ui().statusText(), "둘");
    ui().setStatus(QString());
    EXPECT_EQ(ui().statusText(), "");
}

TEST_F(MainWindow, ClosingTheWindowLeavesTheController) {
    bool loggedOut = false;
    controller->setOnLogout([&] { loggedOut = true; });
    window()->close();
    EXPECT_FALSE(window()->isVisible());
    EXPECT_FALSE(loggedOut);
    controller.reset();
}

} // namespace
