// History pages of brindlewick-server in a room of 1,000,000 messages: a page of 50, the
// newest, one from the middle, one deep in the past (before id 1000) and pages at random
// places. First in process (the room rule, the key-range query, the read mark and the frame's
// encoding, as the database worker runs them), then as round trips over a socket to the server
// process opening the same database. Prints median, p90 and p99 of each. Baselines, measured
// in the same run: the newest page of a room of 1,000 messages in process, and a refused
// request (the same connection, worker hand-off and commit, without the query) over the socket.
//
//   server_history_bench [--messages 1000000] [--requests 3000]

#include "room_logic.h"
#include "sqlite_storage.h"

#include <messages.h>

#include <boost/asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;
namespace asio = boost::asio;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kBig = "group:big";
const std::string kSmall = "group:small";
const std::string kMember = "01000000001";
const std::string kOther = "01000000002";

struct Figures {
    double median = 0, p90 = 0, p99 = 0; // ms
};

// Each operation `count` times, taking turns request by request, so that what else the machine
// runs meanwhile falls on all of them alike.
std::vector<Figures> interleaved(int count, const std::vector<std::function<void(int)>>& ops) {
    std::vector<std::vector<double>> ms(ops.size());
    for (int i = -count / 10; i < count; ++i) { // the first tenth warms the caches
        for (std::size_t k = 0; k < ops.size(); ++k) {
            const auto t0 = Clock::now();
            ops[k](std::max(i, 0));
            if (i >= 0)
                ms[k].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    }
    std::vector<Figures> figures;
    for (std::vector<double>& v : ms) {
        std::sort(v.begin(), v.end());
        const auto at = [&](double p) {
            return v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
        };
        figures.push_back({at(0.5), at(0.9), at(0.99)});
    }
    return figures;
}

void print(const std::string& name, const Figures& f, const Figures& baseline) {
    std::printf("  %-46s median %.3f ms, p90 %.3f ms, p99 %.3f ms (%.1fx / %.1fx / %.1fx "
                "baseline)\n",
                name.c_str(), f.median, f.p90, f.p99, f.median / baseline.median,
                f.p90 / baseline.p90, f.p99 / baseline.p99);
}

// A room of `count` messages as people write them: replies, files, edits and deletions among
// the chat, in one transaction through one prepared insert.
void fill(SqliteStorage& storage, const std::string& room, std::int64_t count) {
    storage.createRoom(room, "group", "벤치", kMember);
    storage.addMember(room, kMember);
    std::mt19937 random(11);
    MessageRecord m;
    m.room = room;
    m.time = "2026-12-10T12:00:00+09:00";
    for (std::int64_t id = 1; id <= count; ++id) {
        const bool mine = id % 3 == 0;
        m.id = id;
        m.sender = mine ? kMember : kOther;
        m.senderName = mine ? "앨리스" : "밥";
        m.replyTo = id % 10 == 0 ? std::to_string(id - 1 - random() % 5) : std::string();
        if (id % 50 == 0) {
            m.kind = "file";
            m.fileId = "0123456789abcdef0123456789abcdef";
            m.fileName = "사진-" + std::to_string(id) + ".jpg";
            m.fileSize = 100000 + random() % 900000;
            m.text = m.fileName;
        } else {
            m.kind = "chat";
            m.fileId.clear();
            m.fileName.clear();
            m.fileSize = 0;
            m.text = "메시지 " + std::to_string(id) + std::string(random() % 60, '.');
        }
        storage.insertMessage(m);
        if (id % 97 == 0)
            storage.editMessage(room, id, m.text + " (고침)");
        if (id % 101 == 0)
            storage.deleteMessage(room, id);
    }
    storage.db()
        .prepare("UPDATE rooms SET last_msg_id=?2 WHERE id=?1")
        .bind(1, room)
        .bind(2, count)
        .run();
    storage.setReadMark(room, kMember, count - 10);
}

struct Scenario {
    std::string name;
    std::string room;
    std::function<std::string(int)> before; // by request number
};

std::vector<Scenario> scenarios(std::int64_t messages) {
    auto fixed = [](std::string id) { return [id](int) { return id; }; };
    auto spread = std::make_shared<std::vector<std::string>>();
    std::mt19937_64 random(5);
    for (int i = 0; i < 4096; ++i)
        spread->push_back(std::to_string(51 + random() % (messages - 50)));
    return {
        {"baseline: newest page, room of 1,000", kSmall, fixed("")},
        {"newest page", kBig, fixed("")},
        {"middle page (before id " + std::to_string(messages / 2) + ")", kBig,
         fixed(std::to_string(messages / 2))},
        {"deep page (before id 1000)", kBig, fixed("1000")},
        {"random places", kBig, [spread](int i) { return (*spread)[i % spread->size()]; }},
    };
}

// A blocking client of the chat port.
class Client {
public:
    Client(asio::io_context& io, unsigned port) : socket_(io) {
        socket_.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        socket_.set_option(tcp::no_delay(true));
    }
    template <typename Message> void send(const Message& message) {
        asio::write(socket_, asio::buffer(wire::encodeFrame(message)));
    }
    // Reads until a frame of `type` arrives; returns its field count.
    std::size_t await(std::uint8_t type) {
        std::size_t fields = 0;
        bool found = false;
        while (!found) {
            const std::size_t n = socket_.read_some(asio::buffer(chunk_));
            inbox_.append(chunk_.data(), n);
            ChatProtocol::consumeBuffer(inbox_, [&](std::uint8_t t, const FieldList& f) {
                if (t == type) {
                    found = true;
                    fields = f.size();
                }
            });
        }
        return fields;
    }

private:
    tcp::socket socket_;
    std::string inbox_;
    std::array<char, 65536> chunk_{};
};

} // namespace

