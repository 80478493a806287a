// Peak memory of brindlewick-server while hostile inputs arrive: for each input a fresh
// server, its VmHWM once set up (idle) and after the input, and the growth. With --baseline
// BINARY the same inputs go to another build of the server in the same run, and the growth
// is shown side by side as a ratio.
//
//   server_hostile_memory_bench [--baseline /path/to/older/brindlewick-server]

#include "server_harness.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::test;
using nlohmann::json;

namespace {

const std::size_t kMiB = 1024 * 1024;

struct Case {
    const char* name;
    // Runs before the idle figure is taken.
    std::function<void(ServerProcess&)> setUp;
    std::function<void(ServerProcess&)> send;
};

struct Figure {
    long idleKiB = -1;
    long peakKiB = -1;
    bool survived = false;
};

std::string groupRoom; // of the big-group case

void signInMany(ServerProcess& server, int first, int count) {
    ChatConnection c(server.chatPort);
    for (int i = first; i < first + count; ++i)
        c.signIn(std::to_string(i), "n");
}

std::vector<Case> cases() {
    const std::string separators(ChatProtocol::kMaxPayloadLength, '\x1F');
    const std::string bigText(ChatProtocol::kMaxPayloadLength - 100, 'x');
    auto nothing = [](ServerProcess&) {};
    return {
        {"16 MiB of separators before sign-in", nothing,
         [separators](ServerProcess& s) {
             ChatConnection c(s.chatPort);
             c.sendLarge(MessageType::Chat, separators);
             c.closedByServer(30000);
         }},
        {"16 MiB of separators after sign-in", nothing,
         [separators](ServerProcess& s) {
             ChatConnection c(s.chatPort);
             c.signIn("111");
             c.sendLarge(MessageType::Chat, separators);
             c.closedByServer(30000);
         }},
        {"9 MiB nickname", nothing,
         [](ServerProcess& s) {
             ChatConnection c(s.chatPort);
             c.send(MessageType::Auth, {"111", std::string(9 * kMiB, 'n'), "", ""});
             c.next(30000);
             // The old server took it: a message with the name shows what it then costs.
             c.send(wire::ChatRequest{"dm:111:111", "x", ""});
             c.next(30000);
         }},
        {"100 friends with aliases of 1 MiB, then a friend list",
         [](ServerProcess& s) { signInMany(s, 111, 101); },
         [](ServerProcess& s) {
             for (int i = 0; i < 100; ++i)
                 http(s.httpPort, "POST", "/v1/friends/add",
                      json{{"my_phone", "111"},
                           {"friend_phone", std::to_string(112 + i)},
                           {"alias", std::string(kMiB, 'a' + i % 26)}}
                          .dump());
             http(s.httpPort, "GET", "/v1/friends?phone=111");
         }},
        {"2 x 4 reads of 64 KiB of chats into a group of 1,000",
         [](ServerProcess& s) {
             signInMany(s, 10000, 1000);
             json members = json::array();
             for (int i = 10001; i < 11000; ++i)
                 members.push_back(std::to_string(i));
             const HttpAnswer a = http(
                 s.httpPort, "POST", "/v1/rooms",
                 json{{"phone", "10000"}, {"title", "g"}, {"type", "group"}, {"members", members}}
                     .dump());
             groupRoom = json::parse(a.body, nullptr, false).value("room_name", "");
         },
         [](ServerProcess& s) {
             std::string burst;
             int count = 0;
             while (burst.size() < 64 * 1024) {
                 burst += wire::encodeFrame(wire::ChatRequest{groupRoom, "message", ""});
                 ++count;
             }
             std::vector<std::unique_ptr<ChatConnection>> senders;
             for (int i = 0; i < 2; ++i) {
                 senders.push_back(std::make_unique<ChatConnection>(s.chatPort));
                 senders.back()->signIn(std::to_string(10000 + i));
             }
             for (int round = 0; round < 4; ++round)
                 for (auto& c : senders)
                     c->sendRaw(burst);
             for (auto& c : senders)
                 for (int i = 0; i < 4 * count * 2; ++i)
                     if (!c->nextOf(MessageType::Chat, 30000))
                         break;
         }},
        {"10 connections with one 16 MiB frame each", nothing,
         [bigText](ServerProcess& s) {
             std::vector<std::unique_ptr<ChatConnection>> held;
             for (int i = 0; i < 10; ++i) {
                 held.push_back(std::make_unique<ChatConnection>(s.chatPort));
                 held.back()->sendLarge(MessageType::Chat, bigText);
                 held.back()->next(30000);
             }
         }},
    };
}

Figure measure(const Case& c, const std::string& binary) {
    const std::string dir = makeTempDir();
    Figure figure;
    {
        Launch launch;
        launch.binary = binary;
        launch.logFile = dir + "/server.log";
        // The cases open more connections from one address than a deployment allows.
        launch.environment = {{"BRINDLEWICK_MAX_CONNECTIONS_PER_ADDRESS", "100000"}};
        ServerProcess server(dir + "/data", {}, launch);
        c.setUp(server);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        figure.idleKiB = server.statusKiB("VmHWM");
        c.send(server);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        figure.peakKiB = server.statusKiB("VmHWM");
        figure.survived = server.alive();
    }
    std::system(("rm -rf " + dir).c_str());
    return figure;
}

std::string growth(const Figure& f) {
    char text[64];
    if (!f.survived)
        std::snprintf(text, sizeof text, "process ended");
    else
        std::snprintf(text, sizeof text, "%7.1f MiB", (f.peakKiB - f.idleKiB) / 1024.0);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    std::string baseline;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--baseline")
            baseline = argv[i + 1];
    std::printf("server_hostile_memory_bench: server VmHWM above idle while each input arrives\n");
    std::printf("%-52s %11s %11s%s\n", "input", "idle", "above idle",
                baseline.empty() ? "" : "   baseline above idle   this/baseline");
    for (const Case& c : cases()) {
        const Figure now = measure(c, {});
        std::printf("%-52s %7.1f MiB %s", c.name, now.idleKiB / 1024.0, growth(now).c_str());
        if (!baseline.empty()) {
            const Figure before = measure(c, baseline);
            const double ratio =
                before.survived && before.peakKiB > before.idleKiB
                    ? double(now.peakKiB - now.idleKiB) / double(before.peakKiB - before.idleKiB)
                    : 0;
            std::printf("   %19s   %13.3f", growth(before).c_str(), ratio);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
