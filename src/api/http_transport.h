#pragma once
// The libcurl exchange behind api::request and the streaming download.

#include "http_request.h"
#include "server_config.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

namespace brindlewick::api::detail {

enum class Outcome {
    Success,    // 2xx; the body went to the sink
    HttpStatus, // a status outside 2xx; the body is in errorBody
    Transport,  // no usable answer; transportError says why (kTooLargeText past a cap)
    SinkFailed, // the sink refused a piece
};

struct Result {
    Outcome outcome = Outcome::Transport;
    long status = 0;
    QByteArray errorBody;
    QString transportError;
};

// Takes each piece of a 2xx body as it arrives; false aborts the transfer. Called from
// libcurl: an exception it throws counts as false.
using BodySink = std::function<bool(const char* data, std::size_t size)>;

// A non-2xx body is kept up to Limits::kErrorTextBytes; a longer one stops the transfer.
Result perform(const ServerConfig& config, const QString& method, const QString& path,
               const std::optional<QByteArray>& body, const QString& contentType,
               const BodySink& sink, const Limits& limits = {});

// "HTTP <code> <body as UTF-8, or nothing>"
QString statusText(long status, const QByteArray& body);

} // namespace brindlewick::api::detail
