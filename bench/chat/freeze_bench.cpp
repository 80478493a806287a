// What a hostile server can do to the window: one 16 MiB history page (a single huge entry, and
// as many entries as a frame holds), a flood of 1 MiB messages (into the open room and into
// another one), a list of 1,000,000 rooms and one of 1,000,000 friends (refused for their size),
// and lists of a tenth of that (cut to the rows a list keeps). For each, the longest
// stretch the main thread spent away from its event loop while taking the input in (aim < 50
// ms), how long that took, and what was kept; the baseline is the same meter while the window is
// idle, in the same run.
//
//   QT_QPA_PLATFORM=offscreen chat_freeze_bench [messages in the flood, 32] [rows, 1000000]
//                                               [only the cases whose name holds this]

#include "bench_support.h"
#include "client_under_test.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "main_window.h"
#include "room_history.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "stall_meter.h"
#include "transcript_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <functional>
#include <string>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

const QString kRoom = QStringLiteral("r-1");
constexpr std::size_t kMiB = 1024 * 1024;

struct Window {
    explicit Window(const QByteArray& rooms = "[]", const QByteArray& friends = "[]") {
        http.setReply("GET", "/v1/friends", {200, friends, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, rooms, std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller =
            std::make_unique<ClientUnderTest>(QStringLiteral("01011112222"), QStringLiteral("민지"),
                                              QStringLiteral(""), config, platform);
        controller->showMain();
        chat.waitForConnection();
        chat.waitForFrames(1); // Auth
        chat.sendFrame(MessageType::AuthOk, {"01011112222"});
    }
    // Opens the room and waits for its request for the newest page.
    bool openRoom() {
        chat.clearFrames();
        controller->openRoom(kRoom, QStringLiteral("팀"));
        return waitUntil([&] { return !chat.framesOfType(MessageType::HistoryRequest).empty(); });
    }

    FakeChatServer chat;
    FakeHttpServer http;
    bench::QuietPlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
};

struct Figures {
    double longestMs = 0;
    double seconds = 0;
    bool done = false;
};

// Runs the loop until `done`, then a while longer for the layout and painting that follow.
Figures measure(StallMeter& meter, const std::function<bool()>& done, int timeoutMs = 300000) {
    QElapsedTimer clock;
    clock.start();
    meter.reset();
    Figures f;
    f.done = waitUntil(done, timeoutMs);
    f.seconds = clock.nsecsElapsed() / 1e9;
    spin(300);
    f.longestMs = meter.longestMs();
    return f;
}

QByteArray bytesOf(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

std::string bigText(std::size_t bytes, char seed) {
    std::string text;
    text.reserve(bytes);
    // Words and spaces, so a line can break; Hangul as well as ASCII.
    const std::string word = std::string("가나다라 ") + seed + "bcdefg ";
    while (text.size() + word.size() <= bytes)
        text += word;
    return text;
}

wire::HistoryEntry entry(int id, std::string text) {
    wire::HistoryEntry e;
    e.msgId = std::to_string(id);
    e.kind = "chat";
    e.sender = "준호";
    e.senderPhone = "01033334444";
    e.time = "2024-05-06T07:08:09";
    e.text = std::move(text);
    return e;
}

void report(const char* what, const Figures& f, const QString& kept, double idleMs) {
    std::printf(
        "%-34s longest stall %8.1f ms (aim < 50; idle %.1f, ratio %6.1f)  in %6.2f s  %s%s\n", what,
        f.longestMs, idleMs, f.longestMs / std::max(idleMs, 0.001), f.seconds,
        kept.toUtf8().constData(), f.done ? "" : "  [never finished]");
}

Figures historyPage(std::size_t entries, double idleMs, const char* what) {
    Window w;
    w.openRoom();
    wire::HistoryPage page;
    page.room = kRoom.toStdString();
    page.hasOlder = true;
    const std::size_t each = (ChatProtocol::kMaxPayloadLength - 4096) / entries - 64;
    for (std::size_t i = 0; i < entries; ++i)
        page.entries.push_back(entry(int(1000 + i), bigText(each, char('a' + i % 26))));
    StallMeter meter;
    w.chat.sendBytes(bytesOf(wire::encodeFrame(page)));
    const Figures f = measure(meter, [&] { return w.controller->session().history->opened(); });
    const TranscriptView& t = w.controller->transcript();
    qsizetype longest = 0;
    for (const ChatItem& item : t.chatItems())
        longest = std::max(longest, item.text.size());
    report(what, f,
           QStringLiteral("%1 entries shown, longest text %2 characters")
               .arg(t.chatItems().size())
               .arg(longest),
           idleMs);
    return f;
}

Figures flood(int count, bool openRoom, double idleMs, const char* what) {
    Window w;
    if (openRoom)
        w.openRoom();
    std::string bytes;
    for (int i = 0; i < count; ++i)
        bytes += wire::encodeFrame(wire::ChatMessage{
            "r-" + std::to_string(openRoom ? 1 : 2), "준호", bigText(kMiB, char('a' + i % 26)),
            "2024-05-06T07:08:09", std::to_string(i + 1), "01033334444", ""});
    StallMeter meter;
    w.chat.sendBytes(bytesOf(bytes));
    const QString last = QString::number(count);
    const Figures f = measure(meter, [&] {
        if (!openRoom)
            return w.controller->session().directory->lastMessageId(QStringLiteral("r-2")) == last;
        const QList<ChatItem>& items = w.controller->transcript().chatItems();
        return !items.isEmpty() && items.constLast().msgId == last;
    });
    report(what, f,
           QStringLiteral("%1 MiB; status %2 characters")
               .arg(count)
               .arg(w.controller->statusText().size()),
           idleMs);
    return f;
}

Figures bigList(int rows, bool rooms, double idleMs, const char* what) {
    QByteArray json = rooms ? "{\"rooms\":[" : "[";
    json.reserve(qsizetype(rows) * 60);
    for (int i = 0; i < rows; ++i) {
        if (i > 0)
            json += ',';
        json += rooms ? "{\"room_name\":\"r-" + QByteArray::number(i) + "\",\"title\":\"방 " +
                            QByteArray::number(i) + "\",\"unread_count\":1}"
                      : "{\"phone\":\"010" + QByteArray::number(10000000 + i) +
                            "\",\"nick\":\"친구 " + QByteArray::number(i) + "\"}";
    }
    json += rooms ? "]}" : "]";
    // The peak is counted from here: writing 5 to clear_refs resets VmHWM to the current size.
    if (QFile refs(QStringLiteral("/proc/self/clear_refs")); refs.open(QIODevice::WriteOnly))
        refs.write("5");
    const long rssBefore = bench::statusKiB("VmRSS:");
    StallMeter meter;
    Window w(rooms ? json : "{\"rooms\":[]}", rooms ? "[]" : json);
    json.clear();
    json.squeeze();
    bool listed = false;
    QObject::connect(w.controller->session().directory.get(), &Directory::listsChanged,
                     [&] { listed = true; });
    w.controller->showSidebar(rooms ? SidebarController::Mode::Chats
                                    : SidebarController::Mode::Friends);
    const Figures f = measure(meter, [&] { return listed; });
    const long rssPeak = bench::statusKiB("VmHWM:");
    report(what, f,
           QStringLiteral("%1 rows shown, peak VmHWM %2 MiB (VmRSS %3 before, the answer's text "
                          "included); status \"%4\"")
               .arg(w.controller->sidebarRows().size())
               .arg(rssPeak / 1024)
               .arg(rssBefore / 1024)
               .arg(w.controller->statusText()),
           idleMs);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    bench::ensureOffscreen();
    QApplication app(argc, argv);
    const int messages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 32;
    const int rows = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000000;

    double idleMs = 0;
    {
        Window w;
        w.openRoom();
        StallMeter meter;
        QElapsedTimer clock;
        clock.start();
        idleMs = measure(meter, [&] { return clock.elapsed() > 1000; }).longestMs;
    }
    std::printf("baseline: longest stall of the idle window %.1f ms\n", idleMs);
    // Each case runs only when its name holds the third argument, if any.
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const auto wanted = [&](const char* name) { return QString::fromUtf8(name).contains(only); };
    const std::pair<const char*, std::function<Figures(const char*)>> cases[] = {
        {"history page, one 16 MiB entry",
         [&](const char* name) { return historyPage(1, idleMs, name); }},
        {"history page, 340 entries, 16 MiB",
         [&](const char* name) { return historyPage(340, idleMs, name); }},
        {"1 MiB messages, open room",
         [&](const char* name) { return flood(messages, true, idleMs, name); }},
        {"1 MiB messages, other room",
         [&](const char* name) { return flood(messages, false, idleMs, name); }},
        {"rooms list", [&](const char* name) { return bigList(rows, true, idleMs, name); }},
        {"friends list", [&](const char* name) { return bigList(rows, false, idleMs, name); }},
        // Within the answer's byte cap: read, and cut to the rows a list keeps.
        {"rooms list, a tenth",
         [&](const char* name) { return bigList(rows / 10, true, idleMs, name); }},
        {"friends list, a tenth",
         [&](const char* name) { return bigList(rows / 10, false, idleMs, name); }},
    };
    bool ok = true;
    for (const auto& [name, run] : cases) {
        if (!wanted(name))
            continue;
        const Figures f = run(name);
        ok = ok && f.done && f.longestMs < 50;
    }
    return ok ? 0 : 1;
}
