// The real seam's modal pieces, answered by a timer that clicks like a user would.

#include "login_controller.h"
#include "qt_platform.h"
#include "qt_translations.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <gtest/gtest.h>

#include <functional>

using namespace brindlewick;

namespace {

// Runs `act` on the modal window as soon as it is up.
void whenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        act(modal);
    });
}

void clickButton(QWidget* modal, const QString& text) {
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
        if (button->text() == text) {
            button->click();
            return;
        }
    ADD_FAILURE() << "no button " << text.toStdString();
}

TEST(QtPlatform, AlertAnswersInButtonOrder) {
    QtPlatform platform;
    const QStringList buttons = {"친구 추가", "메모방 생성", "취소"};
    for (int i = 0; i < buttons.size(); ++i) {
        whenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), "추가 기능 선택");
            EXPECT_EQ(box->informativeText(), "설명");
            clickButton(modal, buttons[i]);
        });
        EXPECT_EQ(platform.runAlert(nullptr, "추가 기능 선택", "설명", buttons), 1000 + i);
    }
    // Dismissed without a choice (Escape): the last, cancelling button, never the first.
    whenModal([](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->reject(); });
    EXPECT_EQ(platform.runAlert(nullptr, "로그아웃 하시겠습니까?", "", {"로그아웃", "취소"}), 1001);
    whenModal([](QWidget* modal) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modal, &escape);
    });
    EXPECT_EQ(platform.runAlert(nullptr, "현재 대화방을 나가시겠습니까?", "", {"나가기", "취소"}),
              1001);
    // Without buttons there is one, and it answers as the first.
    whenModal([](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->accept(); });
    EXPECT_EQ(platform.runAlert(nullptr, "다운로드 실패", "", {}), 1000);
}

TEST(QtPlatform, PictureQuestionShowsASmallPreview) {
    QtPlatform platform;
    struct Case {
        const char* name;
        QSize picture;
        QSize preview;
        int click; // index of the button clicked, -1 for Escape
        int answer;
    };
    const Case cases[] = {
        {"a wide screenshot is scaled down", {1920, 1080}, {200, 112}, 0, 1000},
        {"a tall one too", {400, 1600}, {50, 200}, 0, 1000},
        {"a small picture keeps its size", {64, 48}, {64, 48}, 1, 1001},
        {"escape cancels", {300, 300}, {200, 200}, -1, 1001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage picture(c.picture, QImage::Format_RGB32);
        picture.fill(QColor(40, 120, 200));
        whenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), "이미지를 보낼까요?");
            EXPECT_EQ(box->iconPixmap().deviceIndependentSize().toSize(), c.preview);
            EXPECT_EQ(box->iconPixmap().toImage().pixelColor(2, 2), QColor(40, 120, 200));
            if (c.click < 0) {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(modal, &escape);
            } else {
                clickButton(modal, c.click == 0 ? "보내기" : "취소");
            }
        });
        EXPECT_EQ(
            platform.runPictureQuestion(nullptr, "이미지를 보낼까요?", picture, {"보내기", "취소"}),
            c.answer);
    }
}

TEST(QtPlatform, AddFriendDialog) {
    QtPlatform platform;
    whenModal([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "친구 추가");
        EXPECT_EQ(modal->size(), QSize(320, 160));
        const QList<QLineEdit*> fields = modal->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 2);
        EXPECT_EQ(fields[0]->geometry(), QRect(20, 46, 280, 24));
        EXPECT_EQ(fields[1]->geometry(), QRect(100, 76, 200, 24));
        fields[0]->setText(" 01099998888 ");
        fields[1]->setText("친구");
        clickButton(modal, "추가");
    });
    AddFriendInput added = platform.runAddFriendDialog(nullptr);
    EXPECT_EQ(added.result, 1);
    EXPECT_EQ(added.phone, " 01099998888 ");
    EXPECT_EQ(added.alias, "친구");

    whenModal([](QWidget* modal) { clickButton(modal, "취소"); });
    EXPECT_NE(platform.runAddFriendDialog(nullptr).result, 1);
    // The close box ends it like the cancel button.
    whenModal([](QWidget* modal) { modal->close(); });
    EXPECT_NE(platform.runAddFriendDialog(nullptr).result, 1);
}

// The memo room's name question: the text filled in, what the user typed, and cancelling.
TEST(QtPlatform, TextQuestionAnswersTheLineOrNothing) {
    QtPlatform platform;
    whenModal([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "메모방 생성");
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->labelText(), "메모방 이름:");
        EXPECT_EQ(dialog->textValue(), "나의 메모");
        dialog->setTextValue("여행 계획");
        dialog->accept();
    });
    EXPECT_EQ(platform.runTextQuestion(nullptr, "메모방 생성", "메모방 이름:", "나의 메모"),
              std::optional<QString>("여행 계획"));
    whenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(platform.runTextQuestion(nullptr, "메모방 생성", "메모방 이름:", "나의 메모"),
              std::nullopt);
}

