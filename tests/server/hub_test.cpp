// The hub's weak references to chat connections, on real loopback sockets in process.

#include "chat_session.h"
#include "db_worker.h"
#include "hub.h"
#include "sqlite_storage.h"

#include <messages.h>

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;
namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

class HubTest : public ::testing::Test {
protected:
    // A server-side session signed in as `phone`, and the client end of its socket.
    std::shared_ptr<ChatSession> connect(const std::string& phone,
                                         asio::io_context* own = nullptr) {
        tcp::socket client(io);
        client.connect(acceptor.local_endpoint());
        auto session =
            std::make_shared<ChatSession>(acceptor.accept(own ? *own : io),
                                          Peer{"127.0.0.1", "127.0.0.1:0"}, worker, hub, nullptr);
        clients.push_back(std::move(client));
        session->start();
        asio::write(clients.back(), asio::buffer(wire::encodeFrame(wire::Auth{phone, "", "", ""})));
        const std::string ok = wire::encodeFrame(wire::AuthOk{phone});
        EXPECT_EQ(received(clients.size() - 1, ok.size()), ok);
        return session;
    }
    // The first `bytes` client `i` receives, running the io_context for the server's writes;
    // empty when they do not come within a few seconds.
    std::string received(std::size_t i, std::size_t bytes) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (clients[i].available() < bytes && std::chrono::steady_clock::now() < deadline) {
            for (asio::io_context* context : {&io, other.get()})
                if (context) {
                    context->restart();
                    context->poll();
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (clients[i].available() < bytes)
            return {};
        std::string data(bytes, '\0');
        asio::read(clients[i], asio::buffer(data));
        return data;
    }
    Delivery delivery(std::vector<std::string> to, std::string frame) {
        return {std::make_shared<const std::vector<std::string>>(std::move(to)),
                std::make_shared<const std::string>(std::move(frame)), std::string(), 0};
    }

    asio::io_context io;
    std::unique_ptr<asio::io_context> other = std::make_unique<asio::io_context>();
    tcp::acceptor acceptor{io, {asio::ip::make_address("127.0.0.1"), 0}};
    DbWorker worker{io, std::make_unique<SqliteStorage>(":memory:")};
    std::shared_ptr<Hub> hub = std::make_shared<Hub>();
    std::vector<tcp::socket> clients;
};

TEST_F(HubTest, ASessionLeavesTheHubOnCloseAndWhenDestroyedWithoutClosing) {
    auto a1 = connect("111");
    auto a2 = connect("111", other.get());
    auto b = connect("222");
    EXPECT_EQ(hub->connectionCount(), 3u);
    hub->add("111", a1); // twice is once
    EXPECT_EQ(hub->connectionCount(), 3u);

    // Its pending read keeps a2 alive; tearing its io_context down drops that handler, and
    // the session goes without ever being closed.
    a2.reset();
    other.reset();
    EXPECT_EQ(hub->connectionCount(), 2u);
    hub->deliver(delivery({"111", "222", "333"}, "hello"));
    EXPECT_EQ(received(0, 5), "hello");
    EXPECT_EQ(received(2, 5), "hello");

    b->close("test");
    EXPECT_EQ(hub->connectionCount(), 1u);
}

TEST_F(HubTest, AReaderClosedDuringADeliveryDoesNotStopTheOthers) {
    auto slow = connect("111");
    auto other = connect("111");
    auto peer = connect("222");
    // Nothing has been written yet: the slow reader's queue is at its limit.
    slow->enqueue(std::make_shared<const std::string>(ChatSession::kMaxQueuedBytes - 2, 'x'));
    hub->deliver(delivery({"111", "222"}, "hey"));
    EXPECT_TRUE(slow->closed());
    EXPECT_FALSE(other->closed());
    EXPECT_EQ(hub->connectionCount(), 2u);
    EXPECT_EQ(received(1, 3), "hey");
    EXPECT_EQ(received(2, 3), "hey");
}

TEST_F(HubTest, ManyDeliveriesInOneGoArriveWholeAndInOrder) {
    // More than one gathered write holds, to two connections of one user and another user.
    auto a1 = connect("111");
    auto a2 = connect("111");
    auto b = connect("222");
    std::string expected;
    for (int i = 0; i < 700; ++i) {
        const std::string frame = "<" + std::to_string(i) + ">";
        expected += frame;
        hub->deliver(delivery({"111", "222"}, frame));
    }
    // Pending writes are given up with the session: a closed one must not break the rest.
    b->close("test");
    EXPECT_EQ(received(0, expected.size()), expected);
    EXPECT_EQ(received(1, expected.size()), expected);
    hub->deliver(delivery({"111"}, "end"));
    EXPECT_EQ(received(0, 3), "end");
    EXPECT_EQ(received(1, 3), "end");
}

} // namespace
