#include "app_delegate.h"
#include "chat_client.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "login_controller.h"
#include "main_controller.h"
#include "user_session.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

QStringList fieldsOf(const ReceivedFrame& frame) {
    QStringList out;
    for (const std::string& field : frame.fields)
        out << QString::fromStdString(field);
    return out;
}

class LoginFlow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        config = http.config();
        config.chatPort = chatServer.port();
        http.setReply("GET", "/v1/friends", {200, "[]", std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, "[]", std::nullopt});
    }

    void TearDown() override {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void launch() {
        auto fake = std::make_unique<FakePlatform>();
        platform = fake.get();
        delegate = std::make_unique<AppDelegate>(config, std::move(fake));
        delegate->applicationDidFinishLaunching();
    }

    static void store(const char* key, const QString& value) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Brindlewick",
                           "Brindlewick");
        settings.setValue(key, value);
    }
    static QVariant stored(const char* key) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Brindlewick",
                           "Brindlewick");
        return settings.value(key);
    }
    static bool isStored(const char* key) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Brindlewick",
                           "Brindlewick");
        return settings.contains(key);
    }

    QMainWindow* loginWindow() const { return delegate->login()->window(); }
    bool loginShown() const { return loginWindow() && loginWindow()->isVisible(); }

    // The Auth frame the server saw first on its newest connection.
    QStringList authFields() {
        EXPECT_TRUE(chatServer.waitForFrames(1));
        const auto auths = chatServer.framesOfType(MessageType::Auth);
        return auths.empty() ? QStringList() : fieldsOf(auths.back());
    }

    QTemporaryDir settingsDir;
    FakeChatServer chatServer;
    FakeHttpServer http;
    ServerConfig config;
    FakePlatform* platform = nullptr;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(LoginFlow, FirstStartShowsTheLoginWindowAsTabled) {
    launch();
    EXPECT_EQ(delegate->mainController(), nullptr);
    ASSERT_TRUE(loginShown());
    EXPECT_EQ(loginWindow()->windowTitle(), "Brindlewick — 로그인");
    LoginController* login = delegate->login();
    QWidget* content = loginWindow()->centralWidget();
    EXPECT_EQ(content->size(), QSize(360, 220));
    EXPECT_TRUE(login->phoneField->text().isEmpty());
    EXPECT_TRUE(login->nickField->text().isEmpty());
    EXPECT_TRUE(login->statusField->text().isEmpty());

    // Tabled frames turned top-left based: y = 220 - y - height.
    struct Frame {
        QString text;
        QRect rect;
    };
    const Frame labels[] = {
        {"전화번호로 로그인", {20, 26, 320, 24}},
        {"전화번호", {20, 66, 85, 20}},
        {"닉네임", {20, 98, 85, 20}},
        {"상태메시지", {20, 130, 85, 20}},
    };
    for (const Frame& expected : labels) {
        QLabel* found = nullptr;
        for (QLabel* label : content->findChildren<QLabel*>())
            if (label->text() == expected.text)
                found = label;
        ASSERT_NE(found, nullptr) << expected.text.toStdString();
        EXPECT_EQ(found->geometry(), expected.rect) << expected.text.toStdString();
    }
    EXPECT_TRUE(content->findChildren<QLabel*>()[0]->font().bold());
    EXPECT_EQ(login->phoneField->geometry(), QRect(110, 64, 220, 24));
    EXPECT_EQ(login->nickField->geometry(), QRect(110, 96, 220, 24));
    EXPECT_EQ(login->statusField->geometry(), QRect(110, 128, 220, 24));
    auto* loginButton = content->findChild<QPushButton*>("loginButton");
    auto* quitButton = content->findChild<QPushButton*>("quitButton");
    ASSERT_TRUE(loginButton && quitButton);
    EXPECT_EQ(loginButton->text(), "대화하기");
    EXPECT_EQ(loginButton->geometry(), QRect(200, 172, 90, 28));
    EXPECT_EQ(quitButton->text(), "종료");
    EXPECT_EQ(quitButton->geometry(), QRect(100, 172, 90, 28));
    // Return signs in through the fields' own signal, not a default button.
    EXPECT_FALSE(loginButton->isDefault());
    EXPECT_FALSE(loginButton->autoDefault());
}

