#pragma once
// A scriptable HTTP server on its own thread (the client's requests are synchronous, so a
// server on the test's thread would deadlock). Answers each method and path with a scripted
// reply, 404 otherwise, and records every request. One request per connection.

#include "server_config.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace brindlewick::test {

struct HttpReply {
    int status = 200;
    QByteArray body;
    // Announce the whole body but send only this many bytes of it, then drop the connection.
    std::optional<qsizetype> cutAfter;
    // Announce no length and send the body over and over until the client hangs up.
    bool endless = false;
};

struct RecordedRequest {
    QString method;
    QString path;  // as sent, before any "?"
    QString query; // after the "?", without it
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // Values of every header of that name (case-insensitive), in order.
    QList<QByteArray> headerValues(const QByteArray& name) const;
};

class FakeHttpServer {
public:
    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    ServerConfig config() const;

    void setReply(const QString& method, const QString& path, HttpReply reply);
    std::vector<RecordedRequest> requests() const;
    void clearRequests();

    // For the server thread.
    HttpReply answer(RecordedRequest request);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::pair<QString, QString>, HttpReply> replies_;
    std::vector<RecordedRequest> requests_;
};

} // namespace brindlewick::test
