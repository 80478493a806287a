// A client process that sends one message through its outbox and then waits to be killed:
// `outbox_probe <outbox file> <phone> <room> <text> <chat port> [<http port>]`. It prints
// "signed in" once the server took its sign-in, sends the message when a line comes on its
// input (the file at <text> when the line is "file") and prints "taken" once the message is in
// the outbox file; the test looks at the server.

#include "chat_events.h"
#include "client_under_test.h"
#include "fake_platform.h"
#include "outbox.h"
#include "room_session.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

using namespace brindlewick;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6 && args.size() != 7)
        return 2;
    ServerConfig config;
    config.chatPort = std::uint16_t(args[5].toUInt());
    // Without one nothing listens: the lists are not needed, and no file is sent.
    config.httpPort = args.size() == 7 ? std::uint16_t(args[6].toUInt()) : 1;
    test::FakePlatform platform;
    test::ClientUnderTest controller(args[2], QStringLiteral("프로브"), QStringLiteral(""), config,
                                     platform);
    controller.session().outbox->attach(args[1]);
    controller.showMain();
    controller.openRoom(args[3], QStringLiteral("대화"));
    QObject::connect(controller.session().events.get(), &ChatEvents::connectionChanged,
                     [](ChatEvents::Connection state) {
                         if (state == ChatEvents::Connection::SignedIn) {
                             std::printf("signed in\n");
                             std::fflush(stdout);
                         }
                     });
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        input.setEnabled(false);
        char line[16];
        if (!std::fgets(line, sizeof line, stdin))
            return;
        if (QByteArray(line).trimmed() == "file") {
            platform.openPanelAnswers = {args[4]};
            controller.attachFile();
        } else {
            controller.session().room->send(args[4]);
        }
        // Written off this thread: "taken" once the outbox file has it.
        controller.session().outbox->flush();
        std::printf("taken\n");
        std::fflush(stdout);
    });
    return app.exec();
}