TEST_F(LoginFlow, ReturnInAnyFieldSignsIn) {
    launch();
    LoginController* login = delegate->login();
    login->phoneField->setText(QStringLiteral("01012345678"));
    login->nickField->setText(QStringLiteral("민지"));
    QTest::keyClick(login->statusField, Qt::Key_Return);
    ASSERT_NE(delegate->mainController(), nullptr);
    EXPECT_TRUE(isStored("phone"));
}

TEST_F(LoginFlow, BlankPhoneOnlyBeeps) {
    launch();
    LoginController* login = delegate->login();
    for (const QString& phone : {QString(), QStringLiteral("  \t  ")}) {
        platform->clear();
        login->phoneField->setText(phone);
        login->nickField->setText(QStringLiteral("민지"));
        login->statusField->setFocus();
        loginWindow()->findChild<QPushButton*>("loginButton")->click();
        EXPECT_EQ(platform->calls, QStringList{"beep"});
        // The cursor waits where the number goes.
        EXPECT_EQ(loginWindow()->focusWidget(), login->phoneField);
        EXPECT_EQ(delegate->mainController(), nullptr);
        EXPECT_FALSE(isStored("phone"));
        EXPECT_FALSE(isStored("nick"));
        EXPECT_TRUE(loginShown());
    }
}

TEST_F(LoginFlow, SignInTrimsAndFallsBackToThePhoneAsNickname) {
    launch();
    LoginController* login = delegate->login();
    login->phoneField->setText(QStringLiteral("  555  "));
    login->nickField->setText(QStringLiteral("   "));
    login->statusField->setText(QStringLiteral("  회의 중  "));
    login->doLogin();

    EXPECT_EQ(stored("phone").toString(), "555");
    EXPECT_EQ(stored("nick").toString(), "555");
    EXPECT_EQ(stored("statusMsg").toString(), "  회의 중  ");
    MainController* main = delegate->mainController();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->window()->isVisible());
    EXPECT_FALSE(loginWindow()->isVisible());
    EXPECT_EQ(platform->calls, QStringList());
    ASSERT_TRUE(chatServer.waitForConnection());
    EXPECT_EQ(authFields(), QStringList({"555", "555", "", "  회의 중  "}));
}

TEST_F(LoginFlow, PhoneIsKeptAsItsDigits) {
    launch();
    LoginController* login = delegate->login();
    struct Case {
        QString typed, kept;
    } cases[] = {
        {QStringLiteral("010-3333-4444"), QStringLiteral("01033334444")},
        {QStringLiteral(" 010 3333 4444 "), QStringLiteral("01033334444")},
        {QStringLiteral("+82 (10) 3333.4444"), QStringLiteral("+821033334444")},
    };
    int signIns = 0;
    for (const Case& c : cases) {
        login->phoneField->setText(c.typed);
        login->nickField->setText(QString());
        login->doLogin();
        ++signIns;
        EXPECT_EQ(stored("phone").toString(), c.kept) << c.typed.toStdString();
        // The nickname left empty falls back to the number as kept, not as typed.
        EXPECT_EQ(stored("nick").toString(), c.kept);
        ASSERT_NE(delegate->mainController(), nullptr);
        EXPECT_EQ(delegate->session()->client->phone(), c.kept);
        ASSERT_TRUE(chatServer.waitForConnection(signIns));
        ASSERT_TRUE(chatServer.waitForFrames(std::size_t(signIns)));
        EXPECT_EQ(fieldsOf(chatServer.framesOfType(MessageType::Auth).back()).value(0), c.kept);
    }
    EXPECT_TRUE(platform->alerts.isEmpty());
}

