// A hostile chat or list server against the signed-in window: a 16 MiB history page, a flood of
// 1 MiB messages, lists of a million rows. The window takes each in with its event loop turning
// (the longest stall is measured and printed; chat_freeze_bench has the figures on an idle
// machine), shows a bounded part, says so, and loses nothing it could show.

#include "chat_fixture.h"
#include "display_text.h"
#include "history_pages.h"
#include "http_request.h"
#include "room_history.h"
#include "sidebar_controller.h"
#include "stall_meter.h"

#include <cstdio>

using namespace brindlewick;
using namespace brindlewick::test;

namespace {

// Far above the stalls measured (tens of milliseconds; a few hundred in a sanitizer build) and
// below the freezes these inputs caused (a 16 MiB page 10 to 15 s, each 1 MiB message about 1 s,
// a million rows 2.5 s), so a loaded machine does not make them flake. What was kept is checked
// as well: that, not the clock, is what the fixes change.
constexpr double kPageStallBoundMs = 2000;
constexpr double kStallBoundMs = 1000;
constexpr std::size_t kMiB = 1024 * 1024;
const char* const kTime = "2024-05-06T07:08:09";

// Words with spaces, Hangul and ASCII, `bytes` long at most.
std::string bigText(std::size_t bytes) {
    const std::string word = "가나다라 abcdefg ";
    std::string text;
    text.reserve(bytes);
    while (text.size() + word.size() <= bytes)
        text += word;
    return text;
}

QByteArray bytesOf(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

void report(const char* what, double longestMs) {
    std::printf("[ stall    ] %s: longest %.1f ms\n", what, longestMs);
}

} // namespace

TEST(ShownText, CutsHugeTextsBeforeConvertingThem) {
    const QString note = kCutNote;
    struct Case {
        const char* name;
        std::string utf8;
        qsizetype maxChars;
        QString expected;
    };
    const std::string hangul = "가나다라마";
    const std::vector<Case> cases = {
        {"short text as it is", "안녕하세요", 10, "안녕하세요"},
        {"exactly the limit", "abcde", 5, "abcde"},
        {"ASCII cut", "abcdefgh", 5, "abcde" + note},
        {"Hangul cut on a character", hangul + hangul, 3, "가나다" + note},
        {"four-byte characters never halved", "😀😀😀", 3, "😀" + note},
        {"nothing allowed", "abc", 0, note},
        {"megabytes", std::string(4 * kMiB, 'x'), 10, "xxxxxxxxxx" + note},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shownText(c.utf8, c.maxChars), c.expected) << c.name;
    // Tags are still read as labels.
    EXPECT_EQ(shownMessage("[sticker:" + std::string(kMiB, 'a') + "]"), "[이모티콘]");

    const QString summary = summaryText(QString(5000, u'가') + "\n둘째 줄");
    EXPECT_EQ(summary.size(), kSummaryChars + 1);
    EXPECT_TRUE(summary.endsWith(u'…'));
    EXPECT_EQ(summaryText("한 줄\n두 줄"), "한 줄 두 줄");
}

class Freeze : public ChatWindow {
protected:
    void openRoom() {
        chat.clearFrames();
        controller->openRoom("r-1", "팀");
        ASSERT_TRUE(waitUntil([&] { return requests().size() == 1; }));
    }
    std::vector<ReceivedFrame> requests() const {
        return chat.framesOfType(MessageType::HistoryRequest);
    }
    // Runs the loop until `done`, then a while longer for the layout and painting that follow;
    // returns the longest stall in the GUI thread's own CPU time, so that other work on the
    // machine does not stretch it.
    double takeIn(StallMeter& meter, const std::function<bool()>& done, int timeoutMs = 60000) {
        EXPECT_TRUE(waitUntil(done, timeoutMs));
        spin(200);
        std::printf("[ stall    ] longest %.1f ms on the clock\n", meter.longestMs());
        return meter.longestCpuMs();
    }
};

// One frame of 16 MiB answering the request for the newest page: a single huge entry, or as many
// entries as a frame holds. The newest entries are shown, long texts cut with a note; the rest
// is asked for again, from the oldest entry shown.
TEST_F(Freeze, AHistoryPageOfSixteenMegabytes) {
    struct Case {
        const char* name;
        std::size_t entries;
    };
    for (const Case& c : {Case{"one entry", 1}, Case{"340 entries", 340}}) {
        SCOPED_TRACE(c.name);
        openRoom();
        wire::HistoryPage page;
        page.room = "r-1";
        page.hasOlder = false; // the server says this is all, yet not all of it is taken
        const std::size_t each = (ChatProtocol::kMaxPayloadLength - 8192) / c.entries - 64;
        for (std::size_t i = 0; i < c.entries; ++i) {
            wire::HistoryEntry e;
            e.msgId = std::to_string(1000 + i);
            e.kind = "chat";
            e.sender = "준호";
            e.senderPhone = "01033334444";
            e.time = kTime;
            e.text = bigText(each);
            page.entries.push_back(std::move(e));
        }
        const std::string frame = wire::encodeFrame(page);
        ASSERT_GT(frame.size(), 16 * kMiB - 16384);
        ASSERT_LE(frame.size(), ChatProtocol::kMaxPayloadLength + ChatProtocol::kHeaderSize);
        chat.sendBytes(bytesOf(frame));

        StallMeter meter;
        const double longest =
            takeIn(meter, [&] { return controller->session().history->opened(); });
        report(c.name, longest);
        EXPECT_LT(longest, kPageStallBoundMs);

        // The newest entry is there, cut with the note.
        ASSERT_FALSE(chatItems().isEmpty());
        const QString newest = QString::number(1000 + c.entries - 1);
        EXPECT_EQ(chatItems().constLast().msgId, newest);
        EXPECT_TRUE(chatItems().constLast().text.endsWith(kCutNote));
        EXPECT_LE(chatItems().constLast().text.size(), kShownTextChars + kCutNote.size());
        EXPECT_TRUE(transcriptText().contains(kCutNote.trimmed()));
        qsizetype shown = 0;
        for (const ChatItem& item : chatItems())
            shown += item.text.size();
        EXPECT_LE(shown, HistoryPages::kPageChars + kShownTextChars);
        // A page taken whole is the beginning the server said it was; one cut short is not.
        EXPECT_EQ(ui().transcript().showsBeginning(), c.entries == 1);

        if (c.entries > 1) {
            // Left out, and said so; the next request goes on from the oldest entry shown.
            EXPECT_TRUE(status().startsWith("대화 기록이 너무 커서")) << status().toStdString();
            EXPECT_TRUE(controller->session().history->hasOlder());
            ASSERT_TRUE(waitUntil([&] { return requests().size() == 2; }));
            EXPECT_EQ(QString::fromStdString(requests().back().fields.at(1)),
                      chatItems().constFirst().msgId);
        }
        controller->closeRoom();
    }
}

// Frames of 1 MiB each as fast as the socket takes them, into the open room and into another
// one: every message counts, the transcript shows each cut, the status line and notifications
// a line, and the decoded backlog stays within its bytes.
TEST_F(Freeze, AFloodOfOneMegabyteMessages) {
    constexpr int kMessages = 16;
    for (const bool inView : {true, false}) {
        SCOPED_TRACE(inView ? "open room" : "another room");
        if (inView)
            openRoom();
        const std::string room = inView ? "r-1" : "r-2";
        const std::string text = bigText(kMiB);
        std::string bytes;
        for (int i = 1; i <= kMessages; ++i)
            bytes += wire::encodeFrame(
                wire::ChatMessage{room, "준호", text, kTime, std::to_string(i), "01033334444", ""});
        platform.clear();
        chat.sendBytes(bytesOf(bytes));

        StallMeter meter;
        std::size_t mostBacklog = 0;
        const QString last = QString::number(kMessages);
        const double longest = takeIn(meter, [&] {
            mostBacklog = std::max(mostBacklog, controller->session().events->backlogBytes());
            return controller->session().directory->lastMessageId(QString::fromStdString(room)) ==
                   last;
        });
        report(inView ? "1 MiB messages, open room" : "1 MiB messages, another room", longest);
        EXPECT_LT(longest, kStallBoundMs);
        EXPECT_LE(mostBacklog, ChatEvents::kMaxBacklogBytes + ChatClient::kReadBufferBytes);
        EXPECT_FALSE(controller->session().client->readingPaused());

        if (inView) {
            ASSERT_EQ(chatItems().size(), kMessages);
            for (const ChatItem& item : chatItems()) {
                EXPECT_TRUE(item.text.endsWith(kCutNote));
                EXPECT_LE(item.text.size(), kShownTextChars + kCutNote.size());
            }
            controller->closeRoom();
        } else {
            EXPECT_TRUE(status().startsWith("새 메시지 · 준호: 가나다라"));
            EXPECT_LE(status().size(), kSummaryChars + 1);
            EXPECT_EQ(controller->session().directory->room("r-2")->unread, kMessages);
            ASSERT_FALSE(platform.notifications.isEmpty());
            for (const auto& n : platform.notifications)
                EXPECT_LE(n.body.size(), kSummaryChars + 1);
        }
    }
}

// A million friends, or a million rooms: an answer that large is refused before it is all read
// and the lists keep their rows; one of 100,000 is read on the worker, its first 10,000 rows
// shown, the rest left out. The status line says which.
TEST_F(Freeze, ListsOfAMillionRows) {
    struct Case {
        bool rooms;
        int rows;
    };
    const Case cases[] = {{true, 1000000}, {false, 1000000}, {true, 100000}, {false, 100000}};
    for (const Case& c : cases) {
        const std::string name =
            std::string(c.rooms ? "rooms: " : "friends: ") + std::to_string(c.rows);
        SCOPED_TRACE(name);
        QByteArray json = c.rooms ? "{\"rooms\":[" : "[";
        json.reserve(qsizetype(c.rows) * 64);
        for (int i = 0; i < c.rows; ++i) {
            if (i > 0)
                json += ',';
            const QByteArray n = QByteArray::number(i);
            json += c.rooms ? "{\"room_name\":\"big-" + n + "\",\"title\":\"방 " + n +
                                  "\",\"unread_count\":1}"
                            : "{\"phone\":\"0" + QByteArray::number(1090000000 + i) +
                                  "\",\"nick\":\"친구 " + n + "\"}";
        }
        json += c.rooms ? "]}" : "]";
        const bool refused = json.size() > Directory::kMaxListBytes;
        const char* path = c.rooms ? "/v1/rooms" : "/v1/friends";
        http.setReply("GET", path, {200, json, std::nullopt});
        json = QByteArray();
        controller->showSidebar(c.rooms ? SidebarController::Mode::Chats
                                        : SidebarController::Mode::Friends);
        Directory& directory = *controller->session().directory;
        const qsizetype before = controller->sidebarRows().size();

        StallMeter meter;
        directory.refresh();
        const double longest = takeIn(
            meter, [&] { return !directory.refreshing(); }, 120000);
        report(name.c_str(), longest);
        EXPECT_LT(longest, kStallBoundMs);

        const qsizetype listed = c.rooms ? directory.rooms().size() : directory.friends().size();
        const qsizetype dropped = c.rooms ? directory.roomsDropped() : directory.friendsDropped();
        if (refused) {
            EXPECT_EQ(listed, before);
            EXPECT_EQ(controller->sidebarRows().size(), before);
            EXPECT_EQ(status(), "목록을 불러오지 못했습니다: " + api::kTooLargeText);
        } else {
            EXPECT_EQ(listed, Directory::kMaxListRows);
            EXPECT_EQ(dropped, c.rows - Directory::kMaxListRows);
            EXPECT_EQ(controller->sidebarRows().size(), Directory::kMaxListRows);
            // The answer's order holds: its first rows are the ones kept.
            EXPECT_EQ(controller->sidebarRows().constFirst().name, c.rooms ? "방 0" : "친구 0");
            EXPECT_TRUE(status().endsWith(QStringLiteral("목록이 너무 길어 %1개는 표시하지 "
                                                         "않았습니다")
                                              .arg(c.rows - Directory::kMaxListRows)))
                << status().toStdString();
        }
        // Back to a short list: nothing is said to be left out any more.
        http.setReply("GET", path, {200, c.rooms ? roomsJson : friendsJson, std::nullopt});
        directory.refresh();
        ASSERT_TRUE(waitUntil([&] { return !directory.refreshing(); }, 60000));
        EXPECT_EQ(status(), "친구 3 · 채팅 3");
    }
}