// Without a notification service (no session bus here) nothing fails.
TEST(QtPlatform, NotificationWithoutServiceIsQuiet) {
    QtPlatform platform;
    platform.postDesktopNotification("제목", "본문", "r-1");
    platform.beep();
    platform.requestAttention();
}

// A peer's nickname or an error text from the server is shown as written, never as markup.
TEST(QtPlatform, AlertTextsArePlainText) {
    QtPlatform platform;
    const QString message =
        QStringLiteral("'<a href=\"https://x.example\">민지</a>' 방을 나가시겠습니까?");
    const QString informative = QStringLiteral("<img src=\"/etc/passwd\"> &amp; <b>굵게</b>");
    whenModal([&](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "Brindlewick");
        for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
            SCOPED_TRACE(name);
            auto* label = modal->findChild<QLabel*>(QString::fromLatin1(name));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
        EXPECT_EQ(modal->findChild<QLabel*>("qt_msgbox_label")->text(), message);
        EXPECT_EQ(modal->findChild<QLabel*>("qt_msgbox_informativelabel")->text(), informative);
        clickButton(modal, "취소");
    });
    EXPECT_EQ(platform.runAlert(nullptr, message, informative, {"나가기", "취소"}), 1001);
}

// The downloads folder comes from the desktop's user folders (XDG user-dirs).
class SavePanel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        savedConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }
    void TearDown() override {
        if (savedConfigHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", savedConfigHome);
    }
    void setDownloads(const QString& folder) {
        QFile dirs(config.filePath("user-dirs.dirs"));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DOWNLOAD_DIR=\"" + QFile::encodeName(folder) + "\"\n");
    }
    // The folder and the file name the panel opened with; cancels it.
    std::pair<QString, QString> panelStart(const QString& suggestedName) {
        std::pair<QString, QString> start;
        whenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "파일 저장");
            const QStringList selected = dialog->selectedFiles();
            start = {QFileInfo(dialog->directory().absolutePath()).canonicalFilePath(),
                     selected.isEmpty() ? QString() : QFileInfo(selected.first()).fileName()};
            dialog->reject();
        });
        EXPECT_EQ(platform.runSavePanel(nullptr, "파일 저장", suggestedName), "");
        return start;
    }

    QtPlatform platform;
    QTemporaryDir config;
    QTemporaryDir downloads;
    QByteArray savedConfigHome;
};

TEST_F(SavePanel, StartsInTheDownloadsFolderWithTheSuggestedName) {
    const QString folder = downloads.filePath("받은 파일");
    ASSERT_TRUE(QDir().mkpath(folder));
    setDownloads(folder);
    const auto start = panelStart("보고서 최종.pdf");
    EXPECT_EQ(start.first, QFileInfo(folder).canonicalFilePath());
    EXPECT_EQ(start.second, "보고서 최종.pdf");
}

TEST_F(SavePanel, WithoutADownloadsFolderStartsAtHome) {
    setDownloads(downloads.filePath("없는 폴더"));
    const auto start = panelStart("a.txt");
    EXPECT_EQ(start.first, QFileInfo(QDir::homePath()).canonicalFilePath());
    EXPECT_EQ(start.second, "a.txt");
}

// Qt's own buttons speak Korean once the start-up has installed Qt's translation.
TEST(QtTranslations, StandardButtonsAreKorean) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFileInfo::exists(QDir(folder).filePath("qtbase_ko.qm")))
        GTEST_SKIP() << "qtbase_ko.qm is not in " << folder.toStdString()
                     << " (Debian package qt6-translations-l10n)";
    QTranslator* translator = installQtTranslations(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr);
    {
        QMessageBox box(QMessageBox::Question, "Brindlewick", "?",
                        QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "취소");
        EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "확인");
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "취소");
    }
    // The other tests here meet Qt untranslated, as before.
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

// Every field of the login window is named for screen readers.
TEST(LoginWindow, FieldsHaveAccessibleNames) {
    QtPlatform platform;
    LoginController login(platform, {});
    login.showLogin();
    const std::pair<QWidget*, QString> fields[] = {{login.phoneField, "전화번호"},
                                                   {login.nickField, "닉네임"},
                                                   {login.statusField, "상태메시지"}};
    for (const auto& [field, name] : fields) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_NE(field, nullptr);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
    }
}

} // namespace