TEST_F(LoginFlow, PhoneWithoutDigitsIsRefusedWithAnAlert) {
    launch();
    LoginController* login = delegate->login();
    for (const QString& phone : {QStringLiteral("전화번호"), QStringLiteral(" +-- ")}) {
        platform->clear();
        login->phoneField->setText(phone);
        login->nickField->setText(QStringLiteral("민지"));
        loginWindow()->findChild<QPushButton*>("loginButton")->click();
        ASSERT_EQ(platform->alerts.size(), 1) << phone.toStdString();
        EXPECT_EQ(platform->alerts[0].message, "전화번호에 숫자가 없습니다");
        EXPECT_TRUE(platform->alerts[0].informativeText.endsWith(phone.trimmed()));
        EXPECT_EQ(delegate->mainController(), nullptr);
        EXPECT_FALSE(isStored("phone"));
        EXPECT_FALSE(isStored("nick"));
        EXPECT_TRUE(loginShown());
        // What was typed stays for correcting.
        EXPECT_EQ(login->phoneField->text(), phone);
    }
}

TEST_F(LoginFlow, StoredSignInSkipsTheLoginWindow) {
    store("phone", QStringLiteral("777"));
    launch();
    EXPECT_EQ(loginWindow(), nullptr);
    MainController* main = delegate->mainController();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->window()->isVisible());
    // No "nick": the phone stands in; no "statusMsg": the empty text.
    EXPECT_EQ(delegate->session()->client->nick(), "777");
    EXPECT_EQ(delegate->session()->client->statusMsg(), "");
    ASSERT_TRUE(chatServer.waitForConnection());
    EXPECT_EQ(authFields(), QStringList({"777", "777", "", ""}));
}

TEST_F(LoginFlow, StoredEmptyPhoneShowsTheLoginWindow) {
    store("phone", QString(""));
    store("nick", QStringLiteral("민지"));
    launch();
    EXPECT_EQ(delegate->mainController(), nullptr);
    ASSERT_TRUE(loginShown());
    EXPECT_EQ(delegate->login()->phoneField->text(), "");
    EXPECT_EQ(delegate->login()->nickField->text(), "민지");
}

TEST_F(LoginFlow, LogoutCancelledChangesNothing) {
    store("phone", QStringLiteral("555"));
    launch();
    MainController* main = delegate->mainController();
    ASSERT_NE(main, nullptr);
    platform->alertAnswers = {Platform::kFirstButton + 1};
    main->window()->findChild<QPushButton*>("logoutButton")->click();

    ASSERT_EQ(platform->alerts.size(), 1);
    EXPECT_EQ(platform->alerts[0].message, "로그아웃 하시겠습니까?");
    EXPECT_EQ(platform->alerts[0].informativeText,
              "로그아웃 시 저장된 로그인 정보가 삭제되고 로그인 창이 표시됩니다.");
    EXPECT_EQ(platform->alerts[0].buttons, QStringList({"로그아웃", "취소"}));
    EXPECT_EQ(delegate->mainController(), main);
    EXPECT_TRUE(main->window()->isVisible());
    EXPECT_EQ(stored("phone").toString(), "555");
    EXPECT_EQ(loginWindow(), nullptr);
}

TEST_F(LoginFlow, LogoutConfirmedRemovesOnlyThePhoneAndSignsInAgainFresh) {
    store("phone", QStringLiteral("555"));
    store("nick", QStringLiteral("민지"));
    store("statusMsg", QStringLiteral(" 바빠요 "));
    launch();
    QPointer<MainController> first = delegate->mainController();
    QPointer<UserSession> firstSession = delegate->session();
    ASSERT_TRUE(first);
    ASSERT_TRUE(firstSession);
    ASSERT_TRUE(chatServer.waitForConnection());
    QPointer<QMainWindow> firstWindow = first->window();

    platform->alertAnswers = {Platform::kFirstButton};
    first->window()->findChild<QPushButton*>("logoutButton")->click();

    EXPECT_FALSE(isStored("phone"));
    EXPECT_EQ(stored("nick").toString(), "민지");
    EXPECT_EQ(stored("statusMsg").toString(), " 바빠요 ");
    EXPECT_EQ(delegate->mainController(), nullptr);
    EXPECT_EQ(delegate->session(), nullptr);
    EXPECT_TRUE(!firstWindow || !firstWindow->isVisible());
    ASSERT_TRUE(loginShown());
    EXPECT_EQ(delegate->login()->phoneField->text(), "");
    EXPECT_EQ(delegate->login()->nickField->text(), "민지");
    EXPECT_EQ(delegate->login()->statusField->text(), " 바빠요 ");
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());

    // The old controller goes once its action has returned, and its connection with it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(firstSession.isNull());
    EXPECT_TRUE(firstWindow.isNull());
    EXPECT_TRUE(waitUntil([&] { return !chatServer.hasOpenConnection(); }));

    delegate->login()->phoneField->setText(QStringLiteral("555"));
    delegate->login()->doLogin();
    ASSERT_NE(delegate->mainController(), nullptr);
    EXPECT_TRUE(chatServer.waitForConnection(2));
    EXPECT_EQ(delegate->session()->client->statusMsg(), " 바빠요 ");
}

