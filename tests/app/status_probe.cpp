// The client as shipped, printing "status <text>" on stdout each time its status line changes,
// for tests that need the real process (its memory limit, its exit status).

#include "app_delegate.h"
#include "app_main.h"
#include "main_controller.h"
#include "main_window.h"
#include "user_session.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    using namespace brindlewick;
    return runBrindlewick(argc, argv, [](AppDelegate& delegate) {
        MainController* main = delegate.mainController();
        UserSession* session = delegate.session();
        if (!main || !session) {
            std::fprintf(stderr, "status_probe: no stored sign-in\n");
            std::exit(1);
        }
        auto* watch = new QTimer(main);
        QObject::connect(watch, &QTimer::timeout, main, [session, shown = QString()]() mutable {
            const QString text = session->window->statusText();
            if (text == shown)
                return;
            shown = text;
            std::printf("status %s\n", text.toUtf8().constData());
            std::fflush(stdout);
        });
        watch->start(5);
    });
}
