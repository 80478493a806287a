// The chats list as messages for rooms not in view arrive, with 1,000 and 10,000 rooms: what one
// message costs the main thread (Directory, sidebar model and the shown table move and change one
// row), against rebuilding the whole list as a refresh does, measured in the same run; and the
// sender's picture lookup against a pass over the lists.
//
//   live_list_bench [messages]

#include "bench_support.h"
#include "client_under_test.h"
#include "directory_service.h"
#include "main_window.h"
#include "sidebar_controller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTcpServer>

#include <cstdio>
#include <random>

using brindlewick::test::ClientUnderTest;

using namespace brindlewick;

namespace {

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Microseconds per call of `step(i)` over `count` calls, painting every 100 as the window would.
template <typename Step> double perCallUs(QApplication& app, int count, Step step) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        step(i);
        if (i % 100 == 99)
            app.processEvents();
    }
    app.processEvents();
    return clock.nsecsElapsed() / 1e3 / count;
}

// The lookup as a pass over the lists, as it was before the maps.
QString pictureByPass(const QList<FriendRecord>& friends, const QList<RoomRecord>& rooms,
                      const QString& key) {
    for (const FriendRecord& f : friends)
        if (f.phone == key || f.nick == key || f.alias == key)
            return f.profilePic;
    for (const RoomRecord& r : rooms)
        if (r.peer == key || r.title == key)
            return r.profilePic;
    return QString();
}

struct Figures {
    double randomRoomUs;
    double directoryOnlyUs;
    double topRoomUs;
    double rebuildUs;
    double pictureUs;
    double pictureByPassUs;
};

Figures measure(QApplication& app, int rooms, int messages) {
    bench::QuietPlatform platform;
    ServerConfig config;
    config.chatPort = closedPort();
    config.httpPort = closedPort();
    ClientUnderTest controller(QStringLiteral("01000000000"), QStringLiteral("벤치"),
                               QStringLiteral(""), config, platform);
    controller.session().window->window()->show();
    QList<FriendRecord> friendList;
    QList<RoomRecord> roomList;
    for (int i = 0; i < rooms; ++i) {
        const QString n = QString::number(i);
        friendList.append({QStringLiteral("0102%1").arg(i, 7, 10, QLatin1Char('0')),
                           QStringLiteral("친구 ") + n, QString(), QString(),
                           QStringLiteral("pic-") + n});
        RoomRecord room;
        room.room = QStringLiteral("r-") + n;
        room.title = QStringLiteral("방 ") + n;
        room.unread = i % 3;
        // Rows draw their last message and its time, as the server lists them.
        room.last = {QStringLiteral("마지막 메시지 ") + n, QString(),
                     QStringLiteral("2026-12-10T09:00:00+09:00")};
        roomList.append(room);
    }
    Directory& directory = *controller.session().directory;
    directory.setLists(friendList, roomList);
    controller.showSidebar(SidebarController::Mode::Chats);
    app.processEvents();

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, rooms - 1);
    QStringList targets;
    for (int i = 0; i < messages; ++i)
        targets << QStringLiteral("r-%1").arg(pick(random));

    // Each message brings its text and time to the row.
    const LastMessage last{QStringLiteral("새 메시지가 왔습니다"), QString(),
                           QStringLiteral("2026-12-10T09:30:00+09:00")};
    Figures f{};
    f.randomRoomUs = perCallUs(app, messages, [&](int i) {
        directory.noteMessage(targets[i], QString::number(i + 1), true, last);
    });
    // The friends list shown: the chats list's model is left alone.
    controller.showSidebar(SidebarController::Mode::Friends);
    f.directoryOnlyUs = perCallUs(app, messages, [&](int i) {
        directory.noteMessage(targets[(i + messages / 2) % messages], QString::number(i + 1), true,
                              last);
    });
    controller.showSidebar(SidebarController::Mode::Chats);
    const QString top = directory.rooms().first().room;
    f.topRoomUs = perCallUs(app, messages, [&](int i) {
        directory.noteMessage(top, QString::number(i + 1), true, last);
    });
    // A refresh's share on the main thread, without the request and the parsing.
    const int rebuilds = std::max(10, messages / 20);
    f.rebuildUs = perCallUs(app, rebuilds, [&](int) { directory.setLists(friendList, roomList); });
    QStringList senders;
    for (int i = 0; i < messages; ++i)
        senders << QStringLiteral("친구 %1").arg(pick(random));
    QString sink;
    f.pictureUs = perCallUs(app, messages, [&](int i) { sink = directory.pictureFor(senders[i]); });
    f.pictureByPassUs = perCallUs(app, std::max(10, messages / 20), [&](int i) {
        sink = pictureByPass(directory.friends(), directory.rooms(), senders[i]);
    });
    return f;
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int messages = argc > 1 ? std::max(100, atoi(argv[1])) : 20000;
    std::printf("live chats list, %d messages per figure\n", messages);
    Figures small{}, large{};
    for (const int rooms : {1000, 10000}) {
        const Figures f = measure(app, rooms, messages);
        (rooms == 1000 ? small : large) = f;
        std::printf("%5d rooms: message for a random room %.2f us (%.2f us with the chats list "
                    "not shown), for the top room %.2f us; whole-list rebuild %.0f us (%.0fx a "
                    "random-room message)\n",
                    rooms, f.randomRoomUs, f.directoryOnlyUs, f.topRoomUs, f.rebuildUs,
                    f.rebuildUs / f.randomRoomUs);
        std::printf("             sender's picture %.3f us, by a pass over the lists %.1f us "
                    "(%.0fx)\n",
                    f.pictureUs, f.pictureByPassUs, f.pictureByPassUs / f.pictureUs);
    }
    std::printf("10,000 / 1,000 rooms: random-room message %.1fx, top-room message %.1fx, "
                "picture %.1fx, rebuild %.1fx\n",
                large.randomRoomUs / small.randomRoomUs, large.topRoomUs / small.topRoomUs,
                large.pictureUs / small.pictureUs, large.rebuildUs / small.rebuildUs);
    return 0;
}
