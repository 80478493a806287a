#pragma once
// The libcurl exchange behind httpRequest and the streaming download.

#include "file_transfer.h"
#include "server_config.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>

namespace brindlewick::detail {

enum class HttpOutcome {
    Success,    // 2xx; the body went to the sink
    HttpStatus, // a status outside 2xx; the body is in errorBody
    Transport,  // no usable answer; transportError says why (kTooLargeText past a cap)
    SinkFailed, // the sink refused a piece
};

struct HttpResult {
    HttpOutcome outcome = HttpOutcome::Transport;
    long status = 0;
    QByteArray errorBody;
    QString transportError;
};

// Takes each piece of a 2xx body as it arrives; false aborts the transfer. Called from
// libcurl: an exception it throws counts as false.
using BodySink = std::function<bool(const char* data, std::size_t size)>;

// A non-2xx body is kept up to RequestLimits::kErrorTextBytes; a longer one stops the transfer.
HttpResult performHttp(const ServerConfig& config, const QString& method, const QString& path,
                       const std::optional<QByteArray>& body, const QString& contentType,
                       const BodySink& sink, const RequestLimits& limits = {});

// "HTTP <code> <body as UTF-8, or nothing>"
QString httpStatusText(long status, const QByteArray& body);

} // namespace brindlewick::detail
