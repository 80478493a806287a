// The window's place, its divider and the last open room survive a restart of the client.

#include "app_delegate.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "main_window.h"
#include "room_session.h"
#include "user_session.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

class Restart : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        settings().setValue("phone", "01011112222");
        config = http.config();
        config.chatPort = chat.port();
        http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
        http.setReply("GET", "/v1/rooms",
                      {200, R"({"rooms":[{"room_name":"r-1","title":"팀"}]})", std::nullopt});
    }
    void TearDown() override { quit(); }

    static QSettings settings() {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Brindlewick",
                         "Brindlewick");
    }
    UserSession& start() {
        delegate = std::make_unique<AppDelegate>(config, std::make_unique<FakePlatform>());
        delegate->applicationDidFinishLaunching();
        return *delegate->session();
    }
    void quit() {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static QSplitter* divider(UserSession& main) {
        return main.window->window()->findChild<QSplitter*>("rightSplit");
    }

    QTemporaryDir settingsDir;
    FakeChatServer chat;
    FakeHttpServer http;
    ServerConfig config;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(Restart, WindowDividerAndRoomComeBack) {
    QPoint framePosition;
    {
        UserSession& main = start();
        EXPECT_FALSE(main.room->isOpen());
        main.window->window()->setGeometry(120, 90, 1000, 700);
        framePosition = main.window->window()->pos();
        QSplitter* split = divider(main);
        split->setSizes({split->height() - 150 - 1, 150});
        main.room->open("r-1", "팀");
        quit();
    }
    UserSession& main = start();
    EXPECT_EQ(main.window->window()->pos(), framePosition);
    EXPECT_EQ(main.window->window()->geometry(), QRect(120, 90, 1000, 700));
    EXPECT_EQ(divider(main)->sizes().value(1), 150);
    EXPECT_EQ(main.room->room(), "r-1");
    EXPECT_EQ(main.room->title(), "팀");
    // Joined once signed in.
    ASSERT_TRUE(chat.waitForFrames(2));
}

// Maximised or full screen: maximised again, and restoring it gives back the place it had before.
TEST_F(Restart, MaximisedComesBackMaximisedWithItsNormalPlace) {
    const struct {
        const char* name;
        void (QWidget::*enlarge)();
    } cases[] = {
        {"maximised", &QWidget::showMaximized},
        {"full screen", &QWidget::showFullScreen},
    };
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    for (const auto& c : cases) {
        {
            UserSession& main = start();
            main.window->window()->setGeometry(120, 90, 1000, 700);
            (main.window->window()->*c.enlarge)();
            ASSERT_TRUE(waitUntil([&] {
                return main.window->window()->geometry() != QRect(120, 90, 1000, 700);
            })) << c.name;
            quit();
        }
        {
            UserSession& main = start();
            EXPECT_TRUE(main.window->window()->isMaximized()) << c.name;
            EXPECT_FALSE(main.window->window()->isFullScreen()) << c.name;
            EXPECT_TRUE(waitUntil([&] {
                return main.window->window()->frameGeometry() == available;
            })) << c.name
                << " fills the screen";
            EXPECT_EQ(main.window->window()->normalGeometry(), QRect(120, 90, 1000, 700)) << c.name;
            // Quitting while still maximised keeps the normal place, not the screen's size.
            quit();
        }
        UserSession& main = start();
        ASSERT_TRUE(main.window->window()->isMaximized()) << c.name;
        main.window->window()->showNormal();
        EXPECT_TRUE(waitUntil([&] {
            return main.window->window()->geometry() == QRect(120, 90, 1000, 700);
        })) << c.name
            << " restored: " << main.window->window()->geometry().x() << ","
            << main.window->window()->geometry().y() << " " << main.window->window()->width() << "x"
            << main.window->window()->height();
        // Restored, then quit: a normal window next time.
        quit();
        EXPECT_FALSE(start().window->window()->isMaximized()) << c.name;
        quit();
    }
}

// A monitor since unplugged: the window opens centred on the one there is.
TEST_F(Restart, OffScreenOpensCentred) {
    QSettings stored = settings();
    stored.setValue("window/position", QPoint(4000, 3000));
    stored.setValue("window/size", QSize(900, 600));
    stored.sync();
    UserSession& main = start();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(main.window->window()->size(), QSize(900, 600)) << "the size is kept";
    EXPECT_LE(
        std::abs(main.window->window()->frameGeometry().center().x() - available.center().x()), 1);
    EXPECT_LE(
        std::abs(main.window->window()->frameGeometry().center().y() - available.center().y()), 1);
}

// Leaving the room forgets it; another phone has its own; a broken settings file is nothing.
TEST_F(Restart, LastRoomIsPerPhoneAndForgottenWhenLeft) {
    {
        UserSession& main = start();
        main.room->open("r-1", "팀");
        main.room->close();
        quit();
    }
    EXPECT_FALSE(start().room->isOpen());
    start().room->open("r-1", "팀");
    quit();
    QSettings stored = settings();
    stored.setValue("phone", "01099990000");
    stored.setValue("window/size", "넓게");
    stored.setValue("window/composerHeight", -40);
    stored.setValue("window/maximized", "넓게");
    stored.sync();
    UserSession& other = start();
    EXPECT_FALSE(other.room->isOpen());
    EXPECT_EQ(other.window->placement().composerHeight, 90);
    EXPECT_TRUE(other.window->window()->isVisible());
    EXPECT_FALSE(other.window->window()->isMaximized());
}

// What was being written in each room waits there after a restart; another phone has its own.
TEST_F(Restart, DraftsComeBackPerPhone) {
    {
        UserSession& main = start();
        main.room->open("r-1", "팀");
        main.window->composer()->setPlainText("팀에 쓰던 말");
        main.room->open("r-2", "가족");
        main.window->composer()->setPlainText("닫을 때 쓰던 말");
        quit(); // the open room's text too
    }
    {
        UserSession& main = start();
        EXPECT_EQ(main.room->room(), "r-2");
        EXPECT_EQ(main.window->composer()->toPlainText(), "닫을 때 쓰던 말");
        main.room->open("r-1", "팀");
        EXPECT_EQ(main.window->composer()->toPlainText(), "팀에 쓰던 말");
        quit();
    }
    QSettings stored = settings();
    stored.setValue("phone", "01099990000");
    stored.sync();
    UserSession& other = start();
    other.room->open("r-1", "팀");
    EXPECT_EQ(other.window->composer()->toPlainText(), "");
}

} // namespace
