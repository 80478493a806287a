#pragma once
// A signed-in main window against the fake chat and HTTP servers, serving the lists given.
// Header-only: only tests that link the main window include it.

#include "client_under_test.h"
#include "directory_service.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"

#include <QByteArray>

#include <memory>

namespace brindlewick::test {

struct SignedInWindow {
    // Serves the lists, shows the window and waits for them; false when they never came.
    bool start(const QByteArray& friends = "[]", const QByteArray& rooms = "[]") {
        http.setReply("GET", "/v1/friends", {200, friends, std::nullopt});
        http.setReply("GET", "/v1/rooms", {200, rooms, std::nullopt});
        ServerConfig config = http.config();
        config.chatPort = chat.port();
        controller = std::make_unique<ClientUnderTest>("01011112222", "민지", "", config, platform);
        bool listed = false;
        QObject::connect(controller->session().directory.get(), &Directory::listsChanged,
                         [&listed] { listed = true; });
        controller->showMain();
        return waitUntil([&listed] { return listed; });
    }

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    std::unique_ptr<ClientUnderTest> controller;
};

} // namespace brindlewick::test
