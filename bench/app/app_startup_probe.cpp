// The client as shipped, reporting when its main window first paints and its resident
// memory once signed in. Run by app_startup_bench.

#include "app_delegate.h"
#include "app_main.h"
#include "chat_client.h"
#include "main_controller.h"
#include "probe_common.h"
#include "user_session.h"

#include <QMainWindow>
#include <cstdio>

int main(int argc, char** argv) {
    return brindlewick::runBrindlewick(argc, argv, [](brindlewick::AppDelegate& delegate) {
        brindlewick::MainController* main = delegate.mainController();
        brindlewick::UserSession* session = delegate.session();
        if (!main || !session) {
            std::fprintf(stderr, "no stored sign-in: the login window opened instead\n");
            std::exit(1);
        }
        new brindlewick::bench::FirstPaintProbe(main->window(),
                                                [session] { return session->client->connected(); });
    });
}
