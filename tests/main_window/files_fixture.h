#pragma once
// A signed-in controller with its window, talking to a fake chat server and a fake HTTP server,
// with a recording platform.

#include "client_under_test.h"
#include "event_loop.h"
#include "fake_chat_server.h"
#include "fake_http_server.h"
#include "fake_platform.h"
#include "file_actions.h"

#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace brindlewick::test {

inline constexpr char kMyPhone[] = "01011112222";
inline constexpr char kMyNick[] = "민지";

inline HttpReply answer(int status, QByteArray body) {
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

// PNG bytes of a small picture filled with one colour.
QByteArray pngOf(const QColor& color, QSize size = {8, 8});
// Colour at the centre of a label's picture.
QColor centreColor(const QLabel* label);

// One entry of the server's friend or room list, as JSON.
QByteArray friendJson(const QString& phone, const QString& nick, const QString& alias = {},
                      const QString& status = {}, const QString& picture = {});
QByteArray roomJson(const QString& room, const QString& title, const QString& peer = {},
                    const QString& picture = {});

// Records the status line after each step the background work hands to the main thread, so a
// test sees every status in order, repeats included.
class StatusRecorder : public QObject {
public:
    explicit StatusRecorder(const QLabel* status);
    ~StatusRecorder() override;
    QStringList texts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const QLabel* status_;
};

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `bytes` to a new file in the temporary folder; returns its path.
    QString writeFile(const QString& name, const QByteArray& bytes);
    // The three requests of a successful upload of `chunks` chunks under file id `id`.
    void scriptUpload(const QString& id, int chunks);
    // Requests for `path` so far.
    int requestCount(const QString& method, const QString& path) const;
    // Serves these lists and waits until the directory has fetched them.
    void serveLists(const QList<QByteArray>& friends, const QList<QByteArray>& rooms = {});
    // Answers the sign-in of `c`'s newest connection (the `connection`th) and waits until its
    // outbox knows: files wait for their upload until then.
    bool signIn(ClientUnderTest& c, int connection);
    // Runs until no upload runs.
    bool waitForUpload() {
        return waitUntil([&] { return !controller->uploading(); });
    }
    template <typename T> T* widget(const char* name) const {
        return controller->window()->findChild<T*>(QString::fromLatin1(name));
    }
    QLabel* statusLabel() const { return widget<QLabel>("statusLabel"); }
    QString transcriptText() const;

    FakeChatServer chat;
    FakeHttpServer http;
    FakePlatform platform;
    QTemporaryDir dir;
    std::unique_ptr<ClientUnderTest> controller;
};

} // namespace brindlewick::test
