// The find bar through the main window's controller: a search over 100,000 entries for a word
// with 1,000 matches, against a plain case-insensitive QString::indexOf loop over the same text
// in the same run; and the cost of stepping to the next match, at two transcript sizes (a step
// that re-scanned would grow with the transcript).
//
//   QT_QPA_PLATFORM=offscreen manage_find_bar_bench [entries]

#include "chat_client.h"
#include "client_under_test.h"
#include "main_window.h"
#include "transcript_view.h"

#include "platform.h"
#include "search_baseline.h"
#include <QLineEdit>
#include <QMainWindow>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <algorithm>
#include <cstdio>
#include <memory>

using brindlewick::bench::bestMs;
using brindlewick::bench::indexOfLoop;

namespace {

// Answers every question with "cancel" and makes no sound: nothing here asks.
class QuietPlatform : public brindlewick::Platform {
public:
    void beep() override {}
    void requestAttention() override {}
    bool isApplicationActive() const override { return true; }
    void postDesktopNotification(const QString&, const QString&, const QString&) override {}
    int runAlert(QWidget*, const QString&, const QString&, const QStringList& buttons) override {
        return kFirstButton + int(std::max<qsizetype>(buttons.size() - 1, 0));
    }
    brindlewick::AddFriendInput runAddFriendDialog(QWidget*) override { return {}; }
    QString runOpenPanel(QWidget*, const QString&) override { return {}; }
    QString runSavePanel(QWidget*, const QString&, const QString&) override { return {}; }
    void openFile(const QString&) override {}
    void openUrl(const QUrl&) override {}
};

const QStringList kSenders = {"민수", "지영", "01012345678", "하나", "서준", "Jun"};
const QStringList kTexts = {
    "안녕하세요",      "오늘 회의는 세 시에 시작합니다. 자료는 공유 폴더에 올려 두었어요.",
    "네 알겠습니다!",  "점심 뭐 먹을까요? 김치찌개 어때요",
    "ㅋㅋㅋㅋ 좋아요", "어제 보낸 파일 확인 부탁드립니다. 수정한 부분은 빨간색으로 표시했어요.",
    "잠시만요"};

struct Figures {
    qsizetype units = 0;
    qsizetype matches = 0;
    qsizetype baselineMatches = 0;
    double baseline = 0;
    double search = 0;
    double step = 0;
};

// A window over ports where nothing listens: the list fetch and the connection fail at once.
Figures measure(int count, const QString& word, int rounds) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    brindlewick::ServerConfig config;
    config.chatPort = config.httpPort = probe.serverPort();
    probe.close();
    QuietPlatform platform;
    brindlewick::test::ClientUnderTest controller(
        QStringLiteral("01000000000"), QStringLiteral("나"), QStringLiteral(""), config, platform);
    controller.showMain();
    controller.session().client->disconnect();

    const int markEvery = std::max(1, count / 1000);
    for (int i = 0; i < count; ++i) {
        QString text = kTexts[(i * 5) % kTexts.size()];
        if (i % markEvery == markEvery / 2)
            text += ' ' + (i % 3 == 0 ? word.toUpper() : i % 3 == 1 ? word.toLower() : word);
        const QString time = QStringLiteral("2024-05-06T%1:%2:00Z")
                                 .arg((i / 60) % 24, 2, 10, QChar('0'))
                                 .arg(i % 60, 2, 10, QChar('0'));
        controller.transcript().appendChatMsgId(QString::number(1000000 + i),
                                                kSenders[(i * 7) % kSenders.size()], text, time,
                                                false, QString());
        if (i % 500 == 499)
            QApplication::processEvents();
    }
    QApplication::processEvents();

    Figures f;
    const QString text = controller.transcript().plainText();
    f.units = text.size();
    f.baseline = bestMs(rounds, [&] { f.baselineMatches = indexOfLoop(text, word); });

    controller.openFindBar();
    auto* findField = controller.window()->findChild<QLineEdit*>(QStringLiteral("findSearchField"));
    {
        const QSignalBlocker quiet(findField); // set the text without searching
        findField->setText(word);
    }
    f.search =
        bestMs(rounds, [&] { controller.transcript().findSearchChanged(findField->text()); });
    f.matches = controller.transcript().search().matches().size();

    const int steps = 1000;
    f.step = bestMs(rounds,
                    [&] {
                        for (int i = 0; i < steps; ++i)
                            controller.transcript().findNext();
                    }) /
             steps;
    return f;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1000, atoi(argv[1])) : 100000;
    const QString word = QStringLiteral("Kickoff회의");
    const int rounds = 5;

    const Figures small = measure(count / 10, word, rounds);
    const Figures big = measure(count, word, rounds);

    std::printf("transcript: %d entries, %lld UTF-16 units, %lld matches (indexOf loop %lld)\n",
                count, (long long)big.units, (long long)big.matches,
                (long long)big.baselineMatches);
    std::printf("baseline indexOf loop: %.2f ms\n", big.baseline);
    std::printf("find bar search (search, select, scroll, counter): %.2f ms, "
                "ratio %.2f (aim <= 3)\n",
                big.search, big.search / big.baseline);
    std::printf("step to next match (findNext): %.1f us = %.5f of a search; at %d entries "
                "%.1f us (a step does not grow with the transcript: no re-scan)\n",
                big.step * 1000, big.step / big.search, count / 10, small.step * 1000);
    return 0;
}
