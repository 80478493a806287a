#pragma once
// Requests to the server's HTTP API over libcurl, answered in memory. Stateless; safe to call
// from several threads at once. The namespace is api, not http: the tests' helper for raw
// requests to a server is a function named http.

#include "server_config.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <optional>

namespace brindlewick::api {

// How long a request may take, how large its answer may grow and how to stop it early.
// Transfers keep only the idle limit (a large file may take long); other requests also get a
// cap on the whole exchange. No answer is read past its cap, whatever the server sends.
struct Limits {
    static constexpr long kTotalSeconds = 120;
    // An answer kept in memory (lists, JSON) unless maxBodyBytes says otherwise.
    static constexpr qint64 kAnswerBytes = 8 * 1024 * 1024;
    // The text of an error answer beside its status.
    static constexpr qint64 kErrorTextBytes = 4 * 1024;
    long totalSeconds = 0;                        // 0: no cap on the whole exchange
    const std::atomic<bool>* cancelled = nullptr; // set from any thread to abort
    // 0: kAnswerBytes for an answer kept in memory (request), any size for a download
    // streamed to a file. Otherwise a body the server announces as larger is refused before
    // it comes, and one that grows larger is cut off.
    qint64 maxBodyBytes = 0;
};

// The error of a request whose answer went past its cap.
inline const QString kTooLargeText = QStringLiteral("서버 응답이 너무 큽니다");

// Synchronous request to http://host:httpPort + path. `path` must already be encoded
// (see urlValue). No body: std::nullopt. No content type: an empty text.
// Success (2xx): the body, possibly empty. Failure: nullopt and, when `error` is
// given, the transport's description or "HTTP <code> <body>". `error` is written
// only on failure. A body beyond its cap (see Limits), or an error answer's text
// beyond kErrorTextBytes, fails with kTooLargeText.
std::optional<QByteArray> request(const ServerConfig& config, const QString& method,
                                  const QString& path, const std::optional<QByteArray>& body,
                                  const QString& contentType, QString* error,
                                  const Limits& limits = {});

// GET `path`; the body as text, or nullopt when the request failed or the body is not UTF-8.
std::optional<QString> getText(const ServerConfig& config, const QString& path,
                               const Limits& limits = {});

// Strict UTF-8 decoding: nullopt for bytes that are not valid UTF-8.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

} // namespace brindlewick::api