int main(int argc, char** argv) {
    std::int64_t messages = 1000000;
    int requests = 3000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--messages")
            messages = std::max<std::int64_t>(2000, std::stoll(argv[i + 1]));
        else if (name == "--requests")
            requests = std::max(100, std::stoi(argv[i + 1]));
    }
    char dirTemplate[] = "/tmp/brindlewick-history-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string dataDir = dir + "/data";
    mkdir(dataDir.c_str(), 0700);
    const auto all = scenarios(messages);

    std::printf("server_history_bench: pages of 50 in a room of %lld messages, %d requests each\n",
                static_cast<long long>(messages), requests);
    std::vector<Figures> local;
    {
        SqliteStorage storage(dataDir + "/brindlewick.db");
        const auto t0 = Clock::now();
        storage.db().exec("BEGIN");
        storage.upsertUser({kMember, "앨리스", "", ""}, false);
        storage.upsertUser({kOther, "밥", "", ""}, false);
        fill(storage, kBig, messages);
        fill(storage, kSmall, 1000);
        storage.db().exec("COMMIT");
        std::printf("room built in %.1f s\n",
                    std::chrono::duration<double>(Clock::now() - t0).count());

        std::printf("\nin process (room rule, query, read mark, encoding):\n");
        std::vector<std::function<void(int)>> ops;
        std::vector<std::size_t> bytes(all.size());
        for (std::size_t k = 0; k < all.size(); ++k)
            ops.push_back([&, k](int i) {
                const RoomResult r = RoomLogic::history(
                    storage, kMember, wire::HistoryRequest{all[k].room, all[k].before(i), "50"});
                if (!r.reply || !r.error.empty()) {
                    std::fprintf(stderr, "no page: %s\n", r.error.c_str());
                    std::exit(1);
                }
                bytes[k] = r.reply->size();
            });
        local = interleaved(requests, ops);
        for (std::size_t k = 0; k < all.size(); ++k)
            print(all[k].name + " (" + std::to_string(bytes[k]) + " B)", local[k], local[0]);
        // For contrast only: the same deep page found by counting rows from the newest end.
        const Figures offset =
            interleaved(20, {[&](int) {
                            Statement& st =
                                storage.db()
                                    .prepare("SELECT id, text FROM messages WHERE room=?1 "
                                             "ORDER BY id DESC LIMIT 51 OFFSET ?2")
                                    .bind(1, kBig)
                                    .bind(2, messages - 1000);
                            while (st.step()) {
                            }
                        }})[0];
        std::printf("  %-46s median %.3f ms (%.0fx the key-range deep page)\n",
                    "contrast: deep page by OFFSET", offset.median,
                    offset.median / local[3].median);
    }

    int out[2];
    if (pipe(out) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        if (!std::freopen((dir + "/server.log").c_str(), "w", stderr))
            _exit(126);
        execl(BRINDLEWICK_SERVER_BINARY, BRINDLEWICK_SERVER_BINARY, "--chat-port", "0",
              "--http-port", "0", "--data-dir", dataDir.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n')
        line += ch;
    unsigned chatPort = 0, httpPort = 0;
    if (std::sscanf(line.c_str(), "chat-port %u http-port %u", &chatPort, &httpPort) != 2) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }

    std::vector<Figures> remote;
    {
        asio::io_context io;
        Client client(io, chatPort);
        client.send(wire::Auth{kMember, "앨리스", "", ""});
        client.await(MessageType::AuthOk);
        std::printf("\nround trips over loopback to the server process:\n");
        std::vector<std::function<void(int)>> ops = {[&](int) {
            client.send(wire::HistoryRequest{kBig, "x", "50"});
            client.await(MessageType::ServerError);
        }};
        for (const Scenario& s : all)
            ops.push_back([&](int i) {
                client.send(wire::HistoryRequest{s.room, s.before(i), "50"});
                if (client.await(MessageType::HistoryPage) < 5) {
                    std::fprintf(stderr, "short page\n");
                    std::exit(1);
                }
            });
        remote = interleaved(requests, ops);
        const Figures refused = remote[0];
        remote.erase(remote.begin());
        print("baseline: a refused request", refused, refused);
        for (std::size_t k = 0; k < all.size(); ++k)
            print(all[k].name, remote[k], refused);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::system(("rm -rf " + dir).c_str());

    // Scenarios 1 to 4 are the big room's pages.
    double worstLocal = 0, worstRemote = 0;
    for (std::size_t k = 1; k < all.size(); ++k) {
        worstLocal = std::max(worstLocal, local[k].p99);
        worstRemote = std::max(worstRemote, remote[k].p99);
    }
    std::printf("\ndeep page / newest page, median: %.2fx in process, %.2fx round trip "
                "(aim at most 1.5x)\n",
                local[3].median / local[1].median, remote[3].median / remote[1].median);
    std::printf("worst p99 of the big room's pages: %.3f ms in process, %.3f ms round trip "
                "(aim under 5 ms): %s\n",
                worstLocal, worstRemote,
                std::max(worstLocal, worstRemote) < 5.0 ? "met" : "MISSED");
    return 0;
}