// A secret handed out at sign-in is kept per phone, outlives logging out, and goes with every
// later sign-in of that phone and every HTTP request made for it.
TEST_F(LoginFlow, DeviceSecretIsKeptPerPhoneAndSentWithSignInAndRequests) {
    store("phone", QStringLiteral("010-555"));
    launch();
    ASSERT_NE(delegate->mainController(), nullptr);
    ASSERT_TRUE(chatServer.waitForConnection());
    EXPECT_EQ(authFields(), QStringList({"010-555", "010-555", "", ""}));
    // Before the server claimed the phone nothing carries a secret.
    ASSERT_TRUE(waitUntil([&] { return http.requests().size() >= 2; }));
    for (const RecordedRequest& request : http.requests())
        EXPECT_TRUE(request.headerValues("Authorization").isEmpty()) << request.path.toStdString();
    // The lists asked for at start have come: a refresh asked for while one runs is not started.
    ASSERT_TRUE(waitUntil([&] { return !delegate->session()->directory->refreshing(); }));
    http.clearRequests();

    chatServer.sendFrame(MessageType::AuthOk, {"010555", "s3cr3t"});
    // The lists asked for after the sign-in already carry it.
    ASSERT_TRUE(waitUntil([&] { return http.requests().size() >= 2; }));
    for (const RecordedRequest& request : http.requests())
        EXPECT_EQ(request.headerValues("Authorization"), QList<QByteArray>{"Bearer s3cr3t"})
            << request.path.toStdString();

    platform->alertAnswers = {Platform::kFirstButton};
    delegate->mainController()->window()->findChild<QPushButton*>("logoutButton")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(waitUntil([&] { return !chatServer.hasOpenConnection(); }));

    struct Case {
        const char* phone;
        QString secret; // expected in the Auth, empty for none
    };
    int connections = 1;
    for (const Case& c : {Case{"010555", QStringLiteral("s3cr3t")}, Case{"010-777", QString()},
                          Case{"0 1 0 5 5 5", QStringLiteral("s3cr3t")}}) {
        SCOPED_TRACE(c.phone);
        chatServer.clearFrames();
        http.clearRequests();
        delegate->login()->phoneField->setText(QString::fromUtf8(c.phone));
        delegate->login()->doLogin();
        ASSERT_NE(delegate->mainController(), nullptr);
        ASSERT_TRUE(chatServer.waitForConnection(++connections));
        const QStringList auth = authFields();
        EXPECT_EQ(auth.size() > 4 ? auth[4] : QString(), c.secret);
        ASSERT_TRUE(waitUntil([&] { return http.requests().size() >= 2; }));
        const QList<QByteArray> expected = c.secret.isEmpty()
                                               ? QList<QByteArray>{}
                                               : QList<QByteArray>{"Bearer " + c.secret.toUtf8()};
        EXPECT_EQ(http.requests().front().headerValues("Authorization"), expected);
        delegate->mainController()->window()->findChild<QPushButton*>("logoutButton")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(waitUntil([&] { return !chatServer.hasOpenConnection(); }));
    }
}

} // namespace
